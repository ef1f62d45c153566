#pragma once

#include <QDialog>
#include <QIcon>
#include <QTimer>
#include <map>
#include <memory>
#include <string>

#include "run/run_controller.h"
#include "ui/dialog_observer.h"
#include "ui/main_dialog_template.h"

class CLinkLabel;
class QMenu;
class QPushButton;

// An edit box's text as the run controller reads it: a signed decimal integer, surrounding
// spaces allowed; anything else, or a value out of range, reads as 0.
int ParseDialogInt(const QString& text);

// The main window: task entries, status texts, progress bar, two links and five buttons. It
// owns the run controller, hands it what the controls say at Start, drives its two ticks and
// shows what it observes.
//
// Threads: everything runs on the window's thread, except SetText, which job reports call from
// worker threads; those texts are posted to the window's thread and applied in call order.
class CDownLoadDlg : public QDialog, private CDialogObserver {
    Q_OBJECT
  public:
    // `appDirectory` replaces the data folder when given (tests use a fresh folder); `dialogFont`
    // replaces the 8-point font of the screen (tests stand in for screens of other DPIs).
    explicit CDownLoadDlg(QWidget* parent = nullptr, const std::string& appDirectory = {},
                          const QFont* dialogFont = nullptr);
    ~CDownLoadDlg() override;

    QWidget* Control(int id) const;
    CRunController& Controller() { return *controller_; }
    const std::string& AppDirectory() const { return appDirectory_; }
    // The entries of the window's menu (the system menu's place on this platform).
    QMenu* BuildSystemMenu();
    void OnSysCommand(int commandId);

    // The buttons and the timers, as the user and the clock press them.
    void OnStart();
    void OnPause();
    void OnResume();
    void OnAbort();
    void OnTimer(int timerId);

    // How often a task at the end of its series asks again; 60 s unless a test shortens it.
    void SetAskAgainEvery(std::chrono::milliseconds every) { askAgainEvery_ = every; }

    // A label's text; from any thread, applied on the window's thread in call order.
    void SetText(int id, const std::string& text) override;

  public slots:
    // OK does nothing: Enter never closes the window.
    void accept() override;
    // Cancel, Escape and the close box close the window only while Cancel is enabled.
    void reject() override;

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void CreateControls(const QFont* dialogFont);
    void OnInitDialog(const std::string& appDirectory);
    void ApplyText(int id, const QString& text);
    QPushButton* Button(int id) const;
    int IsChecked(int id) const;
    int GetInt(int id) const;
    void StartTimer(int id, int periodMs);
    void StopTimer(int id);

    // CDialogObserver
    void SetNumber(int id, int value) override;
    void SetCheck(int id, bool checked) override;
    void EnableControl(int id, bool enabled) override;
    void ShowProgress(int finished, int stored) override;
    void ShowMessage(const std::string& text) override;

    std::map<int, QWidget*> controls_;
    CLinkLabel* mailLink_ = nullptr;
    CLinkLabel* homeLink_ = nullptr;
    QIcon icon_;
    std::string appDirectory_;
    std::map<int, QTimer*> timers_;
    std::unique_ptr<CRunController> controller_;
    std::chrono::milliseconds askAgainEvery_ = RunRequest().askAgainEvery;
};
