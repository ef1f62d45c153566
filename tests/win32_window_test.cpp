// The native Windows window, in process under Wine's null graphics driver: the same checks as the
// Qt window's widget tests where the two must agree.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "temp_dir.h"
#include "ui/main_dialog_template.h"
#include "ui/win32/download_dlg_win32.h"

namespace {

class Win32WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window_ = dialog_.Create();
        ASSERT_NE(window_, nullptr) << GetLastError();
    }
    std::string Text(int id) const {
        char text[512] = {};
        GetDlgItemTextA(window_, id, text, sizeof text);
        return text;
    }
    // Lets the window's thread take what was posted to it.
    static void Pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    TempDir dir_;
    CDownLoadDlgWin32 dialog_{dir_.WithSeparator()};
    HWND window_ = nullptr;
};

TEST_F(Win32WindowTest, FirstStartCreatesFoldersAndSettingsAndShowsDefaultsWithStartFocused) {
    for (const char* name : {"xml_file", "html_file", "NOVUDownLoad.cfg"}) {
        EXPECT_TRUE(std::filesystem::exists(dir_.WithSeparator() + name)) << name;
    }
    EXPECT_EQ(IsDlgButtonChecked(window_, IDC_BBS_CHECK), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(window_, IDC_DOCUMENT_CHECK), BST_CHECKED);
    EXPECT_EQ(Text(IDC_BBS_DIRECTORY), "1318");
    EXPECT_EQ(Text(IDC_BBS_FILE), "1");
    EXPECT_EQ(Text(IDC_DOCUMENT_DIRECTORY), "1");
    EXPECT_EQ(Text(IDC_DOCUMENT_FILE), "1");
    EXPECT_EQ(Text(IDC_DELAY), "10");
    EXPECT_EQ(Text(IDC_STATUS), "DownLoad Status");
    EXPECT_EQ(Text(IDC_COUNTS), "Count");
    // Start, Pause, Resume, Abort, Cancel as the idle phase has them.
    std::string buttons;
    for (int id : {IDC_START, IDC_PAUSE, IDC_RESUME, IDC_ABORT, IDCANCEL_BUTTON}) {
        buttons += IsWindowEnabled(GetDlgItem(window_, id)) ? '1' : '0';
    }
    EXPECT_EQ(buttons, "10001");
    EXPECT_EQ(GetFocus(), GetDlgItem(window_, IDC_START));
}

// The program's icon in the title bar, and its version where Explorer looks for it.
TEST_F(Win32WindowTest, ShowsTheIconAndCarriesItsVersion) {
    EXPECT_NE(SendMessageW(window_, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageW(window_, WM_GETICON, ICON_SMALL, 0), 0);
    wchar_t program[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
    DWORD unused = 0;
    const DWORD size = GetFileVersionInfoSizeW(program, &unused);
    ASSERT_GT(size, 0u);
    std::vector<char> version(size);
    ASSERT_TRUE(GetFileVersionInfoW(program, 0, size, version.data()));
    wchar_t* name = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\StringFileInfo\\040904b0\\ProductName",
                               reinterpret_cast<void**>(&name), &length));
    EXPECT_EQ(std::wstring(name), L"NOVUDownLoad");
}

TEST_F(Win32WindowTest, EveryControlSitsWhereItsDialogUnitsSay) {
    for (const ControlTemplate& control : kMainTemplate) {
        if (control.id == -1) {
            continue;
        }
        // Windows maps a control's origin and its size each on their own.
        RECT expected{control.x, control.y, control.width, control.height};
        ASSERT_TRUE(MapDialogRect(window_, &expected));
        expected.right += expected.left;
        expected.bottom += expected.top;
        RECT actual{};
        const HWND item = GetDlgItem(window_, control.id);
        ASSERT_NE(item, nullptr) << control.id;
        GetWindowRect(item, &actual);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left) << control.id;
        EXPECT_EQ(actual.top, expected.top) << control.id;
        EXPECT_EQ(actual.right, expected.right) << control.id;
        EXPECT_EQ(actual.bottom, expected.bottom) << control.id;
    }
}

TEST_F(Win32WindowTest, TabOrderIsTheTemplateOrder) {
    const std::vector<int> expected = {
        IDC_START,          IDCANCEL_BUTTON,   IDC_BBS_CHECK,
        IDC_DOCUMENT_CHECK, IDC_BBS_DIRECTORY, IDC_DOCUMENT_DIRECTORY,
        IDC_BBS_FILE,       IDC_DOCUMENT_FILE, IDC_ABORT,
        IDC_PAUSE,          IDC_RESUME,        IDC_DELAY};
    // Disabled controls take no focus: the run's buttons are enabled for the walk.
    for (int id : {IDC_ABORT, IDC_PAUSE, IDC_RESUME}) {
        EnableWindow(GetDlgItem(window_, id), TRUE);
    }
    std::vector<int> order;
    HWND control = GetDlgItem(window_, IDC_START);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        order.push_back(GetDlgCtrlID(control));
        control = GetNextDlgTabItem(window_, control, FALSE);
    }
    EXPECT_EQ(order, expected);
    EXPECT_EQ(control, GetDlgItem(window_, IDC_START));  // and round again
}

// The About box is on the system menu, and names the folder the files are in.
TEST_F(Win32WindowTest, AboutBoxIsOnTheSystemMenuAndNamesTheDataFolder) {
    wchar_t entry[64] = {};
    GetMenuStringW(GetSystemMenu(window_, FALSE), ID_ABOUTBOX, entry, 64, MF_BYCOMMAND);
    EXPECT_EQ(std::wstring(entry), L"&About NOVUDownLoad...");
    const HWND about = CreateAboutBox(window_, dialog_.AppDirectory());
    ASSERT_NE(about, nullptr);
    char text[512] = {};
    GetDlgItemTextA(about, IDC_ABOUT_FOLDER, text, sizeof text);
    EXPECT_EQ(std::string(text), "Files in " + dialog_.AppDirectory());
    GetWindowTextA(about, text, sizeof text);
    EXPECT_EQ(std::string(text), "About NOVUDownLoad");
    EXPECT_NE(GetDlgItem(about, IDOK_BUTTON), nullptr);
    DestroyWindow(about);
}

TEST_F(Win32WindowTest, EnterNeverClosesAndClosingWaitsForCancel) {
    SendMessageW(window_, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(IsWindow(window_));
    // During a run Cancel is disabled: neither Escape nor the close box closes the window.
    EnableWindow(GetDlgItem(window_, IDCANCEL_BUTTON), FALSE);
    SendMessageW(window_, WM_COMMAND, IDCANCEL, 0);
    SendMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window_));
    EnableWindow(GetDlgItem(window_, IDCANCEL_BUTTON), TRUE);
    SendMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(Win32WindowTest, TextsFromWorkerThreadsArriveInOrder) {
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) {
            dialog_.SetText(IDC_STATUS, std::to_string(i));
        }
    });
    worker.join();
    Pump();
    EXPECT_EQ(Text(IDC_STATUS), "199");
    std::thread([&] { dialog_.SetText(IDC_DETAIL, "earlier"); }).join();
    dialog_.SetText(IDC_DETAIL, "later");  // applies what was posted before it
    Pump();
    EXPECT_EQ(Text(IDC_DETAIL), "later");
}

}  // namespace
