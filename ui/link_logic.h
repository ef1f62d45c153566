#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <Qt>
#include <string>

// The decisions of the link label, kept free of windows so that tests can call them directly.

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
QString OpenFailureReason(int code);
// "Unable to open hyperlink:\n\n" followed by the reason.
QString OpenFailureMessage(int code);

// Cuts a registered command line at its placeholder: "\"%1\"" anywhere wins, then "%1"; then the
// field codes of desktop entries (%u, %U, %f, %F, quoted first). The line stays whole without one.
std::string CutAtPlaceholder(const std::string& commandLine);
// The command line that opens `target`: cut at its placeholder, then one space and the target.
std::string BuildOpenCommand(const std::string& registeredCommand, const std::string& target);

// The window rectangle (in parent coordinates) of a label fitted to its text. The difference
// between window and client sizes carries the borders over. Horizontally a centred label keeps
// its centre, a right-aligned one its right edge, others their left edge; vertically a centred
// label keeps its centre, others their top. Halves truncate toward zero.
QRect FitRectToText(const QRect& window, const QSize& client, const QSize& text,
                    Qt::Alignment alignment);

// What is repainted when the pointer leaves a label: its rectangle and 10 pixels below it.
QRect LeaveRepaintRect(const QRect& label);
