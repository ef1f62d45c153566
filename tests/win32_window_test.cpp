// The native Windows window, in process under Wine's null graphics driver: the same checks as the
// Qt window's widget tests where the two must agree.
#include <windows.h>  // first: the headers below build on it

#include <commctrl.h>
#include <gtest/gtest.h>
#include <oleacc.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "temp_dir.h"
#include "ui/main_dialog_template.h"
#include "ui/win32/download_dlg_win32.h"
#include "ui/win32/program_start_win32.h"

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
    // Runs the window's messages (its timers among them) until `done` holds, at most 10 s.
    template <typename Condition>
    static bool PumpUntil(Condition done) {
        const ULONGLONG deadline = GetTickCount64() + 10000;
        while (!done() && GetTickCount64() < deadline) {
            Pump();
            // Until a message (a timer's among them) arrives; what the window's other threads
            // change, the next look sees.
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
        return done();
    }
    // A key as the keyboard gives it to the focused control, through the dialog's own handling.
    void PressKey(WPARAM key) {
        MSG message{GetFocus(), WM_KEYDOWN, key, 0, 0, {}};
        if (!IsDialogMessageW(window_, &message)) {
            DispatchMessageW(&message);
        }
        Pump();
    }
    // Start, Pause, Resume, Abort and Cancel: 1 where enabled.
    std::string Buttons() const {
        std::string buttons;
        for (int id : {IDC_START, IDC_PAUSE, IDC_RESUME, IDC_ABORT, IDCANCEL_BUTTON}) {
            buttons += IsWindowEnabled(GetDlgItem(window_, id)) ? '1' : '0';
        }
        return buttons;
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
    EXPECT_EQ(Buttons(), "10001");  // as the idle phase has them
    EXPECT_NE(GetWindowLongW(GetDlgItem(window_, IDC_PROGRESS), GWL_STYLE) & PBS_SMOOTH, 0);
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
        if (control.id == -1 || control.kind == ControlKind::kLink) {
            continue;  // links fit their text (below)
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

// From the keyboard: Enter in an entry presses Start (the default button); during the run
// neither Enter, Escape nor the close box does anything; once the run is torn down by the two
// Aborts, Escape closes the window.
TEST_F(Win32WindowTest, EnterStartsARunThatNothingClosesUntilItIsTornDown) {
    std::vector<std::string> boxes;
    dialog_.SetMessageBox([&](HWND, const std::string& text, UINT) { boxes.push_back(text); });
    dialog_.Controller().SetIdleSleepMs(5);
    CheckDlgButton(window_, IDC_BBS_CHECK, BST_UNCHECKED);  // no task: nothing to fetch
    CheckDlgButton(window_, IDC_DOCUMENT_CHECK, BST_UNCHECKED);
    SetFocus(GetDlgItem(window_, IDC_DELAY));
    PressKey(VK_RETURN);
    EXPECT_EQ(boxes, std::vector<std::string>{kStartNotice});
    EXPECT_EQ(Buttons(), "01010");
    PressKey(VK_RETURN);  // Start is disabled now
    PressKey(VK_ESCAPE);
    SendMessageW(window_, WM_CLOSE, 0, 0);
    ASSERT_TRUE(IsWindow(window_));
    EXPECT_EQ(boxes.size(), 1u);

    SendMessageW(window_, WM_COMMAND, IDC_ABORT, 0);
    ASSERT_TRUE(PumpUntil([&] {
        const std::string counts = Text(IDC_COUNTS);
        return counts.size() >= 17 && counts.ends_with("Active Thread : 0");
    })) << Text(IDC_COUNTS);
    SendMessageW(window_, WM_COMMAND, IDC_ABORT, 0);
    EXPECT_EQ(Buttons(), "10001");
    ASSERT_TRUE(IsWindow(window_));
    SetFocus(GetDlgItem(window_, IDC_DELAY));
    PressKey(VK_ESCAPE);
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

// A new font from the dialog (the screen's scale changed): the link keeps its underline in it
// and fits its text again.
TEST_F(Win32WindowTest, LinksFollowANewDialogFont) {
    CLinkLabelWin32& home = dialog_.HomeLink();
    RECT before{};
    GetClientRect(home.Window(), &before);
    LOGFONTW description{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window_, WM_GETFONT, 0, 0)), sizeof description,
               &description);
    description.lfHeight *= 2;
    const HFONT larger = CreateFontIndirectW(&description);
    SendMessageW(home.Window(), WM_SETFONT, reinterpret_cast<WPARAM>(larger), TRUE);
    EXPECT_TRUE(home.IsUnderlined());
    LOGFONTW used{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(home.Window(), WM_GETFONT, 0, 0)), sizeof used,
               &used);
    EXPECT_EQ(used.lfHeight, description.lfHeight);
    RECT after{};
    GetClientRect(home.Window(), &after);
    EXPECT_GT(after.right, before.right * 3 / 2);
    EXPECT_GT(after.bottom, before.bottom * 3 / 2);
    home.SetUnderlineMode(UNDERLINE_NEVER);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(home.Window(), WM_GETFONT, 0, 0)), larger);
    DestroyWindow(window_);  // before the font it uses goes
    DeleteObject(larger);
}

