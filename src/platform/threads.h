// Threads, events and sleeps.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace farlink::platform {

// Starts body on a new detached thread; false when no thread can be made.
bool startThread(std::function<void()> body);

// Threads started by startThread that have not finished yet.
int runningThreads();

void sleepMs(std::uint32_t milliseconds);

// The time source behind sleepMs: tests replace it to run long waits without waiting, and to
// see which sleeps were asked for. nullptr restores the real one.
using SleepHook = void (*)(std::uint32_t milliseconds);
void setSleepHook(SleepHook hook);

// A Win32-style event: manual-reset stays signalled until reset, auto-reset releases one waiter.
class Event {
  public:
    explicit Event(bool manualReset, bool initiallySet = false);
    void set();
    void reset();
    // Waits up to timeoutMs (negative: without limit); true when signalled, false on time-out.
    bool wait(int timeoutMs);

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool manual_;
    bool signalled_;
};

// Blocks SIGTERM and SIGINT in the calling thread; called first in main so that every thread
// inherits the mask and waitForStopSignal receives them.
void blockStopSignals();

// Blocks until SIGTERM or SIGINT arrives (the stop control when run in the foreground or by
// systemd); returns the signal number. Call it from the main thread, after blockStopSignals was
// called before any other thread started: a thread without the block would take the signal and
// end the process without an orderly stop.
int waitForStopSignal();

} // namespace farlink::platform
