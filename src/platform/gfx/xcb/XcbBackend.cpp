#include "platform/gfx/xcb/XcbBackend.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <cairo-xcb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"

namespace gfx
{
namespace
{
std::mutex instanceMutex;
XcbBackend* instance = nullptr;
int users = 0;
std::atomic<int> made{0};
std::atomic<int> deleted{0};

// The window and the cairo surface over it, per surface.
struct XSurface
{
    xcb_window_t window = 0;
    cairo_surface_t* target = nullptr;
    bool embedded = false;
    bool dead = false; // its window went away with the host's
    // Who had the keyboard when this surface took it; it gets it back when the surface goes.
    bool tookFocus = false;
    xcb_window_t focusBefore = XCB_NONE;
    // An embedded surface watches the host's window and its client top-level: whether the host
    // shows the editor.
    xcb_window_t host = 0;
    xcb_window_t topLevel = 0;
    // Every window from the host's up to the root's child: a manager reparents and marks the
    // top-level in steps, and a lookup made between two of them may stop at its frame. A change
    // on any of them looks the top-level up again.
    std::vector<xcb_window_t> ancestors;
    bool hidden = false;
};

XSurface* Data(Surface const& surface)
{
    return static_cast<XSurface*>(surface.backendData);
}

xcb_visualtype_t* FindVisual(xcb_screen_t* screen, xcb_visualid_t id)
{
    for (auto depth = xcb_screen_allowed_depths_iterator(screen); depth.rem; xcb_depth_next(&depth))
        for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem; xcb_visualtype_next(&visual))
            if (visual.data->visual_id == id) return visual.data;
    return nullptr;
}

constexpr std::uint32_t kEventMask = XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS |
                                     XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION |
                                     XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_STRUCTURE_NOTIFY;

unsigned Modifiers(std::uint16_t state)
{
    unsigned m = 0;
    if (state & XCB_MOD_MASK_SHIFT) m |= kModShift;
    if (state & XCB_MOD_MASK_CONTROL) m |= kModControl;
    if (state & XCB_MOD_MASK_1) m |= kModAlt;
    if (state & XCB_MOD_MASK_4) m |= kModSuper;
    return m;
}

TimePoint StampNow()
{
    return Clock::now();
}
} // namespace

struct XcbBackend::Atoms
{
    xcb_atom_t clipboard = 0, utf8 = 0, targets = 0, property = 0, windowType = 0, dialogType = 0,
               motifHints = 0, protocols = 0, deleteWindow = 0, netWmState = 0, modal = 0, wmState = 0,
               wmSelection = 0;
};

struct XcbBackend::XkbState
{
    xkb_context* context = nullptr;
    xkb_keymap* keymap = nullptr;
    xkb_state* state = nullptr;
    ~XkbState()
    {
        if (state) xkb_state_unref(state);
        if (keymap) xkb_keymap_unref(keymap);
        if (context) xkb_context_unref(context);
    }
};

void XcbBackend::EventDeleter::operator()(xcb_generic_event_t* e) const
{
    std::free(e);
}

XcbBackend* XcbBackend::Acquire()
{
    std::lock_guard<std::mutex> lock(instanceMutex);
    if (!instance)
    {
        char const* display = std::getenv("DISPLAY");
        if (!display || !*display) return nullptr;
        int screen = 0;
        xcb_connection_t* c = xcb_connect(display, &screen);
        if (!c || xcb_connection_has_error(c))
        {
            if (c) xcb_disconnect(c);
            return nullptr;
        }
        auto* backend = new XcbBackend(c, screen);
        if (!backend->Init())
        {
            delete backend;
            return nullptr;
        }
        instance = backend;
        users = 0;
    }
    ++users;
    return instance;
}

void XcbBackend::Release()
{
    std::lock_guard<std::mutex> lock(instanceMutex);
    if (!instance || users == 0) return;
    if (--users > 0) return;
    delete instance;
    instance = nullptr;
}

XcbBackend* XcbBackend::Current()
{
    std::lock_guard<std::mutex> lock(instanceMutex);
    return instance;
}

int XcbBackend::Made()
{
    return made.load();
}

int XcbBackend::Deleted()
{
    return deleted.load();
}

XcbBackend::XcbBackend(xcb_connection_t* c, int s) : connection(c), screenNumber(s), atoms(new Atoms)
{
    ++made;
}

XcbBackend::~XcbBackend()
{
    ++deleted;
    if (!lost)
    {
        if (busyCursor) xcb_free_cursor(connection, busyCursor);
        if (helperWindow) xcb_destroy_window(connection, helperWindow);
        xcb_flush(connection);
    }
    xkb.reset();
    // cairo keeps a device per connection; a later connection at the same address must not
    // find this one's.
    if (device)
    {
        cairo_device_finish(static_cast<cairo_device_t*>(device));
        cairo_device_destroy(static_cast<cairo_device_t*>(device));
    }
    xcb_disconnect(connection);
    if (wakeFd >= 0) close(wakeFd);
}