// What a screen reader says for each control that takes input or shows progress: its own text,
// or the name the template gives it, and never the same name for two controls.
TEST_F(Win32WindowTest, EveryControlHasAnAccessibleNameOfItsOwn) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    std::set<std::wstring> seen;
    for (const ControlTemplate& control : kMainTemplate) {
        if (control.id == -1 || control.kind == ControlKind::kLabel) {
            continue;
        }
        IAccessible* accessible = nullptr;
        ASSERT_EQ(
            AccessibleObjectFromWindow(GetDlgItem(window_, control.id), OBJID_CLIENT,
                                       IID_IAccessible, reinterpret_cast<void**>(&accessible)),
            S_OK)
            << control.id;
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR name = nullptr;
        accessible->get_accName(self, &name);
        const std::wstring said = name != nullptr ? name : L"";
        SysFreeString(name);
        accessible->Release();
        const std::string expected =
            control.accessibleName != nullptr ? control.accessibleName : Text(control.id);
        EXPECT_EQ(said, std::wstring(expected.begin(), expected.end())) << control.id;
        EXPECT_TRUE(seen.insert(said).second) << "two controls are called " << expected;
    }
    CoUninitialize();
}

// The links of the dialog: targets and texts, the hand, the tooltip, and the colours the dialog
// paints them in as the pointer comes and goes and the opener answers.
TEST_F(Win32WindowTest, LinksPointHoverAndTurnVisitedOnceOpened) {
    CLinkLabelWin32& home = dialog_.HomeLink();
    EXPECT_EQ(home.LinkTarget(), kHomePageTarget);
    EXPECT_EQ(Text(IDC_HOME_LINK), kHomePageText);
    EXPECT_EQ(dialog_.MailLink().LinkTarget(), kMailTarget);
    EXPECT_TRUE(home.IsUnderlined());  // the dialog underlines its links always

    // Colours as the dialog hands them to the static control for painting.
    const auto painted = [&](const CLinkLabelWin32& link) {
        const HDC dc = GetDC(window_);
        const auto brush = SendMessageW(window_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                        reinterpret_cast<LPARAM>(link.Window()));
        const COLORREF colour = GetTextColor(dc);
        ReleaseDC(window_, dc);
        return brush != 0 ? colour : CLR_INVALID;
    };
    EXPECT_EQ(painted(home), RGB(0, 0, 238));

    SendMessageW(home.Window(), WM_SETCURSOR, reinterpret_cast<WPARAM>(home.Window()),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_HAND));

    // The pointer comes: red and underlined while it stays; it goes: the timer ends the hover.
    home.SetUnderlineMode(UNDERLINE_ON_HOVER);
    EXPECT_FALSE(home.IsUnderlined());
    POINT pointer{2, 2};
    ClientToScreen(home.Window(), &pointer);
    home.SetPointerSource([&] { return pointer; });
    SendMessageW(home.Window(), WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    EXPECT_TRUE(home.IsHovering());
    EXPECT_TRUE(home.IsUnderlined());
    EXPECT_EQ(painted(home), RGB(255, 0, 0));
    home.OnHoverTimer();
    EXPECT_TRUE(home.IsHovering());
    pointer.x -= 10;
    home.OnHoverTimer();
    EXPECT_FALSE(home.IsHovering());
    EXPECT_FALSE(home.IsUnderlined());
    EXPECT_EQ(painted(home), RGB(0, 0, 238));

    // A click opens the target; the opener answers on a thread of its own.
    std::vector<std::string> opened;
    int result = 42;
    home.SetOpener([&](const std::string& target, std::function<void(int)> done) {
        opened.push_back(target);
        std::thread(done, result).join();
    });
    std::vector<std::string> boxes;
    UINT boxType = 0;
    dialog_.SetMessageBox([&](HWND, const std::string& text, UINT type) {
        boxes.push_back(text);
        boxType = type;
    });
    RECT client{};
    GetClientRect(home.Window(), &client);
    SendMessageW(home.Window(), WM_LBUTTONUP, 0, MAKELPARAM(client.right + 3, 2));  // outside
    EXPECT_TRUE(opened.empty());
    SendMessageW(home.Window(), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    EXPECT_EQ(opened, std::vector<std::string>{kHomePageTarget});
    EXPECT_FALSE(home.IsVisited());  // not before the answer has come to the window's thread
    Pump();
    EXPECT_TRUE(home.IsVisited());
    EXPECT_EQ(painted(home), RGB(85, 26, 139));
    EXPECT_TRUE(boxes.empty());

    result = 31;  // nothing is registered to open it: not visited, and the reason shown
    home.OnClicked();
    Pump();
    EXPECT_FALSE(home.IsVisited());
    EXPECT_EQ(boxes, std::vector<std::string>{"Unable to open hyperlink:\n\nThere is no "
                                              "application associated\nwith the given filename "
                                              "extension."});
    EXPECT_EQ(boxType, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
}

// A link's window fits its text: as wide as the text in the underlined font, from its left edge.
TEST_F(Win32WindowTest, LinksFitTheirText) {
    for (int id : {IDC_HOME_LINK, IDC_MAIL_LINK}) {
        const HWND link = GetDlgItem(window_, id);
        const std::string text = Text(id);
        const HDC dc = GetDC(link);
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(link, WM_GETFONT, 0, 0)), sizeof font,
                   &font);
        font.lfUnderline = TRUE;
        const HFONT underlined = CreateFontIndirectW(&font);
        const HGDIOBJ previous = SelectObject(dc, underlined);
        SIZE size{};
        GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(dc, previous);
        DeleteObject(underlined);
        ReleaseDC(link, dc);
        RECT client{};
        GetClientRect(link, &client);
        EXPECT_EQ(client.right, size.cx) << text;
        EXPECT_EQ(client.bottom, size.cy) << text;
        RECT expected{id == IDC_HOME_LINK ? 7 : 219, 138, 0, 0};
        MapDialogRect(window_, &expected);
        RECT actual{};
        GetWindowRect(link, &actual);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left) << text;
        EXPECT_EQ(actual.top, expected.top) << text;
    }
}

