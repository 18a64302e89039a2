#include "platform/systemd_host.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace farlink::platform {

namespace {

// A status line is short; anything beyond this is not an answer we act on.
constexpr std::size_t kOutputLimit = 256;

long long monotonicMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int waitChild(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

// The child must not inherit the agent's blocked control signals (systemctl would then ignore
// a stop) nor any handler state.
bool prepareAttributes(posix_spawnattr_t& attributes) {
    if (posix_spawnattr_init(&attributes) != 0) return false;
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signalNumber : {SIGTERM, SIGINT, SIGPWR, SIGPIPE, SIGHUP})
        sigaddset(&defaults, signalNumber);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    return true;
}

} // namespace

bool systemdRunsHost() {
    struct stat info {};
    return ::stat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode);
}

int runSystemctl(std::initializer_list<const char*> arguments, std::string* output, int timeoutMs) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("systemctl"));
    // Nobody is there to type a password: a refused request must fail, not wait for one.
    argv.push_back(const_cast<char*>("--no-ask-password"));
    for (const char* argument : arguments)
        argv.push_back(const_cast<char*>(argument));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        errno = ENOMEM;
        return -1;
    }
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const bool attributesReady = prepareAttributes(attributes);

    pid_t pid = -1;
    const int spawnError = posix_spawnp(
        &pid, "systemctl", &actions, attributesReady ? &attributes : nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (attributesReady) posix_spawnattr_destroy(&attributes);
    ::close(pipeFds[1]);
    if (spawnError != 0) {
        ::close(pipeFds[0]);
        errno = spawnError;
        return -1;
    }

    // The child's end of the pipe closes when it ends: read until then, but never past the
    // deadline, so a hung service manager cannot hold the caller.
    const long long deadline = monotonicMs() + timeoutMs;
    bool ended = false;
    char chunk[128];
    for (;;) {
        const long long left = deadline - monotonicMs();
        if (left <= 0) break;
        pollfd waitFor{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&waitFor, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        const ssize_t n = ::read(pipeFds[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ended = true;
            break;
        }
        if (output != nullptr && output->size() < kOutputLimit)
            output->append(chunk,
                           std::min(static_cast<std::size_t>(n), kOutputLimit - output->size()));
    }
    ::close(pipeFds[0]);
    if (!ended) ::kill(pid, SIGKILL);
    const int status = waitChild(pid);
    if (!ended) {
        errno = ETIMEDOUT;
        return -1;
    }
    if (status < 0) return -1;
    if (!WIFEXITED(status)) {
        errno = ECHILD;
        return -1;
    }
    return WEXITSTATUS(status);
}

} // namespace farlink::platform
