// End to end: the host's editor mode opens Torvane's editor from Torvane.so under a private X
// server; the screen shows the header over the synthesizer background, and a click on the
// Perform tab brings the perform background.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

#include <cairo.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include "support/TemporaryDataHome.h"
#include "support/gfx/RunProgram.h"
#include "support/gfx/Xvfb.h"

namespace
{
ProgramRun RunHost(std::string const& arguments)
{
    return RunProgram(std::string(TORVANE_VSTHOST_PATH) + " --editor " + TORVANE_PLUGIN_PATH + " " +
                          arguments,
                      TORVANE_VSTHOST_LSAN_SUPPRESSIONS);
}

// A decoded PNG, straight RGB read at points.
class Png
{
public:
    explicit Png(std::string const& path) : image(cairo_image_surface_create_from_png(path.c_str())) {}
    ~Png() { cairo_surface_destroy(image); }
    Png(Png const&) = delete;
    Png& operator=(Png const&) = delete;

    bool Ok() const { return cairo_surface_status(image) == CAIRO_STATUS_SUCCESS; }
    int Width() const { return cairo_image_surface_get_width(image); }
    int Height() const { return cairo_image_surface_get_height(image); }
    // 0xRRGGBB of an opaque pixel.
    unsigned Rgb(int x, int y) const
    {
        unsigned char const* row =
            cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image);
        return reinterpret_cast<std::uint32_t const*>(row)[x] & 0xFFFFFFu;
    }

private:
    cairo_surface_t* image;
};

bool Close(unsigned a, unsigned b)
{
    for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 3)
            return false;
    return true;
}

// Points where the three backgrounds differ: the three tab zones and the page below.
constexpr int kProbes[][2] = {{150, 20}, {220, 20}, {290, 20}, {400, 300}, {100, 400}};

// How many probes of the screenshot show that background (the first `count` probes: the first
// three lie in the header).
int Matches(Png const& shot, char const* background, int count = 5)
{
    Png art(std::string(TORVANE_ART_DIR) + "/" + background);
    if (!art.Ok()) return -1;
    int n = 0;
    for (int i = 0; i < count; ++i)
        if (Close(shot.Rgb(kProbes[i][0], kProbes[i][1]), art.Rgb(kProbes[i][0], kProbes[i][1]))) ++n;
    return n;
}

class TorvaneEditor : public ::testing::Test
{
public:
    void SetUp() override { XVFB_START_OR_SKIP(server); }
    void TearDown() override { std::remove(shot.c_str()); }

    XvfbServer server;
    TemporaryDataHome home;
    std::string shot = ::testing::TempDir() + "torvane-editor-" + std::to_string(getpid()) + ".png";
};

TEST_F(TorvaneEditor, OpensWithTheHeaderAndAClickOnThePerformTabBringsItsBackground)
{
    ProgramRun r = RunHost("--run 0.6 --screenshot " + shot);
    ASSERT_EQ(r.status, 0) << r.out;
    {
        Png opened(shot);
        ASSERT_TRUE(opened.Ok());
        ASSERT_EQ(opened.Width(), 767);
        ASSERT_EQ(opened.Height(), 638);
        // The header's three tab zones: the pages draw their controls over the rest.
        EXPECT_EQ(Matches(opened, "TorvaneBackground.png", 3), 3) << r.out;
        EXPECT_LT(Matches(opened, "PerformBackground.png", 3), 3);
    }

    // The Perform tab's hot zone is (255, 4, 70, 30).
    r = RunHost("--run 0.8 --click 290,20@0.2 --screenshot " + shot);
    ASSERT_EQ(r.status, 0) << r.out;
    Png clicked(shot);
    ASSERT_TRUE(clicked.Ok());
    EXPECT_EQ(Matches(clicked, "PerformBackground.png", 3), 3) << r.out;
    EXPECT_LT(Matches(clicked, "TorvaneBackground.png", 3), 3);
}

TEST_F(TorvaneEditor, TheAboutSplashIgnoresClicksWhileFadingInAndGoesWithTheEditor)
{
    // About at (39, 4). The splash's fade-in holds the loop for a one-second slice: the clicks on
    // it meanwhile are ignored, and the editor closes inside that slice with the splash shown.
    ProgramRun r =
        RunHost("--run 1.0 --click 50,15@0.1 --click 400,400@0.4 --click 300,300@0.6 --screenshot " + shot);
    ASSERT_EQ(r.status, 0) << r.out;
    Png shown(shot);
    ASSERT_TRUE(shown.Ok());
    // The darkened layer lies over the header: no header probe shows the bare background.
    EXPECT_EQ(Matches(shown, "TorvaneBackground.png", 3), 0) << r.out;
}

