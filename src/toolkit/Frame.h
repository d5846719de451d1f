#pragma once

#include <memory>

#include "platform/gfx/Types.h"
#include "toolkit/Window.h"

namespace gfx
{
class Backend;
}

// A window in a floating top-level surface of its own (no title bar), which the user may drag
// by its body and which can run modally. Dialogs derive from it: create, RunModal, read the
// result, let it go.
class Frame : public Window
{
public:
    Frame();
    ~Frame() override;

    // Note the order x, y, w, h, in screen coordinates. parent is not a tree parent: it only
    // names the editor the frame belongs to (by default the one of the event being handled).
    void CreateFrame(Window* parent, long x, long y, long w, long h, bool unused = false);
    // A press on the frame's own body (not on a child) drags the frame.
    void EnableDragging(bool on) { draggingEnabled = on; }
    // Places the frame's top-left corner on the screen, as near (x, y) as keeps the whole frame
    // on it (a frame larger than the screen keeps its top-left corner on it): with no window
    // manager a frame off the screen could not be reached while its modal run holds the thread.
    // Creating a frame places it the same way.
    void MoveFrame(long x, long y);
    static gfx::Point KeptOnScreen(gfx::Backend& backend, long x, long y, long w, long h);

    // Runs the loop until QuitModal is called for this frame (or the frame is destroyed);
    // meanwhile presses and keys reach only this frame and what it opens, while drawing and
    // timers go on. Runs nest; the innermost ends first.
    void RunModal();
    // Ends this frame's run; nothing outside it.
    void QuitModal();
    bool IsRunningModal() const { return modalQuit != nullptr; }

    WindowRef GetFrameWindow() const { return frameWindow.get(); }

    void Repaint(GraphicsContext&) override {}
    // While the frame runs modally, Escape and Return that no control of it took end up here:
    // Escape does what the frame's Cancel button does (its Close button where it has no
    // Cancel), Return what its default button does. A dialog that overrides KeyDown passes on
    // what it does not take.
    bool KeyDown(unsigned key, char const* text) override;
    void LButtonDown(long x, long y) override;
    void LButtonUp(long x, long y) override;
    void MouseMoved(long x, long y) override;

protected:
    friend class MacWindowManager;

    // The buttons Escape and Return stand for: true when the frame has one and its action was
    // taken. None by default.
    virtual bool CancelByKey() { return false; }
    virtual bool DefaultByKey() { return false; }

    std::unique_ptr<gfx::Surface> frameWindow;
    bool draggingEnabled = false;
    bool dragging = false;
    long pressX = 0;
    long pressY = 0;
    long positionX = 0;
    long positionY = 0;

private:
    bool* modalQuit = nullptr; // the running RunModal's flag
};

// Shows the busy cursor on our surfaces while any lives (at once: the work blocks the loop).
class WaitCursor
{
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(WaitCursor const&) = delete;
    WaitCursor& operator=(WaitCursor const&) = delete;
    static int Count();
};
