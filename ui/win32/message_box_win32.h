#pragma once

#include <windows.h>

#include <functional>
#include <string>

// A modal message of the program, captioned with its title: `type` is the message box type
// (buttons and sign). A seam, so that tests answer instead of a person.
using MessageBoxFn = std::function<void(HWND owner, const std::string& text, UINT type)>;

inline void ShowProgramMessage(HWND owner, const std::string& text, UINT type) {
    MessageBoxA(owner, text.c_str(), "NOVUDownLoad", type);
}