bool XcbBackend::Init()
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) return false;
    screen = it.data;
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) return false;

    char const* names[] = {"CLIPBOARD",         "UTF8_STRING",         "TARGETS",
                           "TORVANE_SELECTION", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DIALOG",
                           "_MOTIF_WM_HINTS",   "WM_PROTOCOLS",        "WM_DELETE_WINDOW",
                           "_NET_WM_STATE",     "_NET_WM_STATE_MODAL", "WM_STATE"};
    xcb_atom_t* slots[] = {&atoms->clipboard,    &atoms->utf8,       &atoms->targets,    &atoms->property,
                           &atoms->windowType,   &atoms->dialogType, &atoms->motifHints, &atoms->protocols,
                           &atoms->deleteWindow, &atoms->netWmState, &atoms->modal,      &atoms->wmState};
    xcb_intern_atom_cookie_t cookies[std::size(names)];
    for (std::size_t i = 0; i < std::size(names); ++i)
        cookies[i] =
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(names[i])), names[i]);
    // A window manager owns the selection WM_Sn of its screen.
    std::string const managerSelection = "WM_S" + std::to_string(screenNumber);
    xcb_intern_atom_cookie_t managerCookie = xcb_intern_atom(
        connection, 0, static_cast<std::uint16_t>(managerSelection.size()), managerSelection.c_str());
    for (std::size_t i = 0; i < std::size(names); ++i)
    {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookies[i], nullptr);
        if (!reply) return false;
        *slots[i] = reply->atom;
        std::free(reply);
    }
    if (xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, managerCookie, nullptr))
    {
        atoms->wmSelection = reply->atom;
        std::free(reply);
    }
    else
        return false;

    auto* scr = static_cast<xcb_screen_t*>(screen);
    helperWindow = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, helperWindow, scr->root, -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);

    // The core cursor font's "watch" glyph.
    xcb_font_t font = xcb_generate_id(connection);
    xcb_open_font(connection, font, 6, "cursor");
    busyCursor = xcb_generate_id(connection);
    xcb_create_glyph_cursor(connection, busyCursor, font, font, 150, 151, 0, 0, 0, 0xffff, 0xffff, 0xffff);
    xcb_close_font(connection, font);

    xkb = std::make_unique<XkbState>();
    if (xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr))
    {
        xkb->context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        std::int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
        if (xkb->context && device >= 0)
            xkb->keymap =
                xkb_x11_keymap_new_from_device(xkb->context, connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (xkb->keymap) xkb->state = xkb_x11_state_new_from_device(xkb->keymap, connection, device);
    }
    xcb_flush(connection);
    return !xcb_connection_has_error(connection);
}

void XcbBackend::Flush()
{
    if (lost) return;
    xcb_flush(connection);
    CheckConnection();
}

void XcbBackend::CheckConnection()
{
    if (!lost && xcb_connection_has_error(connection)) MarkLost();
}

void XcbBackend::MarkLost()
{
    lost = true;
    RunLoop::AbandonNested();
}

std::uint32_t XcbBackend::WindowOf(Surface const& surface)
{
    XSurface* d = Data(surface);
    return d ? d->window : 0;
}

Surface* XcbBackend::Find(std::uint32_t window) const
{
    for (Surface* s : Surface::All())
        if (&s->GetBackend() == this && Data(*s) && Data(*s)->window == window) return s;
    return nullptr;
}

bool XcbBackend::WindowSize(std::uint32_t window, int& width, int& height)
{
    if (lost || window == 0) return false;
    xcb_generic_error_t* error = nullptr;
    xcb_get_geometry_reply_t* reply =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), &error);
    std::free(error);
    CheckConnection();
    if (!reply) return false;
    width = reply->width;
    height = reply->height;
    std::free(reply);
    return true;
}

TimePoint XcbBackend::Now()
{
    return Clock::now();
}

bool XcbBackend::ReadEvents()
{
    if (lost) return false;
    bool any = false;
    while (xcb_generic_event_t* e = xcb_poll_for_event(connection))
    {
        queue.emplace_back(e);
        any = true;
    }
    CheckConnection();
    return any;
}

bool XcbBackend::NextEvent(InputEvent& event)
{
    for (;;)
    {
        if (queue.empty() && !ReadEvents()) return false;
        std::unique_ptr<xcb_generic_event_t, EventDeleter> e = std::move(queue.front());
        queue.pop_front();
        if (HandleInternal(e.get())) continue;
        if ((e->response_type & 0x7f) == XCB_MOTION_NOTIFY)
        {
            // Motion already queued behind it for the same window makes it stale: a host that
            // idles seldom gets the pointer where it is now, not where it was.
            if (queue.empty()) ReadEvents();
            auto const* m = reinterpret_cast<xcb_motion_notify_event_t const*>(e.get());
            if (!queue.empty() && (queue.front()->response_type & 0x7f) == XCB_MOTION_NOTIFY &&
                reinterpret_cast<xcb_motion_notify_event_t const*>(queue.front().get())->event == m->event)
                continue;
        }
        if (Translate(e.get(), event)) return true;
    }
}

