#pragma once

#include <windows.h>

#include <vector>

// Template 102 as Windows builds dialogs from it: an in-memory DLGTEMPLATE made from the same
// control table as the other window layer, in dialog units, with the dialog's 8-point font.
std::vector<WORD> BuildMainDialogTemplate();
// The About box the same way.
std::vector<WORD> BuildAboutTemplate();

// A built template as the dialog functions take it.
inline const DLGTEMPLATE* AsTemplate(const std::vector<WORD>& words) {
    return reinterpret_cast<const DLGTEMPLATE*>(words.data());
}
