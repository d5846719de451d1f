#include "editor/TSplash.h"

#include <memory>

#include "editor/Layout.h"
#include "framework/Paths.h"
#include "toolkit/Animation.h"
#include "toolkit/GraphicsContext.h"

namespace
{
constexpr char const* kVersion = "v1.02";
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
    Animation::EasyAnimation::Fade(this, from, to, kFadeMs, true);
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
