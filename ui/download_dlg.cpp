#include "ui/download_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

#include "support/data_location.h"
#include "support/file_helpers.h"
#include "support/text_format.h"
#include "ui/about_dlg.h"
#include "ui/app_title.h"
#include "ui/dialog_units.h"
#include "ui/link_label.h"
#include "ui/program_icon.h"

namespace {

enum class Kind { kButton, kDefaultButton, kCheck, kLabel, kEdit, kLine, kProgress, kGroup, kLink };

struct ControlTemplate {
    int id;  // -1 for plain labels
    Kind kind;
    const char* text;
    int x, y, width, height;  // dialog units
    // What a screen reader says for a control whose own text does not tell it apart.
    const char* accessibleName = nullptr;
};

// Template 102, in template order, which is also the tab order.
const ControlTemplate kMainTemplate[] = {
    {IDC_START, Kind::kDefaultButton, "Start", 7, 179, 50, 14},
    {IDCANCEL_BUTTON, Kind::kButton, "Cancel", 261, 179, 50, 14},
    {IDC_BBS_CHECK, Kind::kCheck, "BBS", 20, 21, 30, 10},
    {IDC_DOCUMENT_CHECK, Kind::kCheck, "Document", 20, 40, 49, 10},
    {-1, Kind::kLabel, "Directory : ", 79, 21, 35, 8},
    {-1, Kind::kLabel, "Directory : ", 79, 40, 35, 8},
    {IDC_BBS_DIRECTORY, Kind::kEdit, "", 118, 18, 40, 14, "BBS directory"},
    {IDC_DOCUMENT_DIRECTORY, Kind::kEdit, "", 117, 38, 40, 14, "Document directory"},
    {-1, Kind::kLabel, "File : ", 177, 21, 18, 8},
    {-1, Kind::kLabel, "File : ", 177, 40, 18, 8},
    {IDC_BBS_FILE, Kind::kEdit, "", 202, 18, 40, 14, "BBS file"},
    {IDC_DOCUMENT_FILE, Kind::kEdit, "", 202, 38, 40, 14, "Document file"},
    {-1, Kind::kLine, "", 7, 169, 304, 1},
    {IDC_STATUS, Kind::kLabel, "DownLoad Status", 17, 79, 293, 8},
    {IDC_DETAIL, Kind::kLabel, "DownLoad detail", 17, 92, 293, 8},
    {IDC_PROGRESS, Kind::kProgress, "", 17, 107, 293, 14, "Share of documents stored"},
    {IDC_ABORT, Kind::kButton, "Abort", 198, 179, 50, 14},
    {-1, Kind::kGroup, "Status", 7, 65, 304, 63},
    {IDC_PAUSE, Kind::kButton, "Pause", 69, 179, 50, 14},
    {IDC_RESUME, Kind::kButton, "Resume", 133, 179, 50, 14},
    {IDC_COUNTS, Kind::kLabel, "Count", 7, 155, 304, 8},
    {-1, Kind::kGroup, "Task", 7, 7, 304, 52},
    {IDC_DELAY, Kind::kEdit, "", 260, 33, 24, 14, "Delay in seconds"},
    {-1, Kind::kGroup, "Delay", 251, 18, 57, 34},
    {-1, Kind::kLabel, "(S)", 288, 37, 11, 8},
    {IDC_HOME_LINK, Kind::kLink, kHomePageText, 7, 138, 92, 8},
    {IDC_MAIL_LINK, Kind::kLink, kMailText, 219, 138, 92, 8},
};

QWidget* CreateControl(const ControlTemplate& t, QWidget* parent) {
    const QString text = QString::fromLatin1(t.text);
    switch (t.kind) {
        case Kind::kButton:
        case Kind::kDefaultButton: {
            auto* button = new QPushButton(text, parent);
            // Enter presses the button that has the focus; elsewhere it presses Start.
            button->setAutoDefault(true);
            button->setDefault(t.kind == Kind::kDefaultButton);
            return button;
        }
        case Kind::kCheck:
            return new QCheckBox(text, parent);
        case Kind::kEdit:
            return new QLineEdit(parent);
        case Kind::kLine: {
            auto* line = new QFrame(parent);
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            return line;
        }
        case Kind::kProgress: {
            auto* bar = new QProgressBar(parent);
            bar->setTextVisible(false);
            bar->setRange(0, 100);
            bar->setValue(0);
            return bar;
        }
        case Kind::kGroup:
            return new QGroupBox(text, parent);
        case Kind::kLink:
            return new CLinkLabel(text, parent);
        case Kind::kLabel: {
            auto* label = new QLabel(text, parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setTextFormat(Qt::PlainText);
            return label;
        }
    }
    return nullptr;
}

}  // namespace

int ParseDialogInt(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}

CDownLoadDlg::CDownLoadDlg(QWidget* parent, const std::string& appDirectory,
                           const QFont* dialogFont)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      icon_(ProgramIcon()) {
    setWindowTitle(QStringLiteral("NOVUDownLoad"));
    CreateControls(dialogFont);
    OnInitDialog(appDirectory);
}

CDownLoadDlg::~CDownLoadDlg() {
    // Ends a run that is somehow still alive before the controls that reports write go away.
    controller_.reset();
}

void CDownLoadDlg::CreateControls(const QFont* givenFont) {
    QFont dialogFont = font();
    dialogFont.setPointSize(8);
    setFont(givenFont != nullptr ? *givenFont : dialogFont);
    const DialogUnits du(font());
    setFixedSize(du.X(318), du.Y(200));
    for (const ControlTemplate& t : kMainTemplate) {
        QWidget* control = CreateControl(t, this);
        control->setGeometry(du.Rect(t.x, t.y, t.width, t.height));
        control->setObjectName(QStringLiteral("control-%1").arg(t.id));
        if (t.kind == Kind::kGroup) {
            control->lower();  // frames must not take the clicks meant for what they frame
        }
        if (t.id != -1) {
            controls_[t.id] = control;
        }
        if (t.accessibleName != nullptr) {
            control->setAccessibleName(QString::fromLatin1(t.accessibleName));
        }
    }
    homeLink_ = static_cast<CLinkLabel*>(controls_.at(IDC_HOME_LINK));
    mailLink_ = static_cast<CLinkLabel*>(controls_.at(IDC_MAIL_LINK));
    // The e-mail link is bound first, as the dialog's data exchange does.
    mailLink_->Attach();
    homeLink_->Attach();

    connect(Button(IDC_START), &QPushButton::clicked, this, [this] { controller_->OnStart(); });
    connect(Button(IDC_PAUSE), &QPushButton::clicked, this, [this] { controller_->OnPause(); });
    connect(Button(IDC_RESUME), &QPushButton::clicked, this, [this] { controller_->OnResume(); });
    connect(Button(IDC_ABORT), &QPushButton::clicked, this, [this] { controller_->OnAbort(); });
    connect(Button(IDCANCEL_BUTTON), &QPushButton::clicked, this, &CDownLoadDlg::reject);
}

void CDownLoadDlg::OnInitDialog(const std::string& appDirectory) {
    setWindowIcon(icon_);
    appDirectory_ = appDirectory;
    if (appDirectory_.empty()) {
        appDirectory_ = ChooseDataLocationOfThisProgram().directory;
    }
    controller_ = std::make_unique<CRunController>(*this, settings_, appDirectory_);
    controller_->CreateDownloadFolders();
    settings_.SetPath(SettingsPathFor(appDirectory_));
    controller_->LoadSettings();
    StartTimer(TIMER_STATUS, kStatusPeriodMs);
    controller_->ShowSettings();
    controller_->UpdateButtons();
    SetInt(IDC_DELAY, settings_.Record().timeout);
    homeLink_->SetLinkTarget(QString::fromLatin1(kHomePageTarget));
    homeLink_->SetUnderlineMode(UNDERLINE_ALWAYS);
    mailLink_->SetLinkTarget(QString::fromLatin1(kMailTarget));
    mailLink_->SetUnderlineMode(UNDERLINE_ALWAYS);
    Button(IDC_START)->setFocus(Qt::OtherFocusReason);
}

QWidget* CDownLoadDlg::Control(int id) const {
    const auto found = controls_.find(id);
    return found != controls_.end() ? found->second : nullptr;
}

QPushButton* CDownLoadDlg::Button(int id) const {
    return qobject_cast<QPushButton*>(Control(id));
}

QMenu* CDownLoadDlg::BuildSystemMenu() {
    auto* menu = new QMenu(this);
    menu->addSeparator();
    QAction* about = menu->addAction(QStringLiteral("&About NOVUDownLoad..."));
    about->setData(ID_ABOUTBOX);
    return menu;
}

void CDownLoadDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = BuildSystemMenu();
    QAction* chosen = menu->exec(event->globalPos());
    if (chosen != nullptr) {
        OnSysCommand(chosen->data().toInt());
    }
    menu->deleteLater();
}

