#include "toolkit/GraphicsContext.h"

#include "framework/StandardMaths.h"
#include "platform/gfx/Text.h"

GraphicsContext::GraphicsContext(cairo_t* c, float alpha) : context(c), windowAlpha(alpha)
{
    gfx::SelectFont(context, fontSize);
    cairo_set_line_width(context, lineWidth);
    UsePen();
}

void GraphicsContext::UsePen()
{
    cairo_set_source_rgba(context, penRed / 255.0f, penGreen / 255.0f, penBlue / 255.0f, colourAlpha);
}

void GraphicsContext::SetPenColour(int r, int g, int b, int width, int a)
{
    penRed = r;
    penGreen = g;
    penBlue = b;
    penAlpha = static_cast<int>(Round(static_cast<float>(a) * windowAlpha));
    colourAlpha = static_cast<float>(a) / 255.0f * windowAlpha;
    lineWidth = width;
    cairo_set_line_width(context, lineWidth);
    UsePen();
}

void GraphicsContext::SetPenColour(Colour const& c, int width)
{
    SetPenColour(c.R(), c.G(), c.B(), width, c.A());
}

void GraphicsContext::SetFont(int size, char const*, bool, bool)
{
    fontSize = size;
    gfx::SelectFont(context, fontSize);
}

void GraphicsContext::DrawString(char const* text, long x, long y)
{
    if (!text || !*text) return;
    // The text is drawn apart from any polyline being built.
    cairo_path_t* path = cairo_copy_path(context);
    cairo_save(context);
    cairo_new_path(context);
    cairo_set_source_rgba(context, penRed / 255.0f, penGreen / 255.0f, penBlue / 255.0f,
                          colourAlpha * (penAlpha / 255.0f));
    gfx::ShowText(context, text, static_cast<double>(x + 2), static_cast<double>(y + 8));
    cairo_restore(context);
    cairo_new_path(context);
    if (path->status == CAIRO_STATUS_SUCCESS) cairo_append_path(context, path);
    cairo_path_destroy(path);
}

void GraphicsContext::DrawFilledRect(long x, long y, long w, long h)
{
    cairo_new_path(context);
    cairo_rectangle(context, x, y, w + 1, h + 1);
    cairo_fill(context);
}

void GraphicsContext::DrawRectOutline(long x, long y, long w, long h)
{
    if (penAlpha == 0) return;
    DrawLine(x, y, x + w, y);
    DrawLine(x + w, y, x + w, y + h);
    DrawLine(x + w, y + h, x, y + h);
    DrawLine(x, y + h, x, y);
}

void GraphicsContext::DrawLine(long x0, long y0, long x1, long y1)
{
    cairo_new_path(context);
    cairo_move_to(context, x0, y0);
    cairo_line_to(context, x1, y1);
    cairo_stroke(context);
}

void GraphicsContext::MoveTo(long x, long y)
{
    cairo_new_path(context);
    cairo_move_to(context, x, y);
}

void GraphicsContext::LineTo(long x, long y)
{
    cairo_line_to(context, x, y);
}

void GraphicsContext::EndLine()
{
    cairo_stroke(context);
}

void GraphicsContext::DrawPie(long x, long y, long r, float startDeg, float endDeg)
{
    const float pi = 3.1415927f;
    double cx = x + r + 1, cy = y + r + 1;
    cairo_new_path(context);
    cairo_move_to(context, cx, cy);
    cairo_arc(context, cx, cy, r, startDeg * pi / 180.0f, endDeg * pi / 180.0f);
    cairo_line_to(context, cx, cy);
    cairo_close_path(context);
    cairo_fill(context);
}
