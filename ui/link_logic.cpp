#include "ui/link_logic.h"

#include <algorithm>
#include <map>

std::string OpenFailureReason(int code) {
    static const std::map<int, const char*> reasons = {
        {0, "The operating system is out\nof memory or resources."},
        {2, "The specified file was not found."},
        {3, "The specified path was not found."},
        {5, "The operating system denied\naccess to the specified file."},
        {8, "There was not enough memory to complete the operation."},
        {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        {26, "A sharing violation occurred. "},
        {27, "The filename association is\nincomplete or invalid."},
        {28, "The DDE transaction could not\nbe completed because the request timed out."},
        {29, "The DDE transaction failed."},
        {30,
         "The DDE transaction could not\nbe completed because other DDE transactions\nwere "
         "being processed."},
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
    };
    const auto found = reasons.find(code);
    if (found != reasons.end()) {
        return found->second;
    }
    return "Unknown Error (" + std::to_string(code) + ") occurred.";
}

std::string OpenFailureMessage(int code) {
    return "Unable to open hyperlink:\n\n" + OpenFailureReason(code);
}

std::string CutAtPlaceholder(const std::string& commandLine) {
    static const char* const placeholders[] = {"\"%1\"", "%1",     "\"%u\"", "%u",     "\"%U\"",
                                               "%U",     "\"%f\"", "%f",     "\"%F\"", "%F"};
    for (const char* placeholder : placeholders) {
        const std::size_t at = commandLine.find(placeholder);
        if (at != std::string::npos) {
            return commandLine.substr(0, at);
        }
    }
    return commandLine;
}

std::string BuildOpenCommand(const std::string& registeredCommand, const std::string& target) {
    return CutAtPlaceholder(registeredCommand) + " " + target;
}

PixelRect FitRectToText(const PixelRect& window, PixelSize client, PixelSize text,
                        HorizontalAlign horizontal, VerticalAlign vertical) {
    // Edges as the window system keeps them: right and bottom are exclusive.
    int left = window.left, top = window.top;
    int right = left + window.width, bottom = top + window.height;
    const int needWidth = text.width + window.width - client.width;
    const int needHeight = text.height + window.height - client.height;
    if (vertical == VerticalAlign::kCentre) {
        const int d = (window.height - needHeight) / 2;
        top += d;
        bottom -= d;
    } else {
        bottom = top + needHeight;
    }
    if (horizontal == HorizontalAlign::kCentre) {
        const int d = (window.width - needWidth) / 2;
        left += d;
        right -= d;
    } else if (horizontal == HorizontalAlign::kRight) {
        left = right - needWidth;
    } else {
        right = left + needWidth;
    }
    return {left, top, right - left, bottom - top};
}

PixelRect LeaveRepaintRect(const PixelRect& label) {
    return {label.left, label.top, label.width, label.height + 10};
}

bool IsDarkBackground(std::uint32_t background) {
    const int red = (background >> 16) & 0xFF, green = (background >> 8) & 0xFF,
              blue = background & 0xFF;
    const int lightness = (std::max({red, green, blue}) + std::min({red, green, blue})) / 2;
    return lightness < 128;
}

std::uint32_t LinkColour(bool hovering, bool visited, std::uint32_t background) {
    using namespace link_colour;
    if (IsDarkBackground(background)) {
        return hovering ? kHoverOnDark : visited ? kVisitedOnDark : kLinkOnDark;
    }
    return hovering ? kHover : visited ? kVisited : kLink;
}
