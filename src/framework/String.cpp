#include "framework/String.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

namespace
{
char const* OrEmpty(char const* s)
{
    return s ? s : "";
}
} // namespace

String::String()
{
    InitBuffer(128);
    buffer[0] = 0;
    length = 1;
}

String::String(char const* s)
{
    s = OrEmpty(s);
    long n = static_cast<long>(std::strlen(s)) + 1;
    InitBuffer(n);
    std::memcpy(buffer, s, static_cast<std::size_t>(n));
    length = n;
}

String::String(std::string const& s)
{
    long n = static_cast<long>(s.size()) + 1;
    InitBuffer(n);
    std::memcpy(buffer, s.data(), s.size());
    buffer[n - 1] = 0;
    length = n;
}

String::String(String const& o)
{
    InitBuffer(o.length);
    std::memcpy(buffer, o.buffer, static_cast<std::size_t>(o.length));
    length = o.length;
}

String::~String()
{
    delete[] buffer;
}

std::string String::ToStdString() const
{
    return std::string(buffer);
}

bool String::operator==(char const* s) const
{
    return std::strcmp(buffer, OrEmpty(s)) == 0;
}

bool String::operator==(String const& o) const
{
    return std::strcmp(buffer, o.buffer) == 0;
}

String& String::operator=(char const* s)
{
    s = OrEmpty(s);
    long n = static_cast<long>(std::strlen(s)) + 1;
    if (n > length)
    {
        // The source may lie inside the old buffer: copy before freeing it.
        char* fresh = new char[static_cast<std::size_t>(n)];
        std::memcpy(fresh, s, static_cast<std::size_t>(n));
        delete[] buffer;
        buffer = fresh;
        capacity = n;
    }
    else
        std::memmove(buffer, s, static_cast<std::size_t>(n));
    length = n;
    return *this;
}

String& String::operator=(String const& o)
{
    if (&o == this) return *this;
    if (o.length > length)
    {
        char* fresh = new char[static_cast<std::size_t>(o.length)];
        delete[] buffer;
        buffer = fresh;
        capacity = o.length;
    }
    std::memcpy(buffer, o.buffer, static_cast<std::size_t>(o.length));
    length = o.length;
    return *this;
}

String& String::operator+=(char const* s)
{
    s = OrEmpty(s);
    long n = static_cast<long>(std::strlen(s));
    std::unique_ptr<char[]> old = GrowKeeping(length + n);
    // The text goes to the first zero, so bytes after an embedded zero are dropped.
    long at = static_cast<long>(std::strlen(buffer));
    std::memmove(buffer + at, s, static_cast<std::size_t>(n));
    buffer[at + n] = 0;
    length = at + n + 1;
    return *this;
}

String& String::operator+=(String const& o)
{
    if (o.length == 0) return *this;
    long needed = length == 0 ? o.length : length + o.length - 1;
    long srcLen = o.length;
    char const* src = o.buffer;
    std::unique_ptr<char[]> old = GrowKeeping(needed);
    // Works by length: o's bytes, its zero included, go over this string's terminating zero.
    length = length == 0 ? StrCpy(src, static_cast<int>(srcLen), buffer)
                         : StrCat(src, static_cast<int>(srcLen), buffer, static_cast<int>(length));
    return *this;
}

String String::operator+(String const& o) const
{
    String result;
    result = *this;
    result += o;
    return result;
}

void String::Append(void const* data, long n)
{
    if (n <= 0) return;
    std::unique_ptr<char[]> old = GrowKeeping(length + n);
    std::memmove(buffer + length - 1, data, static_cast<std::size_t>(n));
    length += n;
    buffer[length - 1] = 0;
}

void String::Swap(String& o) noexcept
{
    std::swap(buffer, o.buffer);
    std::swap(length, o.length);
    std::swap(capacity, o.capacity);
}

// When needed exceeds the capacity, moves the content into a larger buffer and hands back the old one: a
// source that lies inside it stays readable until the caller has copied it. The capacity at least
// doubles, so a long run of small appends (a patch written four bytes at a time) copies each byte a
// bounded number of times.
std::unique_ptr<char[]> String::GrowKeeping(long needed)
{
    if (needed <= capacity) return nullptr;
    long const doubled = capacity > std::numeric_limits<long>::max() / 2 ? needed : 2 * capacity;
    long const size = needed > doubled ? needed : doubled;
    char* fresh = new char[static_cast<std::size_t>(size)];
    std::memcpy(fresh, buffer, static_cast<std::size_t>(length));
    std::unique_ptr<char[]> old(buffer);
    buffer = fresh;
    capacity = size;
    return old;
}

void String::Format(char const* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatList(format, args);
    va_end(args);
}

String String::FormatString(char const* format, ...)
{
    String result;
    va_list args;
    va_start(args, format);
    result.FormatList(format, args);
    va_end(args);
    return result;
}

void String::FormatList(char const* format, va_list args)
{
    va_list sizing;
    va_copy(sizing, args);
    int size = std::vsnprintf(nullptr, 0, OrEmpty(format), sizing);
    va_end(sizing);
    if (size < 0)
    {
        buffer[0] = 0;
        length = 1;
        return;
    }
    long needed = static_cast<long>(size) + 1;
    // Formatted into a new block: an argument may point into this string's own buffer.
    std::unique_ptr<char[]> text(new char[static_cast<std::size_t>(needed)]);
    std::vsnprintf(text.get(), static_cast<std::size_t>(needed), OrEmpty(format), args);
    if (needed > capacity)
    {
        delete[] buffer;
        buffer = text.release();
        capacity = needed;
    }
    else
        std::memcpy(buffer, text.get(), static_cast<std::size_t>(needed));
    // The length counts what was formatted, so a "%c" of the zero byte is one character.
    length = needed;
}

void String::Resize(long size, bool keep)
{
    // A buffer always holds at least its terminating zero.
    if (size < 1) size = 1;
    char* fresh = new char[static_cast<std::size_t>(size)]();
    if (keep) std::memcpy(fresh, buffer, static_cast<std::size_t>(length < size ? length : size));
    delete[] buffer;
    buffer = fresh;
    capacity = size;
    if (length > size) length = size;
    // A shortened text stays terminated.
    buffer[length - 1] = 0;
}

void String::InitBuffer(long size)
{
    capacity = size;
    buffer = new char[static_cast<std::size_t>(size)];
}

long String::StrCat(char const* src, int srcLen, char* dst, int dstLen)
{
    if (srcLen == 0) return dstLen;
    if (dstLen == 0) return StrCpy(src, srcLen, dst);
    std::memmove(dst + dstLen - 1, src, static_cast<std::size_t>(srcLen));
    return static_cast<long>(srcLen) + dstLen - 1;
}

long String::StrCpy(char const* src, int n, char* dst)
{
    std::memmove(dst, src, static_cast<std::size_t>(n));
    return n;
}
