#pragma once

// The test's side of a private X server (support/gfx/Xvfb.h): a connection of its own that makes
// the host's windows, reads their pixels, plays XTest input and tries grabs as another
// application would.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

// A client of the test's own: the host's windows, pixels, XTest input, grabs.
class XClient
{
public:
    // (No screen when the connection failed.)
    XClient() : c(xcb_connect(nullptr, nullptr))
    {
        if (!xcb_connection_has_error(c)) screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    }
    ~XClient() { xcb_disconnect(c); }

    xcb_window_t MakeWindow(int x, int y, int w, int h)
    {
        xcb_window_t win = xcb_generate_id(c);
        std::uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, win, screen->root, static_cast<std::int16_t>(x),
                          static_cast<std::int16_t>(y), static_cast<std::uint16_t>(w),
                          static_cast<std::uint16_t>(h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        xcb_map_window(c, win);
        Sync();
        return win;
    }
    void Sync() { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }

    // 0xRRGGBB of a window's pixel, children included.
    std::uint32_t Pixel(xcb_window_t win, int x, int y)
    {
        xcb_get_image_reply_t* image =
            xcb_get_image_reply(c,
                                xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, win, static_cast<std::int16_t>(x),
                                              static_cast<std::int16_t>(y), 1, 1, ~0u),
                                nullptr);
        if (!image) return 0xdeadbeef;
        std::uint32_t p = 0;
        std::memcpy(&p, xcb_get_image_data(image), 4);
        std::free(image);
        return p & 0xffffff;
    }

    void MoveTo(xcb_window_t win, int x, int y)
    {
        xcb_translate_coordinates_reply_t* t = xcb_translate_coordinates_reply(
            c,
            xcb_translate_coordinates(c, win, screen->root, static_cast<std::int16_t>(x),
                                      static_cast<std::int16_t>(y)),
            nullptr);
        xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, screen->root, t ? t->dst_x : 0,
                            t ? t->dst_y : 0, 0);
        std::free(t);
        Sync();
    }
    void Button(bool down)
    {
        xcb_test_fake_input(c, down ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0,
                            0, 0);
        Sync();
    }
    // A click of the first button at a point of a window.
    void Click(xcb_window_t win, int x, int y)
    {
        MoveTo(win, x, y);
        Button(true);
        Button(false);
    }
    // The status of a grab of the pointer (or the keyboard) to `win`, given back at once.
    std::uint8_t GrabPointer(xcb_window_t win)
    {
        return Grabbed(xcb_grab_pointer_reply(c,
                                              xcb_grab_pointer(c, 0, win, XCB_EVENT_MASK_BUTTON_PRESS,
                                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC,
                                                               XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
                                              nullptr),
                       [this] { xcb_ungrab_pointer(c, XCB_CURRENT_TIME); });
    }
    std::uint8_t GrabKeyboard(xcb_window_t win)
    {
        return Grabbed(xcb_grab_keyboard_reply(c,
                                               xcb_grab_keyboard(c, 0, win, XCB_CURRENT_TIME,
                                                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                               nullptr),
                       [this] { xcb_ungrab_keyboard(c, XCB_CURRENT_TIME); });
    }
    xcb_keycode_t KeyCodeOf(xcb_keysym_t sym)
    {
        xcb_setup_t const* setup = xcb_get_setup(c);
        int count = setup->max_keycode - setup->min_keycode + 1;
        xcb_get_keyboard_mapping_reply_t* map = xcb_get_keyboard_mapping_reply(
            c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)), nullptr);
        xcb_keycode_t found = 0;
        if (map)
        {
            xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
            for (int i = 0; i < count && !found; ++i)
                if (syms[i * map->keysyms_per_keycode] == sym)
                    found = static_cast<xcb_keycode_t>(setup->min_keycode + i);
            std::free(map);
        }
        return found;
    }
    void Key(xcb_keysym_t sym, bool down)
    {
        xcb_test_fake_input(c, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, KeyCodeOf(sym), XCB_CURRENT_TIME,
                            XCB_NONE, 0, 0, 0);
        Sync();
    }
    void Tap(xcb_keysym_t sym)
    {
        Key(sym, true);
        Key(sym, false);
    }
    xcb_window_t InputFocus()
    {
        xcb_get_input_focus_reply_t* r = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
        xcb_window_t w = r ? r->focus : 0;
        std::free(r);
        return w;
    }
    xcb_atom_t Atom(char const* name)
    {
        xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        xcb_atom_t a = r ? r->atom : 0;
        std::free(r);
        return a;
    }

    xcb_connection_t* c;
    xcb_screen_t* screen = nullptr;

private:
    template <class Reply, class Ungrab> std::uint8_t Grabbed(Reply* reply, Ungrab ungrab)
    {
        std::uint8_t const status = reply != nullptr ? reply->status : 0xff;
        std::free(reply);
        if (status == XCB_GRAB_STATUS_SUCCESS) ungrab();
        Sync();
        return status;
    }
};

// Whether another client can take the pointer now (it gives it back at once).
inline bool PointerFree(XClient& other, xcb_window_t theirs)
{
    return other.GrabPointer(theirs) == XCB_GRAB_STATUS_SUCCESS;
}
