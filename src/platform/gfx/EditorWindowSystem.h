#pragma once

namespace gfx
{
class Backend;
}

// The window system editors open in: the X11 one (XcbEditorWindowSystem) in real hosts, a test
// back end with fake host windows in tests.
class EditorWindowSystem
{
public:
    virtual ~EditorWindowSystem() = default;
    // The back end for one more open editor, or null when there is no display. Each non-null
    // answer is matched by one Release.
    virtual gfx::Backend* Acquire() = 0;
    virtual void Release() = 0;
    // The size of the host's window; false when no such window exists.
    virtual bool HostWindowSize(void* window, int& width, int& height) = 0;
    // True once the window system went away under the open editors (they stay inert).
    virtual bool Lost() { return false; }
};
