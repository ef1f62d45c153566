#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "ui/link_logic.h"
#include "ui/win32/message_box_win32.h"

// A static text of a dialog that behaves as a hyperlink, as the Qt window's link label does:
// link, hover and visited colours, underlining always, never or while hovered, the hand cursor,
// a tooltip with its target, a window fitted to its text, and a click that opens the target on a
// thread of its own. Window thread only, except the opener's answer, which is posted back.
class CLinkLabelWin32 {
  public:
    // Opens a target and calls back with the result (above 32: success), on any thread.
    using Opener =
        std::function<void(const std::string& target, std::function<void(int result)> done)>;
    // Where the pointer is, in screen coordinates.
    using PointerSource = std::function<POINT()>;

    CLinkLabelWin32();
    ~CLinkLabelWin32();
    CLinkLabelWin32(const CLinkLabelWin32&) = delete;
    CLinkLabelWin32& operator=(const CLinkLabelWin32&) = delete;

    // Takes over the dialog's static control: target and text complete each other, the two
    // fonts, fitting, tooltip; from then on it hovers, points and opens.
    void Attach(HWND label);
    void SetLinkTarget(const std::string& target);
    void SetUnderlineMode(int mode);
    void MarkVisited(bool visited);
    void FitWindowToText();

    HWND Window() const { return label_; }
    const std::string& LinkTarget() const { return target_; }
    int UnderlineMode() const { return underlineMode_; }
    bool IsHovering() const { return hovering_; }
    bool IsVisited() const { return visited_; }
    bool IsUnderlined() const;
    COLORREF CurrentColour() const;
    // The dialog's WM_CTLCOLORSTATIC for this label: its colour on the dialog's background.
    HBRUSH Paint(HDC dc) const;

    void SetOpener(Opener opener) { opener_ = std::move(opener); }
    void SetMessageBox(MessageBoxFn box) { messageBox_ = std::move(box); }
    void SetPointerSource(PointerSource pointer) { pointer_ = std::move(pointer); }

    // The hover timer's tick: ends the hover when the pointer has left.
    void OnHoverTimer();
    // A click: open the target; once the opener has answered, mark visited, or beep and say why
    // not.
    void OnClicked();

  private:
    static LRESULT CALLBACK LabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR subclassId, DWORD_PTR self);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void OnPointerMoved();
    void OnOpened(int result);
    // Makes `font` the plain font and an underlined copy of it the other.
    void AdoptFont(HFONT font);
    HFONT FontForState() const;
    void UseFont(HFONT font);
    void UpdateTooltip();

    HWND label_ = nullptr;
    HWND tooltip_ = nullptr;
    std::string target_;
    bool hovering_ = false;
    bool visited_ = false;
    int underlineMode_ = UNDERLINE_ON_HOVER;
    HFONT normalFont_ = nullptr;  // the dialog's, not ours to delete
    HFONT underlinedFont_ = nullptr;
    Opener opener_;
    MessageBoxFn messageBox_ = ShowProgramMessage;
    PointerSource pointer_;
};
