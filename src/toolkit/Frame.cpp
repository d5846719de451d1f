#include "toolkit/Frame.h"

#include <algorithm>
#include <cstdint>

#include "platform/gfx/Backend.h"
#include "platform/gfx/Dispatcher.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "toolkit/MacWindowManager.h"
#include "toolkit/Responders.h"

Frame::Frame() = default;

Frame::~Frame()
{
    if (modalQuit) *modalQuit = true;
    frameWindow.reset();
}

void Frame::CreateFrame(Window* owner, long px, long py, long w, long h, bool)
{
    dragging = false;
    x = px;
    y = py;
    width = w;
    height = h;
    frameWindow.reset();
    MacWindowManager::CreateCustomView(this);
    MacWindowManager::CreateFrame(this, w, h, px, py, owner);
}

gfx::Point Frame::KeptOnScreen(gfx::Backend& backend, long px, long py, long w, long h)
{
    gfx::Rect const screen = backend.ScreenBounds();
    auto keep = [](long v, long low, long size, long extent)
    {
        long const high = std::max(low, low + size - extent);
        return static_cast<int>(std::clamp<long>(std::clamp<long>(v, low, high), INT16_MIN, INT16_MAX));
    };
    return gfx::Point{keep(px, screen.x, screen.w, w), keep(py, screen.y, screen.h, h)};
}

void Frame::MoveFrame(long px, long py)
{
    if (!frameWindow) return;
    gfx::Point const at = KeptOnScreen(frameWindow->GetBackend(), px, py, width, height);
    frameWindow->Move(at.x, at.y);
}

bool Frame::KeyDown(unsigned key, char const*)
{
    if (!IsRunningModal()) return false;
    if (key == gfx::kKeyEscape) return CancelByKey();
    if (key == gfx::kKeyReturn) return DefaultByKey();
    return false;
}

void Frame::LButtonDown(long px, long py)
{
    if (!draggingEnabled) return;
    dragging = true;
    pressX = px;
    pressY = py;
    GPoint at = GetScreenPosition();
    positionX = at.x;
    positionY = at.y;
}

void Frame::MouseMoved(long px, long py)
{
    if (draggingEnabled && dragging) MoveFrame(positionX + px - pressX, positionY + py - pressY);
}

void Frame::LButtonUp(long, long)
{
    if (!draggingEnabled) return;
    ReleaseMouse();
    dragging = false;
}

void Frame::RunModal()
{
    if (!frameWindow) return;
    bool quit = false;
    bool* outer = modalQuit;
    modalQuit = &quit;
    std::weak_ptr<void const> life = Liveness();
    gfx::Surface* surface = frameWindow.get();
    struct Scope
    {
        Frame* frame;
        std::weak_ptr<void const>& life;
        gfx::Surface* surface;
        bool* outer;
        ~Scope()
        {
            gfx::Dispatcher::PopModal(surface);
            if (!life.expired()) frame->modalQuit = outer;
        }
    } scope{this, life, surface, outer};
    gfx::Dispatcher::PushModal(surface);
    if (auto respond = Responders::TakeModalRun()) (*respond)(*this);
    gfx::RunLoop::RunUntil([&] { return quit || life.expired(); });
}

void Frame::QuitModal()
{
    if (modalQuit) *modalQuit = true;
}

namespace
{
int waitCursors = 0;
}

WaitCursor::WaitCursor()
{
    if (waitCursors++ == 0)
        if (gfx::Backend* b = gfx::RunLoop::GetBackend()) b->SetBusyCursor(true);
}

WaitCursor::~WaitCursor()
{
    if (--waitCursors == 0)
        if (gfx::Backend* b = gfx::RunLoop::GetBackend()) b->SetBusyCursor(false);
}

int WaitCursor::Count()
{
    return waitCursors;
}