void XcbBackend::Wait(std::optional<TimePoint> until)
{
    std::uint64_t count = 0;
    if (read(wakeFd, &count, sizeof count) == sizeof count) return;
    if (!queue.empty()) return;
    if (lost || RunLoop::Abandoned())
    {
        // Nothing will come from the server: wait for the wake or the time only, briefly.
        pollfd fd{wakeFd, POLLIN, 0};
        int ms = 20;
        if (until)
            ms = std::clamp<int>(
                static_cast<int>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(*until - Now()).count()),
                0, 20);
        poll(&fd, 1, ms);
        return;
    }
    xcb_flush(connection);
    if (xcb_generic_event_t* e = xcb_poll_for_queued_event(connection))
    {
        queue.emplace_back(e);
        return;
    }
    pollfd fds[2] = {{xcb_get_file_descriptor(connection), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int timeout = -1;
    if (until)
    {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - Now()).count();
        timeout = static_cast<int>(std::clamp<long long>(left, 0, 60000));
    }
    int r = poll(fds, 2, timeout);
    if (r < 0 && errno != EINTR) MarkLost();
    if (r > 0 && (fds[0].revents & (POLLHUP | POLLERR))) ReadEvents();
    if (fds[1].revents & POLLIN)
    {
        ssize_t drained = read(wakeFd, &count, sizeof count);
        (void)drained;
    }
}

void XcbBackend::Wake()
{
    std::uint64_t one = 1;
    ssize_t written = write(wakeFd, &one, sizeof one);
    (void)written;
}

void XcbBackend::SurfaceCreated(Surface& surface)
{
    auto* d = new XSurface;
    surface.backendData = d;
    if (lost) return;
    auto* scr = static_cast<xcb_screen_t*>(screen);
    xcb_window_t parent = scr->root;
    std::uint32_t overrideRedirect = 0;
    if (surface.Kind() == SurfaceKind::Embedded)
    {
        parent = static_cast<xcb_window_t>(reinterpret_cast<std::uintptr_t>(surface.HostHandle()));
        d->embedded = true;
    }
    else if (surface.Kind() == SurfaceKind::Popup)
        overrideRedirect = 1;

    d->window = xcb_generate_id(connection);
    std::uint32_t values[] = {scr->black_pixel, overrideRedirect, kEventMask};
    xcb_void_cookie_t made = xcb_create_window_checked(
        connection, XCB_COPY_FROM_PARENT, d->window, parent, 0, 0,
        static_cast<std::uint16_t>(surface.Width()), static_cast<std::uint16_t>(surface.Height()), 0,
        XCB_WINDOW_CLASS_INPUT_OUTPUT, scr->root_visual,
        XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    if (xcb_generic_error_t* error = xcb_request_check(connection, made))
    {
        // The parent is gone: the surface stays without a window and draws nowhere.
        std::free(error);
        d->window = 0;
        d->dead = true;
        CheckConnection();
        return;
    }
    if (surface.Kind() == SurfaceKind::Frame)
    {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, d->window, atoms->windowType, XCB_ATOM_ATOM,
                            32, 1, &atoms->dialogType);
        std::uint32_t hints[5] = {2, 0, 0, 0, 0}; // decorations: none
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, d->window, atoms->motifHints,
                            atoms->motifHints, 32, 5, hints);
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, d->window, atoms->protocols, XCB_ATOM_ATOM, 32,
                            1, &atoms->deleteWindow);
        char const name[] = "Torvane";
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, d->window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING,
                            8, sizeof name - 1, name);
    }
    if (busy)
    {
        std::uint32_t cursor = busyCursor;
        xcb_change_window_attributes(connection, d->window, XCB_CW_CURSOR, &cursor);
    }
    xcb_visualtype_t* visual = FindVisual(scr, scr->root_visual);
    d->target = cairo_xcb_surface_create(connection, d->window, visual, surface.Width(), surface.Height());
    if (!device) device = cairo_device_reference(cairo_surface_get_device(d->target));
    // An embedded surface is shown with its host window; it paints once mapped.
    if (d->embedded)
    {
        xcb_map_window(connection, d->window);
        d->host = static_cast<xcb_window_t>(reinterpret_cast<std::uintptr_t>(surface.HostHandle()));
        WatchHost(surface);
    }
    Flush();
}

int XcbBackend::WindowState(std::uint32_t window)
{
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, atoms->wmState, atoms->wmState, 0, 2), nullptr);
    CheckConnection();
    int state = -1;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
    {
        std::uint32_t value = 0;
        std::memcpy(&value, xcb_get_property_value(reply), 4);
        state = static_cast<int>(value);
    }
    std::free(reply);
    return state;
}

