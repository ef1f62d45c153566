#pragma once

#include <memory>
#include <mutex>

// One unnamed mutex, created and closed explicitly. Lock waits without a time limit.
class CMutexLock {
  public:
    // 1 when the mutex exists afterwards, else 0.
    int Create();
    // 1 when locked; 0 when there is no mutex to lock.
    int Lock();
    // 1 when unlocked; 0 when there is no mutex.
    int Unlock();
    // Releases the mutex; 1 when there was one. It must not be held.
    int Close();

    // Lock and Unlock for std::scoped_lock and condition variables; without a mutex they do
    // nothing, as Lock and Unlock do.
    void lock() { Lock(); }
    void unlock() { Unlock(); }

  private:
    std::unique_ptr<std::mutex> mutex_;
};
