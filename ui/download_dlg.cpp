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
#include "ui/dialog_logic.h"
#include "ui/dialog_units.h"
#include "ui/link_label.h"
#include "ui/main_dialog_template.h"
#include "ui/program_icon.h"

namespace {

QWidget* CreateControl(const ControlTemplate& t, QWidget* parent) {
    const QString text = QString::fromLatin1(t.text);
    switch (t.kind) {
        case ControlKind::kButton:
        case ControlKind::kDefaultButton: {
            auto* button = new QPushButton(text, parent);
            // Enter presses the button that has the focus; elsewhere it presses Start.
            button->setAutoDefault(true);
            button->setDefault(t.kind == ControlKind::kDefaultButton);
            return button;
        }
        case ControlKind::kCheck:
            return new QCheckBox(text, parent);
        case ControlKind::kEdit:
            return new QLineEdit(parent);
        case ControlKind::kLine: {
            auto* line = new QFrame(parent);
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            return line;
        }
        case ControlKind::kProgress: {
            auto* bar = new QProgressBar(parent);
            bar->setTextVisible(false);
            bar->setRange(0, 100);
            bar->setValue(0);
            return bar;
        }
        case ControlKind::kGroup:
            return new QGroupBox(text, parent);
        case ControlKind::kLink:
            return new CLinkLabel(text, parent);
        case ControlKind::kIcon: {
            auto* icon = new QLabel(parent);
            icon->setPixmap(ProgramIcon().pixmap(32, 32));
            return icon;
        }
        case ControlKind::kLabel: {
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
    return DialogInt(text.toStdString());
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
        if (t.kind == ControlKind::kGroup) {
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

    connect(Button(IDC_START), &QPushButton::clicked, this, &CDownLoadDlg::OnStart);
    connect(Button(IDC_PAUSE), &QPushButton::clicked, this, &CDownLoadDlg::OnPause);
    connect(Button(IDC_RESUME), &QPushButton::clicked, this, &CDownLoadDlg::OnResume);
    connect(Button(IDC_ABORT), &QPushButton::clicked, this, &CDownLoadDlg::OnAbort);
    connect(Button(IDCANCEL_BUTTON), &QPushButton::clicked, this, &CDownLoadDlg::reject);
}

void CDownLoadDlg::OnInitDialog(const std::string& appDirectory) {
    setWindowIcon(icon_);
    appDirectory_ = appDirectory;
    if (appDirectory_.empty()) {
        appDirectory_ = ChooseDataLocationOfThisProgram().directory;
    }
    controller_ =
        std::make_unique<CRunController>(static_cast<CRunObserver&>(*this), appDirectory_);
    controller_->Open();
    StartTimer(TIMER_STATUS, kStatusPeriodMs);
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

void CDownLoadDlg::OnStart() {
    RunRequest request =
        RequestFrom({IsChecked(IDC_BBS_CHECK) != 0, GetInt(IDC_BBS_DIRECTORY), GetInt(IDC_BBS_FILE),
                     IsChecked(IDC_DOCUMENT_CHECK) != 0, GetInt(IDC_DOCUMENT_DIRECTORY),
                     GetInt(IDC_DOCUMENT_FILE), GetInt(IDC_DELAY)});
    request.askAgainEvery = askAgainEvery_;
    controller_->StartWithExtendedSettings(request);
    if (controller_->Generating()) {
        StartTimer(TIMER_GENERATE, kGeneratePeriodMs);
    }
}

void CDownLoadDlg::OnPause() {
    controller_->Pause();
}

void CDownLoadDlg::OnResume() {
    controller_->Resume();
}

void CDownLoadDlg::OnAbort() {
    StopTimer(TIMER_GENERATE);
    controller_->Abort();
}

void CDownLoadDlg::OnTimer(int timerId) {
    OnRunTimer(*controller_, timerId);
}

int CDownLoadDlg::IsChecked(int id) const {
    auto* box = qobject_cast<QCheckBox*>(Control(id));
    return box != nullptr && box->isChecked() ? 1 : 0;
}

int CDownLoadDlg::GetInt(int id) const {
    auto* edit = qobject_cast<QLineEdit*>(Control(id));
    return edit != nullptr ? ParseDialogInt(edit->text()) : 0;
}

void CDownLoadDlg::SetCheck(int id, bool checked) {
    if (auto* box = qobject_cast<QCheckBox*>(Control(id))) {
        box->setChecked(checked);
    }
}

void CDownLoadDlg::SetNumber(int id, int value) {
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

void CDownLoadDlg::EnableControl(int id, bool enabled) {
    Control(id)->setEnabled(enabled);
}

void CDownLoadDlg::ShowProgress(int finished, int stored) {
    auto* bar = qobject_cast<QProgressBar*>(Control(IDC_PROGRESS));
    // An empty range would make the bar an endless busy indicator; show it empty instead.
    bar->setRange(0, finished > 0 ? finished : 1);
    bar->setValue(stored);
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
        connect(timer, &QTimer::timeout, this, [this, id] { OnTimer(id); });
    }
    timer->start(periodMs);
}

void CDownLoadDlg::StopTimer(int id) {
    const auto found = timers_.find(id);
    if (found != timers_.end() && found->second != nullptr) {
        found->second->stop();
    }
}
