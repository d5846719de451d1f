#include "authost/ViewMode.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <thread>

#include <cairo.h>
#include <xcb/xcb.h>

#include "authost/AUHost.h"
#include "platform/au/AUHostCalls.h"
#include "platform/au/CarbonView.h"
#include "vsthost/EditorMode.h" // WritePng

namespace
{
using Clock = std::chrono::steady_clock;
using Input = ViewOptions::Input;

// The options of the input steps, in the order of their kinds.
constexpr char const* kInputOptions[] = {"--click", "--press", "--move", "--release", "--type"};

bool ParsePair(std::string const& text, char separator, double& a, double& b)
{
    std::size_t const at = text.find(separator);
    if (at == std::string::npos) return false;
    char* end = nullptr;
    std::string const first = text.substr(0, at);
    std::string const second = text.substr(at + 1);
    a = std::strtod(first.c_str(), &end);
    if (first.empty() || *end != '\0') return false;
    b = std::strtod(second.c_str(), &end);
    return !second.empty() && *end == '\0';
}

// A top-level X window the view embeds in.
class X11Window
{
public:
    bool Open(int width, int height, std::FILE* err)
    {
        int screenNumber = 0;
        connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection))
        {
            std::fprintf(err, "authost: cannot open the display (is DISPLAY set?)\n");
            return false;
        }
        auto it = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        xcb_screen_t* screen = it.data;
        w = width;
        h = height;
        window = xcb_generate_id(connection);
        std::uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0,
                          static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        xcb_map_window(connection, window);
        xcb_flush(connection);
        auto const deadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < deadline)
        {
            xcb_generic_event_t* e = xcb_poll_for_event(connection);
            if (e == nullptr)
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            bool const mapped = (e->response_type & 0x7f) == XCB_MAP_NOTIFY;
            std::free(e);
            if (mapped) return true;
        }
        std::fprintf(err, "authost: the host window was never mapped\n");
        return false;
    }

    ~X11Window()
    {
        if (connection == nullptr) return;
        if (window != 0) xcb_destroy_window(connection, window);
        xcb_disconnect(connection);
    }

    void Drain()
    {
        while (xcb_generic_event_t* e = xcb_poll_for_event(connection))
            std::free(e);
    }

    // The window's pixels, children included; null on failure. The caller destroys it.
    cairo_surface_t* Capture()
    {
        xcb_get_image_reply_t* image = xcb_get_image_reply(
            connection,
            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, static_cast<std::uint16_t>(w),
                          static_cast<std::uint16_t>(h), ~0u),
            nullptr);
        if (image == nullptr) return nullptr;
        cairo_surface_t* out = nullptr;
        int const length = xcb_get_image_data_length(image);
        if (image->depth >= 24 && length >= w * h * 4)
        {
            out = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
            unsigned char* dst = cairo_image_surface_get_data(out);
            int const stride = cairo_image_surface_get_stride(out);
            std::uint8_t const* src = xcb_get_image_data(image);
            int const srcStride = length / h;
            for (int y = 0; y < h; ++y)
                std::memcpy(dst + y * stride, src + y * srcStride, static_cast<std::size_t>(w) * 4);
            cairo_surface_mark_dirty(out);
        }
        std::free(image);
        return out;
    }

    xcb_connection_t* connection = nullptr;
    xcb_window_t window = 0;
    int w = 0, h = 0;
};

// One open view component instance.
class View
{
public:
    explicit View(ComponentEntryPoint entry) { record.entry = entry; }
    ~View() { Close(); }
    OSStatus Open()
    {
        OSStatus const status = OpenAComponent(&record);
        open = status == noErr;
        return status;
    }
    OSStatus Close()
    {
        if (!open) return noErr;
        open = false;
        return CloseComponent(&record);
    }
    ComponentInstanceRecord record;
    bool open = false;
};

struct Session
{
    AUHost& host;
    ViewOptions const& options;
    std::FILE* out;
    std::FILE* err;
    HostWindowRecord window;
    std::vector<std::uint32_t> pixels;
    std::vector<HostWindowEvent> events;
    X11Window x11;

