#include "platform/au/CoreFoundation.h"

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace
{

enum TypeID : CFTypeID
{
    kStringType = 7,
    kDataType = 20,
    kNumberType = 22,
    kDictionaryType = 18,
};

std::atomic<long> liveObjects{0};

} // namespace

struct __CFType
{
    explicit __CFType(CFTypeID type) : type(type) { liveObjects.fetch_add(1, std::memory_order_relaxed); }
    virtual ~__CFType() { liveObjects.fetch_sub(1, std::memory_order_relaxed); }
    // Constants stay out of the count of live objects.
    void MakeConstant()
    {
        constant = true;
        liveObjects.fetch_sub(1, std::memory_order_relaxed);
    }

    CFTypeID const type;
    mutable std::atomic<long> references{1};
    // Constant strings are never freed and ignore retain and release.
    bool constant = false;
};

struct __CFString : __CFType
{
    explicit __CFString(std::string text) : __CFType(kStringType), utf8(std::move(text))
    {
        // UTF-16 units: one per code point below U+10000, two above.
        for (unsigned char c : utf8)
        {
            if ((c & 0xC0) != 0x80) ++utf16Length;
            if (c >= 0xF0) ++utf16Length;
        }
    }
    std::string utf8;
    CFIndex utf16Length = 0;
};

struct __CFData : __CFType
{
    __CFData(std::uint8_t const* bytes, CFIndex length) : __CFType(kDataType), bytes(bytes, bytes + length) {}
    std::vector<std::uint8_t> bytes;
};

struct __CFNumber : __CFType
{
    __CFNumber() : __CFType(kNumberType) {}
    bool isFloat = false;
    std::int64_t integer = 0;
    double real = 0.0;
};

struct __CFDictionary : __CFType
{
    __CFDictionary() : __CFType(kDictionaryType) {}
    ~__CFDictionary() override
    {
        for (auto& [key, value] : entries)
        {
            CFRelease(key);
            CFRelease(value);
        }
    }
    std::vector<std::pair<CFTypeRef, CFTypeRef>> entries;
    mutable std::mutex mutex;
};

struct CFDictionaryKeyCallBacks
{
    int unused;
};
struct CFDictionaryValueCallBacks
{
    int unused;
};
CFDictionaryKeyCallBacks const kCFTypeDictionaryKeyCallBacks{0};
CFDictionaryValueCallBacks const kCFTypeDictionaryValueCallBacks{0};

