#pragma once

#include <map>
#include <mutex>
#include <string>

#include "run/run_window.h"

// The run controller's window on a terminal: the entries are values the runner sets, the status
// texts are kept for the progress line, and messages go to standard error. The notice and the
// wait message belong to the window's way of working and are not shown. Thread-safe: job
// reports write texts from worker threads.
class CConsoleWindow : public CRunWindow {
  public:
    int IsChecked(int id) override;
    int GetInt(int id) override;
    void SetChecked(int id, int checked) override;
    void SetInt(int id, int value) override;
    void SetText(int id, const std::string& text) override;
    void SetProgress(int, int, int, int) override {}
    void EnableButton(int, bool) override {}
    void ShowMessage(const std::string& text) override;
    void StartTimer(int, int) override {}
    void StopTimer(int) override {}

    std::string Text(int id);

  private:
    std::mutex mutex_;
    std::map<int, int> values_;  // check boxes and number boxes
    std::map<int, std::string> texts_;
};
