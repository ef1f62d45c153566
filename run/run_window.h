#pragma once

#include <string>

// Control ids of the main window that the run controller reads and writes.
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

// Timers of the main window.
inline constexpr int TIMER_GENERATE = 1;  // every 10 ms, from Start until the first Abort
inline constexpr int TIMER_STATUS = 2;    // every 500 ms, while the window is open
inline constexpr int kGeneratePeriodMs = 10;
inline constexpr int kStatusPeriodMs = 500;

// What the run controller needs of a window. All calls come from the window's thread except
// SetText, which job reports also call from worker threads: an implementation must carry those
// texts to its own thread and apply them in the order of the calls.
class CRunWindow {
  public:
    virtual ~CRunWindow() = default;

    virtual int IsChecked(int id) = 0;
    // The box's text as a signed integer; empty, non-numeric or out-of-range text reads as 0.
    virtual int GetInt(int id) = 0;
    virtual void SetChecked(int id, int checked) = 0;
    virtual void SetInt(int id, int value) = 0;
    virtual void SetText(int id, const std::string& text) = 0;
    virtual void SetProgress(int id, int low, int high, int position) = 0;
    virtual void EnableButton(int id, bool enabled) = 0;
    // Modal, with an OK button, captioned with the application title; the window's messages
    // (timers, texts) go on while it is shown.
    virtual void ShowMessage(const std::string& text) = 0;
    virtual void StartTimer(int id, int periodMs) = 0;
    virtual void StopTimer(int id) = 0;
};
