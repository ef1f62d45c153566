#pragma once

// The main dialog as the toolkits build it: control ids, template 102 in dialog units, the timers
// and the dialog's own texts. No toolkit here: each window layer makes its controls from it.

// Control ids.
inline constexpr int IDC_BBS_CHECK = 1000;
inline constexpr int IDC_DOCUMENT_CHECK = 1001;
inline constexpr int IDC_BBS_DIRECTORY = 1002;
inline constexpr int IDC_DOCUMENT_DIRECTORY = 1003;
inline constexpr int IDC_BBS_FILE = 1004;
inline constexpr int IDC_DOCUMENT_FILE = 1005;
inline constexpr int IDC_STATUS = 1006;
inline constexpr int IDC_DETAIL = 1009;
inline constexpr int IDC_PROGRESS = 1010;
inline constexpr int IDC_ABORT = 1011;
inline constexpr int IDC_PAUSE = 1013;
inline constexpr int IDC_RESUME = 1014;
inline constexpr int IDC_START = 1015;
inline constexpr int IDC_COUNTS = 1016;
inline constexpr int IDC_DELAY = 1018;
inline constexpr int IDC_HOME_LINK = 1019;
inline constexpr int IDC_MAIL_LINK = 1020;
inline constexpr int IDCANCEL_BUTTON = 2;
inline constexpr int ID_ABOUTBOX = 16;

// Timers of the main window: the run's generator tick from Start until the first Abort, and
// its status tick while the window is open.
inline constexpr int TIMER_GENERATE = 1;
inline constexpr int TIMER_STATUS = 2;

inline constexpr const char* kStartNotice =
    "Notice : To browse these xml and htm files use \"MyNOVU\". ";
// The start-up failure, when the window system cannot be started (UTF-8).
inline constexpr const char* kStartFailureText = "AfxOleInit() 初始化失败!";
inline constexpr const char* kWaitMessage = "Wait for the \"Active Thread\" equal 0, try again.";
inline constexpr const char* kHomePageText = "www.novu.example";
inline constexpr const char* kHomePageTarget = "http://www.novu.example/";
inline constexpr const char* kMailText = "mail@novu.example";
inline constexpr const char* kMailTarget = "mailto:mail@novu.example";

enum class ControlKind {
    kButton,
    kDefaultButton,
    kCheck,
    kLabel,
    kEdit,
    kLine,
    kProgress,
    kGroup,
    kLink,
    kIcon,  // the program's icon
};

struct ControlTemplate {
    int id;  // -1 for plain labels
    ControlKind kind;
    const char* text;
    int x, y, width, height;  // dialog units
    // What a screen reader says for a control whose own text does not tell it apart.
    const char* accessibleName = nullptr;
};

// Template 102, in template order, which is also the tab order.
inline constexpr ControlTemplate kMainTemplate[] = {
    {IDC_START, ControlKind::kDefaultButton, "Start", 7, 179, 50, 14},
    {IDCANCEL_BUTTON, ControlKind::kButton, "Cancel", 261, 179, 50, 14},
    {IDC_BBS_CHECK, ControlKind::kCheck, "BBS", 20, 21, 30, 10},
    {IDC_DOCUMENT_CHECK, ControlKind::kCheck, "Document", 20, 40, 49, 10},
    {-1, ControlKind::kLabel, "Directory : ", 79, 21, 35, 8},
    {-1, ControlKind::kLabel, "Directory : ", 79, 40, 35, 8},
    {IDC_BBS_DIRECTORY, ControlKind::kEdit, "", 118, 18, 40, 14, "BBS directory"},
    {IDC_DOCUMENT_DIRECTORY, ControlKind::kEdit, "", 117, 38, 40, 14, "Document directory"},
    {-1, ControlKind::kLabel, "File : ", 177, 21, 18, 8},
    {-1, ControlKind::kLabel, "File : ", 177, 40, 18, 8},
    {IDC_BBS_FILE, ControlKind::kEdit, "", 202, 18, 40, 14, "BBS file"},
    {IDC_DOCUMENT_FILE, ControlKind::kEdit, "", 202, 38, 40, 14, "Document file"},
    {-1, ControlKind::kLine, "", 7, 169, 304, 1},
    {IDC_STATUS, ControlKind::kLabel, "DownLoad Status", 17, 79, 293, 8},
    {IDC_DETAIL, ControlKind::kLabel, "DownLoad detail", 17, 92, 293, 8},
    {IDC_PROGRESS, ControlKind::kProgress, "", 17, 107, 293, 14, "Share of documents stored"},
    {IDC_ABORT, ControlKind::kButton, "Abort", 198, 179, 50, 14},
    {-1, ControlKind::kGroup, "Status", 7, 65, 304, 63},
    {IDC_PAUSE, ControlKind::kButton, "Pause", 69, 179, 50, 14},
    {IDC_RESUME, ControlKind::kButton, "Resume", 133, 179, 50, 14},
    {IDC_COUNTS, ControlKind::kLabel, "Count", 7, 155, 304, 8},
    {-1, ControlKind::kGroup, "Task", 7, 7, 304, 52},
    {IDC_DELAY, ControlKind::kEdit, "", 260, 33, 24, 14, "Delay in seconds"},
    {-1, ControlKind::kGroup, "Delay", 251, 18, 57, 34},
    {-1, ControlKind::kLabel, "(S)", 288, 37, 11, 8},
    {IDC_HOME_LINK, ControlKind::kLink, kHomePageText, 7, 138, 92, 8},
    {IDC_MAIL_LINK, ControlKind::kLink, kMailText, 219, 138, 92, 8},
};

// The About box: the program's icon, name and version, what it does, and the folder its files are
// in.
inline constexpr int IDC_ABOUT_FOLDER = 1100;
inline constexpr int IDOK_BUTTON = 1;
inline constexpr ControlTemplate kAboutTemplate[] = {
    {-1, ControlKind::kIcon, "", 11, 17, 20, 20},
    {-1, ControlKind::kLabel, "NOVUDownLoad Version 1.0", 40, 10, 119, 8},
    {-1, ControlKind::kLabel, "Mirrors forum topics and articles.", 40, 25, 119, 8},
    {IDC_ABOUT_FOLDER, ControlKind::kLabel, "", 40, 40, 188, 8},
    {IDOK_BUTTON, ControlKind::kDefaultButton, "OK", 178, 7, 50, 14},
};
