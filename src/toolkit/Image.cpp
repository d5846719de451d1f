#include "toolkit/Image.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "framework/Paths.h"
#include "framework/Streams.h"
#include "framework/String.h"
#include "platform/gfx/Images.h"
#include "toolkit/GraphicsContext.h"

namespace
{
// The file name of a path directly in the image folder, or null.
char const* ImageFolderName(char const* path)
{
    char const* folder = GetImagePath();
    std::size_t n = std::strlen(folder);
    if (n == 0 || std::strncmp(path, folder, n) != 0) return nullptr;
    char const* name = path + n;
    if (!*name || std::strchr(name, '/')) return nullptr;
    return name;
}

cairo_surface_t* DecodeEmbedded(char const* name, bool* found)
{
    unsigned char const* data = nullptr;
    std::size_t size = 0;
    *found = gfx::FindEmbeddedImage(name, &data, &size);
    return *found ? gfx::DecodePng(data, size) : nullptr;
}
} // namespace

Image::~Image()
{
    if (image) cairo_surface_destroy(image);
}

void Image::Take(cairo_surface_t* decoded)
{
    if (image) cairo_surface_destroy(image);
    image = decoded;
    width = image ? cairo_image_surface_get_width(image) : 0;
    height = image ? cairo_image_surface_get_height(image) : 0;
    loaded = true;
}

void Image::LoadFromFile(char const* path)
{
    if (!path) path = "";
    if (char const* name = ImageFolderName(path))
    {
        bool found = false;
        cairo_surface_t* decoded = DecodeEmbedded(name, &found);
        if (found)
        {
            Take(decoded);
            return;
        }
    }
    // A regular file only, read without ever waiting on a FIFO or device.
    std::FILE* file = OpenRegularStream(path, false);
    if (!file)
    {
        String error;
        error.Format("Error in Image::LoadFromFile.. Could not find image file: %s", path);
        throw error;
    }
    std::vector<unsigned char> bytes;
    unsigned char block[65536];
    std::size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0)
        bytes.insert(bytes.end(), block, block + got);
    std::fclose(file);
    Take(gfx::DecodePng(bytes.data(), bytes.size()));
}

void Image::LoadFromBundle(char const* name, char const* type, char const* bundleId)
{
    if (bundleId || !name) return; // only the main bundle exists
    std::string resource(name);
    if (type && *type) resource += std::string(".") + type;
    bool found = false;
    cairo_surface_t* decoded = DecodeEmbedded(resource.c_str(), &found);
    if (found) Take(decoded);
}

void Image::LoadFromResource(long, char const* name, char const* type, char const*, char const* bundleId)
{
    LoadFromBundle(name, type, bundleId);
}

void Image::LoadImageResource(ImageResource& r)
{
    if (r.kind == 0)
        LoadFromBundle(r.name, r.type, r.bundleId);
    else
        LoadFromFile(r.name);
}

void Image::GetSize(long* w, long* h) const
{
    if (w) *w = width;
    if (h) *h = height;
}

void Image::Draw(GraphicsContext* gc, long x, long y, long w, long h)
{
    if (!gc || !loaded || !image || width <= 0 || height <= 0) return;
    if (w == -1) w = width;
    if (h == -1) h = height;
    if (w <= 0 || h <= 0) return;
    cairo_t* cr = gc->GetContext();
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, static_cast<double>(w) / width, static_cast<double>(h) / height);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_rectangle(cr, 0, 0, width, height);
    cairo_clip(cr);
    if (gc->GetWindowAlpha() == 1.0f)
        cairo_paint(cr);
    else
        cairo_paint_with_alpha(cr, gc->GetWindowAlpha());
    cairo_restore(cr);
}
