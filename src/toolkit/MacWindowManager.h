#pragma once

#include "toolkit/Window.h"

// Binds windows to the view layer: one custom view node per window, whose drawing and presses
// become the window's Repaint, paint event and mouse calls.
//
// A press gives LDoubleClick alone for a left double click; otherwise LButtonDown (the left
// button wins when both are down) or RButtonDown, MouseMoved for every tracked position (the
// release position included) and LButtonUp or RButtonUp there. Key modifiers are stored on
// the window before every call. A window destroyed by a handler gets no further call.
class MacWindowManager
{
public:
    // The class name of the custom views; nothing needs registering.
    static char const* GetHICustomViewClass();
    // Makes the window's view node (replacing one it had). Returns 0.
    static long CreateCustomView(Window* window);
    // Retires a window's node at once and frees it once the outermost handler has returned.
    static void ReleaseCustomView(ControlRef view);
    // Hooks the framework's timers and their clock into the event loop, and installs the
    // toolkit's alerts as the message sink (done by the first view).
    static void InstallTimers();
    // Makes the frame's top-level surface (w x h at screen x, y), owned by the surface of
    // `owner` when it has one, else by the surface of the event being handled, else by the
    // editor's; puts the frame's node in it, shows it and gives it the focus.
    static long CreateFrame(class Frame* frame, long w, long h, long x, long y, Window* owner = nullptr);
    // The surface dialogs and alerts belong to: the one of the event being handled, else
    // the first embedded (editor) surface, else any.
    static WindowRef OwnerSurface();
};
