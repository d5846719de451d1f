#pragma once

// The theme and the drawing helpers every image is made of.

#include "Manifest.h"

namespace artgen
{

struct Colour
{
    double r, g, b, a = 1.0;
};

constexpr Colour Rgb8(int r, int g, int b, double a = 1.0)
{
    return {r / 255.0, g / 255.0, b / 255.0, a};
}
constexpr Colour FromLayout(layout::Rgb c, double a = 1.0)
{
    return Rgb8(c.r, c.g, c.b, a);
}
Colour Mix(Colour a, Colour b, double t);
Colour Scale(Colour c, double f);

namespace theme
{
constexpr Colour kPage = Rgb8(24, 25, 29);
constexpr Colour kHeaderTop = Rgb8(40, 43, 50);
constexpr Colour kHeaderBottom = Rgb8(27, 29, 34);
constexpr Colour kPanel = Rgb8(36, 38, 44);
constexpr Colour kPanelBorder = Rgb8(62, 66, 76);
constexpr Colour kField = Rgb8(13, 14, 17);
constexpr Colour kFieldBorder = Rgb8(70, 74, 86);
constexpr Colour kCaption = Rgb8(190, 195, 205);
constexpr Colour kDimCaption = Rgb8(140, 146, 158);
constexpr Colour kTitle = Rgb8(230, 233, 240);
constexpr Colour kAccent = Rgb8(70, 150, 235);
constexpr Colour kLedOn = Rgb8(70, 225, 100);
constexpr Colour kLedOff = Rgb8(44, 54, 48);
constexpr Colour kLightPanel = Rgb8(226, 229, 236);
} // namespace theme

// Text in the editor's one face, never smaller than this.
constexpr double kMinTextSize = 8.0;
enum class Align
{
    Left,
    Centre,
    Right,
};
void Text(cairo_t* cr, const char* text, double x, double y, double size, Colour c, Align align = Align::Left,
          bool bold = false);
// Text centred in a rectangle (both ways).
void TextIn(cairo_t* cr, const char* text, layout::Rect r, double size, Colour c, bool bold = false);
double TextWidth(cairo_t* cr, const char* text, double size, bool bold = false);

void Fill(cairo_t* cr, layout::Rect r, Colour c);
void RoundRect(cairo_t* cr, double x, double y, double w, double h, double radius);
void FillRound(cairo_t* cr, layout::Rect r, double radius, Colour c);
void StrokeRect(cairo_t* cr, layout::Rect r, Colour c, double width = 1.0);
void Line(cairo_t* cr, double x0, double y0, double x1, double y1, Colour c, double width = 1.0);
void VerticalGradient(cairo_t* cr, layout::Rect r, double radius, Colour top, Colour bottom);

// Page furniture.
void Panel(cairo_t* cr, layout::Rect r, const char* title = nullptr);
void DarkField(cairo_t* cr, layout::Rect r);
void HTrack(cairo_t* cr, layout::Rect track);
void VTrack(cairo_t* cr, layout::Rect track);
void ListBox(cairo_t* cr, layout::Rect box); // with its scroll track and arrow zones
void Glyph(cairo_t* cr, const char* name, layout::Rect r, Colour c);

// Control pictures.
void ButtonFace(cairo_t* cr, layout::Rect r, bool pressed, const Colour* tint = nullptr);

// Painters referenced from the manifest.
void PaintButton(cairo_t* cr, const ArtEntry& e);
void PaintTintedButton(cairo_t* cr, const ArtEntry& e);
void PaintLabelToggle(cairo_t* cr, const ArtEntry& e);
void PaintSwitch(cairo_t* cr, const ArtEntry& e);
void PaintLed(cairo_t* cr, const ArtEntry& e);
void PaintVoiceTab(cairo_t* cr, const ArtEntry& e);
void PaintCheckbox(cairo_t* cr, const ArtEntry& e);
void PaintRadio(cairo_t* cr, const ArtEntry& e);
void PaintTag(cairo_t* cr, const ArtEntry& e);
void PaintKnob(cairo_t* cr, const ArtEntry& e);
void PaintKnobPointer(cairo_t* cr, const ArtEntry& e);
void PaintBowlDot(cairo_t* cr, const ArtEntry& e);
void PaintModulationOn(cairo_t* cr, const ArtEntry& e);
void PaintSelectorFrame(cairo_t* cr, const ArtEntry& e);
void PaintSelectorArrow(cairo_t* cr, const ArtEntry& e);
void PaintShapeIcon(cairo_t* cr, const ArtEntry& e);
void PaintSliderPointer(cairo_t* cr, const ArtEntry& e);
void PaintFader(cairo_t* cr, const ArtEntry& e);
void PaintSmallButton(cairo_t* cr, const ArtEntry& e);
void PaintZoomLabel(cairo_t* cr, const ArtEntry& e);
void PaintPanTrack(cairo_t* cr, const ArtEntry& e);

void PaintSynthBackground(cairo_t* cr, const ArtEntry& e);
void PaintPerformBackground(cairo_t* cr, const ArtEntry& e);
void PaintPresetBackground(cairo_t* cr, const ArtEntry& e);
void PaintSplash(cairo_t* cr, const ArtEntry& e);
void PaintSelectionBar(cairo_t* cr, const ArtEntry& e);
void PaintTimelinePresetDialog(cairo_t* cr, const ArtEntry& e);
void PaintSaveDialog(cairo_t* cr, const ArtEntry& e);
void PaintWaveBrowser(cairo_t* cr, const ArtEntry& e);
void PaintWaveEditor(cairo_t* cr, const ArtEntry& e);

// The colour of the wave editor's backdrop under its partial graph (shared with the caption
// and pan track images drawn over it).
constexpr Colour kWaveEditorGraph = Rgb8(13, 14, 17);

} // namespace artgen
