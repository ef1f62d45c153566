#pragma once

#include <cstdint>
#include <string>

// The decisions of the link label, kept free of any window toolkit: both windows (Qt and the
// native Windows one) make them the same way, and tests call them directly.

// Underline modes.
inline constexpr int UNDERLINE_ON_HOVER = -1;
inline constexpr int UNDERLINE_NEVER = 0;
inline constexpr int UNDERLINE_ALWAYS = 1;
// How often a hovered label looks whether the pointer has left it.
inline constexpr int kLinkHoverTimerMs = 100;

// Results of opening a target, in the numbering the link label reports. Anything above 32 is
// success; the rest name the reason (see OpenFailureReason).
namespace open_result {
inline constexpr int kFileNotFound = 2;    // the program to start does not exist
inline constexpr int kAccessDenied = 5;    // it exists but may not be run
inline constexpr int kNoAssociation = 31;  // nothing is registered to open the target
inline constexpr int kSuccess = 33;
}  // namespace open_result

inline bool IsOpenSuccess(int result) {
    return result > 32;
}

// The reason text for an open result: the table of known codes, else "Unknown Error (%d) occurred."
std::string OpenFailureReason(int code);
// "Unable to open hyperlink:\n\n" followed by the reason.
std::string OpenFailureMessage(int code);

// Cuts a registered command line at its placeholder: "\"%1\"" anywhere wins, then "%1"; then the
// field codes of desktop entries (%u, %U, %f, %F, quoted first). The line stays whole without one.
std::string CutAtPlaceholder(const std::string& commandLine);
// The command line that opens `target`: cut at its placeholder, then one space and the target.
std::string BuildOpenCommand(const std::string& registeredCommand, const std::string& target);

// A rectangle in pixels: its top-left corner and its size.
struct PixelRect {
    int left = 0, top = 0, width = 0, height = 0;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};
struct PixelSize {
    int width = 0, height = 0;
};
enum class HorizontalAlign { kLeft, kCentre, kRight };
enum class VerticalAlign { kTop, kCentre };

// The window rectangle (in parent coordinates) of a label fitted to its text. The difference
// between window and client sizes carries the borders over. Horizontally a centred label keeps
// its centre, a right-aligned one its right edge, others their left edge; vertically a centred
// label keeps its centre, others their top. Halves truncate toward zero.
PixelRect FitRectToText(const PixelRect& window, PixelSize client, PixelSize text,
                        HorizontalAlign horizontal, VerticalAlign vertical);

// What is repainted when the pointer leaves a label: its rectangle and 10 pixels below it.
PixelRect LeaveRepaintRect(const PixelRect& label);

// The link's colours as 0xRRGGBB. On a light background the classic link colours; on a dark
// one the same hues, lighter, so that they stay readable. Hovering wins over visited.
namespace link_colour {
inline constexpr std::uint32_t kLink = 0x0000EE;
inline constexpr std::uint32_t kVisited = 0x551A8B;
inline constexpr std::uint32_t kHover = 0xFF0000;
inline constexpr std::uint32_t kLinkOnDark = 0x8AB4F8;
inline constexpr std::uint32_t kVisitedOnDark = 0xD7AEFB;
inline constexpr std::uint32_t kHoverOnDark = 0xFF7878;
}  // namespace link_colour

// Whether a background of this colour (0xRRGGBB) counts as dark: its lightness (the mean of
// its largest and smallest channel) is below the middle.
bool IsDarkBackground(std::uint32_t background);
std::uint32_t LinkColour(bool hovering, bool visited, std::uint32_t background);
