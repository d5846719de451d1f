#pragma once

#include <cairo.h>

#include <string>
#include <vector>

#include "platform/gfx/Images.h"

// The toolkit tests' own embedded images, drawn with cairo and registered once:
// "TestUpright.png" is 20 x 10, its top five rows red and its bottom five blue;
// "TestBroken.png" holds bytes that are no PNG.
inline std::vector<unsigned char> EncodePng(cairo_surface_t* image)
{
    std::vector<unsigned char> bytes;
    cairo_surface_write_to_png_stream(
        image,
        [](void* closure, unsigned char const* data, unsigned int length)
        {
            auto* out = static_cast<std::vector<unsigned char>*>(closure);
            out->insert(out->end(), data, data + length);
            return CAIRO_STATUS_SUCCESS;
        },
        &bytes);
    return bytes;
}

inline std::vector<unsigned char> UprightPng()
{
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 20, 10);
    cairo_t* cr = cairo_create(image);
    cairo_set_source_rgb(cr, 1, 0, 0);
    cairo_rectangle(cr, 0, 0, 20, 5);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0, 0, 1);
    cairo_rectangle(cr, 0, 5, 20, 5);
    cairo_fill(cr);
    cairo_destroy(cr);
    std::vector<unsigned char> bytes = EncodePng(image);
    cairo_surface_destroy(image);
    return bytes;
}

inline void RegisterTestImages()
{
    static std::vector<unsigned char> const upright = UprightPng();
    static std::string const broken = "this is not a PNG file";
    gfx::RegisterEmbeddedImage("TestUpright.png", upright.data(), upright.size());
    gfx::RegisterEmbeddedImage("TestBroken.png", reinterpret_cast<unsigned char const*>(broken.data()),
                               broken.size());
}
