#include "toolkit/BoundedText.h"

#include <cstring>

#include "platform/gfx/Text.h"

std::size_t CopyBoundedText(char* out, char const* text, std::size_t maxBytes)
{
    if (!text) text = "";
    std::size_t n = ::strnlen(text, maxBytes + 1);
    if (n > maxBytes)
    {
        n = maxBytes;
        // Text that is UTF-8 is cut before a continuation byte; other text is one byte a character.
        if (gfx::IsValidUtf8(text))
            while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
                --n;
    }
    std::memcpy(out, text, n);
    out[n] = 0;
    return n;
}
