#include "toolkit/CustomButton.h"

#include <cmath>

#include "platform/gfx/Text.h"
#include "toolkit/BoundedText.h"
#include "toolkit/GraphicsContext.h"

CustomButton::~CustomButton()
{
    if (ownsImages)
    {
        delete upImage;
        delete downImage;
    }
}

void CustomButton::CreateSized(Window* parent, int newId, ButtonListener* newListener, long x, long y)
{
    id = newId;
    listener = newListener;
    long w = upImage ? upImage->GetWidth() : 0;
    long h = upImage ? upImage->GetHeight() : 0;
    CreateChildWindow(parent, w, h, x, y);
}

void CustomButton::Create(Window* parent, int newId, ButtonListener* newListener, long x, long y, Image* up,
                          Image* down)
{
    upImage = up;
    downImage = down;
    CreateSized(parent, newId, newListener, x, y);
}

void CustomButton::Create(Window* parent, int newId, ButtonListener* newListener, long x, long y,
                          std::shared_ptr<Image> up, std::shared_ptr<Image> down)
{
    sharedUp = std::move(up);
    sharedDown = std::move(down);
    upImage = sharedUp.get();
    downImage = sharedDown.get();
    CreateSized(parent, newId, newListener, x, y);
}

void CustomButton::Create(Window* parent, int newId, ButtonListener* newListener, long x, long y,
                          char const* upPath, char const* downPath)
{
    auto up = std::make_shared<Image>();
    auto down = std::make_shared<Image>();
    up->LoadFromFile(upPath);
    down->LoadFromFile(downPath);
    Create(parent, newId, newListener, x, y, up, down);
}

void CustomButton::Create(Window* parent, int newId, ButtonListener* newListener, long x, long y,
                          ImageResource* up, ImageResource* down)
{
    auto newUp = std::make_unique<Image>();
    if (up) newUp->LoadImageResource(*up);
    std::unique_ptr<Image> newDown;
    if (down)
    {
        newDown = std::make_unique<Image>();
        newDown->LoadImageResource(*down);
    }
    if (ownsImages)
    {
        delete upImage;
        delete downImage;
    }
    upImage = newUp.release();
    downImage = newDown.release();
    ownsImages = true;
    CreateSized(parent, newId, newListener, x, y);
}

void CustomButton::DrawRaised(GraphicsContext& gc)
{
    if (upImage) upImage->Draw(&gc, 0, 0);
}

void CustomButton::DrawPressed(GraphicsContext& gc)
{
    if (Image* image = downImage ? downImage : upImage) image->Draw(&gc, 0, 0);
}

void CustomButton::Repaint(GraphicsContext& gc)
{
    if (pressed)
        DrawPressed(gc);
    else
        DrawRaised(gc);
}

void CustomButton::LButtonDown(long, long)
{
    CaptureMouse();
    pressed = 1;
    ForceRepaint();
}

void CustomButton::LButtonUp(long x, long y)
{
    std::weak_ptr<void const> life = Liveness();
    pressed = 0;
    ForceRepaint();
    ReleaseMouse();
    ButtonClicked();
    if (life.expired() || ReleaseEndsAbandonedPress()) return;
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    if (listener)
    {
        listener->ButtonPressed(id);
        if (life.expired()) return; // the listener rebuilt the page this button was on
    }
    clickEvent.Trigger();
}

void CustomButton::LDoubleClick(long x, long y)
{
    std::weak_ptr<void const> life = Liveness();
    LButtonDown(x, y);
    if (life.expired()) return;
    LButtonUp(x, y);
}

void SimpleTextButton::Create(Window* parent, int newId, ButtonListener* newListener, long x, long y, long w,
                              long h, char const* newText, Colour newBackground)
{
    id = newId;
    listener = newListener;
    background = newBackground;
    SetText(newText);
    CreateChildWindow(parent, w, h, x, y);
}

void SimpleTextButton::SetText(char const* newText)
{
    CopyBoundedText(text, newText, kMaxText);
    ForceRepaint();
}

void SimpleTextButton::DrawRaised(GraphicsContext& gc)
{
    FillBackground(gc, background);
    gc.SetPenColour(255, 255, 255, 1, 255);
    gc.DrawString(text, 0, 0);
}

void CaptionButton::Create(Window* parent, int newId, ButtonListener* newListener, long px, long py, long w,
                           long h, char const* caption, Colour newFace)
{
    face = newFace;
    SimpleTextButton::Create(parent, newId, newListener, px, py, w, h, caption, newFace);
}

void CaptionButton::DrawRaised(GraphicsContext& gc)
{
    FillBackground(gc, face);
    gc.SetPenColour(255, 255, 255, 1, 255);
    gc.SetFont(kTextSize, nullptr, false, false);
    // DrawString starts 2 pixels right of x with its baseline 8 below y; the capitals' height
    // (about 0.7 of the size) is centred.
    double const advance = gfx::TextAdvance(GetText(), kTextSize);
    long const left = std::lround((static_cast<double>(width) - advance) / 2.0);
    long const baseline = std::lround((static_cast<double>(height) + 0.7 * kTextSize) / 2.0);
    gc.DrawString(GetText(), left - 2, baseline - 8);
}
