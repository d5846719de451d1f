#include "Paint.h"

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

namespace artgen
{

Colour Mix(Colour a, Colour b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

Colour Scale(Colour c, double f)
{
    return {c.r * f, c.g * f, c.b * f, c.a};
}

namespace
{

void SetColour(cairo_t* cr, Colour c)
{
    cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
}

void SetFont(cairo_t* cr, double size, bool bold)
{
    cairo_select_font_face(cr, "Arial", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
}

} // namespace

double TextWidth(cairo_t* cr, const char* text, double size, bool bold)
{
    SetFont(cr, size, bold);
    cairo_text_extents_t ext;
    cairo_text_extents(cr, text, &ext);
    return ext.x_advance;
}

void Text(cairo_t* cr, const char* text, double x, double y, double size, Colour c, Align align, bool bold)
{
    // Nothing in the editor is lettered below 8 pixels.
    if (size < kMinTextSize) throw std::logic_error(std::string("text below the smallest size: ") + text);
    const double w = TextWidth(cr, text, size, bold);
    if (align == Align::Centre) x -= w / 2;
    if (align == Align::Right) x -= w;
    SetColour(cr, c);
    cairo_move_to(cr, std::round(x), y);
    cairo_show_text(cr, text);
    cairo_new_path(cr);
}

void TextIn(cairo_t* cr, const char* text, layout::Rect r, double size, Colour c, bool bold)
{
    SetFont(cr, size, bold);
    cairo_font_extents_t fe;
    cairo_font_extents(cr, &fe);
    // Centre the cap height rather than the full extent, which looks right for captions.
    const double capHeight = size * 0.72;
    const double baseline = std::round(r.y + (r.h + capHeight) / 2.0);
    Text(cr, text, r.x + r.w / 2.0, baseline, size, c, Align::Centre, bold);
}

void Fill(cairo_t* cr, layout::Rect r, Colour c)
{
    SetColour(cr, c);
    cairo_rectangle(cr, r.x, r.y, r.w, r.h);
    cairo_fill(cr);
}

void RoundRect(cairo_t* cr, double x, double y, double w, double h, double radius)
{
    const double rr = std::fmin(radius, std::fmin(w, h) / 2);
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - rr, y + rr, rr, -M_PI / 2, 0);
    cairo_arc(cr, x + w - rr, y + h - rr, rr, 0, M_PI / 2);
    cairo_arc(cr, x + rr, y + h - rr, rr, M_PI / 2, M_PI);
    cairo_arc(cr, x + rr, y + rr, rr, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void FillRound(cairo_t* cr, layout::Rect r, double radius, Colour c)
{
    SetColour(cr, c);
    RoundRect(cr, r.x, r.y, r.w, r.h, radius);
    cairo_fill(cr);
}

void StrokeRect(cairo_t* cr, layout::Rect r, Colour c, double width)
{
    SetColour(cr, c);
    cairo_set_line_width(cr, width);
    cairo_rectangle(cr, r.x + width / 2, r.y + width / 2, r.w - width, r.h - width);
    cairo_stroke(cr);
}

void Line(cairo_t* cr, double x0, double y0, double x1, double y1, Colour c, double width)
{
    SetColour(cr, c);
    cairo_set_line_width(cr, width);
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_stroke(cr);
}

void VerticalGradient(cairo_t* cr, layout::Rect r, double radius, Colour top, Colour bottom)
{
    cairo_pattern_t* p = cairo_pattern_create_linear(0, r.y, 0, r.y + r.h);
    cairo_pattern_add_color_stop_rgba(p, 0, top.r, top.g, top.b, top.a);
    cairo_pattern_add_color_stop_rgba(p, 1, bottom.r, bottom.g, bottom.b, bottom.a);
    cairo_set_source(cr, p);
    if (radius > 0)
        RoundRect(cr, r.x, r.y, r.w, r.h, radius);
    else
        cairo_rectangle(cr, r.x, r.y, r.w, r.h);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
}

void Panel(cairo_t* cr, layout::Rect r, const char* title)
{
    FillRound(cr, r, 4, theme::kPanelBorder);
    FillRound(cr, r.Inset(1), 3, theme::kPanel);
    if (title)
    {
        Text(cr, title, r.x + 6, r.y + 12, 9, theme::kTitle, Align::Left, true);
    }
}

void DarkField(cairo_t* cr, layout::Rect r)
{
    Fill(cr, {r.x - 1, r.y - 1, r.w + 2, r.h + 2}, theme::kFieldBorder);
    Fill(cr, r, theme::kField);
}

void HTrack(cairo_t* cr, layout::Rect t)
{
    FillRound(cr, {t.x - 1, t.y - 1, t.w + 2, t.h + 2}, 2, Rgb8(78, 83, 95));
    FillRound(cr, t, 1.5, Rgb8(8, 9, 11));
    // End ticks so the travel reads at a glance.
    Line(cr, t.x + 0.5, t.y + t.h + 1, t.x + 0.5, t.y + t.h + 4, theme::kDimCaption);
    Line(cr, t.Right() - 0.5, t.y + t.h + 1, t.Right() - 0.5, t.y + t.h + 4, theme::kDimCaption);
}

void VTrack(cairo_t* cr, layout::Rect t)
{
    FillRound(cr, {t.x - 1, t.y - 1, t.w + 2, t.h + 2}, 2, Rgb8(78, 83, 95));
    FillRound(cr, t, 1.5, Rgb8(8, 9, 11));
}

void ListBox(cairo_t* cr, layout::Rect box)
{
    DarkField(cr, box);
    const layout::Rect track = layout::ListScrollTrack(box);
    Fill(cr, track, Rgb8(30, 32, 37));
    Line(cr, track.x + 0.5, track.y, track.x + 0.5, track.Bottom(), theme::kFieldBorder);
    const layout::Rect up{track.x + 1, track.y, track.w - 1, layout::kListArrowHeight};
    const layout::Rect down{track.x + 1, track.Bottom() - layout::kListArrowHeight, track.w - 1,
                            layout::kListArrowHeight};
    Fill(cr, up, Rgb8(58, 62, 71));
    Fill(cr, down, Rgb8(58, 62, 71));
    Glyph(cr, "#up", up, theme::kCaption);
    Glyph(cr, "#down", down, theme::kCaption);
}

void Glyph(cairo_t* cr, const char* name, layout::Rect r, Colour c)
{
    const double cx = r.x + r.w / 2.0;
    const double cy = r.y + r.h / 2.0;
    const double s = std::fmin(r.w, r.h);
    SetColour(cr, c);
    if (std::strcmp(name, "#left") == 0 || std::strcmp(name, "#right") == 0)
    {
        const double hw = std::fmax(2.0, s * 0.22);
        const double hh = std::fmax(2.5, s * 0.3);
        const double dir = name[1] == 'l' ? -1 : 1;
        cairo_move_to(cr, cx + dir * hw, cy);
        cairo_line_to(cr, cx - dir * hw, cy - hh);
        cairo_line_to(cr, cx - dir * hw, cy + hh);
        cairo_close_path(cr);
        cairo_fill(cr);
    }
    else if (std::strcmp(name, "#up") == 0 || std::strcmp(name, "#down") == 0 ||
             std::strcmp(name, "#menu") == 0)
    {
        const double hw = std::fmax(2.5, s * 0.28);
        const double hh = std::fmax(2.0, s * 0.2);
        const double dir = name[1] == 'u' ? -1 : 1;
        cairo_move_to(cr, cx, cy + dir * hh);
        cairo_line_to(cr, cx - hw, cy - dir * hh);
        cairo_line_to(cr, cx + hw, cy - dir * hh);
        cairo_close_path(cr);
        cairo_fill(cr);
    }
    else if (std::strcmp(name, "#x") == 0)
    {
        const double d = s * 0.22;
        cairo_set_line_width(cr, 1.6);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_move_to(cr, cx - d, cy - d);
        cairo_line_to(cr, cx + d, cy + d);
        cairo_move_to(cr, cx + d, cy - d);
        cairo_line_to(cr, cx - d, cy + d);
        cairo_stroke(cr);
    }
    else if (std::strcmp(name, "#minus") == 0 || std::strcmp(name, "#plus") == 0)
    {
        const double d = std::floor(s * 0.3);
        cairo_rectangle(cr, std::floor(cx - d), std::floor(cy) - 1, 2 * d, 2);
        if (name[1] == 'p') cairo_rectangle(cr, std::floor(cx) - 1, std::floor(cy - d), 2, 2 * d);
        cairo_fill(cr);
    }
    else if (std::strcmp(name, "#info") == 0)
    {
        cairo_set_line_width(cr, 1.5);
        cairo_arc(cr, cx, cy, s * 0.34, 0, 2 * M_PI);
        cairo_stroke(cr);
        TextIn(cr, "i", {r.x, r.y, r.w, r.h}, s * 0.42, c, true);
    }
}

void ButtonFace(cairo_t* cr, layout::Rect r, bool pressed, const Colour* tint)
{
    const double radius = r.h >= 18 ? 3 : 2;
    Colour top = pressed ? Rgb8(26, 27, 31) : Rgb8(92, 97, 108);
    Colour bottom = pressed ? Rgb8(38, 40, 46) : Rgb8(62, 66, 75);
    if (tint)
    {
        top = pressed ? Mix(Rgb8(18, 19, 22), *tint, 0.22) : Mix(Rgb8(60, 62, 70), *tint, 0.55);
        bottom = pressed ? Mix(Rgb8(26, 27, 31), *tint, 0.28) : Mix(Rgb8(36, 38, 44), *tint, 0.42);
    }
    FillRound(cr, r, radius, Rgb8(10, 10, 12));
    VerticalGradient(cr, r.Inset(1), radius - 0.5, top, bottom);
    if (pressed)
    {
        // Inset shadow along the top and left edges.
        Line(cr, r.x + 1.5, r.y + 1.5, r.Right() - 1.5, r.y + 1.5, Rgb8(0, 0, 0, 0.7));
        Line(cr, r.x + 1.5, r.y + 1.5, r.x + 1.5, r.Bottom() - 1.5, Rgb8(0, 0, 0, 0.45));
    }
    else
    {
        Line(cr, r.x + 2, r.y + 1.5, r.Right() - 2, r.y + 1.5, Rgb8(255, 255, 255, 0.28));
    }
}

namespace
{

double LabelSize(int h)
{
    return h >= 20 ? 11 : h >= 16 ? 10 : h >= 14 ? 9 : 8;
}

void ButtonLabel(cairo_t* cr, const char* label, layout::Rect r, bool pressed, Colour c)
{
    const layout::Rect at = pressed ? r.Offset({1, 1}) : r;
    if (label[0] == '#')
        Glyph(cr, label, at, c);
    else
    {
        double size = LabelSize(r.h);
        while (size > 8 && TextWidth(cr, label, size) > r.w - 4)
            size -= 0.5;
        TextIn(cr, label, at, size, c, r.h >= 14);
    }
}

} // namespace

void PaintButton(cairo_t* cr, const ArtEntry& e)
{
    const layout::Rect r{0, 0, e.w, e.h};
    const bool pressed = e.state == ArtState::Pressed;
    if (e.state == ArtState::Unavailable)
    {
        FillRound(cr, r, 3, Rgb8(30, 31, 35));
        FillRound(cr, r.Inset(1), 2.5, Rgb8(42, 44, 49));
        ButtonLabel(cr, e.label, r, false, Rgb8(98, 102, 112));
        return;
    }
    ButtonFace(cr, r, pressed, nullptr);
    ButtonLabel(cr, e.label, r, pressed, pressed ? Rgb8(200, 205, 215) : Rgb8(240, 242, 247));
}

void PaintTintedButton(cairo_t* cr, const ArtEntry& e)
{
    const layout::Rect r{0, 0, e.w, e.h};
    const bool pressed = e.state == ArtState::Pressed;
    const Colour tint = FromLayout(e.colour);
    ButtonFace(cr, r, pressed, &tint);
    // Light line colours take dark text; dark ones white.
    const double lum = 0.2126 * tint.r + 0.7152 * tint.g + 0.0722 * tint.b;
    Colour ink = lum > 0.55 && !pressed ? Rgb8(12, 12, 14) : Rgb8(245, 245, 248);
    if (pressed) ink = Mix(tint, Rgb8(255, 255, 255), 0.35);
    ButtonLabel(cr, e.label, r, pressed, ink);
}

void PaintSmallButton(cairo_t* cr, const ArtEntry& e)
{
    const layout::Rect r{0, 0, e.w, e.h};
    const bool pressed = e.state == ArtState::Pressed;
    FillRound(cr, r, 2, pressed ? Rgb8(10, 10, 12) : Rgb8(20, 21, 24));
    VerticalGradient(cr, r.Inset(1), 1.5, pressed ? Rgb8(28, 29, 33) : Rgb8(88, 92, 104),
                     pressed ? Rgb8(40, 42, 48) : Rgb8(62, 66, 76));
    ButtonLabel(cr, e.label, r, false, pressed ? theme::kAccent : Rgb8(235, 238, 244));
}

void PaintLabelToggle(cairo_t* cr, const ArtEntry& e)
{
    const layout::Rect r{0, 0, e.w, e.h};
    const bool on = e.state == ArtState::On;
    FillRound(cr, r, 3, Rgb8(10, 10, 12));
    if (on)
        VerticalGradient(cr, r.Inset(1), 2.5, Rgb8(64, 150, 86), Rgb8(34, 104, 52));
    else
        VerticalGradient(cr, r.Inset(1), 2.5, Rgb8(48, 50, 57), Rgb8(36, 38, 43));
    layout::Rect textArea = r;
    if (e.w >= 70)
    {
        // A lamp at the left edge.
        const double cx = 7, cy = e.h / 2.0;
        SetColour(cr, on ? Rgb8(170, 255, 180) : Rgb8(22, 26, 24));
        cairo_arc(cr, cx, cy, 2.6, 0, 2 * M_PI);
        cairo_fill(cr);
        textArea = {11, 0, e.w - 12, e.h};
    }
    const char* label = e.label;
    double size = LabelSize(e.h);
    while (size > 8 && TextWidth(cr, label, size, true) > textArea.w - 3)
        size -= 0.5;
    TextIn(cr, label, textArea, size, on ? Rgb8(250, 255, 250) : Rgb8(150, 155, 166), true);
}

void PaintSwitch(cairo_t* cr, const ArtEntry& e)
{
    const layout::Rect r{0, 0, e.w, e.h};
    const bool on = e.state == ArtState::On;
    FillRound(cr, r, e.h / 2.0, Rgb8(8, 8, 10));
    FillRound(cr, r.Inset(1), e.h / 2.0 - 1, on ? Rgb8(48, 160, 72) : Rgb8(44, 46, 52));
    // The knob of the switch sits right when on, left when off.
    const double kr = e.h / 2.0 - 2.5;
    const double kx = on ? e.w - e.h / 2.0 : e.h / 2.0;
    SetColour(cr, on ? Rgb8(235, 255, 238) : Rgb8(120, 125, 136));
    cairo_arc(cr, kx, e.h / 2.0, kr, 0, 2 * M_PI);
    cairo_fill(cr);
}

void PaintLed(cairo_t* cr, const ArtEntry& e)
{
    const bool on = e.state == ArtState::On;
    if (e.label)
    {
        // A small lit tag with its sign.
        const layout::Rect r{0, 0, e.w, e.h};
        FillRound(cr, r, 2, Rgb8(8, 8, 10));
        FillRound(cr, r.Inset(1), 1.5, on ? Rgb8(56, 190, 84) : Rgb8(44, 46, 52));
        TextIn(cr, e.label, r, 11, on ? Rgb8(255, 255, 255) : Rgb8(120, 125, 136), true);
        return;
    }
    const double cx = e.w / 2.0, cy = e.h / 2.0, rad = std::fmin(e.w, e.h) / 2.0;
    SetColour(cr, Rgb8(8, 8, 10));
    cairo_arc(cr, cx, cy, rad, 0, 2 * M_PI);
    cairo_fill(cr);
    if (on)
    {
        cairo_pattern_t* p = cairo_pattern_create_radial(cx - 1, cy - 1, 0.5, cx, cy, rad - 1);
        cairo_pattern_add_color_stop_rgb(p, 0, 0.85, 1.0, 0.88);
        cairo_pattern_add_color_stop_rgb(p, 0.45, theme::kLedOn.r, theme::kLedOn.g, theme::kLedOn.b);
        cairo_pattern_add_color_stop_rgb(p, 1, 0.12, 0.55, 0.22);
        cairo_set_source(cr, p);
        cairo_arc(cr, cx, cy, rad - 1, 0, 2 * M_PI);
        cairo_fill(cr);
        cairo_pattern_destroy(p);
    }
    else
    {
        SetColour(cr, theme::kLedOff);
        cairo_arc(cr, cx, cy, rad - 1, 0, 2 * M_PI);
        cairo_fill(cr);
        SetColour(cr, Rgb8(255, 255, 255, 0.12));
        cairo_arc(cr, cx - 1, cy - 1, rad * 0.35, 0, 2 * M_PI);
        cairo_fill(cr);
    }
}

void PaintVoiceTab(cairo_t* cr, const ArtEntry& e)
{
    const layout::Rect r{0, 0, e.w, e.h};
    const bool on = e.state == ArtState::On;
    FillRound(cr, r, 4, on ? Rgb8(12, 12, 14) : Rgb8(16, 17, 20));
    if (on)
    {
        VerticalGradient(cr, r.Inset(1), 3, Rgb8(84, 90, 104), Rgb8(60, 64, 74));
        Fill(cr, {3, e.h - 4, e.w - 6, 2}, theme::kAccent);
        TextIn(cr, e.label, {0, 0, e.w, e.h - 2}, 10, Rgb8(255, 255, 255), true);
    }
    else
    {
        VerticalGradient(cr, r.Inset(1), 3, Rgb8(40, 42, 48), Rgb8(32, 34, 39));
        TextIn(cr, e.label, {0, 0, e.w, e.h - 2}, 10, Rgb8(145, 150, 162), false);
    }
}

void PaintCheckbox(cairo_t* cr, const ArtEntry& e)
{
    const layout::Rect r{0, 0, e.w, e.h};
    if (e.state == ArtState::Unavailable)
    {
        FillRound(cr, r, 2, Rgb8(50, 52, 58));
        FillRound(cr, r.Inset(1), 1.5, Rgb8(34, 35, 40));
        Line(cr, 4, e.h / 2.0, e.w - 4, e.h / 2.0, Rgb8(90, 94, 104), 2);
        return;
    }
    const bool on = e.state == ArtState::On;
    FillRound(cr, r, 2, on ? Rgb8(30, 90, 170) : Rgb8(150, 156, 170));
    FillRound(cr, r.Inset(1), 1.5, on ? theme::kAccent : Rgb8(16, 17, 20));
    if (on)
    {
        SetColour(cr, Rgb8(255, 255, 255));
        cairo_set_line_width(cr, 2);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        cairo_move_to(cr, 3.5, 7.5);
        cairo_line_to(cr, 6.5, 10.5);
        cairo_line_to(cr, 11.5, 4.5);
        cairo_stroke(cr);
    }
}

void PaintRadio(cairo_t* cr, const ArtEntry& e)
{
    const bool on = e.state == ArtState::On;
    const double c = e.w / 2.0, rad = e.w / 2.0 - 1;
    SetColour(cr, on ? theme::kAccent : Rgb8(150, 156, 170));
    cairo_arc(cr, c, c, rad, 0, 2 * M_PI);
    cairo_fill(cr);
    SetColour(cr, Rgb8(16, 17, 20));
    cairo_arc(cr, c, c, rad - 2, 0, 2 * M_PI);
    cairo_fill(cr);
    if (on)
    {
        SetColour(cr, Rgb8(120, 190, 255));
        cairo_arc(cr, c, c, rad - 4.5, 0, 2 * M_PI);
        cairo_fill(cr);
    }
}

void PaintTag(cairo_t* cr, const ArtEntry& e)
{
    const layout::Rect r{0, 0, e.w, e.h};
    const bool pressed = e.state == ArtState::Pressed;
    FillRound(cr, r, 3, Rgb8(30, 31, 36));
    VerticalGradient(cr, r.Inset(1), 2.5, pressed ? Rgb8(40, 42, 48) : Rgb8(76, 80, 92),
                     pressed ? Rgb8(52, 55, 62) : Rgb8(56, 59, 68));
    double size = 10;
    while (size > 8 && TextWidth(cr, e.label, size, true) > e.w - 6)
        size -= 0.5;
    TextIn(cr, e.label, pressed ? r.Offset({1, 1}) : r, size,
           pressed ? Rgb8(190, 195, 205) : Rgb8(245, 246, 250), true);
}

void PaintKnob(cairo_t* cr, const ArtEntry& e)
{
    // Radius 11 round the image centre, which lands on the value ring's centre in the knob window.
    const double c = e.w / 2.0;
    SetColour(cr, Rgb8(0, 0, 0, 0.5));
    cairo_arc(cr, c, c + 1, 11.5, 0, 2 * M_PI);
    cairo_fill(cr);
    SetColour(cr, Rgb8(12, 12, 14));
    cairo_arc(cr, c, c, 11, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_t* p = cairo_pattern_create_linear(0, c - 10, 0, c + 10);
    cairo_pattern_add_color_stop_rgb(p, 0, 0.42, 0.44, 0.49);
    cairo_pattern_add_color_stop_rgb(p, 1, 0.20, 0.21, 0.24);
    cairo_set_source(cr, p);
    cairo_arc(cr, c, c, 10, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
    p = cairo_pattern_create_linear(0, c - 8, 0, c + 8);
    cairo_pattern_add_color_stop_rgb(p, 0, 0.27, 0.28, 0.32);
    cairo_pattern_add_color_stop_rgb(p, 1, 0.33, 0.35, 0.39);
    cairo_set_source(cr, p);
    cairo_arc(cr, c, c, 8, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
}

void PaintKnobPointer(cairo_t* cr, const ArtEntry& e)
{
    const double c = e.w / 2.0;
    SetColour(cr, Rgb8(10, 10, 12, 0.9));
    cairo_arc(cr, c, c, c, 0, 2 * M_PI);
    cairo_fill(cr);
    SetColour(cr, Rgb8(240, 242, 248));
    cairo_arc(cr, c, c, c - 1, 0, 2 * M_PI);
    cairo_fill(cr);
}

void PaintBowlDot(cairo_t* cr, const ArtEntry& e)
{
    const double c = e.w / 2.0;
    SetColour(cr, Rgb8(5, 8, 14, 0.85));
    cairo_arc(cr, c, c, c, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_t* p = cairo_pattern_create_radial(c - 1.5, c - 1.5, 0.5, c, c, c - 1);
    cairo_pattern_add_color_stop_rgb(p, 0, 0.9, 0.96, 1.0);
    cairo_pattern_add_color_stop_rgb(p, 0.5, theme::kAccent.r, theme::kAccent.g, theme::kAccent.b);
    cairo_pattern_add_color_stop_rgb(p, 1, 0.12, 0.35, 0.70);
    cairo_set_source(cr, p);
    cairo_arc(cr, c, c, c - 1, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
}

void PaintModulationOn(cairo_t* cr, const ArtEntry& e)
{
    FillRound(cr, {0, 0, e.w, e.h}, 2, Rgb8(8, 8, 10));
    VerticalGradient(cr, {1, 1, e.w - 2, e.h - 2}, 1.5, Rgb8(150, 255, 165), Rgb8(40, 170, 70));
}

void PaintSelectorFrame(cairo_t* cr, const ArtEntry& e)
{
    const layout::Rect r{0, 0, e.w, e.h};
    FillRound(cr, r, 3, Rgb8(70, 74, 86));
    FillRound(cr, r.Inset(1), 2, theme::kField);
}

void PaintSelectorArrow(cairo_t* cr, const ArtEntry& e)
{
    const layout::Rect r{0, 0, e.w, e.h};
    const bool pressed = e.state == ArtState::Pressed;
    FillRound(cr, r.Inset(1), 2, pressed ? Rgb8(18, 40, 70) : Rgb8(54, 58, 67));
    Glyph(cr, e.label, pressed ? r.Offset({1, 1}) : r, pressed ? Rgb8(120, 190, 255) : Rgb8(220, 224, 232));
}

void PaintShapeIcon(cairo_t* cr, const ArtEntry& e)
{
    // Opaque so the choice replaces whatever was shown before it; the frame's interior colour.
    Fill(cr, {0, 0, e.w, e.h}, theme::kField);
    const double x0 = 2.5, x1 = e.w - 2.5, top = 3.5, bottom = e.h - 3.5, mid = e.h / 2.0;
    SetColour(cr, Rgb8(215, 220, 230));
    cairo_set_line_width(cr, 1.3);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    const std::string_view n = e.name;
    if (n == "WaveSine.png")
    {
        for (int i = 0; i <= 28; ++i)
        {
            const double t = i / 28.0;
            const double y = mid - std::sin(t * 2 * M_PI) * (mid - top);
            if (i == 0)
                cairo_move_to(cr, x0 + t * (x1 - x0), y);
            else
                cairo_line_to(cr, x0 + t * (x1 - x0), y);
        }
    }
    else if (n == "WaveSquare.png")
    {
        const double xm = (x0 + x1) / 2;
        cairo_move_to(cr, x0, bottom);
        cairo_line_to(cr, x0, top);
        cairo_line_to(cr, xm, top);
        cairo_line_to(cr, xm, bottom);
        cairo_line_to(cr, x1, bottom);
        cairo_line_to(cr, x1, top);
    }
    else if (n == "WaveRamp.png")
    {
        const double xm = (x0 + x1) / 2;
        cairo_move_to(cr, x0, bottom);
        cairo_line_to(cr, xm, top);
        cairo_line_to(cr, xm, bottom);
        cairo_line_to(cr, x1, top);
    }
    else if (n == "WaveRandom.png")
    {
        const double steps[] = {0.3, 0.9, 0.1, 0.65, 0.45, 0.95};
        const double w = (x1 - x0) / 6;
        for (int i = 0; i < 6; ++i)
        {
            const double y = bottom - steps[i] * (bottom - top);
            if (i == 0)
                cairo_move_to(cr, x0, y);
            else
                cairo_line_to(cr, x0 + i * w, y);
            cairo_line_to(cr, x0 + (i + 1) * w, y);
        }
    }
    else
    {
        // Filter responses: low-pass, band-pass, high-pass.
        const double pass = top + 2, stop = bottom;
        if (n == "FilterLP.png")
        {
            cairo_move_to(cr, x0, pass);
            cairo_line_to(cr, x0 + 7, pass);
            cairo_curve_to(cr, x0 + 10, pass - 2, x0 + 11, pass, x1, stop);
        }
        else if (n == "FilterHP.png")
        {
            cairo_move_to(cr, x0, stop);
            cairo_curve_to(cr, x1 - 11, pass, x1 - 10, pass - 2, x1 - 7, pass);
            cairo_line_to(cr, x1, pass);
        }
        else
        {
            const double xm = (x0 + x1) / 2;
            cairo_move_to(cr, x0, stop);
            cairo_curve_to(cr, xm - 3, top - 1, xm + 3, top - 1, x1, stop);
        }
    }
    cairo_stroke(cr);
}

void PaintSliderPointer(cairo_t* cr, const ArtEntry& e)
{
    SetColour(cr, Rgb8(236, 239, 245));
    if (std::strcmp(e.label, "#down") == 0)
    {
        cairo_move_to(cr, 0.5, 0.5);
        cairo_line_to(cr, e.w - 0.5, 0.5);
        cairo_line_to(cr, e.w / 2.0, e.h - 0.5);
    }
    else
    {
        cairo_move_to(cr, e.w - 0.5, 0.5);
        cairo_line_to(cr, e.w - 0.5, e.h - 0.5);
        cairo_line_to(cr, 0.5, e.h / 2.0);
    }
    cairo_close_path(cr);
    cairo_fill_preserve(cr);
    SetColour(cr, Rgb8(20, 22, 26));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

void PaintFader(cairo_t* cr, const ArtEntry& e)
{
    const layout::Rect r{0, 0, e.w, e.h};
    FillRound(cr, r, 1.5, Rgb8(10, 10, 12));
    VerticalGradient(cr, r.Inset(1), 1, Rgb8(225, 228, 236), Rgb8(150, 155, 166));
    Line(cr, 1, e.h / 2.0, e.w - 1, e.h / 2.0, Rgb8(30, 32, 36));
}

void PaintZoomLabel(cairo_t* cr, const ArtEntry& e)
{
    Fill(cr, {0, 0, e.w, e.h}, kWaveEditorGraph);
    Text(cr, e.label, 1, e.h - 3, 9, theme::kCaption);
}

void PaintPanTrack(cairo_t* cr, const ArtEntry& e)
{
    Fill(cr, {0, 0, e.w, e.h}, kWaveEditorGraph);
    FillRound(cr, {0, 0, e.w, e.h}, 3, Rgb8(58, 62, 72));
    FillRound(cr, {1, 1, e.w - 2, e.h - 2}, 2.5, Rgb8(24, 25, 29));
}

} // namespace artgen
