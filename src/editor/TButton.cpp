#include "editor/TButton.h"

#include "framework/Paths.h"
#include "platform/MessagePopup.h"
#include "toolkit/GraphicsContext.h"

void TButton::Create(Window* parent, int newId, ButtonListener* newListener, long x, long y,
                     char const* upImage, char const* downImage)
{
    try
    {
        up.LoadFromFile(MakeImagePath(upImage));
        down.LoadFromFile(MakeImagePath(downImage));
    }
    catch (String const& error)
    {
        MessagePopup(error, "Torvane Error in TButton::Create");
        return;
    }
    CustomButton::Create(parent, newId, newListener, x, y, &up, &down);
}

void TTransparentBut::Create(Window* parent, int newId, ButtonListener* newListener, GRectangle const& area)
{
    listener = newListener;
    id = newId;
    CreateChildWindow(parent, area.width, area.height, area.x, area.y);
}

void TTransparentBut::ShowBounds(bool on)
{
    showBounds = on;
    ForceRepaint();
}

void TTransparentBut::Repaint(GraphicsContext& gc)
{
    if (showBounds) FillBackground(gc, Colour(0, 0, 0, 255));
}

void TTransparentBut::LButtonDown(long, long)
{
    if (listener) listener->ButtonPressed(id);
}

void TTransparentBut::LDoubleClick(long x, long y)
{
    LButtonDown(x, y);
}