std::uint32_t XcbBackend::ClientTopLevel(std::uint32_t window, std::uint32_t known)
{
    // The nearest window up from `window` (itself included) that a window manager manages
    // (it carries WM_STATE), else the root's child: a manager's frame is never the answer. A
    // manager reparents a top-level before it gives it WM_STATE: meanwhile the one known
    // before stays the answer while it is still above `window`.
    auto* scr = static_cast<xcb_screen_t*>(screen);
    std::uint32_t current = window;
    bool knownAbove = false;
    for (int depth = 0; depth < 64 && current && !lost; ++depth)
    {
        if (WindowState(current) >= 0) return current;
        knownAbove = knownAbove || (known != 0 && current == known);
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(connection, xcb_query_tree(connection, current), nullptr);
        CheckConnection();
        if (!tree) return knownAbove ? known : 0;
        std::uint32_t parent = tree->parent;
        std::free(tree);
        if (parent == scr->root || parent == 0) return knownAbove ? known : current;
        current = parent;
    }
    return knownAbove ? known : 0;
}

bool XcbBackend::ManagerRunning()
{
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, atoms->wmSelection), nullptr);
    CheckConnection();
    bool const running = reply && reply->owner != XCB_NONE;
    std::free(reply);
    return running;
}

void XcbBackend::WatchHost(Surface& embedded)
{
    XSurface* d = Data(embedded);
    if (lost || !d || !d->host) return;
    // Other clients' windows: only the structure and the properties, never input.
    std::uint32_t const mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    auto* scr = static_cast<xcb_screen_t*>(screen);
    d->ancestors.clear();
    for (xcb_window_t w = d->host; w != 0 && w != scr->root && d->ancestors.size() < 64 && !lost;)
    {
        xcb_change_window_attributes(connection, w, XCB_CW_EVENT_MASK, &mask);
        d->ancestors.push_back(w);
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(connection, xcb_query_tree(connection, w), nullptr);
        CheckConnection();
        w = tree ? tree->parent : 0;
        std::free(tree);
    }
    d->topLevel = ClientTopLevel(d->host, d->topLevel);
    // What changed before the selection took effect is read after it.
    Flush();
    UpdateHostState(embedded);
}

void XcbBackend::UpdateHostState(Surface& embedded)
{
    XSurface* d = Data(embedded);
    if (lost || !d || !d->embedded) return;
    auto mapState = [this](std::uint32_t window)
    {
        xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, window), nullptr);
        CheckConnection();
        int const state = reply ? reply->map_state : -1; // -1: the window is gone
        std::free(reply);
        return state;
    };
    bool const manager = ManagerRunning();
    int const host = mapState(d->host);
    bool hidden = host < 0 || d->dead;
    // A manager unmaps the client top-level it iconifies or keeps on another desktop: its
    // WM_STATE says whether it is withdrawn. A window inside it is unmapped only by its client.
    if (!hidden && (d->host != d->topLevel || !manager)) hidden = host == XCB_MAP_STATE_UNMAPPED;
    if (!hidden && d->topLevel)
    {
        if (manager)
        {
            int const state = WindowState(d->topLevel);
            hidden = state < 0 || state == 0; // none, or WithdrawnState
        }
        else
            hidden = mapState(d->topLevel) <= XCB_MAP_STATE_UNMAPPED;
    }
    if (lost || hidden == d->hidden) return;
    d->hidden = hidden;
    EditorHidden(embedded, hidden);
}

void XcbBackend::EditorHidden(Surface& embedded, bool hidden)
{
    // Every nested loop of the editor ends (its dialogs and menus as cancelled), and one started
    // meanwhile does not wait, while the host hides it; other editors go on.
    if (hidden)
        RunLoop::Abandon(&embedded);
    else
        RunLoop::ShowAgain(&embedded);
}

bool XcbBackend::Hidden(Surface const& surface) const
{
    Surface const* top = &surface;
    while (top->Owner())
        top = top->Owner();
    XSurface const* d = Data(*top);
    return d && d->embedded && d->hidden;
}

std::uint32_t XcbBackend::TransientOwner(Surface const& frame)
{
    // The window that raised it: a dialog for an alert or a nested dialog, else the editor's
    // client top-level, looked up now (a manager's frame changes with every hide and show).
    Surface const* owner = frame.Owner();
    while (owner && owner->Kind() == SurfaceKind::Popup)
        owner = owner->Owner();
    if (!owner || !Data(*owner)) return 0;
    if (owner->Kind() == SurfaceKind::Frame) return Data(*owner)->dead ? 0 : Data(*owner)->window;
    return Data(*owner)->host ? ClientTopLevel(Data(*owner)->host, Data(*owner)->topLevel) : 0;
}

