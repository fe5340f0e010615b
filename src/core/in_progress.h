// Work that the calling thread has started and not finished, innermost first: a list
// threaded through the guards on the thread's stack. It tells a re-entry from the same
// thread (which could only wait for itself) from a wait for another thread.
#pragma once

namespace quarn {

template <typename T>
class InProgressOnThisThread {
public:
    explicit InProgressOnThisThread(const T *item) noexcept : item_(item), outer_(innermost_) {
        innermost_ = this;
    }
    ~InProgressOnThisThread() { innermost_ = outer_; }
    InProgressOnThisThread(const InProgressOnThisThread &) = delete;
    InProgressOnThisThread &operator=(const InProgressOnThisThread &) = delete;

    // Whether the calling thread is inside the work on item.
    static bool contains(const T *item) noexcept {
        for (const InProgressOnThisThread *e = innermost_; e != nullptr; e = e->outer_)
            if (e->item_ == item) return true;
        return false;
    }

private:
    const T *item_;
    const InProgressOnThisThread *outer_;
    static inline thread_local constinit const InProgressOnThisThread *innermost_ = nullptr;
};

}  // namespace quarn
