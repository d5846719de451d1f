// The host's editor mode: its own xcb connection and top-level window, the editor opened in it,
// idled every 20 ms while an audio thread renders, scripted XTest input, a PNG screenshot.
// Nothing here is shared with the plug-ins it loads.

#include "vsthost/EditorMode.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <cairo.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include "hostcli/OutputFile.h"
#include "vsthost/VstHost.h"

namespace
{
using Clock = std::chrono::steady_clock;

// How long after its end a run still idled is closed from another thread.
constexpr double kLateCloseSeconds = 0.5;

bool ParsePoint(std::string const& text, int& x, int& y)
{
    char* end = nullptr;
    long a = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != ',') return false;
    char const* second = end + 1;
    long b = std::strtol(second, &end, 10);
    if (end == second || *end != '\0' || std::labs(a) > 100000 || std::labs(b) > 100000) return false;
    x = static_cast<int>(a);
    y = static_cast<int>(b);
    return true;
}

// "X,Y@SECONDS" or, for a drag, "X,Y:X2,Y2@SECONDS".
bool ParseInput(std::string const& text, bool drag, EditorOptions::Input& input)
{
    std::size_t at = text.rfind('@');
    if (at == std::string::npos) return false;
    char* end = nullptr;
    std::string when = text.substr(at + 1);
    input.at = std::strtod(when.c_str(), &end);
    if (when.empty() || *end != '\0' || !std::isfinite(input.at) || input.at < 0 || input.at > 3600)
        return false;
    std::string where = text.substr(0, at);
    if (!drag) return ParsePoint(where, input.x, input.y);
    std::size_t colon = where.find(':');
    return colon != std::string::npos && ParsePoint(where.substr(0, colon), input.x, input.y) &&
           ParsePoint(where.substr(colon + 1), input.x2, input.y2);
}

void Say(std::FILE* err, char const* text)
{
    std::fprintf(err, "vsthost: %s\n", text);
}

// One scripted pointer action at a time after the first frame.
struct Action
{
    double at;
    std::uint8_t type; // XCB_MOTION_NOTIFY, XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE
    int x, y;          // host-window coordinates
};

std::vector<Action> Expand(std::vector<EditorOptions::Input> const& inputs)
{
    std::vector<Action> actions;
    for (auto const& in : inputs)
    {
        double t = in.at;
        actions.push_back({t, XCB_MOTION_NOTIFY, in.x, in.y});
        actions.push_back({t + 0.04, XCB_BUTTON_PRESS, in.x, in.y});
        if (in.kind == EditorOptions::Input::Drag)
        {
            constexpr int kSteps = 8;
            for (int i = 1; i <= kSteps; ++i)
                actions.push_back({t + 0.04 + 0.04 * i, XCB_MOTION_NOTIFY, in.x + (in.x2 - in.x) * i / kSteps,
                                   in.y + (in.y2 - in.y) * i / kSteps});
            actions.push_back({t + 0.04 + 0.04 * (kSteps + 1), XCB_BUTTON_RELEASE, in.x2, in.y2});
            continue;
        }
        actions.push_back({t + 0.08, XCB_BUTTON_RELEASE, in.x, in.y});
        if (in.kind == EditorOptions::Input::DoubleClick)
        {
            // The second click after a fixed short gap, well inside any double-click time.
            actions.push_back({t + 0.14, XCB_BUTTON_PRESS, in.x, in.y});
            actions.push_back({t + 0.18, XCB_BUTTON_RELEASE, in.x, in.y});
        }
    }
    std::stable_sort(actions.begin(), actions.end(),
                     [](Action const& a, Action const& b) { return a.at < b.at; });
    return actions;
}

