#include <re2/re2.h>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "run/task_settings_file.h"
#include "temp_dir.h"
#include "tools/server/scripted_server.h"
#include "ui/about_dlg.h"
#include "ui/dialog_units.h"
#include "ui/download_dlg.h"
#include "ui/link_label.h"
#include "ui/link_logic.h"

namespace {

// Answers every modal box that opens while it exists: records its text (or its caption, for
// other dialogs) and presses OK.
class BoxAnswerer {
  public:
    BoxAnswerer() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Answer(); });
        timer_.start();
    }
    QStringList texts;
    QStringList captions;

  private:
    void Answer() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            return;
        }
        captions << dialog->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
            texts << box->text();
        }
        dialog->accept();
    }
    QTimer timer_;
};

// A label whose pointer position the test decides.
class PointedLinkLabel : public CLinkLabel {
  public:
    using CLinkLabel::CLinkLabel;
    QPoint pointer{-100, -100};

  protected:
    QPoint PointerPosition() const override { return pointer; }
};

void MoveMouseOver(QWidget* widget) {
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

}  // namespace

class UiTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<ScriptedServer> server_;

    std::string App() const { return dir_->WithSeparator(); }
    void WriteSettings(const std::string& bbsUrl, const std::string& documentUrl) {
        CTaskSettingsFile file;
        file.SetPath(SettingsPathFor(App()));
        file.Record() = TaskSettings::Defaults();
        file.Record().bbsUrl = bbsUrl;
        file.Record().documentUrl = documentUrl;
        file.Record().bbsNumber = 2000;
        file.Record().documentNumber = 3000;
        QCOMPARE(file.Save(), 540);
    }
    static QString Buttons(CDownLoadDlg& dialog) {
        QString states;
        for (int id : {IDC_START, IDC_PAUSE, IDC_RESUME, IDC_ABORT, IDCANCEL_BUTTON}) {
            states += dialog.Control(id)->isEnabled() ? '1' : '0';
        }
        return states;
    }
    static QString Text(CDownLoadDlg& dialog, int id) {
        return qobject_cast<QLabel*>(dialog.Control(id))->text();
    }
    static void Click(CDownLoadDlg& dialog, int id) {
        QTest::mouseClick(dialog.Control(id), Qt::LeftButton);
    }
    static void StartServer(std::unique_ptr<ScriptedServer>& server) {
        server = std::make_unique<ScriptedServer>([](const std::string& request) {
            // 3003 is missing, and so is everything from 10,000,000 on: the series' end.
            static const RE2 farOff(R"(/\d{8,}\.)");
            if (request.find("3003.shtm") != std::string::npos ||
                RE2::PartialMatch(request, farOff)) {
                return ServerScript().Send(HttpResponse(404, "no"));
            }
            return ServerScript().Send(HttpResponse(200, "<doc/>"));
        });
        QVERIFY(server->Start());
    }

  private slots:
    void init() { dir_ = std::make_unique<TempDir>(); }
    void cleanup() {
        server_.reset();
        dir_.reset();
    }

    void firstStartCreatesFoldersAndSettingsAndShowsDefaults() {
        CDownLoadDlg dialog(nullptr, App());
        QVERIFY(std::filesystem::is_directory(App() + "html_file"));
        QVERIFY(std::filesystem::is_directory(App() + "xml_file"));
        QCOMPARE(std::filesystem::file_size(App() + "NOVUDownLoad.cfg"), 540u);
        QCOMPARE(dialog.windowTitle(), QString("NOVUDownLoad"));
        QVERIFY(qobject_cast<QCheckBox*>(dialog.Control(IDC_BBS_CHECK))->isChecked());
        QVERIFY(qobject_cast<QCheckBox*>(dialog.Control(IDC_DOCUMENT_CHECK))->isChecked());
        const auto entry = [&](int id) {
            return qobject_cast<QLineEdit*>(dialog.Control(id))->text();
        };
        QCOMPARE(entry(IDC_BBS_DIRECTORY), QString("1318"));
        QCOMPARE(entry(IDC_BBS_FILE), QString("1"));
        QCOMPARE(entry(IDC_DOCUMENT_DIRECTORY), QString("1"));
        QCOMPARE(entry(IDC_DOCUMENT_FILE), QString("1"));
        QCOMPARE(entry(IDC_DELAY), QString("10"));
        QCOMPARE(Buttons(dialog), QString("10001"));
        QCOMPARE(Text(dialog, IDC_STATUS), QString("DownLoad Status"));
        QCOMPARE(Text(dialog, IDC_COUNTS), QString("Count"));
        QVERIFY(qobject_cast<QPushButton*>(dialog.Control(IDC_START))->isDefault());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTRY_COMPARE(QApplication::focusWidget(), dialog.Control(IDC_START));
    }

    void dialogUnitsMapEachEdgeAsWorkedOutByHand() {
        // Base 6 x 13: x = (units * 6 + 2) / 4, y = (units * 13 + 4) / 8, per edge.
        const DialogUnits du(6, 13);
        QCOMPARE(du.Rect(7, 179, 50, 14), QRect(11, 291, 75, 23));     // Start: 11..86, 291..314
        QCOMPARE(du.Rect(17, 107, 293, 14), QRect(26, 174, 439, 23));  // bar: 26..465, 174..197
    }

    void controlsStayInsideTheirRectangles_data() {
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<int>("minWidth");
        QTest::addColumn<int>("maxWidth");
        // The 8-point dialog font at 96 and at 144 dots per inch.
        QTest::newRow("96 dpi") << 11 << 400 << 600;
        QTest::newRow("144 dpi") << 16 << 600 << 900;
        // A small font leaves a dialog unit barely more than a pixel: rounding is at its tightest.
        QTest::newRow("small font") << 8 << 280 << 440;
    }

    void controlsStayInsideTheirRectangles() {
        QFETCH(int, pixelSize);
        QFETCH(int, minWidth);
        QFETCH(int, maxWidth);
        QFont font = QApplication::font();
        font.setPixelSize(pixelSize);
        CDownLoadDlg dialog(nullptr, App(), &font);
        QVERIFY2(dialog.width() >= minWidth && dialog.width() <= maxWidth,
                 qPrintable(QString::number(dialog.width())));
        const DialogUnits du(dialog.font());
        const QRect window(QPoint(0, 0), dialog.size());
        for (const auto& [id, rect] :
             std::vector<std::pair<int, QRect>>{{IDC_HOME_LINK, du.Rect(7, 138, 92, 8)},
                                                {IDC_MAIL_LINK, du.Rect(219, 138, 92, 8)},
                                                {IDC_PROGRESS, du.Rect(17, 107, 293, 14)},
                                                {IDC_DELAY, du.Rect(260, 33, 24, 14)},
                                                {IDCANCEL_BUTTON, du.Rect(261, 179, 50, 14)}}) {
            QVERIFY2(rect.contains(dialog.Control(id)->geometry()),
                     qPrintable(QString::number(id)));
            QVERIFY(window.contains(dialog.Control(id)->geometry()));
        }
        // The bar ends inside the Status frame, clear of its edge lines.
        const int line = dialog.style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
        for (QGroupBox* frame : dialog.findChildren<QGroupBox*>()) {
            if (frame->title() == "Status") {
                QVERIFY(dialog.Control(IDC_PROGRESS)->geometry().right() + line <=
                        frame->geometry().right());
            }
        }
    }

    void tabOrderIsTheTemplateOrder() {
        CDownLoadDlg dialog(nullptr, App());
        const QList<int> tabOrder = {IDC_START,          IDCANCEL_BUTTON,   IDC_BBS_CHECK,
                                     IDC_DOCUMENT_CHECK, IDC_BBS_DIRECTORY, IDC_DOCUMENT_DIRECTORY,
                                     IDC_BBS_FILE,       IDC_DOCUMENT_FILE, IDC_ABORT,
                                     IDC_PAUSE,          IDC_RESUME,        IDC_DELAY};
        QWidget* widget = dialog.Control(tabOrder.first());
        for (int i = 1; i < tabOrder.size(); ++i) {
            do {
                widget = widget->nextInFocusChain();
            } while (!(widget->focusPolicy() & Qt::TabFocus));
            QCOMPARE(widget, dialog.Control(tabOrder[i]));
        }
    }

    void screenReadersCanTellTheBoxesApart() {
        CDownLoadDlg dialog(nullptr, App());
        const std::map<int, QString> names = {{IDC_BBS_DIRECTORY, "BBS directory"},
                                              {IDC_BBS_FILE, "BBS file"},
                                              {IDC_DOCUMENT_DIRECTORY, "Document directory"},
                                              {IDC_DOCUMENT_FILE, "Document file"},
                                              {IDC_DELAY, "Delay in seconds"},
                                              {IDC_PROGRESS, "Share of documents stored"}};
        for (const auto& [id, name] : names) {
            QCOMPARE(dialog.Control(id)->accessibleName(), name);
        }
    }

    void windowAndAboutBoxShowTheProgramIcon() {
        CDownLoadDlg dialog(nullptr, App());
        QVERIFY(!dialog.windowIcon().pixmap(32, 32).isNull());
        CAboutDlg about(nullptr, "/data/folder/");
        QVERIFY(!about.windowIcon().pixmap(32, 32).isNull());
        QCOMPARE(about.findChild<QLabel*>("dataFolder")->toolTip(), QString("/data/folder/"));
        QVERIFY(about.findChild<QLabel*>("dataFolder")->text().startsWith("Files in /data"));
    }

    void enterPressesTheFocusedButton() {
        CDownLoadDlg dialog(nullptr, App());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        BoxAnswerer boxes;
        dialog.Control(IDCANCEL_BUTTON)->setFocus();
        QTest::keyClick(dialog.Control(IDCANCEL_BUTTON), Qt::Key_Return);
        QVERIFY(!dialog.isVisible());  // Cancel, not Start
        QCOMPARE(boxes.texts.size(), 0);
        QCOMPARE(Buttons(dialog), QString("10001"));
    }

    void aWholeRunFromTheWindow() {
        StartServer(server_);
        WriteSettings("http://127.0.0.1/bbs", "http://127.0.0.1/doc");
        CDownLoadDlg dialog(nullptr, App());
        dialog.Controller().SetFetchPort(server_->Port());
        dialog.Controller().SetIdleSleepMs(5);
        dialog.show();
        BoxAnswerer boxes;

        Click(dialog, IDC_START);
        // After the look far past each series' start.
        QTRY_COMPARE(boxes.texts.value(0),
                     QString("Notice : To browse these xml and htm files use \"MyNOVU\". "));
        QCOMPARE(boxes.captions.value(0), QString("ui_test"));
        QCOMPARE(Buttons(dialog), QString("01010"));
        QTRY_VERIFY(std::filesystem::exists(App() + "xml_file/2/2005.xml"));
        QTRY_VERIFY(Text(dialog, IDC_DETAIL) == "Success" || Text(dialog, IDC_DETAIL) == "Fail");
        QVERIFY(Text(dialog, IDC_STATUS).startsWith("http://127.0.0.1/"));

        Click(dialog, IDC_PAUSE);
        QCOMPARE(Buttons(dialog), QString("00110"));
        Click(dialog, IDC_RESUME);
        QCOMPARE(Buttons(dialog), QString("01010"));

        Click(dialog, IDC_ABORT);
        QCOMPARE(boxes.texts.value(1),
                 QString("Wait for the \"Active Thread\" equal 0, try again."));
        QCOMPARE(Buttons(dialog), QString("01010"));
        QTRY_VERIFY_WITH_TIMEOUT(Text(dialog, IDC_COUNTS).endsWith("Active Thread : 0"), 10000);
        Click(dialog, IDC_ABORT);
        QCOMPARE(Buttons(dialog), QString("10001"));
        QCOMPARE(boxes.texts.size(), 2);

        const QString counts = Text(dialog, IDC_COUNTS);
        QVERIFY2(counts.startsWith("Requested : "), qPrintable(counts));
        QCOMPARE(ReadFileBytes(App() + "xml_file/2/2000.xml"), std::string("<doc/>"));
        QVERIFY(!std::filesystem::exists(App() + "html_file/3/3003.htm"));
        CTaskSettingsFile saved;
        saved.SetPath(SettingsPathFor(App()));
        QCOMPARE(saved.Load(), 540);
        QVERIFY(saved.Record().bbsNumber >= 2000);
        QVERIFY(saved.Record().documentNumber >= 3000);
        auto* bar = qobject_cast<QProgressBar*>(dialog.Control(IDC_PROGRESS));
        QVERIFY(bar->maximum() > 0);
    }

    // The start's look far past each series waits for the site on a thread of its own: the
    // window answers meanwhile, and Abort ends the look and the Start.
    void theWindowAnswersWhileTheSiteKeepsTheProbeWaiting() {
        server_ = std::make_unique<ScriptedServer>([](const std::string&) {
            return ServerScript().Stall();  // the probe's question is the first and the last
        });
        QVERIFY(server_->Start());
        WriteSettings("http://127.0.0.1/bbs", "http://127.0.0.1/doc");
        CDownLoadDlg dialog(nullptr, App());
        dialog.Controller().SetFetchPort(server_->Port());
        dialog.show();
        BoxAnswerer boxes;
        QElapsedTimer clicked;
        clicked.start();
        Click(dialog, IDC_START);
        QVERIFY(clicked.elapsed() < 5000);  // a probe in the click would hold it 10 s
        QCOMPARE(boxes.texts.size(), 0);    // the notice comes after the look
        QTRY_COMPARE(server_->ConnectionCount(), 1);
        QCOMPARE(Buttons(dialog), QString("01010"));
        Click(dialog, IDC_ABORT);
        QTRY_COMPARE_WITH_TIMEOUT(Buttons(dialog), QString("10001"), 3000);
        QCOMPARE(boxes.texts.size(), 0);  // no notice: the run never began
        QVERIFY(std::filesystem::is_empty(App() + "xml_file"));
    }

    // A series that ends: the status line says so, and a document that appears is fetched at
    // the next question.
    void theWindowWaitsAtTheEndOfASeriesAndPicksUpWhatAppears() {
        std::atomic<int> last{2009};
        server_ = std::make_unique<ScriptedServer>([&](const std::string& request) {
            const std::size_t at = request.find("/2/");
            const int number = at == std::string::npos ? 0 : std::atoi(request.c_str() + at + 3);
            return number > 0 && number <= last.load()
                       ? ServerScript().Send(HttpResponse(200, "<doc/>"))
                       : ServerScript().Send(HttpResponse(404, "no"));
        });
        QVERIFY(server_->Start());
        WriteSettings("http://127.0.0.1/bbs", "http://127.0.0.1/doc");
        CDownLoadDlg dialog(nullptr, App());
        dialog.Controller().SetFetchPort(server_->Port());
        dialog.Controller().SetIdleSleepMs(5);
        dialog.SetAskAgainEvery(std::chrono::seconds(1));
        qobject_cast<QCheckBox*>(dialog.Control(IDC_DOCUMENT_CHECK))->setChecked(false);
        dialog.show();
        BoxAnswerer boxes;

        Click(dialog, IDC_START);
        QTRY_COMPARE_WITH_TIMEOUT(Text(dialog, IDC_STATUS),
                                  QString("BBS: end of the series at 2010, asking again every 1 s"),
                                  10000);
        QVERIFY(Text(dialog, IDC_COUNTS).contains(" - Past the end : "));
        last = 2012;
        QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(App() + "xml_file/2/2012.xml"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(Text(dialog, IDC_STATUS),
                                  QString("BBS: end of the series at 2013, asking again every 1 s"),
                                  10000);
        Click(dialog, IDC_ABORT);
        QTRY_VERIFY_WITH_TIMEOUT(Text(dialog, IDC_COUNTS).contains("Active Thread : 0"), 10000);
        Click(dialog, IDC_ABORT);
        CTaskSettingsFile saved;
        saved.SetPath(SettingsPathFor(App()));
        QCOMPARE(saved.Load(), 540);
        QCOMPARE(saved.Record().bbsNumber, 2013);
        QVERIFY(!std::filesystem::exists(App() + "failed.txt") ||
                ReadFileBytes(App() + "failed.txt").empty());
    }

    void enterEscapeAndCloseDuringAndAfterARun() {
        WriteSettings("http://127.0.0.1/bbs", "http://127.0.0.1/doc");
        CDownLoadDlg dialog(nullptr, App());
        dialog.Controller().SetIdleSleepMs(5);
        qobject_cast<QCheckBox*>(dialog.Control(IDC_BBS_CHECK))->setChecked(false);
        qobject_cast<QCheckBox*>(dialog.Control(IDC_DOCUMENT_CHECK))->setChecked(false);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        BoxAnswerer boxes;

        QTest::keyClick(dialog.Control(IDC_DELAY), Qt::Key_Return);  // Enter presses Start
        QCOMPARE(boxes.texts.size(), 1);
        QCOMPARE(Buttons(dialog), QString("01010"));
        QTest::keyClick(dialog.Control(IDC_DELAY), Qt::Key_Return);  // Start is disabled now
        QTest::keyClick(&dialog, Qt::Key_Escape);
        dialog.close();
        QVERIFY(dialog.isVisible());
        QCOMPARE(boxes.texts.size(), 1);

        Click(dialog, IDC_ABORT);
        QTRY_VERIFY_WITH_TIMEOUT(Text(dialog, IDC_COUNTS).endsWith("Active Thread : 0"), 10000);
        Click(dialog, IDC_ABORT);
        QVERIFY(dialog.isVisible());

        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    void cancelClosesAnIdleWindow() {
        CDownLoadDlg dialog(nullptr, App());
        dialog.show();
        Click(dialog, IDCANCEL_BUTTON);
        QVERIFY(!dialog.isVisible());
    }

    void textsFromWorkerThreadsArriveInOrder() {
        CDownLoadDlg dialog(nullptr, App());
        QStringList seen;
        auto* status = qobject_cast<QLabel*>(dialog.Control(IDC_STATUS));
        std::thread worker([&] {
            for (int i = 0; i < 500; ++i) {
                dialog.SetText(IDC_STATUS, std::to_string(i));
            }
        });
        worker.join();
        QCOMPARE(status->text(),
                 QString("DownLoad Status"));  // nothing applied off the window thread
        dialog.SetText(IDC_DETAIL, "later");   // applies what was posted before it
        QCOMPARE(status->text(), QString("499"));
        QCOMPARE(Text(dialog, IDC_DETAIL), QString("later"));
    }

    void aboutOpensFromTheMenuEntryAndCommands16To31() {
        CDownLoadDlg dialog(nullptr, App());
        QMenu* menu = dialog.BuildSystemMenu();
        QAction* about = menu->actions().last();
        QCOMPARE(about->text(), QString("&About NOVUDownLoad..."));
        QCOMPARE(about->data().toInt(), 16);
        BoxAnswerer boxes;
        for (int id : {16, 17, 31, 15, 32, 0xF060}) {
            dialog.OnSysCommand(id);
        }
        QCOMPARE(boxes.captions,
                 QStringList({"About NOVUDownLoad", "About NOVUDownLoad", "About NOVUDownLoad"}));
    }

    void linkLabelSetUpCompletesTargetAndText() {
        QWidget parent;
        CLinkLabel fromText("www.site.example", &parent);
        fromText.Attach();
        QCOMPARE(fromText.LinkTarget(), QString("www.site.example"));
        QCOMPARE(fromText.toolTip(), QString("www.site.example"));
        QCOMPARE(fromText.cursor().shape(), Qt::PointingHandCursor);
        CLinkLabel fromTarget("", &parent);
        fromTarget.SetLinkTarget("mailto:a@b.example");
        fromTarget.Attach();
        QCOMPARE(fromTarget.text(), QString("mailto:a@b.example"));
        QCOMPARE(fromTarget.UnderlineMode(), UNDERLINE_ON_HOVER);
        QVERIFY(!fromTarget.font().underline());  // setting the mode it has changes nothing
    }

    void linkLabelUnderlinesOnHoverUntilThePointerLeaves() {
        QWidget parent;
        PointedLinkLabel label("link", &parent);
        label.Attach();
        QCOMPARE(label.CurrentColour(), QColor(0, 0, 238));
        label.pointer = QPoint(1, 1);
        MoveMouseOver(&label);
        QVERIFY(label.IsHovering());
        QVERIFY(label.font().underline());
        QCOMPARE(label.CurrentColour(), QColor(255, 0, 0));
        label.OnHoverTimer();  // pointer still inside
        QVERIFY(label.IsHovering());
        label.pointer = QPoint(-5, 1);
        QTRY_VERIFY(!label.IsHovering());  // the 100 ms timer notices
        QVERIFY(!label.font().underline());

        label.SetUnderlineMode(UNDERLINE_ALWAYS);
        QVERIFY(label.font().underline());
        label.pointer = QPoint(1, 1);
        MoveMouseOver(&label);
        label.pointer = QPoint(-5, 1);
        label.OnHoverTimer();
        QVERIFY(label.font().underline());  // always means always

        label.SetUnderlineMode(UNDERLINE_NEVER);
        label.pointer = QPoint(1, 1);
        MoveMouseOver(&label);
        QVERIFY(!label.font().underline());
    }

    void linkLabelClickMarksVisitedOrExplainsTheFailure() {
        QWidget parent;
        CLinkLabel label("http://www.novu.example/", &parent);
        label.Attach();
        int result = open_result::kSuccess;
        QStringList opened;
        label.SetOpener([&](const std::string& target, std::function<void(int)> done) {
            opened << QString::fromStdString(target);
            done(result);
        });
        BoxAnswerer boxes;
        label.OnClicked();
        QVERIFY(label.IsVisited());
        QCOMPARE(label.CurrentColour(), QColor(85, 26, 139));
        QCOMPARE(opened, QStringList({"http://www.novu.example/"}));
        QCOMPARE(boxes.texts.size(), 0);

        for (int code : {26, 4, -1}) {
            result = code;
            label.OnClicked();
            QVERIFY(!label.IsVisited());  // a failure clears an earlier visit
        }
        QCOMPARE(boxes.texts,
                 QStringList({"Unable to open hyperlink:\n\nA sharing violation occurred. ",
                              "Unable to open hyperlink:\n\nUnknown Error (4) occurred.",
                              "Unable to open hyperlink:\n\nUnknown Error (-1) occurred."}));
    }

    void linkThatTheDesktopCannotOpenIsNotVisited() {
        // A desktop opener that starts and then fails, and no registered browser to fall back on.
        const std::string bin = App() + "bin";
        std::filesystem::create_directory(bin);
        WriteFileBytes(bin + "/xdg-open", "#!/bin/sh\nsleep 1\nexit 4\n");
        WriteFileBytes(bin + "/xdg-mime", "#!/bin/sh\nexit 1\n");
        for (const char* tool : {"/xdg-open", "/xdg-mime"}) {
            std::filesystem::permissions(bin + tool, std::filesystem::perms::owner_all);
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QByteArray::fromStdString(bin) + ":" + path);
        QWidget parent;
        CLinkLabel label("http://www.novu.example/", &parent);
        label.Attach();
        BoxAnswerer boxes;
        QElapsedTimer clock;
        clock.start();
        label.OnClicked();
        QVERIFY(clock.elapsed() < 500);  // the window does not wait for the opener
        QTRY_COMPARE(boxes.texts.size(), 1);
        qputenv("PATH", path);
        QVERIFY(!label.IsVisited());
        QCOMPARE(boxes.texts[0],
                 QString::fromStdString(OpenFailureMessage(open_result::kNoAssociation)));
    }

    void linkColoursStayReadableOnADarkBackground() {
        QWidget parent;
        CLinkLabel label("link", &parent);
        label.Attach();
        QPalette dark = label.palette();
        dark.setColor(QPalette::Window, QColor(32, 32, 32));
        label.setPalette(dark);
        const auto luminance = [](const QColor& c) {
            const auto channel = [](double v) {
                return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
                   0.0722 * channel(c.blueF());
        };
        const auto contrast = [&](const QColor& a, const QColor& b) {
            const double la = luminance(a), lb = luminance(b);
            return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
        };
        for (bool visited : {false, true}) {
            label.MarkVisited(visited);
            QVERIFY(contrast(label.CurrentColour(), QColor(32, 32, 32)) >= 4.5);
        }
        label.MarkVisited(false);
        label.setPalette(QPalette(QColor(240, 240, 240)));
        QCOMPARE(label.CurrentColour(), QColor(0, 0, 238));  // light: the colours as designed
    }

    void editBoxesReadAsSignedIntegers() {
        QCOMPARE(ParseDialogInt("42"), 42);
        QCOMPARE(ParseDialogInt(" -7 "), -7);
        QCOMPARE(ParseDialogInt(""), 0);
        QCOMPARE(ParseDialogInt("12abc"), 0);
        QCOMPARE(ParseDialogInt("99999999999"), 0);
    }

    void screenshotOfTheMainWindow() {
        CDownLoadDlg dialog(nullptr, App());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QString path = QString::fromLocal8Bit(qgetenv("NOVU_SCREENSHOT"));
        const QImage image = dialog.grab().toImage();
        QVERIFY(!image.isNull());
        if (!path.isEmpty()) {
            QVERIFY(image.save(path));
        }
    }
};

QTEST_MAIN(UiTest)
#include "ui_test.moc"
