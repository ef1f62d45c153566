#include "engine/mutex_lock.h"

#include <new>

int CMutexLock::Create() {
    if (!mutex_) {
        mutex_.reset(new (std::nothrow) std::mutex);
    }
    return mutex_ ? 1 : 0;
}

int CMutexLock::Lock() {
    if (!mutex_) {
        return 0;
    }
    mutex_->lock();
    return 1;
}

int CMutexLock::Unlock() {
    if (!mutex_) {
        return 0;
    }
    mutex_->unlock();
    return 1;
}

int CMutexLock::Close() {
    const int hadMutex = mutex_ ? 1 : 0;
    mutex_.reset();
    return hadMutex;
}
