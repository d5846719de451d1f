#include <stdexcept>
#include <string>

#include "Manifest.h"

namespace artgen
{
namespace
{

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length)
{
    auto* out = static_cast<std::vector<unsigned char>*>(closure);
    out->insert(out->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

std::vector<unsigned char> RenderPng(const ArtEntry& entry)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, entry.w, entry.h);
    cairo_t* cr = cairo_create(surface);
    // Grey antialiasing without hinting: the same outlines on every machine with the same fonts.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
    if (entry.paint) entry.paint(cr, entry);
    const cairo_status_t drawn = cairo_status(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    std::vector<unsigned char> png;
    const cairo_status_t written = cairo_surface_write_to_png_stream(surface, Append, &png);
    cairo_surface_destroy(surface);
    if (drawn != CAIRO_STATUS_SUCCESS || written != CAIRO_STATUS_SUCCESS)
    {
        throw std::runtime_error(std::string("cannot draw ") + entry.name + ": " +
                                 cairo_status_to_string(drawn != CAIRO_STATUS_SUCCESS ? drawn : written));
    }
    return png;
}

} // namespace artgen