void CDownLoadDlg::OnSysCommand(int commandId) {
    if ((commandId & 0xFFF0) == ID_ABOUTBOX) {
        CAboutDlg about(this, QString::fromLocal8Bit(appDirectory_.c_str()));
        about.exec();
    }
}

void CDownLoadDlg::accept() {}

void CDownLoadDlg::reject() {
    // While a run exists Cancel is disabled: no report may ever reach a destroyed window.
    if (Button(IDCANCEL_BUTTON)->isEnabled()) {
        QDialog::reject();
    }
}

int CDownLoadDlg::IsChecked(int id) {
    auto* box = qobject_cast<QCheckBox*>(Control(id));
    return box != nullptr && box->isChecked() ? 1 : 0;
}

int CDownLoadDlg::GetInt(int id) {
    auto* edit = qobject_cast<QLineEdit*>(Control(id));
    return edit != nullptr ? ParseDialogInt(edit->text()) : 0;
}

void CDownLoadDlg::SetChecked(int id, int checked) {
    if (auto* box = qobject_cast<QCheckBox*>(Control(id))) {
        box->setChecked(checked != 0);
    }
}

void CDownLoadDlg::SetInt(int id, int value) {
    if (auto* edit = qobject_cast<QLineEdit*>(Control(id))) {
        edit->setText(QString::number(value));
    }
}

