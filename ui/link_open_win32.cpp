#include <windows.h>  // first: shellapi.h builds on it

#include <objbase.h>
#include <shellapi.h>

#include "ui/link_open.h"

// Windows reports the link label's codes itself: ShellExecute and WinExec results are used as
// they are (above 32 success; 2 file not found, 5 access denied, 31 no association, ...).
namespace link_open {

namespace {

// The default value of a key under HKEY_CLASSES_ROOT; 0 on success, else the registry's error.
LONG ReadKeyDefault(HKEY root, const std::string& subKey, std::string& value) {
    HKEY key = nullptr;
    LONG result = ::RegOpenKeyExA(root, subKey.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    char buffer[MAX_PATH] = {};
    LONG size = sizeof buffer;
    result = ::RegQueryValueA(key, nullptr, buffer, &size);
    ::RegCloseKey(key);
    if (result == ERROR_SUCCESS) {
        value.assign(buffer, strnlen(buffer, sizeof buffer));
    }
    return result;
}

}  // namespace

int OpenWithDesktop(const std::string& target) {
    // The shell may use COM; this runs on a thread of its own, which starts it for the call and
    // ends it again, as a thread that started it must.
    const HRESULT com =
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteA(nullptr, "open", target.c_str(), nullptr, nullptr, SW_SHOW));
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return static_cast<int>(result);
}

bool ReadHtmlOpenCommand(std::string& commandLine) {
    std::string fileType;
    if (ReadKeyDefault(HKEY_CLASSES_ROOT, ".htm", fileType) != ERROR_SUCCESS) {
        return false;
    }
    return ReadKeyDefault(HKEY_CLASSES_ROOT, fileType + "\\shell\\open\\command", commandLine) ==
           ERROR_SUCCESS;
}

int StartCommandLine(const std::string& commandLine) {
    return static_cast<int>(::WinExec(commandLine.c_str(), SW_SHOW));
}

}  // namespace link_open