// The host's window: the one mapped client top-level (the window carrying WM_STATE below a
// window manager's frame, else the root's mapped child), or none yet.
xcb_window_t FindTheHostWindow(xcb_connection_t* c, xcb_window_t root)
{
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 8, "WM_STATE"), nullptr);
    xcb_atom_t const wmState = atom ? atom->atom : XCB_NONE;
    std::free(atom);
    auto children = [c](xcb_window_t w)
    {
        std::vector<xcb_window_t> list;
        if (xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr))
        {
            xcb_window_t* ws = xcb_query_tree_children(tree);
            list.assign(ws, ws + xcb_query_tree_children_length(tree));
            std::free(tree);
        }
        return list;
    };
    auto managed = [c, wmState](xcb_window_t w)
    {
        xcb_get_property_reply_t* p =
            xcb_get_property_reply(c, xcb_get_property(c, 0, w, wmState, XCB_ATOM_ANY, 0, 2), nullptr);
        bool const has = p && p->type != XCB_NONE;
        std::free(p);
        return has;
    };
    for (xcb_window_t top : children(root))
    {
        xcb_get_window_attributes_reply_t* a =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, top), nullptr);
        bool const shown = a && a->map_state == XCB_MAP_STATE_VIEWABLE && !a->override_redirect;
        std::free(a);
        if (!shown) continue;
        if (managed(top)) return top;
        for (xcb_window_t inner : children(top))
            if (managed(inner)) return inner;
        // With no window manager nothing carries WM_STATE: the root's child is the top-level.
        if (XvfbServer::Manager().empty()) return top;
    }
    return XCB_NONE;
}

// Destroys the host's window (the client top-level, see FindTheHostWindow) at `when`, as a host
// that tears its window down under the editor does. False when none came.
bool DestroyTheHostWindow(std::chrono::steady_clock::time_point when)
{
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_window_t const found = FindTheHostWindow(c, screen->root);
    bool const destroyed = found != XCB_NONE && !xcb_connection_has_error(c);
    if (destroyed)
    {
        std::this_thread::sleep_until(when);
        xcb_destroy_window(c, found);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    xcb_disconnect(c);
    return destroyed;
}

TEST_F(TorvaneEditor, TheHostWindowDestroyedWhileTheSplashFadesEndsTheRun)
{
    // About at (39, 4): a click 0.1 s after the editor's first frame opens the splash, which fades
    // in over 0.2 s from its press or release (0.14 or 0.18 s); a click on it at 0.6 s fades it
    // out from its release (0.68 s). The host's window goes during the fade-in or the fade-out,
    // timed from the first frame the host reports: the editor stops waiting for a fade that can
    // no longer run, and the host's run ends cleanly. A hang is cut off by the time-out.
    for (int ms : {220, 260, 300, 720, 780, 840})
    {
        SCOPED_TRACE(ms);
        std::string const command = std::string("LSAN_OPTIONS=suppressions=") +
                                    TORVANE_VSTHOST_LSAN_SUPPRESSIONS + " timeout 30 " +
                                    TORVANE_VSTHOST_PATH + " --editor " + TORVANE_PLUGIN_PATH +
                                    " --run 1.5 --click 50,15@0.1 --click 400,400@0.6 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        bool destroyed = false;
        std::thread closer;
        char line[512];
        while (std::fgets(line, sizeof line, pipe) != nullptr)
        {
            out += line;
            if (!closer.joinable() && std::string(line).find("first frame") != std::string::npos)
            {
                auto const when = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
                closer = std::thread([&destroyed, when] { destroyed = DestroyTheHostWindow(when); });
            }
        }
        int const status = pclose(pipe);
        if (closer.joinable()) closer.join();
        EXPECT_TRUE(destroyed) << out;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    }
}
} // namespace

namespace
{
TEST_F(TorvaneEditor, TheRunEndsWhileTheHelpAlertIsOpen)
{
    // The help button's alert (7, 9) keeps the host's idle call until it closes. At the end of
    // the run the host closes the editor from another thread, as a host's close does, which ends
    // the alert. A hang is cut off by the time-out (status 124).
    ProgramRun r = RunProgram(std::string("timeout 30 ") + TORVANE_VSTHOST_PATH + " --editor " +
                                  TORVANE_PLUGIN_PATH + " --run 0.8 --click 7,9@0.2",
                              TORVANE_VSTHOST_LSAN_SUPPRESSIONS);
    EXPECT_EQ(r.status, 0) << r.out;
}
} // namespace

