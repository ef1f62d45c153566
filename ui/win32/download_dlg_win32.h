#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "run/run_controller.h"
#include "ui/dialog_observer.h"
#include "ui/win32/link_label_win32.h"

// The main window on Windows: a dialog from template 102 that hands the run controller what its
// controls say at Start, drives the two ticks with window timers and shows what it observes.
//
// Threads: everything runs on the window's thread, except the job reports, which worker threads
// make: their texts are posted to the window's thread and applied in the order of the calls.
// The About box on its own (tests): modeless, owned by `owner`, naming `dataFolder`.
HWND CreateAboutBox(HWND owner, const std::string& dataFolder);

class CDownLoadDlgWin32 : private CDialogObserver {
  public:
    // `appDirectory` replaces the data folder when given (tests use a fresh folder).
    explicit CDownLoadDlgWin32(std::string appDirectory = {});
    ~CDownLoadDlgWin32() override;
    CDownLoadDlgWin32(const CDownLoadDlgWin32&) = delete;
    CDownLoadDlgWin32& operator=(const CDownLoadDlgWin32&) = delete;

    // Shows the window and returns once it is closed.
    INT_PTR RunModal();
    // Creates the window without waiting (tests); it lives until closed or destroyed.
    HWND Create();
    HWND Window() const { return window_; }
    CRunController& Controller() { return *controller_; }
    const std::string& AppDirectory() const { return appDirectory_; }
    CLinkLabelWin32& HomeLink() { return homeLink_; }
    CLinkLabelWin32& MailLink() { return mailLink_; }

    // How the window and its links show their messages (tests answer instead of a person).
    void SetMessageBox(const MessageBoxFn& box);

    // The buttons and the timers, as the user and the clock press them.
    void OnStart();
    void OnPause();
    void OnResume();
    void OnAbort();
    void OnTimer(UINT_PTR timerId);
    // Cancel, Escape and the close box close the window only while Cancel is enabled.
    void OnCancel();

    // The entries of the system menu: "About NOVUDownLoad..." opens the About box.
    void OnSysCommand(UINT commandId);

    // A label's text; from any thread, applied on the window's thread in call order.
    void SetText(int id, const std::string& text) override;

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void ApplyPostedTexts();
    int GetInt(int id) const;
    bool IsChecked(int id) const;

    // CDialogObserver
    void SetNumber(int id, int value) override;
    void SetCheck(int id, bool checked) override;
    void EnableControl(int id, bool enabled) override;
    void ShowProgress(int finished, int stored) override;
    void ShowMessage(const std::string& text) override;

    std::string appDirectory_;
    HWND window_ = nullptr;
    bool modal_ = false;
    DWORD windowThread_ = 0;
    std::unique_ptr<CRunController> controller_;
    CLinkLabelWin32 homeLink_;
    CLinkLabelWin32 mailLink_;
    MessageBoxFn messageBox_ = ShowProgramMessage;
};
