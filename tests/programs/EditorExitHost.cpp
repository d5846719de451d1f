// A host that exits with the plug-in's editor open. It registers an exit handler before it loads
// the plug-in, so that the handler runs after the plug-in's static objects are destroyed; opens
// the editor in a window of its size on DISPLAY; plays the clicks (XTest, editor coordinates,
// each followed by half a second of idles); then calls exit(0) with the editor open. The
// handler idles the editor a few more times from a second thread.
//
//   editor_exit_host PLUGIN [X,Y]...

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include "vsthost/VstHost.h"

namespace
{
// Never destroyed: the exit handler uses them.
VstHost* host = nullptr;
xcb_connection_t* connection = nullptr;

void Idle(int times)
{
    for (int i = 0; i < times; ++i)
    {
        host->Dispatch(effEditIdle);
        while (xcb_generic_event_t* e = xcb_poll_for_event(connection))
            std::free(e);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void IdleAfterExit()
{
    if (host == nullptr || !host->IsOpen()) return;
    std::thread second(
        []
        {
            for (int i = 0; i < 5; ++i)
            {
                host->Dispatch(effEditIdle);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    second.join();
    std::printf("idled after exit\n");
    std::fflush(stdout);
}

void Sync()
{
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

void Click(xcb_window_t window, xcb_window_t root, int x, int y)
{
    xcb_translate_coordinates_reply_t* t = xcb_translate_coordinates_reply(
        connection,
        xcb_translate_coordinates(connection, window, root, static_cast<std::int16_t>(x),
                                  static_cast<std::int16_t>(y)),
        nullptr);
    xcb_test_fake_input(connection, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, t ? t->dst_x : 0,
                        t ? t->dst_y : 0, 0);
    std::free(t);
    xcb_test_fake_input(connection, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(connection, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    Sync();
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: editor_exit_host PLUGIN [X,Y]...\n");
        return 2;
    }
    std::atexit(&IdleAfterExit);
    host = new VstHost;
    if (!host->Open(argv[1]))
    {
        std::fprintf(stderr, "editor_exit_host: %s\n", host->GetError().c_str());
        return 1;
    }
    ERect* rect = nullptr;
    if (host->Dispatch(effEditGetRect, 0, 0, &rect) == 0 || rect == nullptr)
    {
        std::fprintf(stderr, "editor_exit_host: no editor\n");
        return 1;
    }
    connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection))
    {
        std::fprintf(stderr, "editor_exit_host: cannot open the display\n");
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    xcb_window_t const window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0,
                      static_cast<std::uint16_t>(rect->right - rect->left),
                      static_cast<std::uint16_t>(rect->bottom - rect->top), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, 0, nullptr);
    xcb_map_window(connection, window);
    Sync();
    if (host->Dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(static_cast<std::uintptr_t>(window))) != 1)
    {
        std::fprintf(stderr, "editor_exit_host: the editor did not open\n");
        return 1;
    }
    Idle(25);
    for (int i = 2; i < argc; ++i)
    {
        int x = 0, y = 0;
        if (std::sscanf(argv[i], "%d,%d", &x, &y) != 2)
        {
            std::fprintf(stderr, "editor_exit_host: bad point '%s'\n", argv[i]);
            return 2;
        }
        Click(window, screen->root, x, y);
        Idle(25);
    }
    std::printf("exiting with the editor open\n");
    std::fflush(stdout);
    std::exit(0);
}