namespace
{
// Whether a mapped window named name lies at most two levels below the root (a dialog of ours,
// in a window manager's frame or not).
bool NamedWindowShown(xcb_connection_t* c, xcb_window_t root, std::string const& name, int depth = 0)
{
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
    if (!tree) return false;
    std::vector<xcb_window_t> children(xcb_query_tree_children(tree),
                                       xcb_query_tree_children(tree) + xcb_query_tree_children_length(tree));
    std::free(tree);
    for (xcb_window_t w : children)
    {
        xcb_get_window_attributes_reply_t* a =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
        bool const viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(a);
        if (!viewable) continue;
        xcb_get_property_reply_t* p = xcb_get_property_reply(
            c, xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 64), nullptr);
        bool const named =
            p && std::string(static_cast<char const*>(xcb_get_property_value(p)),
                             static_cast<std::size_t>(xcb_get_property_value_length(p))) == name;
        std::free(p);
        if (named || (depth < 1 && NamedWindowShown(c, w, name, depth + 1))) return true;
    }
    return false;
}

TEST_F(TorvaneEditor, TheHostHidingItsWindowEndsTheSaveDialogAndTheEditorRespondsOnceShown)
{
    // File (77, 4) > Save As.. opens the save dialog, whose modal run holds the host's idle call.
    // The host withdraws its window (a DAW's title-bar close) and maps it again: the dialog ends
    // as its Cancel would, nothing is saved, and a click on the Perform tab then works.
    TemporaryDataHome home;
    bool dialogShown = false, hidden = false;
    std::thread host(
        [&]
        {
            xcb_connection_t* c = xcb_connect(nullptr, nullptr);
            xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
            xcb_window_t top = XCB_NONE;
            for (int tries = 0; tries < 1000 && top == XCB_NONE; ++tries)
            {
                top = FindTheHostWindow(c, screen->root);
                if (top == XCB_NONE) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!dialogShown && std::chrono::steady_clock::now() < deadline)
            {
                dialogShown = NamedWindowShown(c, screen->root, "Torvane");
                if (!dialogShown) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (top != XCB_NONE && dialogShown)
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                // ICCCM's withdrawal: unmapped, and the manager told.
                xcb_unmap_window(c, top);
                xcb_unmap_notify_event_t n{};
                n.response_type = XCB_UNMAP_NOTIFY;
                n.event = screen->root;
                n.window = top;
                xcb_send_event(c, 0, screen->root,
                               XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                               reinterpret_cast<char const*>(&n));
                std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
                hidden = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(600));
                xcb_map_window(c, top);
                std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
            }
            xcb_disconnect(c);
        });
    ProgramRun r = RunProgram(
        std::string("timeout 30 ") + TORVANE_VSTHOST_PATH + " --editor " + TORVANE_PLUGIN_PATH +
            " --run 4.5 --click 80,10@0.3 --click 110,43@0.8 --click 290,20@3.5 --screenshot " + shot,
        TORVANE_VSTHOST_LSAN_SUPPRESSIONS);
    host.join();
    EXPECT_TRUE(dialogShown);
    EXPECT_TRUE(hidden);
    ASSERT_EQ(r.status, 0) << r.out;
    Png clicked(shot);
    ASSERT_TRUE(clicked.Ok());
    EXPECT_EQ(Matches(clicked, "PerformBackground.png", 3), 3) << r.out;
    // Nothing was saved.
    std::error_code error;
    EXPECT_FALSE(std::filesystem::exists(home.Path() + "/Corvella Audio/Torvane/Patches", error) &&
                 !std::filesystem::is_empty(home.Path() + "/Corvella Audio/Torvane/Patches", error));
}
} // namespace

namespace
{
TEST(EditorExitHost, AHostExitsWithTheEditorOpenAndASecondThreadIdlesItAfterTheStaticObjectsWent)
{
    // The host registers its exit handler before it loads Torvane.so, so the handler runs after
    // the plug-in's static objects are destroyed; it idles the editor from a second thread. File
    // (77, 4) opens a menu, its Save As.. (110, 43) the save dialog, help (7, 9) an alert.
    XvfbServer server;
    XVFB_START_OR_SKIP(server);
    TemporaryDataHome home;
    struct Row
    {
        char const* name;
        char const* clicks;
    };
    Row const rows[] = {
        {"the editor idling", ""},
        {"the File menu open", " 80,10"},
        {"the save dialog open", " 80,10 110,43"},
        {"the help alert open", " 7,9"},
    };
    for (Row const& row : rows)
    {
        SCOPED_TRACE(row.name);
        ProgramRun const r = RunProgram(std::string("timeout 60 ") + TORVANE_EDITOR_EXIT_HOST_PATH + " " +
                                            TORVANE_PLUGIN_PATH + row.clicks,
                                        TORVANE_VSTHOST_LSAN_SUPPRESSIONS);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("exiting with the editor open\nidled after exit\n"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Sanitizer"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("runtime error"), std::string::npos) << r.out;
    }
    // Nothing was saved.
    std::error_code error;
    EXPECT_FALSE(std::filesystem::exists(home.RootFolder() + "Patches", error) &&
                 !std::filesystem::is_empty(home.RootFolder() + "Patches", error));
}
} // namespace
