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
#include <thread>

#include "support/gfx/XClient.h"
#include "vsthost/VstHost.h"

namespace
{
// Never destroyed: the exit handler uses them.
VstHost* host = nullptr;
XClient* client = nullptr;

void Idle(int times)
{
    for (int i = 0; i < times; ++i)
    {
        host->Dispatch(effEditIdle);
        while (xcb_generic_event_t* e = xcb_poll_for_event(client->c))
            std::free(e);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void IdleAfterExit()
{
    if (host == nullptr || !host->IsOpen()) return;
    std::thread([] { Idle(5); }).join();
    std::printf("idled after exit\n");
    std::fflush(stdout);
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
    client = new XClient;
    if (xcb_connection_has_error(client->c))
    {
        std::fprintf(stderr, "editor_exit_host: cannot open the display\n");
        return 1;
    }
    xcb_window_t const window = client->MakeWindow(0, 0, rect->right - rect->left, rect->bottom - rect->top);
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
        client->Click(window, x, y);
        Idle(25);
    }
    std::printf("exiting with the editor open\n");
    std::fflush(stdout);
    std::exit(0);
}
