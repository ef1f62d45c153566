#include "ui/win32/download_dlg_win32.h"

#include <commctrl.h>

#include <vector>

#include "support/data_location.h"
#include "ui/dialog_logic.h"
#include "ui/main_dialog_template.h"
#include "ui/win32/dialog_template_win32.h"

namespace {

// A text from a worker thread; lParam carries it, owned by the message.
constexpr UINT kPostedText = WM_APP + 1;

INT_PTR CALLBACK AboutBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        // A long path keeps its start and its end; the middle gives way.
        const HWND folder = GetDlgItem(window, IDC_ABOUT_FOLDER);
        SetWindowLongPtrW(folder, GWL_STYLE,
                          GetWindowLongPtrW(folder, GWL_STYLE) | SS_PATHELLIPSIS);
        const auto* dataFolder = reinterpret_cast<const std::string*>(lParam);
        SetWindowTextA(folder, ("Files in " + *dataFolder).c_str());
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

HWND CreateAboutBox(HWND owner, const std::string& dataFolder) {
    const std::vector<WORD> about = BuildAboutTemplate();
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr), AsTemplate(about), owner,
                                      &AboutBoxProc, reinterpret_cast<LPARAM>(&dataFolder));
}

CDownLoadDlgWin32::CDownLoadDlgWin32(std::string appDirectory)
    : appDirectory_(std::move(appDirectory)) {
    if (appDirectory_.empty()) {
        appDirectory_ = ChooseDataLocationOfThisProgram().directory;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls,
                                  ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
}

void CDownLoadDlgWin32::SetMessageBox(const MessageBoxFn& box) {
    messageBox_ = box;
    homeLink_.SetMessageBox(box);
    mailLink_.SetMessageBox(box);
}

CDownLoadDlgWin32::~CDownLoadDlgWin32() {
    if (window_ != nullptr) {
        DestroyWindow(window_);
    }
}

INT_PTR CDownLoadDlgWin32::RunModal() {
    modal_ = true;
    const std::vector<WORD> dialog = BuildMainDialogTemplate();
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), AsTemplate(dialog), nullptr,
                                   &DialogProc, reinterpret_cast<LPARAM>(this));
}

HWND CDownLoadDlgWin32::Create() {
    modal_ = false;
    const std::vector<WORD> dialog = BuildMainDialogTemplate();
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr), AsTemplate(dialog), nullptr,
                                      &DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDownLoadDlgWin32::DialogProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        auto* dialog = reinterpret_cast<CDownLoadDlgWin32*>(lParam);
        dialog->window_ = window;
    }
    auto* dialog = reinterpret_cast<CDownLoadDlgWin32*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return dialog != nullptr ? dialog->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR CDownLoadDlgWin32::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog();
            return FALSE;  // the focus was set: Start has it
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_START:
                    OnStart();
                    return TRUE;
                case IDC_PAUSE:
                    OnPause();
                    return TRUE;
                case IDC_RESUME:
                    OnResume();
                    return TRUE;
                case IDC_ABORT:
                    OnAbort();
                    return TRUE;
                case IDOK:
                    return TRUE;  // Enter never closes the window
                case IDCANCEL:
                    OnCancel();
                    return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            OnCancel();
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == ID_ABOUTBOX) {
                OnSysCommand(static_cast<UINT>(wParam));
                return TRUE;
            }
            return FALSE;
        case WM_TIMER:
            OnTimer(wParam);
            return TRUE;
        case WM_CTLCOLORSTATIC: {
            const auto control = reinterpret_cast<HWND>(lParam);
            for (const CLinkLabelWin32* link : {&homeLink_, &mailLink_}) {
                if (control == link->Window()) {
                    return reinterpret_cast<INT_PTR>(link->Paint(reinterpret_cast<HDC>(wParam)));
                }
            }
            return FALSE;
        }
        case kPostedText: {
            const std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
            SetDlgItemTextA(window_, static_cast<int>(wParam), text->c_str());
            return TRUE;
        }
        case WM_DESTROY:
            KillTimer(window_, TIMER_GENERATE);
            KillTimer(window_, TIMER_STATUS);
            controller_.reset();  // ends a run somehow still alive before the controls go
            ApplyPostedTexts();   // and frees the texts still on their way
            window_ = nullptr;
            return TRUE;
    }
    return FALSE;
}

