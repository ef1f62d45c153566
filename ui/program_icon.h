#pragma once

#include <QIcon>

// Icon 128: the program's icon, from the embedded resources.
QIcon ProgramIcon();
