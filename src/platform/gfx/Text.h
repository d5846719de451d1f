#pragma once

#include <string>
#include <vector>

#include <cairo.h>

namespace gfx
{
// Text is drawn in one face: "Arial" as fontconfig has it (Liberation Sans), else DejaVu Sans.
char const* FontFamily();
void SelectFont(cairo_t* cr, double size);

// Valid UTF-8 stays as it is; any other text is read as Mac Roman.
bool IsValidUtf8(char const* text);
std::string MacRomanToUtf8(char const* text);
std::string ToDisplayText(char const* text);

// The advance of the text (converted as above) in the one face at that size.
double TextAdvance(char const* text, double size);

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
};
// The record the test back end keeps (null: none).
void SetDrawnStringRecord(std::vector<DrawnString>* record);
} // namespace gfx
