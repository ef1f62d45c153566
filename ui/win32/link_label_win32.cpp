#include "ui/win32/link_label_win32.h"

#include <commctrl.h>

#include "ui/link_open.h"

namespace {

// The opener's answer, posted to the label: wParam carries the result.
constexpr UINT kLinkOpened = WM_APP + 2;
constexpr UINT_PTR kHoverTimer = 1;
constexpr UINT_PTR kSubclassId = 1;

std::uint32_t ToRgb(COLORREF colour) {
    return (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
}

COLORREF FromRgb(std::uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

std::string WindowText(HWND window) {
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

CLinkLabelWin32::CLinkLabelWin32()
    : opener_([](const std::string& target, std::function<void(int)> done) {
          link_open::OpenTargetOnOwnThread(target, std::move(done));
      }),
      pointer_([] {
          POINT point{-1, -1};
          GetCursorPos(&point);
          return point;
      }) {}

CLinkLabelWin32::~CLinkLabelWin32() {
    if (label_ != nullptr && IsWindow(label_)) {
        RemoveWindowSubclass(label_, &LabelProc, kSubclassId);
        SendMessageW(label_, WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_), FALSE);
    }
    if (tooltip_ != nullptr) {
        DestroyWindow(tooltip_);
    }
    if (underlinedFont_ != nullptr) {
        DeleteObject(underlinedFont_);
    }
}

void CLinkLabelWin32::Attach(HWND label) {
    label_ = label;
    if (target_.empty()) {
        target_ = WindowText(label_);
    }
    if (GetWindowTextLengthA(label_) == 0) {
        SetWindowTextA(label_, target_.c_str());
    }
    AdoptFont(reinterpret_cast<HFONT>(SendMessageW(label_, WM_GETFONT, 0, 0)));
    SetWindowSubclass(label_, &LabelProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    tooltip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0,
                               GetParent(label_), nullptr, GetModuleHandleW(nullptr), nullptr);
    FitWindowToText();
    UpdateTooltip();
    SetUnderlineMode(UNDERLINE_ON_HOVER);
}

void CLinkLabelWin32::SetLinkTarget(const std::string& target) {
    target_ = target;
    if (label_ != nullptr) {
        FitWindowToText();
        UpdateTooltip();
    }
}

void CLinkLabelWin32::SetUnderlineMode(int mode) {
    if (mode == underlineMode_) {
        return;
    }
    underlineMode_ = mode;
    if (label_ != nullptr) {
        UseFont(FontForState());
    }
}

void CLinkLabelWin32::MarkVisited(bool visited) {
    visited_ = visited;
    InvalidateRect(label_, nullptr, TRUE);
}

void CLinkLabelWin32::FitWindowToText() {
    RECT window{}, client{};
    GetWindowRect(label_, &window);
    MapWindowPoints(nullptr, GetParent(label_), reinterpret_cast<POINT*>(&window), 2);
    GetClientRect(label_, &client);
    // Measured with the underlined font, the wider of the two.
    const std::wstring text = [&] {
        std::wstring wide(static_cast<std::size_t>(GetWindowTextLengthW(label_)) + 1, L'\0');
        wide.resize(static_cast<std::size_t>(
            GetWindowTextW(label_, wide.data(), static_cast<int>(wide.size()))));
        return wide;
    }();
    SIZE textSize{};
    const HDC dc = GetDC(label_);
    const HGDIOBJ previous = SelectObject(dc, underlinedFont_);
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &textSize);
    SelectObject(dc, previous);
    ReleaseDC(label_, dc);
    const PixelRect fitted = FitRectToText(
        {window.left, window.top, window.right - window.left, window.bottom - window.top},
        {client.right, client.bottom}, {textSize.cx, textSize.cy}, HorizontalAlign::kLeft,
        VerticalAlign::kTop);
    SetWindowPos(label_, nullptr, fitted.left, fitted.top, fitted.width, fitted.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CLinkLabelWin32::IsUnderlined() const {
    return label_ != nullptr &&
           reinterpret_cast<HFONT>(SendMessageW(label_, WM_GETFONT, 0, 0)) == underlinedFont_;
}

COLORREF CLinkLabelWin32::CurrentColour() const {
    return FromRgb(LinkColour(hovering_, visited_, ToRgb(GetSysColor(COLOR_BTNFACE))));
}

HBRUSH CLinkLabelWin32::Paint(HDC dc) const {
    SetTextColor(dc, CurrentColour());
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return GetSysColorBrush(COLOR_BTNFACE);
}

void CLinkLabelWin32::OnHoverTimer() {
    POINT pointer = pointer_();
    ScreenToClient(label_, &pointer);
    RECT client{};
    GetClientRect(label_, &client);
    if (PtInRect(&client, pointer)) {
        return;
    }
    hovering_ = false;
    KillTimer(label_, kHoverTimer);
    UseFont(FontForState());
    RECT window{};
    GetWindowRect(label_, &window);
    MapWindowPoints(nullptr, GetParent(label_), reinterpret_cast<POINT*>(&window), 2);
    const PixelRect repaint = LeaveRepaintRect(
        {window.left, window.top, window.right - window.left, window.bottom - window.top});
    const RECT area{repaint.left, repaint.top, repaint.left + repaint.width,
                    repaint.top + repaint.height};
    InvalidateRect(GetParent(label_), &area, TRUE);
    InvalidateRect(label_, nullptr, TRUE);
}

void CLinkLabelWin32::OnClicked() {
    hovering_ = false;  // the timer runs on: its next tick ends the hover if the pointer has gone
    const HWND label = label_;
    // The answer may come on the opener's thread: it is posted, and dropped if the label is gone.
    opener_(target_, [label](int result) {
        PostMessageW(label, kLinkOpened, static_cast<WPARAM>(result), 0);
    });
}

void CLinkLabelWin32::OnPointerMoved() {
    if (hovering_) {
        return;
    }
    hovering_ = true;
    UseFont(FontForState());
    InvalidateRect(label_, nullptr, TRUE);
    SetTimer(label_, kHoverTimer, kLinkHoverTimerMs, nullptr);
}

void CLinkLabelWin32::OnOpened(int result) {
    visited_ = IsOpenSuccess(result);
    InvalidateRect(label_, nullptr, TRUE);
    if (!visited_) {
        MessageBeep(MB_ICONEXCLAMATION);
        messageBox_(GetParent(label_), OpenFailureMessage(result), MB_OK | MB_ICONEXCLAMATION);
    }
}

void CLinkLabelWin32::AdoptFont(HFONT font) {
    normalFont_ = font;
    LOGFONTW description{};
    GetObjectW(font != nullptr ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT),
               sizeof description, &description);
    description.lfUnderline = TRUE;
    if (underlinedFont_ != nullptr) {
        DeleteObject(underlinedFont_);
    }
    underlinedFont_ = CreateFontIndirectW(&description);
}

HFONT CLinkLabelWin32::FontForState() const {
    const bool underlined =
        underlineMode_ == UNDERLINE_ALWAYS || (underlineMode_ == UNDERLINE_ON_HOVER && hovering_);
    return underlined ? underlinedFont_ : normalFont_;
}

void CLinkLabelWin32::UseFont(HFONT font) {
    SendMessageW(label_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void CLinkLabelWin32::UpdateTooltip() {
    if (tooltip_ == nullptr) {
        return;
    }
    TOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = GetParent(label_);
    tool.uId = reinterpret_cast<UINT_PTR>(label_);
    tool.lpszText = target_.data();
    SendMessageA(tooltip_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

LRESULT CALLBACK CLinkLabelWin32::LabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR, DWORD_PTR self) {
    auto* link = reinterpret_cast<CLinkLabelWin32*>(self);
    if (message == WM_NCDESTROY) {
        // The dialog is going: its label and the label's tooltip go with it.
        RemoveWindowSubclass(window, &LabelProc, kSubclassId);
        if (link->tooltip_ != nullptr) {
            DestroyWindow(link->tooltip_);
            link->tooltip_ = nullptr;
        }
        link->label_ = nullptr;
        return DefSubclassProc(window, message, wParam, lParam);
    }
    return link->Handle(message, wParam, lParam);
}

LRESULT CLinkLabelWin32::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETFONT: {
            // A font not of ours comes from the dialog, when the screen's scale or the system's
            // font changes: it becomes the plain font, and the underlined one follows it.
            const auto font = reinterpret_cast<HFONT>(wParam);
            if (font == normalFont_ || font == underlinedFont_) {
                break;
            }
            AdoptFont(font);
            const LRESULT result =
                DefSubclassProc(label_, message, reinterpret_cast<WPARAM>(FontForState()), lParam);
            FitWindowToText();
            return result;
        }
        case WM_SETCURSOR:
            SetCursor(LoadCursor(nullptr, IDC_HAND));
            return TRUE;
        case WM_MOUSEMOVE:
            OnPointerMoved();
            break;
        case WM_LBUTTONUP: {
            RECT client{};
            GetClientRect(label_, &client);
            const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            if (PtInRect(&client, at)) {
                OnClicked();
            }
            break;
        }
        case WM_TIMER:
            if (wParam == kHoverTimer) {
                OnHoverTimer();
                return 0;
            }
            break;
        case kLinkOpened:
            OnOpened(static_cast<int>(wParam));
            return 0;
    }
    return DefSubclassProc(label_, message, wParam, lParam);
}
