#include "app/console_window.h"

#include <cstdio>

#include "run/run_controller.h"

int CConsoleWindow::IsChecked(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_[id] != 0 ? 1 : 0;
}

int CConsoleWindow::GetInt(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_[id];
}

void CConsoleWindow::SetChecked(int id, int checked) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_[id] = checked;
}

void CConsoleWindow::SetInt(int id, int value) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_[id] = value;
}

void CConsoleWindow::SetText(int id, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_[id] = text;
}

std::string CConsoleWindow::Text(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_[id];
}

void CConsoleWindow::ShowMessage(const std::string& text) {
    if (text == kStartNotice || text == kWaitMessage) {
        return;
    }
    std::fprintf(stderr, "novudl: %s\n", text.c_str());
}