    void Idle(View& view, int count)
    {
        for (int i = 0; i < count; ++i)
        {
            if (options.kind == ViewOptions::X11) x11.Drain();
            AudioUnitCarbonViewIdle(&view.record);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    void Queue(std::int32_t type, int x, int y, std::string const& text = {})
    {
        if (window.eventCount >= window.eventCapacity) return;
        HostWindowEvent e;
        e.type = type;
        e.x = x;
        e.y = y;
        e.button = type == HostWindowEvent::kKey ? 0 : 1;
        std::memcpy(e.text, text.data(), std::min(text.size(), sizeof e.text - 1));
        events[window.eventCount++] = e;
    }

    // One input step into the window's queue.
    void Play(Input const& in)
    {
        if (in.kind == Input::Type)
        {
            // One key per character (its UTF-8 bytes).
            for (std::size_t at = 0; at < in.text.size();)
            {
                std::size_t length = 1;
                while (at + length < in.text.size() &&
                       (static_cast<unsigned char>(in.text[at + length]) & 0xC0) == 0x80)
                    ++length;
                Queue(HostWindowEvent::kKey, 0, 0, in.text.substr(at, length));
                at += length;
            }
        }
        else if (in.kind == Input::Move)
            Queue(HostWindowEvent::kMotion, in.x, in.y);
        else
        {
            // A click is a press and its release.
            if (in.kind != Input::Release) Queue(HostWindowEvent::kPress, in.x, in.y);
            if (in.kind != Input::Press) Queue(HostWindowEvent::kRelease, in.x, in.y);
        }
    }

    bool Snapshot(std::string& error)
    {
        cairo_surface_t* image = nullptr;
        if (options.kind == ViewOptions::Headless)
        {
            cairo_surface_t* shared = cairo_image_surface_create_for_data(
                reinterpret_cast<unsigned char*>(pixels.data()), CAIRO_FORMAT_ARGB32, window.width,
                window.height, window.width * 4);
            image =
                cairo_surface_create_similar_image(shared, CAIRO_FORMAT_ARGB32, window.width, window.height);
            cairo_t* cr = cairo_create(image);
            cairo_set_source_surface(cr, shared, 0, 0);
            cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
            cairo_paint(cr);
            cairo_destroy(cr);
            cairo_surface_destroy(shared);
        }
        else
            image = x11.Capture();
        if (image == nullptr) return false;
        bool const written = options.snapshotFile != nullptr && WritePng(image, *options.snapshotFile, error);
        cairo_surface_destroy(image);
        return written;
    }

    // One view: open, create, idle, input, snapshot, close.
    int Run(ComponentEntryPoint entry, bool last)
    {
        View view(entry);
        OSStatus status = view.Open();
        if (status != noErr)
        {
            std::fprintf(err, "authost: the view component refused to open (status %d)\n",
                         static_cast<int>(status));
            return 1;
        }
        Float32Point const location{options.x, options.y};
        Float32Point const size{0.0f, 0.0f};
        PaneRef pane = nullptr;
        status = AudioUnitCarbonViewCreate(&view.record, host.GetUnit(), &window, nullptr, &location, &size,
                                           &pane);
        if (status != noErr || pane == nullptr)
        {
            std::fprintf(err, "authost: the view was not created (status %d)\n", static_cast<int>(status));
            return 1;
        }
        CarbonRect title;
        GetWindowBounds(&window, kWindowTitleBarRgn, &title);
        std::fprintf(out, "view: pane %dx%d, editor at (0,%d)\n", pane->width, pane->height,
                     title.bottom - title.top);
        Idle(view, options.idles);
        for (Input const& in : options.inputs)
        {
            host.ClearNotifications();
            Play(in);
            Idle(view, options.idles);
            for (AudioUnitParameter const& p : host.GetNotifications())
            {
                // The step's name, and where it went.
                std::fprintf(out, "%s", kInputOptions[in.kind] + 2);
                if (in.kind != Input::Type) std::fprintf(out, " (%d,%d)", in.x, in.y);
                std::fprintf(out, ": parameter %u announced, GetParameter %.4f\n",
                             static_cast<unsigned>(p.mParameterID), host.GetParameter(p.mParameterID));
            }
        }
        if (last && !options.snapshot.empty())
        {
            std::string error = "cannot capture the view for the snapshot " + options.snapshot;
            if (!Snapshot(error))
            {
                std::fprintf(err, "authost: %s\n", error.c_str());
                return 1;
            }
            std::fprintf(out, "view: snapshot %s\n", options.snapshot.c_str());
        }
        status = view.Close();
        if (status != noErr)
        {
            std::fprintf(err, "authost: the view failed to close (status %d)\n", static_cast<int>(status));
            return 1;
        }
        std::fprintf(out, "view: closed\n");
        return 0;
    }
};
} // namespace

int ParseViewOption(std::vector<std::string> const& args, std::size_t& i, ViewOptions& o, std::FILE* err)
{
    std::string const& arg = args[i];
    auto const input = std::find(std::begin(kInputOptions), std::end(kInputOptions), arg);
    bool const isInput = input != std::end(kInputOptions);
    bool const takesValue = arg == "--view" || arg == "--window" || arg == "--title-bar" ||
                            arg == "--location" || arg == "--idle" || isInput || arg == "--snapshot";
    if (arg == "--reopen")
    {
        o.reopen = true;
        return 1;
    }
    if (!takesValue) return 0;
    if (i + 1 >= args.size())
    {
        std::fprintf(err, "authost: %s wants a value\n", arg.c_str());
        return -1;
    }
    std::string const& v = args[++i];
    double a = 0.0, b = 0.0;
    bool ok = true;
    if (arg == "--view")
    {
        ok = v == "headless" || v == "x11";
        o.kind = v == "x11" ? ViewOptions::X11 : ViewOptions::Headless;
    }
    else if (arg == "--window")
    {
        ok = ParsePair(v, 'x', a, b) && a >= 1 && a <= 8192 && b >= 1 && b <= 8192;
        o.width = static_cast<int>(a);
        o.height = static_cast<int>(b);
    }
    else if (arg == "--title-bar")
    {
        a = std::strtod(v.c_str(), nullptr);
        ok = a >= 0 && a <= 200;
        o.titleBar = static_cast<int>(a);
    }
    else if (arg == "--location")
    {
        ok = ParsePair(v, ',', a, b);
        o.x = static_cast<float>(a);
        o.y = static_cast<float>(b);
    }
    else if (arg == "--idle")
    {
        a = std::strtod(v.c_str(), nullptr);
        ok = a >= 1 && a <= 10000;
        o.idles = static_cast<int>(a);
    }
    else if (isInput)
    {
        Input in;
        in.kind = static_cast<Input::Kind>(input - std::begin(kInputOptions));
        if (in.kind == Input::Type)
        {
            ok = !v.empty();
            in.text = v;
        }
        else
        {
            ok = ParsePair(v, ',', a, b) && a >= 0 && b >= 0 && a < 8192 && b < 8192;
            in.x = static_cast<int>(a);
            in.y = static_cast<int>(b);
        }
        o.inputs.push_back(in);
    }
    else if (arg == "--snapshot")
        o.snapshot = v;
    if (!ok)
    {
        std::fprintf(err, "authost: bad value '%s' for %s\n", v.c_str(), arg.c_str());
        return -1;
    }
    return 1;
}

int RunViewMode(AUHost& host, ViewOptions const& options, std::FILE* out, std::FILE* err)
{
    ComponentEntryPoint const entry = host.GetLibrary() ? host.GetLibrary()->GetViewEntry() : nullptr;
    if (entry == nullptr)
    {
        std::fprintf(err, "authost: the component registers no view\n");
        return 1;
    }
    if (options.kind == ViewOptions::X11 && !options.inputs.empty())
    {
        std::fprintf(err, "authost: input is scripted in headless windows only\n");
        return 2;
    }
    Session s{host, options, out, err, {}, {}, {}, {}};
    s.window.width = options.width;
    s.window.height = options.height;
    if (options.kind == ViewOptions::X11)
    {
        if (!s.x11.Open(options.width, options.height, err)) return 1;
        s.window.kind = kHostWindowX11;
        s.window.x11Window = s.x11.window;
    }
    else
    {
        s.pixels.assign(static_cast<std::size_t>(options.width) * static_cast<std::size_t>(options.height),
                        0xff000000u);
        s.events.resize(64);
        s.window.kind = kHostWindowHeadless;
        s.window.titleBarHeight = options.titleBar;
        s.window.pixels = s.pixels.data();
        s.window.events = s.events.data();
        s.window.eventCapacity = static_cast<std::uint32_t>(s.events.size());
    }
    if (options.reopen)
    {
        int const first = s.Run(entry, false);
        if (first != 0) return first;
    }
    return s.Run(entry, true);
}