void XcbBackend::SurfaceDestroyed(Surface& surface)
{
    XSurface* d = Data(surface);
    surface.backendData = nullptr;
    if (!d) return;
    {
        // A grab goes with its window.
        std::lock_guard<std::mutex> lock(grabMutex);
        if (d->window != 0 && d->window == grabbedWindow) grabbedWindow = 0;
    }
    if (d->target)
    {
        cairo_surface_finish(d->target);
        cairo_surface_destroy(d->target);
    }
    if (!lost && d->embedded)
    {
        // The host's windows are watched no more (unless another editor watches them too).
        std::uint32_t const none = 0;
        for (xcb_window_t w : {d->host, d->topLevel})
        {
            bool shared = false;
            for (Surface* s : Surface::All())
                if (s != &surface && &s->GetBackend() == this && Data(*s) &&
                    (Data(*s)->host == w || Data(*s)->topLevel == w))
                    shared = true;
            if (w && !shared) xcb_change_window_attributes(connection, w, XCB_CW_EVENT_MASK, &none);
        }
    }
    if (!lost && d->window && !d->dead)
    {
        if (d->tookFocus) GiveBackFocus(surface, d->window, d->focusBefore);
        // The window may already be gone with the host's: the error is dropped.
        xcb_void_cookie_t cookie = xcb_destroy_window_checked(connection, d->window);
        std::free(xcb_request_check(connection, cookie));
        CheckConnection();
    }
    delete d;
}

Point XcbBackend::ScreenOrigin(Surface const& surface)
{
    XSurface* d = Data(surface);
    if (lost || !d || !d->window || d->dead) return Point{};
    auto* scr = static_cast<xcb_screen_t*>(screen);
    xcb_translate_coordinates_reply_t* reply = xcb_translate_coordinates_reply(
        connection, xcb_translate_coordinates(connection, d->window, scr->root, 0, 0), nullptr);
    CheckConnection();
    if (!reply) return Point{};
    Point p{reply->dst_x, reply->dst_y};
    std::free(reply);
    return p;
}

