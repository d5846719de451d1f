#include "editor/CloseBut.h"

#include "framework/Paths.h"

void CloseBut::Create(Window* parent, long x, long y, int newId, ButtonListener* newListener)
{
    up.LoadFromFile(MakeImagePath("CloseSmallBut Up.png"));
    down.LoadFromFile(MakeImagePath("CloseSmallBut Down.png"));
    CustomButton::Create(parent, newId, newListener, x, y, &up, &down);
}

void CloseBut::DrawRaised(GraphicsContext& gc)
{
    up.Draw(&gc, 0, 0);
}

void CloseBut::DrawPressed(GraphicsContext& gc)
{
    down.Draw(&gc, 0, 0);
}
