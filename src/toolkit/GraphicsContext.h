#pragma once

#include <cairo.h>

#include "toolkit/Geometry.h"

// The drawing surface of a window's repaint: a pen (colour, alpha, line width) and the
// window's own alpha over the context the compositor hands to the view. Coordinates are the
// view's. Fills cover one pixel more than asked in each direction; outlines and lines run
// on the coordinates themselves.
class GraphicsContext
{
public:
    GraphicsContext(cairo_t* context, float windowAlpha);

    // Note: width comes before alpha. The colour's alpha is a / 255 times the window alpha;
    // the pen alpha is that rounded to 0-255.
    void SetPenColour(int r, int g, int b, int width, int a);
    void SetPenColour(Colour const& c, int width);
    // Only the size has an effect: all text is drawn in one face.
    void SetFont(int size, char const* name, bool bold, bool italic);

    // Baseline 8 pixels below y, starting 2 pixels right of x. The colour's alpha and the pen
    // alpha both apply (a translucent pen attenuates text twice).
    void DrawString(char const* text, long x, long y);
    void DrawFilledRect(long x, long y, long w, long h);
    void DrawFilledRect(GRectangle const& r) { DrawFilledRect(r.x, r.y, r.width, r.height); }
    // Four separate segments; nothing at all when the pen alpha is 0.
    void DrawRectOutline(long x, long y, long w, long h);
    void DrawRectOutline(GRectangle const& r) { DrawRectOutline(r.x, r.y, r.width, r.height); }
    void DrawLine(long x0, long y0, long x1, long y1);
    // A polyline: MoveTo starts it, LineTo extends it, EndLine strokes it.
    void MoveTo(long x, long y);
    void LineTo(long x, long y);
    void EndLine();
    // A filled sector of radius r centred at (x + r + 1, y + r + 1), from startDeg to endDeg
    // (degrees, clockwise on screen).
    void DrawPie(long x, long y, long r, float startDeg, float endDeg);

    cairo_t* GetContext() const { return context; }
    float GetWindowAlpha() const { return windowAlpha; }
    int GetPenAlpha() const { return penAlpha; }
    int GetPenRed() const { return penRed; }
    int GetPenGreen() const { return penGreen; }
    int GetPenBlue() const { return penBlue; }

private:
    void UsePen();

    cairo_t* context;
    int penRed = 0;
    int penGreen = 0;
    int penBlue = 0;
    int penAlpha = 255;
    float windowAlpha;
    float colourAlpha = 1.0f; // pen colour alpha as given to the context
    double fontSize = 8;
    double lineWidth = 1;
};
