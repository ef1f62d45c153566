#include "ui/win32/dialog_template_win32.h"

#include <commctrl.h>

#include <span>
#include <string_view>

#include "ui/main_dialog_template.h"

namespace {

// The predefined window classes, by their atoms.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr std::wstring_view kProgressClass = L"msctls_progress32";

class TemplateWriter {
  public:
    void Word(WORD value) { words_.push_back(value); }
    void DoubleWord(DWORD value) {
        Word(LOWORD(value));
        Word(HIWORD(value));
    }
    // Templates hold UTF-16 text; the texts of this dialog are ASCII.
    void Text(std::string_view text) {
        for (const char c : text) {
            Word(static_cast<unsigned char>(c));
        }
        Word(0);
    }
    void WideText(std::wstring_view text) {
        for (const wchar_t c : text) {
            Word(static_cast<WORD>(c));
        }
        Word(0);
    }
    // Each control's template starts on a double-word boundary.
    void AlignToDoubleWord() {
        if (words_.size() % 2 != 0) {
            Word(0);
        }
    }
    std::vector<WORD> Take() { return std::move(words_); }

  private:
    std::vector<WORD> words_;
};

DWORD StyleOf(ControlKind kind) {
    const DWORD child = WS_CHILD | WS_VISIBLE;
    switch (kind) {
        case ControlKind::kButton:
            return child | WS_TABSTOP | BS_PUSHBUTTON;
        case ControlKind::kDefaultButton:
            return child | WS_TABSTOP | BS_DEFPUSHBUTTON;
        case ControlKind::kCheck:
            return child | WS_TABSTOP | BS_AUTOCHECKBOX;
        case ControlKind::kLabel:
            return child | SS_LEFT | SS_NOPREFIX;
        case ControlKind::kEdit:
            return child | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
        case ControlKind::kLine:
            return child | SS_ETCHEDHORZ;
        case ControlKind::kProgress:
            return child | WS_BORDER | PBS_SMOOTH;
        case ControlKind::kGroup:
            return child | BS_GROUPBOX;
        case ControlKind::kLink:
            return child | SS_LEFT | SS_NOTIFY | SS_NOPREFIX;
        case ControlKind::kIcon:
            return child | SS_ICON;
    }
    return child;
}

void WriteClass(TemplateWriter& out, ControlKind kind) {
    switch (kind) {
        case ControlKind::kButton:
        case ControlKind::kDefaultButton:
        case ControlKind::kCheck:
        case ControlKind::kGroup:
            out.Word(0xFFFF);
            out.Word(kButtonClass);
            return;
        case ControlKind::kEdit:
            out.Word(0xFFFF);
            out.Word(kEditClass);
            return;
        case ControlKind::kProgress:
            out.WideText(kProgressClass);
            return;
        case ControlKind::kLabel:
        case ControlKind::kLine:
        case ControlKind::kLink:
        case ControlKind::kIcon:
            out.Word(0xFFFF);
            out.Word(kStaticClass);
            return;
    }
}

void WriteControl(TemplateWriter& out, const ControlTemplate& control, DWORD style) {
    out.AlignToDoubleWord();
    out.DoubleWord(style);
    out.DoubleWord(0);  // extended style
    out.Word(static_cast<WORD>(control.x));
    out.Word(static_cast<WORD>(control.y));
    out.Word(static_cast<WORD>(control.width));
    out.Word(static_cast<WORD>(control.height));
    out.Word(static_cast<WORD>(control.id == -1 ? 0xFFFF : control.id));
    WriteClass(out, control.kind);
    if (control.kind == ControlKind::kIcon) {
        out.Word(0xFFFF);  // the program's icon, resource 1
        out.Word(1);
    } else if (control.kind == ControlKind::kProgress && control.accessibleName != nullptr) {
        out.Text(control.accessibleName);  // a bar shows no text; some readers name it by it
    } else {
        out.Text(control.text);
    }
    out.Word(0);  // no creation data
}

std::vector<WORD> BuildTemplate(DWORD style, std::string_view title, WORD width, WORD height,
                                std::span<const ControlTemplate> controls) {
    std::size_t count = controls.size();
    for (const ControlTemplate& control : controls) {
        count += control.accessibleName != nullptr ? 1 : 0;
    }
    TemplateWriter out;
    out.DoubleWord(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | style);
    out.DoubleWord(0);  // extended style
    out.Word(static_cast<WORD>(count));
    out.Word(0);  // x
    out.Word(0);  // y
    out.Word(width);
    out.Word(height);
    out.Word(0);  // no menu
    out.Word(0);  // the dialog class
    out.Text(title);
    out.Word(8);
    out.WideText(L"MS Shell Dlg");
    for (const ControlTemplate& control : controls) {
        if (control.accessibleName != nullptr) {
            // Screen readers name a control by the static text just before it: an invisible
            // one tells the two Directory boxes apart and names the boxes no label names.
            const ControlTemplate name{
                -1,        ControlKind::kLabel, control.accessibleName, control.x,
                control.y, control.width,       control.height};
            WriteControl(out, name, StyleOf(ControlKind::kLabel) & ~WS_VISIBLE);
        }
        WriteControl(out, control, StyleOf(control.kind));
    }
    return out.Take();
}

}  // namespace

std::vector<WORD> BuildMainDialogTemplate() {
    return BuildTemplate(WS_MINIMIZEBOX, "NOVUDownLoad", 318, 200, kMainTemplate);
}

std::vector<WORD> BuildAboutTemplate() {
    return BuildTemplate(0, "About NOVUDownLoad", 235, 55, kAboutTemplate);
}
