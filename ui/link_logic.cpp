#include "ui/link_logic.h"

#include <map>

QString OpenFailureReason(int code) {
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
        return QString::fromLatin1(found->second);
    }
    return QStringLiteral("Unknown Error (%1) occurred.").arg(code);
}

QString OpenFailureMessage(int code) {
    return QStringLiteral("Unable to open hyperlink:\n\n") + OpenFailureReason(code);
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

QRect FitRectToText(const QRect& window, const QSize& client, const QSize& text,
                    Qt::Alignment alignment) {
    // Edges as the window system keeps them: right and bottom are exclusive.
    int left = window.left(), top = window.top();
    int right = left + window.width(), bottom = top + window.height();
    const int needWidth = text.width() + window.width() - client.width();
    const int needHeight = text.height() + window.height() - client.height();
    if (alignment & Qt::AlignVCenter) {
        const int d = (window.height() - needHeight) / 2;
        top += d;
        bottom -= d;
    } else {
        bottom = top + needHeight;
    }
    if (alignment & Qt::AlignHCenter) {
        const int d = (window.width() - needWidth) / 2;
        left += d;
        right -= d;
    } else if (alignment & Qt::AlignRight) {
        left = right - needWidth;
    } else {
        right = left + needWidth;
    }
    return QRect(left, top, right - left, bottom - top);
}

QRect LeaveRepaintRect(const QRect& label) {
    return label.adjusted(0, 0, 0, 10);
}
