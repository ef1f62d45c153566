#pragma once

#include <functional>

#include "run/run_controller.h"

// Drives a started run where no window's timers do: the generator and status ticks at their
// periods, on the calling thread, until the run has ended. `stopWanted` is asked at every tick;
// once it says yes, the run stops as the two steps of Abort stop it, the second once every
// worker has left.
void DriveRunToItsEnd(CRunController& controller, const std::function<bool()>& stopWanted);
