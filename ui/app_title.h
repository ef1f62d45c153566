#pragma once

#include <QString>

// The caption of the program's message boxes: the executable's file name without extension.
QString ApplicationTitle();
