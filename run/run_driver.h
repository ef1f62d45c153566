#pragma once

#include <functional>

#include "run/run_controller.h"

// Drives a started run where no window's timers do: the generator and status ticks at their
// periods, on the calling thread, until the run has ended. `stopWanted` is asked at every tick
// until it says yes; then the run stops as the two steps of Abort stop it, the second once every
// worker has left. `everyTick`, when given, is called at every tick all along.
void DriveRunToItsEnd(CRunController& controller, const std::function<bool()>& stopWanted,
                      const std::function<void()>& everyTick = {});
