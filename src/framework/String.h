#pragma once

#include <cstdarg>
#include <memory>
#include <string>

#include "platform/au/CoreFoundation.h"

// The owning byte string used for names, paths, messages and as the growable memory block behind the
// memory writer. Its length counts the terminating zero (the empty text has length 1); operations that
// work by length copy embedded zero bytes, so the same type holds C text and blocks of arbitrary bytes.
// The buffer is always terminated: a null source reads as "". Appending grows the capacity at least
// twofold (amortised constant time); assignment and formatting allocate exactly what they need.
class String
{
public:
    String();
    String(char const* s);
    String(std::string const& s);
    // The CFString's text in ASCII; a text that is not ASCII gives "".
    explicit String(CFStringRef s);
    String(String const& o);
    ~String();

    operator char const*() const { return buffer; }
    // The buffer as writable memory; the caller keeps the length right.
    char* Lock() { return buffer; }
    // The number of characters (the stored length minus its terminating zero).
    long GetLength() const { return length - 1; }
    long GetCapacity() const { return capacity; }
    // The text up to its first zero.
    std::string ToStdString() const;
    // A new CFString of the text up to its first zero in the 7-bit-preserving encoding 1; the
    // caller releases it.
    CFStringRef GetCFStringRef() const;

    // Byte comparison up to the first zero; `!=` follows from these.
    bool operator==(char const* s) const;
    bool operator==(String const& o) const;

    String& operator=(char const* s);
    String& operator=(String const& o);
    String& operator+=(char const* s);
    String& operator+=(String const& o);
    String operator+(String const& o) const;

    // Appends n bytes by length (zeros included) before the terminating zero.
    void Append(void const* data, long n);
    void Swap(String& o) noexcept;

    void Format(char const* format, ...) __attribute__((format(printf, 2, 3)));
    static String FormatString(char const* format, ...) __attribute__((format(printf, 1, 2)));

    // Replaces the buffer by one of exactly size bytes (at least 1), keeping the first bytes when keep is
    // true.
    void Resize(long size, bool keep);

    // Appends srcLen bytes of src to dst (both lengths count the zero); returns the new length.
    static long StrCat(char const* src, int srcLen, char* dst, int dstLen);
    static long StrCpy(char const* src, int n, char* dst);

private:
    void InitBuffer(long size);
    std::unique_ptr<char[]> GrowKeeping(long needed);
    // Format's work on an argument list.
    void FormatList(char const* format, va_list args);

    char* buffer = nullptr;
    long length = 0;
    long capacity = 0;
};
