#pragma once
// Ctrl+C as a request rather than the end: while an InterruptWatch lives, the signals it names set its flag
// (and the first one writes its note to standard error). The handler resets itself (SA_RESETHAND), so the
// next such signal ends the process the usual way, for a wait the request cannot reach. A signal handler
// can reach only process-wide state, so one watch lives at a time.

#include <atomic>
#include <initializer_list>

namespace vox::cli {

class InterruptWatch {
public:
    // note: written as it stands when the first signal comes; may be null.
    InterruptWatch(std::initializer_list<int> signals, const char* note = nullptr);
    ~InterruptWatch();  // the previous handlers come back
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // Set by the signal; a cancel flag for work that polls one.
    std::atomic<bool>& Flag();
    bool Raised() const;
};

}  // namespace vox::cli
