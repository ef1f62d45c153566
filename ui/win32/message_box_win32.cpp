#include "ui/win32/message_box_win32.h"

std::wstring WideFromProgramText(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    UINT codePage = CP_UTF8;
    int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length == 0) {
        codePage = CP_ACP;
        length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
    return wide;
}

void ShowProgramMessage(HWND owner, const std::string& text, UINT type) {
    MessageBoxW(owner, WideFromProgramText(text).c_str(), L"NOVUDownLoad", type);
}