class HostWindow
{
public:
    bool Open(int width, int height, std::FILE* err)
    {
        int screenNumber = 0;
        connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection))
        {
            Say(err, "cannot open the display (is DISPLAY set?)");
            return false;
        }
        auto it = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        screen = it.data;
        w = width;
        h = height;
        window = xcb_generate_id(connection);
        std::uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0,
                          static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        char const title[] = "vsthost";
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            sizeof title - 1, title);
        xcb_map_window(connection, window);
        xcb_flush(connection);
        // Mapped before the editor opens in it (no window manager: at once).
        auto deadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < deadline)
        {
            xcb_generic_event_t* e = xcb_poll_for_event(connection);
            if (!e)
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            bool mapped = (e->response_type & 0x7f) == XCB_MAP_NOTIFY;
            std::free(e);
            if (mapped) return true;
        }
        Say(err, "the host window was never mapped");
        return false;
    }

    ~HostWindow()
    {
        if (connection)
        {
            if (window) xcb_destroy_window(connection, window);
            xcb_disconnect(connection);
        }
    }

    void Drain()
    {
        while (xcb_generic_event_t* e = xcb_poll_for_event(connection))
            std::free(e);
    }

    // Sends one action through `c` (the script thread's own connection).
    void Send(xcb_connection_t* c, Action const& a) const
    {
        xcb_translate_coordinates_reply_t* r = xcb_translate_coordinates_reply(
            c,
            xcb_translate_coordinates(c, window, screen->root, static_cast<std::int16_t>(a.x),
                                      static_cast<std::int16_t>(a.y)),
            nullptr);
        int rx = r ? r->dst_x : a.x, ry = r ? r->dst_y : a.y;
        std::free(r);
        if (a.type == XCB_MOTION_NOTIFY)
            xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, screen->root,
                                static_cast<std::int16_t>(rx), static_cast<std::int16_t>(ry), 0);
        else
            xcb_test_fake_input(c, a.type, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        // Through a round trip, so the server has the input before the next one is timed.
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }

    // The window's pixels, children included; null on failure. The caller destroys it.
    cairo_surface_t* Capture()
    {
        xcb_get_image_reply_t* image = xcb_get_image_reply(
            connection,
            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, static_cast<std::uint16_t>(w),
                          static_cast<std::uint16_t>(h), ~0u),
            nullptr);
        if (!image) return nullptr;
        cairo_surface_t* out = nullptr;
        int length = xcb_get_image_data_length(image);
        if (image->depth >= 24 && length >= w * h * 4)
        {
            out = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
            unsigned char* dst = cairo_image_surface_get_data(out);
            int stride = cairo_image_surface_get_stride(out);
            std::uint8_t const* src = xcb_get_image_data(image);
            int srcStride = length / h;
            for (int y = 0; y < h; ++y)
                std::memcpy(dst + y * stride, src + y * srcStride, static_cast<std::size_t>(w) * 4);
            cairo_surface_mark_dirty(out);
        }
        std::free(image);
        return out;
    }

    // True when the window shows more than one colour.
    bool ShowsSomething()
    {
        cairo_surface_t* image = Capture();
        if (!image) return false;
        unsigned char const* data = cairo_image_surface_get_data(image);
        int stride = cairo_image_surface_get_stride(image);
        std::uint32_t first = 0;
        std::memcpy(&first, data, 4);
        bool varied = false;
        for (int y = 0; y < h && !varied; ++y)
            for (int x = 0; x < w && !varied; ++x)
            {
                std::uint32_t p = 0;
                std::memcpy(&p, data + y * stride + x * 4, 4);
                varied = (p & 0xffffff) != (first & 0xffffff);
            }
        cairo_surface_destroy(image);
        return varied;
    }

    xcb_connection_t* connection = nullptr;
    xcb_screen_t* screen = nullptr;
    xcb_window_t window = 0;
    int w = 0, h = 0;
};

