// A lock as portable logic takes it: the platform gives it (a critical
// section on Windows), the tests a fake that knows whether it is held. The
// holder never calls out of the component while it holds one.
#pragma once

namespace quill {

class Lock {
public:
    virtual ~Lock() = default;
    // Takes the lock when no other thread holds it; false otherwise, without
    // waiting.
    virtual bool TryAcquire() = 0;
    // Takes the lock, waiting for the thread that holds it to let it go.
    virtual void Acquire() = 0;
    virtual void Release() = 0;
};

// Holds a lock for the life of the scope: taken at once, or only if it is
// free (then `held()` tells).
class LockHold {
public:
    enum class Waiting { Wait, DontWait };

    explicit LockHold(Lock& lock, Waiting waiting = Waiting::Wait) : lock_(lock) {
        if (waiting == Waiting::Wait) {
            lock_.Acquire();
            held_ = true;
        } else {
            held_ = lock_.TryAcquire();
        }
    }
    ~LockHold() { Let(); }
    LockHold(const LockHold&) = delete;
    LockHold& operator=(const LockHold&) = delete;

    bool held() const { return held_; }
    // Lets the lock go before the scope ends.
    void Let() {
        if (held_) lock_.Release();
        held_ = false;
    }

private:
    Lock& lock_;
    bool held_ = false;
};

}  // namespace quill
