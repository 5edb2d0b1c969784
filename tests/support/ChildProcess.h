#pragma once
// Runs a piece of a test in a forked child, for what the test process must not
// suffer itself: dropped privileges, resource limits, a save that may hang.
#include <functional>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace corvane::test {

struct ChildRun {
    bool started = false; // false when no pipe or no child could be made
    int status = 0;       // as waitpid reports it
    std::string text;     // what the child's body returned
};

// The body runs in the child; the text it returns comes back through a pipe.
inline ChildRun runInChild(const std::function<std::string()>& body) {
    ChildRun run;
    int fds[2];
    if (::pipe(fds) != 0)
        return run;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return run;
    }
    if (pid == 0) {
        ::close(fds[0]);
        const std::string text = body();
        (void)!::write(fds[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    char buf[256];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        run.text.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    ::waitpid(pid, &run.status, 0);
    run.started = true;
    return run;
}

} // namespace corvane::test