void CDownLoadDlg::SetText(int id, const std::string& text) {
    const QString value = QString::fromLocal8Bit(text.c_str());
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, id, value] { ApplyText(id, value); }, Qt::QueuedConnection);
        return;
    }
    // Texts still on their way from workers are older than this one.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    ApplyText(id, value);
}

void CDownLoadDlg::ApplyText(int id, const QString& text) {
    if (auto* label = qobject_cast<QLabel*>(Control(id))) {
        label->setText(text);
    }
}

void CDownLoadDlg::SetProgress(int id, int low, int high, int position) {
    auto* bar = qobject_cast<QProgressBar*>(Control(id));
    if (bar == nullptr) {
        return;
    }
    // An empty range would make the bar an endless busy indicator; show it empty instead.
    bar->setRange(low, high > low ? high : low + 1);
    bar->setValue(position);
}

void CDownLoadDlg::EnableButton(int id, bool enabled) {
    if (QPushButton* button = Button(id)) {
        button->setEnabled(enabled);
    }
}

void CDownLoadDlg::ShowMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), QString::fromLocal8Bit(text.c_str()),
                    QMessageBox::Ok, this);
    box.exec();
}

void CDownLoadDlg::StartTimer(int id, int periodMs) {
    QTimer*& timer = timers_[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, id] { controller_->OnTimer(id); });
    }
    timer->start(periodMs);
}

void CDownLoadDlg::StopTimer(int id) {
    const auto found = timers_.find(id);
    if (found != timers_.end() && found->second != nullptr) {
        found->second->stop();
    }
}