void XcbBackend::Move(Surface& surface, Point at)
{
    XSurface* d = Data(surface);
    if (lost || !d || !d->window || d->dead) return;
    // An embedded surface is placed in its host window's coordinates, the others on the screen.
    std::uint32_t values[] = {static_cast<std::uint32_t>(at.x), static_cast<std::uint32_t>(at.y)};
    xcb_configure_window(connection, d->window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    if (surface.Kind() == SurfaceKind::Frame)
    {
        // WM_NORMAL_HINTS with the user position, so a window manager keeps the place.
        std::uint32_t hints[18] = {};
        hints[0] = 1 | 4; // USPosition | PPosition
        hints[1] = values[0];
        hints[2] = values[1];
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, d->window, XCB_ATOM_WM_NORMAL_HINTS,
                            XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
    }
    Flush();
}

void XcbBackend::Show(Surface& surface, bool shown)
{
    XSurface* d = Data(surface);
    if (lost || !d || !d->window || d->dead) return;
    if (shown)
    {
        // A hidden editor opens no window: what would show is cancelled at once.
        if (surface.Kind() != SurfaceKind::Embedded && Hidden(surface)) return;
        if (surface.Kind() == SurfaceKind::Frame)
        {
            std::uint32_t const owner = TransientOwner(surface);
            if (owner)
                xcb_change_property(connection, XCB_PROP_MODE_REPLACE, d->window, XCB_ATOM_WM_TRANSIENT_FOR,
                                    XCB_ATOM_WINDOW, 32, 1, &owner);
            else
                xcb_delete_property(connection, d->window, XCB_ATOM_WM_TRANSIENT_FOR);
        }
        xcb_map_window(connection, d->window);
        if (surface.Kind() != SurfaceKind::Embedded)
        {
            std::uint32_t above = XCB_STACK_MODE_ABOVE;
            xcb_configure_window(connection, d->window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        }
    }
    else
        xcb_unmap_window(connection, d->window);
    Flush();
}

std::uint32_t XcbBackend::InputFocus()
{
    xcb_get_input_focus_reply_t* reply =
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
    CheckConnection();
    std::uint32_t focus = reply ? reply->focus : XCB_NONE;
    std::free(reply);
    return focus;
}

bool XcbBackend::SetInputFocus(std::uint32_t window)
{
    // Focus on a window not yet viewable (or gone) is an error: it comes back with the reply.
    xcb_void_cookie_t cookie =
        xcb_set_input_focus_checked(connection, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
    xcb_generic_error_t* error = xcb_request_check(connection, cookie);
    std::free(error);
    CheckConnection();
    return !error && !lost;
}

void XcbBackend::Focus(Surface& surface)
{
    XSurface* d = Data(surface);
    if (lost || !d || !d->window || d->dead) return;
    std::uint32_t before = InputFocus();
    if (lost || before == d->window) return;
    if (SetInputFocus(d->window))
    {
        d->tookFocus = true;
        d->focusBefore = before;
    }
}

void XcbBackend::GiveBackFocus(Surface& surface, std::uint32_t window, std::uint32_t before)
{
    // Only when the keyboard is still ours: the user may have turned to another window since.
    if (InputFocus() != window || lost) return;
    if (before != XCB_NONE && SetInputFocus(before)) return;
    // The window that had it went meanwhile: the host's window takes it.
    Surface* top = &surface;
    while (top->Owner())
        top = top->Owner();
    if (top->Kind() == SurfaceKind::Embedded && top->HostHandle())
        SetInputFocus(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(top->HostHandle())));
}

void XcbBackend::Present(Surface& surface, Rect dirty)
{
    XSurface* d = Data(surface);
    if (lost || !d || !d->target || d->dead) return;
    cairo_t* cr = cairo_create(d->target);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, surface.BackBuffer(), 0, 0);
    cairo_rectangle(cr, dirty.x, dirty.y, dirty.w, dirty.h);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_flush(d->target);
    Flush();
}

void XcbBackend::RepaintAll(Surface& surface)
{
    Present(surface, Rect{0, 0, surface.Width(), surface.Height()});
}

bool XcbBackend::Grab(Surface& surface, bool on)
{
    XSurface* d = Data(surface);
    if (lost) return false;
    std::lock_guard<std::mutex> lock(grabMutex);
    if (!on)
    {
        grabbedWindow = 0;
        grabsSuspended = false;
        xcb_ungrab_pointer(connection, XCB_CURRENT_TIME);
        xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
        Flush();
        return true;
    }
    if (!d || !d->window || d->dead) return false;
    bool const keyboard = surface.Kind() == SurfaceKind::Popup;
    bool const ok = GrabWindow(d->window, keyboard);
    grabbedWindow = ok ? d->window : 0;
    grabbedKeyboard = keyboard;
    grabsSuspended = false;
    return ok;
}

bool XcbBackend::GrabWindow(std::uint32_t window, bool keyboard)
{
    std::uint16_t mask =
        XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION;
    xcb_grab_pointer_reply_t* pointer = xcb_grab_pointer_reply(
        connection,
        xcb_grab_pointer(connection, 1, window, mask, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE,
                         busy ? busyCursor : XCB_NONE, XCB_CURRENT_TIME),
        nullptr);
    bool ok = pointer && pointer->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(pointer);
    if (ok && keyboard)
    {
        xcb_grab_keyboard_reply_t* reply =
            xcb_grab_keyboard_reply(connection,
                                    xcb_grab_keyboard(connection, 1, window, XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    nullptr);
        ok = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
        std::free(reply);
        if (!ok) xcb_ungrab_pointer(connection, XCB_CURRENT_TIME);
    }
    Flush();
    return ok;
}

bool XcbBackend::HoldsGrabs()
{
    std::lock_guard<std::mutex> lock(grabMutex);
    return grabbedWindow != 0 && !grabsSuspended;
}

void XcbBackend::SuspendGrabs()
{
    // Any thread: xcb serialises the requests on its connection.
    std::lock_guard<std::mutex> lock(grabMutex);
    if (grabbedWindow == 0 || grabsSuspended || lost) return;
    grabsSuspended = true;
    xcb_ungrab_pointer(connection, XCB_CURRENT_TIME);
    if (grabbedKeyboard) xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
    xcb_flush(connection);
}

void XcbBackend::RestoreGrabs()
{
    std::lock_guard<std::mutex> lock(grabMutex);
    if (!grabsSuspended || lost) return;
    grabsSuspended = false;
    // Refused (another client holds the pointer now): the menu goes on without it.
    if (!GrabWindow(grabbedWindow, grabbedKeyboard)) grabbedWindow = 0;
}

void XcbBackend::SetBusyCursor(bool b)
{
    busy = b;
    if (lost) return;
    std::uint32_t cursor = b ? busyCursor : XCB_NONE;
    for (Surface* s : Surface::All())
        if (&s->GetBackend() == this && Data(*s) && Data(*s)->window && !Data(*s)->dead)
            xcb_change_window_attributes(connection, Data(*s)->window, XCB_CW_CURSOR, &cursor);
    Flush();
}

void XcbBackend::SetClipboardText(std::string const& text)
{
    clipboard = text;
    if (lost) return;
    xcb_set_selection_owner(connection, helperWindow, atoms->clipboard, XCB_CURRENT_TIME);
    ownsClipboard = true;
    Flush();
}

std::string XcbBackend::GetClipboardText()
{
    if (lost) return std::string();
    if (ownsClipboard) return clipboard;
    for (xcb_atom_t target : {atoms->utf8, static_cast<xcb_atom_t>(XCB_ATOM_STRING)})
    {
        xcb_convert_selection(connection, helperWindow, atoms->clipboard, target, atoms->property,
                              XCB_CURRENT_TIME);
        xcb_flush(connection);
        // The answer comes as an event; what else comes meanwhile waits in the queue.
        TimePoint deadline = Now() + std::chrono::milliseconds(1000);
        bool answered = false, refused = false;
        while (!answered && Now() < deadline && !lost)
        {
            xcb_generic_event_t* e = xcb_poll_for_event(connection);
            CheckConnection();
            if (!e)
            {
                pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
                poll(&fd, 1, 20);
                continue;
            }
            if ((e->response_type & 0x7f) == XCB_SELECTION_NOTIFY)
            {
                auto* n = reinterpret_cast<xcb_selection_notify_event_t*>(e);
                if (n->requestor == helperWindow)
                {
                    answered = true;
                    refused = n->property == XCB_NONE;
                    std::free(e);
                    continue;
                }
            }
            if ((e->response_type & 0x7f) == XCB_SELECTION_REQUEST)
            {
                AnswerSelectionRequest(e);
                std::free(e);
                continue;
            }
            queue.emplace_back(e);
        }
        if (!answered || refused) continue;
        xcb_get_property_reply_t* reply =
            xcb_get_property_reply(connection,
                                   xcb_get_property(connection, 1, helperWindow, atoms->property,
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20),
                                   nullptr);
        if (!reply) continue;
        std::string text(static_cast<char const*>(xcb_get_property_value(reply)),
                         static_cast<std::size_t>(xcb_get_property_value_length(reply)));
        std::free(reply);
        return text;
    }
    return std::string();
}

void XcbBackend::AnswerSelectionRequest(xcb_generic_event_t* event)
{
    auto* r = reinterpret_cast<xcb_selection_request_event_t*>(event);
    xcb_selection_notify_event_t n{};
    n.response_type = XCB_SELECTION_NOTIFY;
    n.time = r->time;
    n.requestor = r->requestor;
    n.selection = r->selection;
    n.target = r->target;
    n.property = XCB_NONE;
    xcb_atom_t property = r->property == XCB_NONE ? r->target : r->property;
    if (ownsClipboard && r->selection == atoms->clipboard)
    {
        if (r->target == atoms->targets)
        {
            xcb_atom_t offered[] = {atoms->targets, atoms->utf8, XCB_ATOM_STRING};
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, r->requestor, property, XCB_ATOM_ATOM, 32,
                                3, offered);
            n.property = property;
        }
        else if (r->target == atoms->utf8 || r->target == XCB_ATOM_STRING)
        {
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, r->requestor, property, r->target, 8,
                                static_cast<std::uint32_t>(clipboard.size()), clipboard.data());
            n.property = property;
        }
    }
    xcb_send_event(connection, 0, r->requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<char const*>(&n));
    Flush();
}

