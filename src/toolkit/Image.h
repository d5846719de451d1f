#pragma once

#include <cairo.h>

class GraphicsContext;

// What to load: kind 0 is a resource of a bundle (the embedded image table is the main
// bundle), any other kind a file path.
struct ImageResource
{
    long kind = 0;
    char const* name = nullptr; // the resource name, or the file path
    char const* type = nullptr; // the file extension of a resource
    char const* bundleId = nullptr;
};

// A decoded image, drawn at its own size or scaled.
class Image
{
public:
    Image() = default;
    virtual ~Image();
    Image(Image const&) = delete;
    Image& operator=(Image const&) = delete;

    // A path in the image folder whose file name is in the embedded table decodes from the
    // table, any other from disk. A missing file throws a String: "Error in
    // Image::LoadFromFile.. Could not find image file: <path>"; a file that does not decode
    // leaves the image loaded with no pixels (size 0, draws nothing).
    void LoadFromFile(char const* path);
    // name.type from the bundle: null is the main bundle, the embedded table; with no such
    // bundle or resource the image stays not loaded.
    void LoadFromBundle(char const* name, char const* type, char const* bundleId);
    void LoadFromResource(long id, char const* name, char const* type, char const* other,
                          char const* bundleId);
    void LoadImageResource(ImageResource& resource);

    long GetWidth() const { return width; }
    long GetHeight() const { return height; }
    void GetSize(long* w, long* h) const;
    bool IsLoaded() const { return loaded; }

    // At (x, y), w and h -1 meaning the image's own; a width or height of 0 or less, an
    // image not loaded or one without pixels draw nothing. Drawn at the window alpha; the
    // pen plays no part.
    void Draw(GraphicsContext* gc, long x, long y, long w = -1, long h = -1);

    cairo_surface_t* GetImage() const { return image; }

private:
    void Take(cairo_surface_t* decoded);

    cairo_surface_t* image = nullptr;
    long width = 0;
    long height = 0;
    bool loaded = false;
};
