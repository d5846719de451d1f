#include "editor/TSplash.h"

#include <chrono>
#include <memory>

#include "editor/Layout.h"
#include "framework/Paths.h"
#include "platform/gfx/RunLoop.h"
#include "toolkit/GraphicsContext.h"

namespace
{
constexpr char const* kVersion = "v1.02";
constexpr int kFadeFrameMs = 40; // the animation clock's 25 frames per second
} // namespace

TSplash::TSplash(Window* parent)
{
    SetAlpha(0.0f);
    try
    {
        picture.LoadFromFile(MakeImagePath("TorvaneSplash.png"));
    }
    catch (String const&)
    {
        return;
    }
    CreateChildWindow(parent, parent ? parent->GetWindowWidth() : 0, parent ? parent->GetWindowHeight() : 0,
                      0, 0);
    if (Fade(0.0f, 1.0f)) fadedIn = true;
}

bool TSplash::Fade(float from, float to)
{
    std::weak_ptr<void const> const life = Liveness();
    int const frames = kFadeMs / kFadeFrameMs;
    for (int frame = 0; frame <= frames; ++frame)
    {
        if (life.expired()) return false;
        SetAlpha(from + (to - from) * static_cast<float>(frame) / static_cast<float>(frames));
        ForceRepaint();
        if (frame < frames) gfx::RunLoop::RunFor(std::chrono::milliseconds(kFadeFrameMs));
    }
    return !life.expired();
}

void TSplash::Repaint(GraphicsContext& gc)
{
    FillBackground(gc, Colour(0, 0, 0, 100));
    long const px = (parent ? parent->GetWindowWidth() : width) / 2 - picture.GetWidth() / 2;
    picture.Draw(&gc, px, layout::root::kSplashY);
    gc.SetPenColour(Colour(255, 255, 255, 255), 1);
    gc.SetFont(11, nullptr, true, false);
    gc.DrawString(kVersion, layout::root::kVersionText.x, layout::root::kVersionText.y);
}

void TSplash::LButtonUp(long, long)
{
    if (!fadedIn || closing) return;
    closing = true;
    if (!Fade(1.0f, 0.0f)) return;
    if (onFadedOut) onFadedOut();
}