Rect XcbBackend::ScreenBounds()
{
    auto* scr = static_cast<xcb_screen_t*>(screen);
    return Rect{0, 0, scr->width_in_pixels, scr->height_in_pixels};
}

bool XcbBackend::HandleInternal(xcb_generic_event_t* e)
{
    switch (e->response_type & 0x7f)
    {
    case 0:
        // An error of a request sent without waiting for its reply: a window that went away
        // meanwhile, most often. Nothing to do.
        return true;
    case XCB_EXPOSE:
    {
        auto* x = reinterpret_cast<xcb_expose_event_t*>(e);
        if (Surface* s = Find(x->window)) Present(*s, Rect{x->x, x->y, x->width, x->height});
        return true;
    }
    case XCB_DESTROY_NOTIFY:
    {
        auto* x = reinterpret_cast<xcb_destroy_notify_event_t*>(e);
        if (Surface* s = Find(x->window))
        {
            // Ours went with the host's window: nothing of it may be touched again.
            XSurface* d = Data(*s);
            d->dead = true;
            if (d->target)
            {
                cairo_surface_finish(d->target);
                cairo_surface_destroy(d->target);
                d->target = nullptr;
            }
            // Its editor stays abandoned until it is closed.
            if (d->embedded && !d->hidden)
            {
                d->hidden = true;
                EditorHidden(*s, true);
            }
        }
        HostChanged(x->window, false);
        return true;
    }
    case XCB_MAP_NOTIFY:
        HostChanged(reinterpret_cast<xcb_map_notify_event_t*>(e)->window, false);
        return false;
    case XCB_UNMAP_NOTIFY:
        HostChanged(reinterpret_cast<xcb_unmap_notify_event_t*>(e)->window, false);
        return false;
    case XCB_REPARENT_NOTIFY:
        HostChanged(reinterpret_cast<xcb_reparent_notify_event_t*>(e)->window, true);
        return false;
    case XCB_PROPERTY_NOTIFY:
    {
        auto* x = reinterpret_cast<xcb_property_notify_event_t*>(e);
        if (x->atom == atoms->wmState) HostChanged(x->window, false);
        return true;
    }
    case XCB_SELECTION_REQUEST:
        AnswerSelectionRequest(e);
        return true;
    case XCB_SELECTION_CLEAR:
        ownsClipboard = false;
        return true;
    default:
        return false;
    }
}

