#include "platform/gfx/Images.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include <fontconfig/fontconfig.h>

namespace gfx
{
namespace
{
struct Bytes
{
    unsigned char const* data;
    std::size_t size;
};

std::mutex tableMutex;
std::map<std::string, Bytes>& Table()
{
    static auto* table = new std::map<std::string, Bytes>;
    return *table;
}

struct Reader
{
    unsigned char const* data;
    std::size_t size;
    std::size_t at;
};

cairo_status_t Read(void* closure, unsigned char* out, unsigned int length)
{
    auto* r = static_cast<Reader*>(closure);
    if (length > r->size - r->at) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, r->data + r->at, length);
    r->at += length;
    return CAIRO_STATUS_SUCCESS;
}

cairo_surface_t* Checked(cairo_surface_t* image)
{
    if (cairo_surface_status(image) == CAIRO_STATUS_SUCCESS) return image;
    cairo_surface_destroy(image);
    return nullptr;
}
} // namespace

void RegisterEmbeddedImage(char const* name, unsigned char const* data, std::size_t size)
{
    if (!name || !data) return;
    std::lock_guard<std::mutex> lock(tableMutex);
    Table()[name] = Bytes{data, size};
}

void UnregisterEmbeddedImage(char const* name)
{
    if (!name) return;
    std::lock_guard<std::mutex> lock(tableMutex);
    Table().erase(name);
}

bool FindEmbeddedImage(char const* name, unsigned char const** data, std::size_t* size)
{
    if (!name) return false;
    std::lock_guard<std::mutex> lock(tableMutex);
    auto found = Table().find(name);
    if (found == Table().end()) return false;
    if (data) *data = found->second.data;
    if (size) *size = found->second.size;
    return true;
}

cairo_surface_t* DecodePng(unsigned char const* data, std::size_t size)
{
    if (!data) return nullptr;
    Reader reader{data, size, 0};
    return Checked(cairo_image_surface_create_from_png_stream(Read, &reader));
}

cairo_surface_t* DecodePngFile(char const* path)
{
    if (!path) return nullptr;
    return Checked(cairo_image_surface_create_from_png(path));
}

void ReleaseProcessCaches()
{
    cairo_debug_reset_static_data();
    FcFini();
}
} // namespace gfx