void IdleFor(VstHost& host, HostWindow& window, double seconds)
{
    auto start = Clock::now();
    for (;;)
    {
        double t = std::chrono::duration<double>(Clock::now() - start).count();
        if (t >= seconds) break;
        host.Dispatch(effEditIdle);
        window.Drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The editor's whole life on the calling thread; 0 or the exit code.
int EditorSession(VstHost& host, EditorOptions const& options, std::FILE* out, std::FILE* err)
{
    ERect* rect = nullptr;
    if (host.Dispatch(effEditGetRect, 0, 0, &rect) == 0 || rect == nullptr)
    {
        Say(err, "the plug-in reports no editor rectangle");
        return 1;
    }
    int const width = rect->right - rect->left, height = rect->bottom - rect->top;
    if (width <= 0 || height <= 0 || width > 8192 || height > 8192)
    {
        Say(err, "the plug-in's editor rectangle is empty or too large");
        return 1;
    }
    HostWindow window;
    if (!window.Open(width, height, err)) return 1;

    int const rounds = options.reopen ? 2 : 1;
    for (int round = 0; round < rounds; ++round)
    {
        if (host.Dispatch(effEditOpen, 0, 0,
                          reinterpret_cast<void*>(static_cast<std::uintptr_t>(window.window))) == 0)
        {
            Say(err, "the plug-in did not open its editor");
            return 1;
        }
        // Scripted input starts once the editor's first frame is on the screen.
        auto deadline = Clock::now() + std::chrono::seconds(5);
        bool shown = false;
        while (!shown && Clock::now() < deadline)
        {
            host.Dispatch(effEditIdle);
            window.Drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            shown = window.ShowsSomething();
        }
        if (!shown)
        {
            host.Dispatch(effEditClose);
            Say(err, "the editor showed nothing");
            return 1;
        }
        // The moment the scripted input's times count from, for whoever watches the run.
        std::fprintf(out, "editor: first frame shown\n");
        std::fflush(out);
        std::vector<Action> actions = round + 1 == rounds ? Expand(options.inputs) : std::vector<Action>{};
        double runFor = options.runSeconds;
        if (!actions.empty()) runFor = std::max(runFor, actions.back().at + 0.3);
        // The input comes from a thread and a connection of its own: a press handler of the
        // editor may keep the idle call (and this thread) until the release comes.
        std::thread script;
        if (!actions.empty())
            script = std::thread(
                [&actions, &window]
                {
                    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
                    if (xcb_connection_has_error(c))
                    {
                        xcb_disconnect(c);
                        return;
                    }
                    auto start = Clock::now();
                    for (Action const& a : actions)
                    {
                        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                                  std::chrono::duration<double>(a.at)));
                        window.Send(c, a);
                    }
                    xcb_disconnect(c);
                });
        double const span = round + 1 == rounds ? runFor : 0.2;
        // The session ends on time even while a menu or a modal dialog keeps the idle call (and
        // this thread): the editor is then closed from another thread, as a host's close does.
        std::mutex endMutex;
        std::condition_variable endChanged;
        bool idled = false;
        std::thread ender(
            [&]
            {
                std::unique_lock<std::mutex> lock(endMutex);
                auto const limit = std::chrono::duration<double>(span + kLateCloseSeconds);
                if (endChanged.wait_for(lock, limit, [&] { return idled; })) return;
                lock.unlock();
                host.Dispatch(effEditClose);
            });
        IdleFor(host, window, span);
        {
            std::lock_guard<std::mutex> lock(endMutex);
            idled = true;
        }
        endChanged.notify_all();
        ender.join();
        if (script.joinable()) script.join();
        if (round + 1 == rounds && !options.screenshot.empty())
        {
            cairo_surface_t* image = window.Capture();
            std::string error = "cannot capture the editor's window";
            bool written =
                image && options.screenshotFile != nullptr && WritePng(image, *options.screenshotFile, error);
            if (image) cairo_surface_destroy(image);
            if (!written)
            {
                host.Dispatch(effEditClose);
                std::fprintf(err, "vsthost: %s\n", error.c_str());
                return 1;
            }
        }
        host.Dispatch(effEditClose);
        window.Drain();
    }
    return 0;
}
} // namespace

