#pragma once

#include <QDialog>
#include <QIcon>
#include <QTimer>
#include <map>
#include <memory>
#include <string>

#include "run/run_controller.h"
#include "run/run_window.h"
#include "run/task_settings_file.h"

class CLinkLabel;
class QMenu;
class QPushButton;

// An edit box's text as the run controller reads it: a signed decimal integer, surrounding
// spaces allowed; anything else, or a value out of range, reads as 0.
int ParseDialogInt(const QString& text);

inline constexpr int ID_ABOUTBOX = 16;
inline constexpr const char* kHomePageText = "www.novu.example";
inline constexpr const char* kHomePageTarget = "http://www.novu.example/";
inline constexpr const char* kMailText = "mail@novu.example";
inline constexpr const char* kMailTarget = "mailto:mail@novu.example";

// The main window: task entries, status texts, progress bar, two links and five buttons. It
// owns the settings and the run controller and is the controller's window.
//
// Threads: everything runs on the window's thread, except SetText, which job reports call from
// worker threads; those texts are posted to the window's thread and applied in call order.
class CDownLoadDlg : public QDialog, public CRunWindow {
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

    // CRunWindow
    int IsChecked(int id) override;
    int GetInt(int id) override;
    void SetChecked(int id, int checked) override;
    void SetInt(int id, int value) override;
    void SetText(int id, const std::string& text) override;
    void SetProgress(int id, int low, int high, int position) override;
    void EnableButton(int id, bool enabled) override;
    void ShowMessage(const std::string& text) override;
    void StartTimer(int id, int periodMs) override;
    void StopTimer(int id) override;

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

    std::map<int, QWidget*> controls_;
    CLinkLabel* mailLink_ = nullptr;
    CLinkLabel* homeLink_ = nullptr;
    QIcon icon_;
    std::string appDirectory_;
    CTaskSettingsFile settings_;
    std::map<int, QTimer*> timers_;
    std::unique_ptr<CRunController> controller_;
};