void CDownLoadDlgWin32::OnInitDialog() {
    windowThread_ = GetCurrentThreadId();
    controller_ =
        std::make_unique<CRunController>(static_cast<CRunObserver&>(*this), appDirectory_);
    controller_->Open();
    SetTimer(window_, TIMER_STATUS, kStatusPeriodMs, nullptr);
    // The program's icon, where its resources hold one, in the title bar and the task bar.
    const HINSTANCE program = GetModuleHandleW(nullptr);
    for (const auto& [which, size] : {std::pair{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}}) {
        const int pixels = GetSystemMetrics(size);
        if (HANDLE icon = LoadImageW(program, MAKEINTRESOURCEW(1), IMAGE_ICON, pixels, pixels, 0)) {
            SendMessageW(window_, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
        }
    }
    const HMENU systemMenu = GetSystemMenu(window_, FALSE);
    AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(systemMenu, MF_STRING, ID_ABOUTBOX, L"&About NOVUDownLoad...");
    // The e-mail link is bound first, as on the other window.
    mailLink_.Attach(GetDlgItem(window_, IDC_MAIL_LINK));
    homeLink_.Attach(GetDlgItem(window_, IDC_HOME_LINK));
    homeLink_.SetLinkTarget(kHomePageTarget);
    homeLink_.SetUnderlineMode(UNDERLINE_ALWAYS);
    mailLink_.SetLinkTarget(kMailTarget);
    mailLink_.SetUnderlineMode(UNDERLINE_ALWAYS);
    SetFocus(GetDlgItem(window_, IDC_START));
}

void CDownLoadDlgWin32::OnSysCommand(UINT commandId) {
    if ((commandId & 0xFFF0) == ID_ABOUTBOX) {
        const std::vector<WORD> about = BuildAboutTemplate();
        DialogBoxIndirectParamW(GetModuleHandleW(nullptr), AsTemplate(about), window_,
                                &AboutBoxProc, reinterpret_cast<LPARAM>(&appDirectory_));
    }
}

void CDownLoadDlgWin32::OnStart() {
    controller_->StartWithExtendedSettings(
        RequestFrom({IsChecked(IDC_BBS_CHECK), GetInt(IDC_BBS_DIRECTORY), GetInt(IDC_BBS_FILE),
                     IsChecked(IDC_DOCUMENT_CHECK), GetInt(IDC_DOCUMENT_DIRECTORY),
                     GetInt(IDC_DOCUMENT_FILE), GetInt(IDC_DELAY)}));
    if (controller_->Generating()) {
        SetTimer(window_, TIMER_GENERATE, kGeneratePeriodMs, nullptr);
    }
}

void CDownLoadDlgWin32::OnPause() {
    controller_->Pause();
}

void CDownLoadDlgWin32::OnResume() {
    controller_->Resume();
}

void CDownLoadDlgWin32::OnAbort() {
    KillTimer(window_, TIMER_GENERATE);
    controller_->Abort();
}

void CDownLoadDlgWin32::OnTimer(UINT_PTR timerId) {
    OnRunTimer(*controller_, static_cast<int>(timerId));
}

void CDownLoadDlgWin32::OnCancel() {
    // While a run exists Cancel is disabled: no report may ever reach a destroyed window.
    if (!IsWindowEnabled(GetDlgItem(window_, IDCANCEL_BUTTON))) {
        return;
    }
    if (modal_) {
        EndDialog(window_, IDCANCEL);
    } else {
        DestroyWindow(window_);
    }
}

void CDownLoadDlgWin32::SetText(int id, const std::string& text) {
    if (GetCurrentThreadId() != windowThread_) {
        auto posted = std::make_unique<std::string>(text);
        if (PostMessageW(window_, kPostedText, static_cast<WPARAM>(id),
                         reinterpret_cast<LPARAM>(posted.get()))) {
            posted.release();  // the message owns it now
        }
        return;
    }
    ApplyPostedTexts();  // texts still on their way from workers are older than this one
    SetDlgItemTextA(window_, id, text.c_str());
}

void CDownLoadDlgWin32::ApplyPostedTexts() {
    MSG message;
    while (PeekMessageW(&message, window_, kPostedText, kPostedText, PM_REMOVE)) {
        const std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(message.lParam));
        SetDlgItemTextA(window_, static_cast<int>(message.wParam), text->c_str());
    }
}

int CDownLoadDlgWin32::GetInt(int id) const {
    char text[64] = {};
    const UINT length = GetDlgItemTextA(window_, id, text, sizeof text);
    // A longer text is no number the entry could hold.
    return length + 1 >= sizeof text ? 0 : DialogInt(std::string_view(text, length));
}

bool CDownLoadDlgWin32::IsChecked(int id) const {
    return IsDlgButtonChecked(window_, id) == BST_CHECKED;
}

void CDownLoadDlgWin32::SetNumber(int id, int value) {
    SetDlgItemInt(window_, id, static_cast<UINT>(value), TRUE);
}

void CDownLoadDlgWin32::SetCheck(int id, bool checked) {
    CheckDlgButton(window_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void CDownLoadDlgWin32::EnableControl(int id, bool enabled) {
    EnableWindow(GetDlgItem(window_, id), enabled ? TRUE : FALSE);
}

void CDownLoadDlgWin32::ShowProgress(int finished, int stored) {
    const HWND bar = GetDlgItem(window_, IDC_PROGRESS);
    // An empty range would show nothing at all; show the bar empty instead.
    SendMessageW(bar, PBM_SETRANGE32, 0, finished > 0 ? finished : 1);
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(stored), 0);
}

void CDownLoadDlgWin32::ShowMessage(const std::string& text) {
    messageBox_(window_, text, MB_OK);
}