int ParseEditorOption(std::vector<std::string> const& args, std::size_t& i, EditorOptions& o, std::FILE* err)
{
    std::string const& arg = args[i];
    auto value = [&](std::string& out)
    {
        if (i + 1 >= args.size()) return false;
        out = args[++i];
        return true;
    };
    std::string v;
    if (arg == "--print-automation")
        o.printAutomation = true;
    else if (arg == "--print-parameters")
        o.printParameters = true;
    else if (arg == "--editor-thread")
        o.editorThread = true;
    else if (arg == "--reopen")
        o.reopen = true;
    else if (arg == "--screenshot")
    {
        if (!value(v))
        {
            Say(err, "--screenshot wants a file name");
            return -1;
        }
        o.screenshot = v;
    }
    else if (arg == "--run")
    {
        char* end = nullptr;
        double seconds = value(v) ? std::strtod(v.c_str(), &end) : -1.0;
        if (v.empty() || *end != '\0' || !(seconds >= 0.0 && seconds <= 3600.0))
        {
            Say(err, "--run wants a number of seconds from 0 up to 3600");
            return -1;
        }
        o.runSeconds = seconds;
    }
    else if (arg == "--click" || arg == "--double-click" || arg == "--drag")
    {
        EditorOptions::Input input;
        bool drag = arg == "--drag";
        input.kind =
            drag ? EditorOptions::Input::Drag
                 : (arg == "--click" ? EditorOptions::Input::Click : EditorOptions::Input::DoubleClick);
        if (!value(v) || !ParseInput(v, drag, input))
        {
            std::fprintf(err, "vsthost: %s wants %s@SECONDS\n", arg.c_str(), drag ? "X,Y:X2,Y2" : "X,Y");
            return -1;
        }
        o.inputs.push_back(input);
    }
    else
        return 0;
    return 1;
}

bool WritePng(cairo_surface_t* image, OutputFile& file, std::string& error)
{
    auto const write = [](void* closure, unsigned char const* data, unsigned int length)
    {
        return static_cast<OutputFile*>(closure)->Write(data, length) ? CAIRO_STATUS_SUCCESS
                                                                      : CAIRO_STATUS_WRITE_ERROR;
    };
    if (cairo_surface_write_to_png_stream(image, write, &file) != CAIRO_STATUS_SUCCESS) file.Fail();
    return file.Commit(error);
}

int RunEditorMode(VstHost& host, EditorOptions const& options, std::FILE* out, std::FILE* err)
{
    std::atomic<bool> stop{false};
    host.SetPlaying(true);
    // The audio thread renders blocks at about the pace of real time.
    std::thread audio(
        [&]
        {
            constexpr int kFrames = 256;
            std::vector<float> left(kFrames), right(kFrames);
            float* outputs[2] = {left.data(), right.data()};
            while (!stop.load())
            {
                host.ProcessBlock(nullptr, outputs, kFrames);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    host.ClearAutomation();
    int code = 0;
    if (options.editorThread)
    {
        // As some hosts do: the editor's whole life on a thread that is not the main one.
        std::thread editor([&] { code = EditorSession(host, options, out, err); });
        editor.join();
    }
    else
        code = EditorSession(host, options, out, err);
    stop.store(true);
    audio.join();
    host.SetPlaying(false);

    if (options.printAutomation)
        for (VstHost::Automation const& a : host.GetAutomation())
            std::fprintf(out, "automation %d %.6f\n", a.index, static_cast<double>(a.value));
    if (options.printParameters)
        for (int i = 0; i < host.GetEffect()->numParams; ++i)
            std::fprintf(out, "parameter %d %.6f\n", i, static_cast<double>(host.GetParameter(i)));
    return code;
}
