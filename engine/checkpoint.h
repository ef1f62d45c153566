#pragma once

// A safe point at which the current thread may be held, for example by a pause. Code that runs
// long (a fetch between its blocks) passes checkpoints where it holds no lock; the thread that
// owns the work installs what a checkpoint does. Threads without one pass straight through.
namespace checkpoint {

using Handler = void (*)(void* context);

// Installs the current thread's handler (nullptr removes it).
void Install(Handler handler, void* context);

// Runs the current thread's handler, if any.
void Pass();

}  // namespace checkpoint
