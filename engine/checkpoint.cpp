#include "engine/checkpoint.h"

namespace checkpoint {

namespace {
thread_local Handler t_handler = nullptr;
thread_local void* t_context = nullptr;
}  // namespace

void Install(Handler handler, void* context) {
    t_handler = handler;
    t_context = context;
}

void Pass() {
    if (t_handler != nullptr) {
        t_handler(t_context);
    }
}

}  // namespace checkpoint
