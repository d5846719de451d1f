#include "platform/gfx/Text.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>

#include <fontconfig/fontconfig.h>

namespace gfx
{
namespace
{
// Mac Roman 0x80-0xFF as Unicode code points.
const std::uint16_t kMacRoman[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

void AppendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80)
        out += static_cast<char>(c);
    else if (c < 0x800)
    {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::vector<DrawnString>* drawnStrings = nullptr;

bool HasFamily(char const* family)
{
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<FcChar8 const*>(family));
    FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, nullptr);
    FcFontSet* fonts = FcFontList(nullptr, pattern, objects);
    bool found = fonts && fonts->nfont > 0;
    if (fonts) FcFontSetDestroy(fonts);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    return found;
}
} // namespace

char const* FontFamily()
{
    // "Arial" itself when installed, else the face that matches its metrics, else DejaVu Sans.
    static char const* family = []
    {
        if (HasFamily("Arial")) return "Arial";
        if (HasFamily("Liberation Sans")) return "Liberation Sans";
        return "DejaVu Sans";
    }();
    return family;
}

void SelectFont(cairo_t* cr, double size)
{
    cairo_select_font_face(cr, FontFamily(), CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
}

bool IsValidUtf8(char const* text)
{
    auto const* s = reinterpret_cast<unsigned char const*>(text);
    while (*s)
    {
        unsigned c = *s;
        int extra;
        std::uint32_t cp;
        if (c < 0x80)
        {
            ++s;
            continue;
        }
        else if (c >= 0xC2 && c <= 0xDF)
            extra = 1, cp = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF)
            extra = 2, cp = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4)
            extra = 3, cp = c & 0x07;
        else
            return false;
        ++s;
        for (int i = 0; i < extra; ++i, ++s)
        {
            if ((*s & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (*s & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
    }
    return true;
}

std::string MacRomanToUtf8(char const* text)
{
    std::string out;
    for (auto const* s = reinterpret_cast<unsigned char const*>(text); *s; ++s)
        AppendUtf8(out, *s < 0x80 ? *s : kMacRoman[*s - 0x80]);
    return out;
}

bool IsNoncharacter(std::uint32_t c)
{
    return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

std::string ReplaceNoncharacters(std::string text)
{
    // Noncharacters take three bytes (U+FDD0-U+FDEF, U+FFFE, U+FFFF) or four (the last two code
    // points of planes 1-16); in valid UTF-8 they are found by their lead bytes.
    static char const kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD
    for (std::size_t i = 0; i < text.size();)
    {
        auto const lead = static_cast<unsigned char>(text[i]);
        std::size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (n >= 3 && i + n <= text.size())
        {
            std::uint32_t c = lead & (n == 3 ? 0x0F : 0x07);
            for (std::size_t k = 1; k < n; ++k)
                c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            if (IsNoncharacter(c))
            {
                text.replace(i, n, kReplacement, 3);
                n = 3;
            }
        }
        i += n;
    }
    return text;
}

std::string ToDisplayText(char const* text)
{
    if (!text) return std::string();
    return IsValidUtf8(text) ? ReplaceNoncharacters(text) : MacRomanToUtf8(text);
}

double TextAdvance(char const* text, double size)
{
    std::string utf8 = ToDisplayText(text);
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(scratch);
    SelectFont(cr, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, utf8.c_str(), &extents);
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);
    return extents.x_advance;
}

TextMeasure::TextMeasure(double fontSize) : size(fontSize)
{
    Open();
}

TextMeasure::~TextMeasure()
{
    Close();
}

void TextMeasure::Open()
{
    surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    context = cairo_create(surface);
    SelectFont(context, size);
}

void TextMeasure::Close()
{
    if (context) cairo_destroy(context);
    if (surface) cairo_surface_destroy(surface);
    context = nullptr;
    surface = nullptr;
}

double TextMeasure::operator()(std::string_view text)
{
    std::string const piece(text);
    cairo_text_extents_t extents{};
    cairo_text_extents(context, piece.c_str(), &extents);
    if (cairo_status(context) != CAIRO_STATUS_SUCCESS)
    {
        // A piece cairo refuses leaves the context failed: the next one gets a fresh context.
        Close();
        Open();
        return 0.0;
    }
    return extents.x_advance;
}

std::size_t CharacterLength(unsigned char lead)
{
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    return 1;
}

std::string FitWithEllipsis(std::string const& text, double width, MeasureFunction const& measure)
{
    if (measure(text) <= width) return text;
    static char const kEllipsis[] = "\xE2\x80\xA6"; // U+2026
    double const ellipsis = measure(kEllipsis);
    double used = 0.0;
    std::size_t end = 0;
    while (end < text.size())
    {
        std::size_t const n =
            std::min(CharacterLength(static_cast<unsigned char>(text[end])), text.size() - end);
        double const advance = measure(std::string_view(text).substr(end, n));
        if (used + advance + ellipsis > width) break;
        used += advance;
        end += n;
    }
    return text.substr(0, end) + kEllipsis;
}

void ShowText(cairo_t* cr, char const* text, double x, double y)
{
    if (!text || !*text || cairo_status(cr) != CAIRO_STATUS_SUCCESS) return;
    std::string utf8 = ToDisplayText(text);
    if (drawnStrings)
    {
        double dx = x, dy = y;
        cairo_user_to_device(cr, &dx, &dy);
        cairo_matrix_t m;
        cairo_get_font_matrix(cr, &m);
        double r = 0, g = 0, b = 0, a = 1;
        cairo_pattern_get_rgba(cairo_get_source(cr), &r, &g, &b, &a);
        // The ink's box in device pixels, a pixel wider all round for antialiasing, cut to the
        // clip.
        cairo_text_extents_t ink;
        cairo_text_extents(cr, utf8.c_str(), &ink);
        double left = x + ink.x_bearing, top = y + ink.y_bearing;
        double right = left + ink.width, bottom = top + ink.height;
        cairo_user_to_device(cr, &left, &top);
        cairo_user_to_device(cr, &right, &bottom);
        double clipLeft = 0, clipTop = 0, clipRight = 0, clipBottom = 0;
        cairo_clip_extents(cr, &clipLeft, &clipTop, &clipRight, &clipBottom);
        cairo_user_to_device(cr, &clipLeft, &clipTop);
        cairo_user_to_device(cr, &clipRight, &clipBottom);
        int const l = static_cast<int>(std::floor(std::min(left, right))) - 1;
        int const t = static_cast<int>(std::floor(std::min(top, bottom))) - 1;
        int const rr = static_cast<int>(std::ceil(std::max(left, right))) + 1;
        int const bb = static_cast<int>(std::ceil(std::max(top, bottom))) + 1;
        Rect const box{l, t, rr - l, bb - t};
        int const cl = static_cast<int>(std::floor(std::min(clipLeft, clipRight)));
        int const ct = static_cast<int>(std::floor(std::min(clipTop, clipBottom)));
        int const cr2 = static_cast<int>(std::ceil(std::max(clipLeft, clipRight)));
        int const cb = static_cast<int>(std::ceil(std::max(clipTop, clipBottom)));
        Rect const clip{cl, ct, cr2 - cl, cb - ct};
        drawnStrings->push_back(
            DrawnString{utf8, dx, dy, m.yy, r, g, b, a, cairo_get_target(cr), box.Intersect(clip)});
    }
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, utf8.c_str());
}

void SetDrawnStringRecord(std::vector<DrawnString>* record)
{
    drawnStrings = record;
}
} // namespace gfx
