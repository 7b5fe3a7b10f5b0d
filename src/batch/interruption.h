// How a long call of the batched environment or search lets its caller stop it. The call asks
// check() on the calling thread, between parts of its work a few milliseconds long; check()
// returns to go on and throws to stop, and the exception leaves the call once the objects are
// consistent again (every finished part kept). The Python binding checks for signals there, so
// Ctrl-C reaches a trainer stuck in a long playout or search.
#pragma once

#include <chrono>

namespace ortolan {

class Interruption {
public:
    virtual ~Interruption() = default;
    virtual void check() = 0;
};

// Asks an Interruption (none: never) at most once a period, so that a caller whose check takes
// a lock shared with other threads is not asked after every short part. With parts of at most
// a few milliseconds the caller is asked at least every period plus one part.
class InterruptionClock {
public:
    static constexpr std::chrono::milliseconds period{20};

    explicit InterruptionClock(Interruption* interruption)
        : interruption_(interruption), next_(std::chrono::steady_clock::now() + period) {}

    void poll() {
        if (!interruption_) return;
        const auto now = std::chrono::steady_clock::now();
        if (now < next_) return;
        next_ = now + period;
        interruption_->check();
    }

private:
    Interruption* interruption_;
    std::chrono::steady_clock::time_point next_;
};

}  // namespace ortolan
