#pragma once

#include <windows.h>

#include <functional>
#include <string>

// A modal message of the program, captioned with its title: `type` is the message box type
// (buttons and sign). A seam, so that tests answer instead of a person.
using MessageBoxFn = std::function<void(HWND owner, const std::string& text, UINT type)>;

// The program's texts are UTF-8; paths that the system gave in its ANSI code page are not
// always valid UTF-8 and are read in that code page instead.
std::wstring WideFromProgramText(const std::string& text);

void ShowProgramMessage(HWND owner, const std::string& text, UINT type);
