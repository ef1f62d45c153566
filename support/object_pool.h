#pragma once

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

// Objects that cost more to set up than to use, lent to one user at a time and kept for the
// next: what a thread_local object would give, without its destructor at thread exit, which
// the Windows runtime runs after it has freed the thread's storage. The pool holds at most as
// many as were ever lent at once, and frees them when it goes.
template <typename T>
class CObjectPool {
  public:
    class Lease {
      public:
        Lease(CObjectPool& pool, std::unique_ptr<T> object)
            : pool_(&pool), object_(std::move(object)) {}
        ~Lease() { pool_->Return(std::move(object_)); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        T& operator*() const { return *object_; }
        T* operator->() const { return object_.get(); }

      private:
        CObjectPool* pool_;
        std::unique_ptr<T> object_;
    };

    // The one pool of T for the whole process. Never destroyed: a fetch that outlives the exit
    // of main must still find it.
    static CObjectPool& Shared() {
        static auto& pool = *new CObjectPool;
        return pool;
    }

    Lease Take() {
        std::unique_ptr<T> object;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!free_.empty()) {
                object = std::move(free_.back());
                free_.pop_back();
            }
        }
        return Lease(*this, object ? std::move(object) : std::make_unique<T>());
    }

  private:
    void Return(std::unique_ptr<T> object) {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(std::move(object));
    }

    std::mutex mutex_;
    std::vector<std::unique_ptr<T>> free_;
};
