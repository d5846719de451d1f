#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

extern char** environ;

// A private X server for one test: Xvfb picks a free display number itself (-displayfd), so
// tests running side by side never share one. Without Xvfb a test skips, unless CI=true asks
// for it (then it fails): see XVFB_START_OR_SKIP.
class XvfbServer
{
public:
    // Starts the server and points DISPLAY at it; false with the reason in `why` when there
    // is none.
    bool Start()
    {
        int fds[2];
        if (pipe(fds) != 0) return Missing("no pipe");
        std::string fd = std::to_string(fds[1]);
        char const* argv[] = {"Xvfb",        "-displayfd", fd.c_str(), "-screen",  "0",
                              "1024x768x24", "-nolisten",  "tcp",      "-noreset", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        int spawned = posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (spawned != 0)
        {
            close(fds[0]);
            pid = -1;
            return Missing("Xvfb is not installed");
        }
        std::string number;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < deadline)
        {
            pollfd p{fds[0], POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char c = 0;
            if (read(fds[0], &c, 1) != 1) break;
            if (c == '\n') break;
            number += c;
        }
        close(fds[0]);
        if (number.empty()) return Missing("Xvfb did not start");
        display = ":" + number;
        setenv("DISPLAY", display.c_str(), 1);
        return true;
    }

    ~XvfbServer()
    {
        if (pid > 0)
        {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
        }
    }

    std::string display;

    std::string why;

    // CI=true (or TORVANE_REQUIRE_X11=1) makes a missing server a failure.
    static bool Required()
    {
        char const* ci = std::getenv("CI");
        char const* x11 = std::getenv("TORVANE_REQUIRE_X11");
        return (ci && std::string(ci) == "true") || (x11 && std::string(x11) == "1");
    }

private:
    bool Missing(char const* reason)
    {
        why = reason;
        return false;
    }

    pid_t pid = -1;
};

// In a fixture's SetUp: starts the server or skips the test (fails it when CI requires X11).
#define XVFB_START_OR_SKIP(server)                                                                           \
    do                                                                                                       \
    {                                                                                                        \
        if (!(server).Start())                                                                               \
        {                                                                                                    \
            if (XvfbServer::Required()) FAIL() << (server).why << " (CI requires the X11 tests)";            \
            GTEST_SKIP() << (server).why;                                                                    \
        }                                                                                                    \
    } while (false)
