#include "platform/threads.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <new>
#include <pthread.h>

namespace farlink::platform {

namespace {

std::atomic<int> runningThreadCount{0};

// Replaced by tests while other threads may be sleeping, hence atomic.
std::atomic<SleepHook> sleepHook{nullptr};

void* threadMain(void* argument) {
    auto* body = static_cast<std::function<void()>*>(argument);
    (*body)();
    delete body;
    // Counted down last, so that a count of zero also means the body's captures are gone.
    // Release, so that whoever sees the count drop also sees everything the thread did.
    runningThreadCount.fetch_sub(1, std::memory_order_release);
    return nullptr;
}

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

} // namespace

// pthread_create rather than std::thread: a thread that cannot be made is an ordinary failure
// result here (the agent reports it), not an exception.
bool startThread(std::function<void()> body) {
    auto* heldBody = new (std::nothrow) std::function<void()>(std::move(body));
    if (heldBody == nullptr) {
        errno = ENOMEM;
        return false;
    }
    pthread_attr_t attributes;
    int rc = pthread_attr_init(&attributes);
    if (rc == 0) {
        rc = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        if (rc == 0) {
            runningThreadCount.fetch_add(1, std::memory_order_relaxed);
            pthread_t thread;
            rc = pthread_create(&thread, &attributes, threadMain, heldBody);
            if (rc != 0) runningThreadCount.fetch_sub(1, std::memory_order_relaxed);
        }
        pthread_attr_destroy(&attributes);
    }
    if (rc != 0) {
        delete heldBody;
        errno = rc;
        return false;
    }
    return true;
}

int runningThreads() {
    return runningThreadCount.load(std::memory_order_acquire);
}

void sleepMs(std::uint32_t milliseconds) {
    if (const SleepHook hook = sleepHook.load(std::memory_order_relaxed)) {
        hook(milliseconds);
        return;
    }
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    // A signal must not cut a sleep short: the agent's loops count on the full pause.
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void setSleepHook(SleepHook hook) {
    sleepHook.store(hook, std::memory_order_relaxed);
}

Event::Event(bool manualReset, bool initiallySet)
    : manual_(manualReset), signalled_(initiallySet) {}

void Event::set() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    if (manual_)
        cv_.notify_all();
    else
        cv_.notify_one();
}

void Event::reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool Event::wait(int timeoutMs) {
    std::unique_lock lock(mutex_);
    const auto ready = [this] { return signalled_; };
    if (timeoutMs < 0) {
        cv_.wait(lock, ready);
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return false;
    }
    // An auto-reset event lets exactly one waiter through per set.
    if (!manual_) signalled_ = false;
    return true;
}

void blockStopSignals() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// The signals must be blocked in every thread, or the kernel may hand them to a thread that
// does not wait for them and the default action ends the process without an orderly stop.
// main therefore calls blockStopSignals before it starts any thread; the block here covers the
// calling thread in case it has not.
int waitForStopSignal() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    int signalNumber = 0;
    while (sigwait(&set, &signalNumber) != 0) {
    }
    return signalNumber;
}

} // namespace farlink::platform
