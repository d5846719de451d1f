// String's CoreFoundation members, kept apart from the rest of String: the CoreFoundation stand-in is a
// shared library of its own that only the Audio Unit build links, and a program that never calls these
// members must not pull it in.

#include <cstdint>
#include <cstring>

#include "framework/String.h"

String::String(CFStringRef s)
{
    long const size = static_cast<long>(CFStringGetLength(s)) + 1;
    InitBuffer(size);
    if (!CFStringGetCString(s, buffer, size, kCFStringEncodingASCII)) buffer[0] = 0;
    // The length follows the text converted, so it never counts bytes that were not filled.
    length = static_cast<long>(std::strlen(buffer)) + 1;
}

CFStringRef String::GetCFStringRef() const
{
    return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<std::uint8_t const*>(buffer),
                                   static_cast<CFIndex>(std::strlen(buffer)), kCFStringEncodingMacJapanese,
                                   false);
}
