#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

extern char** environ;

// A private X server for one test: Xvfb picks a free display number itself (-displayfd), so
// tests running side by side never share one. Without Xvfb a test skips, unless CI=true asks
// for it (then it fails): see XVFB_START_OR_SKIP.
//
// With TORVANE_TEST_WM=openbox in the environment the server runs a reparenting window manager
// (openbox), started once the server answers; the server counts as started once the manager
// owns its screen's WM_S0 selection. The X11 tests run once without and once with it.
class XvfbServer
{
public:
    XvfbServer() = default;
    XvfbServer(XvfbServer const&) = delete;
    XvfbServer& operator=(XvfbServer const&) = delete;

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
        if (char const* wm = std::getenv("TORVANE_TEST_WM"); wm && *wm) return StartManager(wm);
        return true;
    }

    // The window manager the tests asked for, or an empty string.
    static std::string Manager()
    {
        char const* wm = std::getenv("TORVANE_TEST_WM");
        return wm ? wm : "";
    }

    ~XvfbServer()
    {
        if (probeConnection) xcb_disconnect(probeConnection);
        if (managerPid > 0) Stop(managerPid);
        if (pid > 0) Stop(pid);
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
    bool StartManager(char const* wm)
    {
        if (std::string(wm) != "openbox") return Missing("TORVANE_TEST_WM names no known window manager");
        // No session manager, no autostart; its own settings from the system's defaults.
        char const* argv[] = {"openbox", "--sm-disable", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        int spawned =
            posix_spawnp(&managerPid, "openbox", &actions, nullptr, const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
        {
            managerPid = -1;
            return Missing("openbox is not installed (tools/install-deps.sh installs it)");
        }
        // The connection stays open while the server runs: the ids of its windows are never
        // handed to another client, so a request the manager makes late for the probe (under
        // load it may lag well behind) never lands on a test's window given the same id.
        probeConnection = xcb_connect(display.c_str(), nullptr);
        xcb_connection_t* c = probeConnection;
        bool managing = false;
        if (c && !xcb_connection_has_error(c))
        {
            xcb_intern_atom_reply_t* atom =
                xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 5, "WM_S0"), nullptr);
            auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
            while (atom && !managing && std::chrono::steady_clock::now() < deadline)
            {
                xcb_get_selection_owner_reply_t* owner =
                    xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
                managing = owner && owner->owner != XCB_NONE;
                std::free(owner);
                if (!managing) usleep(20000);
            }
            std::free(atom);
            // It owns the selection before it manages windows, and a window mapped while it
            // starts may stay unmanaged: it is ready once it has managed a probe (given it
            // WM_STATE), which asks again every 250 ms, and has let it go again.
            xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
            xcb_window_t probe = xcb_generate_id(c);
            xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 1, 1, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
            xcb_map_window(c, probe);
            xcb_intern_atom_reply_t* state =
                xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 8, "WM_STATE"), nullptr);
            auto managedState = [&]
            {
                xcb_get_property_reply_t* p = xcb_get_property_reply(
                    c, xcb_get_property(c, 0, probe, state->atom, XCB_ATOM_ANY, 0, 2), nullptr);
                int value = -1; // none
                if (p && p->type != XCB_NONE)
                {
                    value = 0;
                    if (p->format == 32 && xcb_get_property_value_length(p) >= 4)
                        std::memcpy(&value, xcb_get_property_value(p), 4);
                }
                std::free(p);
                return value;
            };
            bool managed = false;
            for (int turn = 0; managing && state && !managed && std::chrono::steady_clock::now() < deadline;
                 ++turn)
            {
                if (turn % 12 == 11) xcb_map_window(c, probe);
                managed = managedState() >= 0;
                if (!managed) usleep(20000);
            }
            // Withdrawn (ICCCM: unmapped, and the manager told): the manager is done with it once
            // it has put it back on the root and taken its normal state away.
            xcb_unmap_window(c, probe);
            xcb_unmap_notify_event_t n{};
            n.response_type = XCB_UNMAP_NOTIFY;
            n.event = screen->root;
            n.window = probe;
            xcb_send_event(c, 0, screen->root,
                           XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                           reinterpret_cast<char const*>(&n));
            bool released = false;
            while (managed && !released && std::chrono::steady_clock::now() < deadline)
            {
                xcb_query_tree_reply_t* t = xcb_query_tree_reply(c, xcb_query_tree(c, probe), nullptr);
                released = t && t->parent == screen->root && managedState() <= 0;
                std::free(t);
                if (!released) usleep(20000);
            }
            std::free(state);
            xcb_destroy_window(c, probe);
            std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
            managing = managed && released;
        }
        return managing || Missing("openbox did not take the screen");
    }

    // Asks `child` to end and reaps it; one that has not ended within 10 s is killed.
    static void Stop(pid_t child)
    {
        kill(child, SIGTERM);
        auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int status = 0;
        while (waitpid(child, &status, WNOHANG) == 0)
        {
            if (std::chrono::steady_clock::now() >= deadline)
            {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                return;
            }
            usleep(10000);
        }
    }

    bool Missing(char const* reason)
    {
        why = reason;
        return false;
    }

    pid_t pid = -1;
    pid_t managerPid = -1;
    xcb_connection_t* probeConnection = nullptr;
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
