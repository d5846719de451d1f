#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <cairo.h>

#include "platform/gfx/Types.h"

namespace gfx
{
// Text is drawn in one face: "Arial" as fontconfig has it (Liberation Sans), else DejaVu Sans.
char const* FontFamily();
void SelectFont(cairo_t* cr, double size);

// Valid UTF-8 stays as it is; any other text is read as Mac Roman. Unicode noncharacters
// (U+FDD0-U+FDEF and the last two code points of every plane), which cairo refuses to draw
// (and fails the whole drawing context for), become U+FFFD in displayed text.
bool IsValidUtf8(char const* text);
bool IsNoncharacter(std::uint32_t codePoint);
std::string MacRomanToUtf8(char const* text);
// Valid UTF-8 with every noncharacter replaced by U+FFFD.
std::string ReplaceNoncharacters(std::string text);
std::string ToDisplayText(char const* text);

// The advance of the text (converted as above) in the one face at that size.
double TextAdvance(char const* text, double size);

// A measure of display text (ToDisplayText's result, or pieces of it cut between characters):
// its advance.
using MeasureFunction = std::function<double(std::string_view)>;

// Measures many pieces at one size in one scratch context (TextAdvance makes one per call).
class TextMeasure
{
public:
    explicit TextMeasure(double size);
    ~TextMeasure();
    TextMeasure(TextMeasure const&) = delete;
    TextMeasure& operator=(TextMeasure const&) = delete;

    double operator()(std::string_view text);

private:
    void Open();
    void Close();

    double size;
    cairo_surface_t* surface = nullptr;
    cairo_t* context = nullptr;
};

// The length in bytes of the UTF-8 character that starts with this byte (1 for a stray byte).
std::size_t CharacterLength(unsigned char lead);

// Display text that fits width: the text itself when it fits, else its longest beginning
// (cut between characters) that fits with "\u2026" appended, which it then ends with. Each
// character is measured at most once.
std::string FitWithEllipsis(std::string const& text, double width, MeasureFunction const& measure);

// Draws the text (converted as above) with its baseline origin at (x, y) in the context's
// coordinates, and adds it to the drawn-string record when one is kept.
void ShowText(cairo_t* cr, char const* text, double x, double y);

struct DrawnString
{
    std::string text; // as drawn (UTF-8)
    double x;         // baseline origin in surface coordinates
    double y;
    double size;
    double red, green, blue, alpha; // the colour it was drawn with
    cairo_surface_t const* target;  // the surface it was drawn on
    Rect visible;                   // the pixels its glyphs may touch, inside the clip
};
// The record the test back end keeps (null: none).
void SetDrawnStringRecord(std::vector<DrawnString>* record);
} // namespace gfx
