#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>

// Runs work in a child process as the user and group "nobody" (65534) and
// gives its exit status (125 when the child could not become nobody). Absent
// when this process is not root, who alone may become another user, or the
// child could not be made or did not exit.
inline std::optional<int> exitStatusAsNobody(const std::function<int()> &work)
{
    if (::geteuid() != 0)
        return std::nullopt;
    const pid_t child = ::fork();
    if (child < 0)
        return std::nullopt;
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(125);
        ::_exit(work());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return std::nullopt;
    return WEXITSTATUS(status);
}