// The start-up: when OLE cannot start, its message alone, and no window; when the window cannot
// be made, why; otherwise the window until it closes.
TEST(ProgramStartTest, SaysWhyTheWindowNeverOpened) {
    std::vector<std::string> boxes;
    int windows = 0;
    ProgramStart start;
    start.messageBox = [&](HWND, const std::string& text, UINT) { boxes.push_back(text); };
    start.runWindow = [&]() -> INT_PTR {
        ++windows;
        return IDCANCEL;
    };
    // OLE refuses a thread that already chose the multithreaded apartment: the real call fails.
    std::thread([&] {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        EXPECT_EQ(RunProgram(start), 1);
        CoUninitialize();
    }).join();
    EXPECT_EQ(windows, 0);
    EXPECT_EQ(boxes, std::vector<std::string>{kStartFailureText});

    boxes.clear();
    EXPECT_EQ(RunProgram(start), 0);
    EXPECT_EQ(windows, 1);
    EXPECT_TRUE(boxes.empty());

    start.runWindow = []() -> INT_PTR {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return -1;
    };
    EXPECT_EQ(RunProgram(start), 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("cannot open the window: ", 0), 0u) << boxes[0];
    EXPECT_GT(boxes[0].size(), std::string("cannot open the window: ").size());
}

TEST(ProgramStartTest, MessagesAreShownInUnicode) {
    EXPECT_EQ(WideFromProgramText(kStartFailureText),
              L"AfxOleInit() \u521d\u59cb\u5316\u5931\u8d25!");
    // Not UTF-8: a path as the system's ANSI code page spells it keeps every character.
    const std::wstring path = WideFromProgramText("C:\\caf\xE9");
    EXPECT_EQ(path.size(), 7u);
    EXPECT_EQ(path.substr(0, 6), L"C:\\caf");
    EXPECT_EQ(WideFromProgramText(""), L"");
}

}  // namespace
