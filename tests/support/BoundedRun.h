#pragma once
// Runs a piece of a test in a forked child under an address-space limit and
// an alarm, so that a hostile file which makes a reader allocate per claimed
// frame or loop without end fails the test instead of taking the machine.
// (Under AddressSanitizer, whose shadow memory takes terabytes of address
// space, only the time is limited.)
#include <csignal>
#include <cstdint>
#include <fstream>
#include <functional>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define CORVANE_BOUNDED_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_BOUNDED_ASAN 1
#endif
#endif

namespace corvane::test {

enum class Bounded { Exited, Crashed, TimedOut };

struct BoundedResult {
    Bounded how = Bounded::Crashed;
    int code = -1; // the body's return value when it exited
};

// The body's return value (0 .. 255) comes back as `code`; `headroom` bytes
// of address space beyond what the process holds now, `seconds` of time.
inline BoundedResult runBounded(const std::function<int()>& body, uint64_t headroom,
                                unsigned seconds) {
    const pid_t child = ::fork();
    if (child < 0)
        return {};
    if (child == 0) {
#ifndef CORVANE_BOUNDED_ASAN
        std::ifstream statm("/proc/self/statm");
        uint64_t pages = 0;
        statm >> pages;
        const rlim_t limit = pages * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE)) + headroom;
        const rlimit rl{limit, limit};
        ::setrlimit(RLIMIT_AS, &rl);
#else
        (void)headroom;
#endif
        ::alarm(seconds);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status))
        return {WTERMSIG(status) == SIGALRM ? Bounded::TimedOut : Bounded::Crashed, -1};
    return {Bounded::Exited, WEXITSTATUS(status)};
}

} // namespace corvane::test