void XcbBackend::HostChanged(std::uint32_t window, bool reparented)
{
    if (lost || window == 0) return;
    for (Surface* s : Surface::All())
    {
        XSurface* d = &s->GetBackend() == this ? Data(*s) : nullptr;
        if (!d || !d->embedded || d->dead) continue;
        bool const watched = d->host == window || d->topLevel == window;
        bool const above = std::find(d->ancestors.begin(), d->ancestors.end(), window) != d->ancestors.end();
        if (!watched && !above) continue;
        // A new parent, or a change above the top-level known, may put the editor under another
        // top-level: it is looked up again.
        if (reparented || !watched)
            WatchHost(*s);
        else
            UpdateHostState(*s);
    }
}

bool XcbBackend::Translate(xcb_generic_event_t* e, InputEvent& out)
{
    out = InputEvent{};
    out.time = StampNow();
    switch (e->response_type & 0x7f)
    {
    case XCB_BUTTON_PRESS:
    case XCB_BUTTON_RELEASE:
    {
        auto* b = reinterpret_cast<xcb_button_press_event_t*>(e);
        if (b->detail != 1 && b->detail != 3) return false; // the wheel and other buttons
        Surface* s = Find(b->event);
        if (!s) return false;
        out.type = (e->response_type & 0x7f) == XCB_BUTTON_PRESS ? InputEvent::Press : InputEvent::Release;
        out.surface = s;
        out.rootX = b->root_x;
        out.rootY = b->root_y;
        out.button = b->detail == 1 ? kButtonLeft : kButtonRight;
        out.modifiers = Modifiers(b->state);
        // A click leaves the keyboard where it is (the host's shortcuts keep working); the
        // frames and menus that need keys take it while they are open.
        return true;
    }
    case XCB_MOTION_NOTIFY:
    {
        auto* m = reinterpret_cast<xcb_motion_notify_event_t*>(e);
        Surface* s = Find(m->event);
        if (!s) return false;
        out.type = InputEvent::Motion;
        out.surface = s;
        out.rootX = m->root_x;
        out.rootY = m->root_y;
        out.modifiers = Modifiers(m->state);
        return true;
    }
    case XCB_CLIENT_MESSAGE:
    {
        // The window manager's close of a dialog (its close button, Alt+F4) is Escape, which
        // every modal window takes as its Cancel or Close button.
        auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
        if (m->type != atoms->protocols || m->format != 32 || m->data.data32[0] != atoms->deleteWindow)
            return false;
        Surface* s = Find(m->window);
        if (!s || s->Kind() != SurfaceKind::Frame) return false;
        out.type = InputEvent::KeyDown;
        out.surface = s;
        out.key = kKeyEscape;
        return true;
    }
    case XCB_KEY_PRESS:
    {
        auto* k = reinterpret_cast<xcb_key_press_event_t*>(e);
        Surface* s = Find(k->event);
        if (!s || !xkb->state) return false;
        // The state of the modifiers comes with the event.
        xkb_state_update_mask(xkb->state, k->state & 0xff, 0, 0, 0, 0, (k->state >> 13) & 3);
        xkb_keysym_t sym = xkb_state_key_get_one_sym(xkb->state, k->detail);
        out.type = InputEvent::KeyDown;
        out.surface = s;
        out.rootX = k->root_x;
        out.rootY = k->root_y;
        out.modifiers = Modifiers(k->state);
        switch (sym)
        {
        case XKB_KEY_BackSpace:
        case XKB_KEY_Tab:
        case XKB_KEY_Return:
        case XKB_KEY_Escape:
        case XKB_KEY_Home:
        case XKB_KEY_Left:
        case XKB_KEY_Up:
        case XKB_KEY_Right:
        case XKB_KEY_Down:
        case XKB_KEY_End:
        case XKB_KEY_Delete:
            out.key = sym;
            return true;
        case XKB_KEY_KP_Enter:
            out.key = kKeyReturn;
            return true;
        default:
            break;
        }
        char text[8] = {};
        if ((out.modifiers & kModControl) != 0 && sym >= 0x20 && sym < 0x7f)
        {
            // With control the character is a control code; the key's own letter is what
            // shortcuts look at.
            out.text[0] = static_cast<char>(sym);
            return true;
        }
        int n = xkb_state_key_get_utf8(xkb->state, k->detail, text, sizeof text);
        if (n <= 0 || n >= static_cast<int>(sizeof text) || static_cast<unsigned char>(text[0]) < 0x20 ||
            text[0] == 0x7f)
            return false;
        std::memcpy(out.text, text, sizeof out.text);
        return true;
    }
    default:
        return false;
    }
}
} // namespace gfx
