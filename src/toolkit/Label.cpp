#include "toolkit/Label.h"

#include "toolkit/BoundedText.h"
#include "toolkit/GraphicsContext.h"

void Label::Create(Window* p, char const* newText, long w, long h, long px, long py)
{
    CreateChildWindow(p, w, h, px, py);
    CopyBoundedText(text, newText, kMaxText);
    ForceRepaint();
}

void Label::SetLabel(char const* newText, bool repaint)
{
    CopyBoundedText(text, newText, kMaxText);
    if (repaint) ForceRepaint();
}

void Label::SetTextColour(Colour const& c, bool repaint)
{
    textColour = c;
    if (repaint) ForceRepaint();
}

void Label::SetFont(int size, bool b, bool i)
{
    fontSize = size;
    bold = b;
    italic = i;
}

void Label::Repaint(GraphicsContext& gc)
{
    gc.SetPenColour(textColour, 1);
    gc.SetFont(fontSize, nullptr, bold, italic);
    gc.DrawString(text, 0, 0);
}

void Label::LButtonDown(long px, long py)
{
    if (parent) parent->LButtonDown(px + x, py + y);
}

void Label::LButtonUp(long px, long py)
{
    if (parent) parent->LButtonUp(px + x, py + y);
}

void Label::RButtonDown(long px, long py)
{
    if (parent) parent->RButtonDown(px + x, py + y);
}

void Label::RButtonUp(long px, long py)
{
    if (parent) parent->RButtonUp(px + x, py + y);
}

void Label::MouseMoved(long px, long py)
{
    if (parent) parent->MouseMoved(px + x, py + y);
}
