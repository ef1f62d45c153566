#pragma once

#include <string>

#include "support/status.h"

// The reverse-DNS name under which the program is installed (desktop entry, metainfo, icons).
inline constexpr const char* kApplicationId = "example.novu.NOVUDownLoad";

// Where the program keeps its settings file, its two download folders and its log.
struct DataLocation {
    std::string directory;  // ends in the path separator
    bool besideExecutable;  // false: the per-user data folder
};

// The executable's own folder (`executableDirectory`, ending in its separator) when it is no
// installed copy and files can be created in it; otherwise the per-user data folder:
// $XDG_DATA_HOME/NOVUDownLoad, by default ~/.local/share/NOVUDownLoad (%LOCALAPPDATA%\NOVUDownLoad
// on Windows), created when missing. An installed copy is one whose folder has
// ../share/applications/<kApplicationId>.desktop beside it: such a program never writes into its
// own folder, even where it could (as root).
DataLocation ChooseDataLocation(const std::string& executableDirectory);

// The data location of the running executable (its own folder found with GetAppDirectory). In
// the per-user folder, the debug log goes there too.
DataLocation ChooseDataLocationOfThisProgram();

// The folder a user named (--data DIR) as the data location: created when missing, with its
// parents, and the debug log's home too. Refused, saying why, when it cannot be made or is no
// folder.
Status ChooseDataFolder(const std::string& folder, DataLocation& location);

// The window's one argument: "--data DIR" gives DIR, its absence the empty text (the program's
// own data folder). Other arguments are not the window's, nor the toolkit's: they are ignored.
std::string DataFolderArgument(int argc, const char* const* argv);
