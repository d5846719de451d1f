#pragma once

#include "toolkit/Geometry.h"
#include "toolkit/Window.h"

// One line of text that passes the mouse on to its parent (in the parent's coordinates), so
// it never blocks clicks on what lies behind it. A label without a parent drops them.
class Label : public Window
{
public:
    static constexpr int kMaxText = 255;

    Label() = default;
    void Create(Window* parent, char const* text, long w, long h, long x, long y);
    // At most kMaxText bytes are kept, cut at a character boundary.
    void SetLabel(char const* text, bool repaint);
    char const* GetLabel() const { return text; }
    void SetTextColour(Colour const& c, bool repaint);
    void SetFont(int size, bool bold, bool italic);

    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void LButtonUp(long x, long y) override;
    void RButtonDown(long x, long y) override;
    void RButtonUp(long x, long y) override;
    void MouseMoved(long x, long y) override;

private:
    char text[kMaxText + 1] = {};
    Colour textColour;
    int fontSize = 8;
    bool bold = false;
    bool italic = false;
};
