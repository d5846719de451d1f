#pragma once

// Runs a program of ours through the shell and collects what it prints (standard output and
// error) and its exit code. Under LeakSanitizer a program that drew text keeps fontconfig's
// process-wide caches at exit: `suppressions` names the file that tells the leak checker so.
//
// A run that outlives `limitSeconds` is a hang: the stacks of its threads (through gdb, where the
// machine has it) are added to what it printed, its process group is killed and its status is -2,
// so the test fails with the place it hung instead of waiting for ctest's timeout.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

struct ProgramRun
{
    int status = -1;
    std::string out;
};

namespace run_program_detail
{
// The shell's first child: the program the shell ran (its only child), else the shell.
inline pid_t Target(pid_t shell)
{
    std::string const path =
        "/proc/" + std::to_string(shell) + "/task/" + std::to_string(shell) + "/children";
    if (FILE* f = std::fopen(path.c_str(), "r"))
    {
        long child = 0;
        bool const found = std::fscanf(f, "%ld", &child) == 1 && child > 0;
        std::fclose(f);
        if (found) return static_cast<pid_t>(child);
    }
    return shell;
}

inline std::string Stacks(pid_t pid)
{
    std::string const command = "gdb -q -batch -nx -p " + std::to_string(pid) +
                                " -ex 'thread apply all bt 30' </dev/null 2>&1 | grep -v '^\\[New LWP'";
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r"))
    {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            text += buffer;
        pclose(pipe);
    }
    return text;
}
} // namespace run_program_detail

inline ProgramRun RunProgram(std::string const& commandLine, char const* suppressions = nullptr,
                             int limitSeconds = 300)
{
    std::string command;
    if (suppressions != nullptr) command = std::string("LSAN_OPTIONS=suppressions=") + suppressions + " ";
    command += commandLine + " 2>&1";
    ProgramRun r;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return r;
    pid_t const pid = fork();
    if (pid < 0)
    {
        close(fds[0]);
        close(fds[1]);
        return r;
    }
    if (pid == 0)
    {
        setpgid(0, 0);
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    setpgid(pid, pid);
    close(fds[1]);
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
    bool hung = false;
    for (;;)
    {
        auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
        {
            hung = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        int const ready = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        char buffer[512];
        ssize_t const n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        r.out.append(buffer, static_cast<std::size_t>(n));
    }
    if (hung)
    {
        r.out +=
            "\n[still running after " + std::to_string(limitSeconds) + " s: its threads' stacks follow]\n";
        r.out += run_program_detail::Stacks(run_program_detail::Target(pid));
        kill(-pid, SIGKILL);
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    r.status = hung ? -2 : WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}