namespace
{

bool ValidUTF8(std::uint8_t const* s, CFIndex n)
{
    CFIndex i = 0;
    while (i < n)
    {
        std::uint8_t const c = s[i];
        int extra = 0;
        std::uint32_t cp = 0;
        if (c < 0x80)
        {
            ++i;
            continue;
        }
        if ((c & 0xE0) == 0xC0)
        {
            extra = 1;
            cp = c & 0x1F;
        }
        else if ((c & 0xF0) == 0xE0)
        {
            extra = 2;
            cp = c & 0x0F;
        }
        else if ((c & 0xF8) == 0xF0)
        {
            extra = 3;
            cp = c & 0x07;
        }
        else
            return false;
        if (i + extra >= n) return false;
        for (int k = 1; k <= extra; ++k)
        {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not text.
        static constexpr std::uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

// Every object of this layer starts with its __CFType part.
__CFType const* Object(CFTypeRef object)
{
    return static_cast<__CFType const*>(object);
}

template <class T> T const* As(CFTypeRef object, CFTypeID type)
{
    if (object == nullptr || Object(object)->type != type) return nullptr;
    return static_cast<T const*>(Object(object));
}

} // namespace

CFTypeRef CFRetain(CFTypeRef object)
{
    if (object != nullptr && !Object(object)->constant)
        Object(object)->references.fetch_add(1, std::memory_order_relaxed);
    return object;
}

void CFRelease(CFTypeRef object)
{
    if (object == nullptr || Object(object)->constant) return;
    if (Object(object)->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete Object(object);
}

CFIndex CFGetRetainCount(CFTypeRef object)
{
    return object != nullptr ? Object(object)->references.load(std::memory_order_relaxed) : 0;
}

CFTypeID CFGetTypeID(CFTypeRef object)
{
    return object != nullptr ? Object(object)->type : 0;
}

CFTypeID CFStringGetTypeID()
{
    return kStringType;
}
CFTypeID CFDataGetTypeID()
{
    return kDataType;
}
CFTypeID CFNumberGetTypeID()
{
    return kNumberType;
}
CFTypeID CFDictionaryGetTypeID()
{
    return kDictionaryType;
}

long CFLiveObjectCount()
{
    return liveObjects.load(std::memory_order_relaxed);
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, std::uint8_t const* bytes, CFIndex count,
                                    CFStringEncoding encoding, Boolean)
{
    if (count < 0 || (bytes == nullptr && count > 0)) return nullptr;
    std::string text;
    if (count > 0) text.assign(reinterpret_cast<char const*>(bytes), static_cast<std::size_t>(count));
    switch (encoding)
    {
    case kCFStringEncodingASCII:
        for (unsigned char c : text)
        {
            if (c > 0x7F) return nullptr;
        }
        break;
    case kCFStringEncodingUTF8:
        if (!ValidUTF8(bytes, count)) return nullptr;
        break;
    case kCFStringEncodingMacJapanese:
    case kCFStringEncodingMacRoman:
        for (char& c : text)
        {
            if (static_cast<unsigned char>(c) > 0x7F) c = '?';
        }
        break;
    default:
        return nullptr;
    }
    return new __CFString(std::move(text));
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef allocator, char const* text, CFStringEncoding encoding)
{
    if (text == nullptr) return nullptr;
    return CFStringCreateWithBytes(allocator, reinterpret_cast<std::uint8_t const*>(text),
                                   static_cast<CFIndex>(std::strlen(text)), encoding, false);
}

CFIndex CFStringGetLength(CFStringRef string)
{
    auto const* s = As<__CFString>(string, kStringType);
    return s != nullptr ? s->utf16Length : 0;
}

Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex size, CFStringEncoding encoding)
{
    if (buffer == nullptr || size <= 0) return false;
    buffer[0] = '\0';
    auto const* s = As<__CFString>(string, kStringType);
    if (s == nullptr) return false;
    if (encoding != kCFStringEncodingUTF8)
    {
        if (encoding != kCFStringEncodingASCII && encoding != kCFStringEncodingMacRoman &&
            encoding != kCFStringEncodingMacJapanese)
            return false;
        for (unsigned char c : s->utf8)
        {
            if (c > 0x7F) return false;
        }
    }
    if (static_cast<CFIndex>(s->utf8.size()) + 1 > size) return false;
    std::memcpy(buffer, s->utf8.c_str(), s->utf8.size() + 1);
    return true;
}

char const* CFStringGetUTF8Text(CFStringRef string)
{
    auto const* s = As<__CFString>(string, kStringType);
    return s != nullptr ? s->utf8.c_str() : "";
}

CFDataRef CFDataCreate(CFAllocatorRef, std::uint8_t const* bytes, CFIndex length)
{
    if (length < 0 || (bytes == nullptr && length > 0)) return nullptr;
    return new __CFData(bytes, length);
}

CFIndex CFDataGetLength(CFDataRef data)
{
    auto const* d = As<__CFData>(data, kDataType);
    return d != nullptr ? static_cast<CFIndex>(d->bytes.size()) : 0;
}

std::uint8_t const* CFDataGetBytePtr(CFDataRef data)
{
    auto const* d = As<__CFData>(data, kDataType);
    return d != nullptr ? d->bytes.data() : nullptr;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, void const* value)
{
    if (value == nullptr) return nullptr;
    auto* n = new __CFNumber;
    switch (type)
    {
    case kCFNumberSInt32Type:
        n->integer = *static_cast<std::int32_t const*>(value);
        break;
    case kCFNumberSInt64Type:
        n->integer = *static_cast<std::int64_t const*>(value);
        break;
    case kCFNumberFloat32Type:
        n->isFloat = true;
        n->real = *static_cast<float const*>(value);
        break;
    case kCFNumberFloat64Type:
        n->isFloat = true;
        n->real = *static_cast<double const*>(value);
        break;
    default:
        delete n;
        return nullptr;
    }
    return n;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* value)
{
    auto const* n = As<__CFNumber>(number, kNumberType);
    if (n == nullptr || value == nullptr) return false;
    switch (type)
    {
    case kCFNumberSInt32Type:
    {
        if (n->isFloat) return false;
        if (n->integer < INT32_MIN || n->integer > INT32_MAX) return false;
        *static_cast<std::int32_t*>(value) = static_cast<std::int32_t>(n->integer);
        return true;
    }
    case kCFNumberSInt64Type:
        if (n->isFloat) return false;
        *static_cast<std::int64_t*>(value) = n->integer;
        return true;
    case kCFNumberFloat32Type:
        *static_cast<float*>(value) =
            static_cast<float>(n->isFloat ? n->real : static_cast<double>(n->integer));
        return true;
    case kCFNumberFloat64Type:
        *static_cast<double*>(value) = n->isFloat ? n->real : static_cast<double>(n->integer);
        return true;
    }
    return false;
}

namespace
{
bool SameKey(CFTypeRef a, CFTypeRef b)
{
    if (a == b) return true;
    auto const* sa = As<__CFString>(a, kStringType);
    auto const* sb = As<__CFString>(b, kStringType);
    return sa != nullptr && sb != nullptr && sa->utf8 == sb->utf8;
}
} // namespace

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex, CFDictionaryKeyCallBacks const*,
                                                 CFDictionaryValueCallBacks const*)
{
    return new __CFDictionary;
}

void CFDictionarySetValue(CFMutableDictionaryRef dictionary, void const* key, void const* value)
{
    if (dictionary == nullptr || dictionary->type != kDictionaryType || key == nullptr || value == nullptr)
        return;
    CFTypeRef const k = key;
    CFTypeRef const v = value;
    std::lock_guard<std::mutex> hold(dictionary->mutex);
    for (auto& entry : dictionary->entries)
    {
        if (SameKey(entry.first, k))
        {
            CFRetain(v);
            CFRelease(entry.second);
            entry.second = v;
            return;
        }
    }
    dictionary->entries.emplace_back(CFRetain(k), CFRetain(v));
}

void const* CFDictionaryGetValue(CFDictionaryRef dictionary, void const* key)
{
    auto const* d = As<__CFDictionary>(dictionary, kDictionaryType);
    if (d == nullptr || key == nullptr) return nullptr;
    std::lock_guard<std::mutex> hold(d->mutex);
    for (auto const& entry : d->entries)
    {
        if (SameKey(entry.first, key)) return entry.second;
    }
    return nullptr;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef dictionary)
{
    auto const* d = As<__CFDictionary>(dictionary, kDictionaryType);
    if (d == nullptr) return 0;
    std::lock_guard<std::mutex> hold(d->mutex);
    return static_cast<CFIndex>(d->entries.size());
}

void CFDictionaryRemoveValue(CFMutableDictionaryRef dictionary, void const* key)
{
    if (dictionary == nullptr || dictionary->type != kDictionaryType || key == nullptr) return;
    std::pair<CFTypeRef, CFTypeRef> removed{nullptr, nullptr};
    {
        std::lock_guard<std::mutex> hold(dictionary->mutex);
        auto& entries = dictionary->entries;
        for (auto it = entries.begin(); it != entries.end(); ++it)
        {
            if (SameKey(it->first, key))
            {
                removed = *it;
                entries.erase(it);
                break;
            }
        }
    }
    CFRelease(removed.first);
    CFRelease(removed.second);
}

CFStringRef CFStringMakeConstant(char const* text)
{
    // Freed when the program (or the library holding this layer) unloads.
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<__CFString>> constants;
    std::lock_guard<std::mutex> hold(mutex);
    auto it = constants.find(text);
    if (it != constants.end()) return it->second.get();
    auto s = std::make_unique<__CFString>(text);
    s->MakeConstant();
    CFStringRef const result = s.get();
    constants.emplace(text, std::move(s));
    return result;
}
