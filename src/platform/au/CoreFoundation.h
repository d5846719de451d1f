#pragma once

// Our own small CoreFoundation: reference-counted strings, data blocks, numbers and mutable
// dictionaries, the types an Audio Unit exchanges with its host (parameter names and class
// info). Counts are atomic, so objects may be retained and released on any thread. Objects
// start with a count of 1 (the creator owns them); the last CFRelease frees them.

#include <cstddef>
#include <cstdint>

using Boolean = unsigned char;
using CFIndex = long;
using CFTypeID = unsigned long;
using CFStringEncoding = std::uint32_t;
using CFOptionFlags = unsigned long;

struct __CFString;
struct __CFData;
struct __CFNumber;
struct __CFDictionary;
struct __CFAllocator;

using CFTypeRef = void const*;
using CFStringRef = __CFString const*;
using CFMutableStringRef = __CFString*;
using CFDataRef = __CFData const*;
using CFNumberRef = __CFNumber const*;
using CFDictionaryRef = __CFDictionary const*;
using CFMutableDictionaryRef = __CFDictionary*;
using CFPropertyListRef = CFTypeRef;
using CFAllocatorRef = __CFAllocator const*;

// Only the default allocator exists.
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

// Encodings: ASCII and UTF-8 as usual; 1 is the Japanese script encoding, of which this layer
// knows only its 7-bit part (ASCII, taken unchanged); other bytes become '?'.
inline constexpr CFStringEncoding kCFStringEncodingMacRoman = 0;
inline constexpr CFStringEncoding kCFStringEncodingMacJapanese = 1;
inline constexpr CFStringEncoding kCFStringEncodingASCII = 0x0600;
inline constexpr CFStringEncoding kCFStringEncodingUTF8 = 0x08000100;

enum CFNumberType : CFIndex
{
    kCFNumberSInt32Type = 3,
    kCFNumberSInt64Type = 4,
    kCFNumberFloat32Type = 5,
    kCFNumberFloat64Type = 6,
};

CFTypeRef CFRetain(CFTypeRef object);
// Null is ignored.
void CFRelease(CFTypeRef object);
CFIndex CFGetRetainCount(CFTypeRef object);
CFTypeID CFGetTypeID(CFTypeRef object);
CFTypeID CFStringGetTypeID();
CFTypeID CFDataGetTypeID();
CFTypeID CFNumberGetTypeID();
CFTypeID CFDictionaryGetTypeID();
// The number of live objects of this layer in the process (for leak checks in tests).
long CFLiveObjectCount();

// Null when the bytes are not valid in the encoding (ASCII: above 0x7F; UTF-8: malformed) or
// the encoding is unknown. The external-representation flag is accepted and ignored.
CFStringRef CFStringCreateWithBytes(CFAllocatorRef allocator, std::uint8_t const* bytes, CFIndex count,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
CFStringRef CFStringCreateWithCString(CFAllocatorRef allocator, char const* text, CFStringEncoding encoding);
// The length in UTF-16 units.
CFIndex CFStringGetLength(CFStringRef string);
// Copies the text and its terminating zero into `buffer` of `size` bytes; false (buffer then
// holds "" when size > 0) when it does not fit or cannot be expressed in the encoding.
Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex size, CFStringEncoding encoding);
// The UTF-8 text, valid while the string lives (an addition of this layer).
char const* CFStringGetUTF8Text(CFStringRef string);

CFDataRef CFDataCreate(CFAllocatorRef allocator, std::uint8_t const* bytes, CFIndex length);
CFIndex CFDataGetLength(CFDataRef data);
std::uint8_t const* CFDataGetBytePtr(CFDataRef data);

// Null for an unknown type or a null value pointer.
CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFNumberType type, void const* value);
// Converts to the type asked for; false when the value does not fit exactly.
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* value);

struct CFDictionaryKeyCallBacks;
struct CFDictionaryValueCallBacks;
// Keys are compared as strings when both are strings, otherwise by identity. Keys and values
// are retained while in the dictionary, whatever callbacks are passed.
extern CFDictionaryKeyCallBacks const kCFTypeDictionaryKeyCallBacks;
extern CFDictionaryValueCallBacks const kCFTypeDictionaryValueCallBacks;
CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                                 CFDictionaryKeyCallBacks const* keyCallBacks,
                                                 CFDictionaryValueCallBacks const* valueCallBacks);
// Replaces an existing value (releasing it); null keys or values are ignored.
void CFDictionarySetValue(CFMutableDictionaryRef dictionary, void const* key, void const* value);
// Not retained for the caller; null when absent.
void const* CFDictionaryGetValue(CFDictionaryRef dictionary, void const* key);
CFIndex CFDictionaryGetCount(CFDictionaryRef dictionary);
void CFDictionaryRemoveValue(CFMutableDictionaryRef dictionary, void const* key);

// A constant string, made once and never freed.
CFStringRef CFStringMakeConstant(char const* text);
#define CFSTR(text) CFStringMakeConstant("" text)
