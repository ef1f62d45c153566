#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "run/run_window.h"

// A window made of maps: what the controller writes can be read back, and tests type into it.
// Thread-safe, since job reports write texts from worker threads.
class FakeWindow : public CRunWindow {
  public:
    int IsChecked(int id) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return checked_[id];
    }
    int GetInt(int id) override {
        std::lock_guard<std::mutex> lock(mutex_);
        try {
            std::size_t used = 0;
            const std::string& text = entries_[id];
            const long value = std::stol(text, &used);
            return used == text.size() && value >= INT32_MIN && value <= INT32_MAX
                       ? static_cast<int>(value)
                       : 0;
        } catch (...) {
            return 0;
        }
    }
    void SetChecked(int id, int checked) override {
        std::lock_guard<std::mutex> lock(mutex_);
        checked_[id] = checked;
    }
    void SetInt(int id, int value) override { Type(id, std::to_string(value)); }
    void SetText(int id, const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_[id] = text;
        textLog_.push_back({id, text});
    }
    void SetProgress(int, int low, int high, int position) override {
        std::lock_guard<std::mutex> lock(mutex_);
        progress_ = {low, high, position};
    }
    void EnableButton(int id, bool enabled) override {
        std::lock_guard<std::mutex> lock(mutex_);
        enabled_[id] = enabled;
    }
    void ShowMessage(const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(text);
    }
    void StartTimer(int id, int periodMs) override {
        std::lock_guard<std::mutex> lock(mutex_);
        timers_[id] = periodMs;
    }
    void StopTimer(int id) override {
        std::lock_guard<std::mutex> lock(mutex_);
        timers_.erase(id);
    }

    void Type(int id, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_[id] = text;
    }
    void Tick(int id, int checked) { SetChecked(id, checked); }
    std::string Entry(int id) {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_[id];
    }
    std::string Text(int id) {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_[id];
    }
    bool Enabled(int id) {
        std::lock_guard<std::mutex> lock(mutex_);
        return enabled_[id];
    }
    // Start, Pause, Resume, Abort, Cancel as 1 or 0, for comparing with the button table.
    std::string Buttons() {
        std::string states;
        for (int id : {IDC_START, IDC_PAUSE, IDC_RESUME, IDC_ABORT, IDCANCEL_BUTTON}) {
            states += Enabled(id) ? '1' : '0';
        }
        return states;
    }
    std::vector<std::string> Messages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    bool TimerRuns(int id) {
        std::lock_guard<std::mutex> lock(mutex_);
        return timers_.count(id) != 0;
    }
    std::vector<int> Progress() {
        std::lock_guard<std::mutex> lock(mutex_);
        return progress_;
    }
    std::vector<std::pair<int, std::string>> TextLog() {
        std::lock_guard<std::mutex> lock(mutex_);
        return textLog_;
    }

  private:
    std::mutex mutex_;
    std::map<int, int> checked_;
    std::map<int, std::string> entries_;
    std::map<int, std::string> texts_;
    std::vector<std::pair<int, std::string>> textLog_;
    std::map<int, bool> enabled_;
    std::map<int, int> timers_;
    std::vector<std::string> messages_;
    std::vector<int> progress_;
};
