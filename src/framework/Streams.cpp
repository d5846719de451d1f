#include "framework/Streams.h"

#include "framework/String.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
void Encode(std::uint32_t v, unsigned char* bytes)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint32_t Decode(unsigned char const* bytes)
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return v;
}

char const* OrEmpty(char const* s)
{
    return s ? s : "";
}
} // namespace

// ---------------------------------------------------------------------------------------------------
// Opening files

int OpenRegularFile(char const* path, bool forWriting)
{
    if (!path || !*path)
    {
        errno = ENOENT;
        return -1;
    }
    int const flags = (forWriting ? O_WRONLY | O_CREAT : O_RDONLY) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int fd;
    do
        fd = ::open(path, flags, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat info
    {
    };
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    {
        int const why = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = why;
        return -1;
    }
    int const status = fcntl(fd, F_GETFL);
    if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0 || (forWriting && ftruncate(fd, 0) != 0))
    {
        int const why = errno;
        ::close(fd);
        errno = why;
        return -1;
    }
    return fd;
}

std::FILE* OpenRegularStream(char const* path, bool forWriting)
{
    int const fd = OpenRegularFile(path, forWriting);
    if (fd < 0) return nullptr;
    std::FILE* stream = fdopen(fd, forWriting ? "wb" : "rb");
    if (!stream)
    {
        int const why = errno;
        ::close(fd);
        errno = why;
    }
    return stream;
}

namespace
{
std::atomic<TemporaryNameSource> temporaryNameSource{nullptr};

std::string RandomTemporaryName()
{
    static char const kCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    // One generator for the process (a thread-local one would swell the library's static
    // thread-local block).
    static std::mutex mutex;
    static std::mt19937_64 generator{std::random_device{}() ^ (static_cast<std::uint64_t>(::getpid()) << 32)};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kCharacters - 2);
    std::string name(6, 'A');
    std::lock_guard<std::mutex> hold(mutex);
    for (char& c : name)
        c = kCharacters[pick(generator)];
    return name;
}

// How many taken names a writer passes over before it gives up.
constexpr int kTemporaryNameTries = 100;

// True when a new file may take the place of what is at path: nothing, a regular file or a
// link (never followed).
bool MayReplace(char const* path)
{
    struct stat info
    {
    };
    if (::lstat(path, &info) != 0) return errno == ENOENT;
    return S_ISREG(info.st_mode) || S_ISLNK(info.st_mode);
}

// The folder part of a path with its final '/', or "" when it has none.
std::string FolderPart(std::string const& path)
{
    std::size_t const slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
} // namespace

void SetTemporaryNameSource(TemporaryNameSource source)
{
    temporaryNameSource.store(source);
}

int CreateTemporaryFile(std::string const& folder, std::string& path)
{
    std::string prefix = folder;
    if (!prefix.empty() && prefix.back() != '/') prefix += '/';
    prefix += kTemporaryNamePrefix;
    for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt)
    {
        TemporaryNameSource const source = temporaryNameSource.load();
        std::string const candidate = prefix + (source != nullptr ? source() : RandomTemporaryName());
        int fd;
        do
            fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                        0666);
        while (fd < 0 && errno == EINTR);
        if (fd >= 0)
        {
            path = candidate;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

// ---------------------------------------------------------------------------------------------------
// Writer

void Writer::Write(int v)
{
    Write(static_cast<unsigned int>(v));
}

void Writer::Write(float v)
{
    Write(static_cast<unsigned int>(std::bit_cast<std::uint32_t>(v)));
}

void Writer::Write(unsigned int v)
{
    unsigned char bytes[4];
    Encode(v, bytes);
    WriteBytes(bytes, 4);
}

void Writer::Write(long v)
{
    // Stored as 32 bits on every platform.
    Write(static_cast<unsigned int>(static_cast<std::uint32_t>(v)));
}

void Writer::Write(bool b)
{
    unsigned char byte = b ? 1 : 0;
    WriteBytes(&byte, 1);
}

void Writer::Write(char const* s)
{
    WriteString(OrEmpty(s));
}

void Writer::WriteString(char const* s)
{
    s = OrEmpty(s);
    std::size_t n = std::strlen(s) + 1;
    Write(static_cast<unsigned int>(n));
    WriteBytes(s, n);
}

// ---------------------------------------------------------------------------------------------------
// Reader

bool Reader::Read(int* v)
{
    unsigned int u;
    if (!Read(&u)) return false;
    *v = static_cast<int>(u);
    return true;
}

bool Reader::Read(float* v)
{
    unsigned int u;
    if (!Read(&u)) return false;
    *v = std::bit_cast<float>(static_cast<std::uint32_t>(u));
    return true;
}

bool Reader::Read(unsigned int* v)
{
    unsigned char bytes[4];
    if (!ReadBytes(bytes, 4)) return false;
    *v = Decode(bytes);
    return true;
}

bool Reader::Read(long* v)
{
    unsigned int u;
    if (!Read(&u)) return false;
    *v = static_cast<std::int32_t>(u);
    return true;
}

bool Reader::Read(bool* b)
{
    unsigned char byte;
    if (!ReadBytes(&byte, 1)) return false;
    *b = byte == 1;
    return true;
}

bool Reader::Read(char* buffer, std::size_t capacity)
{
    return ReadString(buffer, capacity);
}

namespace
{
// Reads a memory-form text field whole (length, characters, zero) into field; false when the field is
// malformed or runs past the data.
bool ReadTextField(Reader& r, std::unique_ptr<char[]>& field, std::size_t& n)
{
    unsigned int stored;
    if (!r.Read(&stored)) return false;
    if (stored == 0 || stored > r.Remaining()) return false;
    n = stored;
    field.reset(new char[n]);
    if (!r.ReadBytes(field.get(), n)) return false;
    return field[n - 1] == 0;
}
} // namespace

bool Reader::Read(String* s)
{
    if (Failed()) return false;
    std::unique_ptr<char[]> field;
    std::size_t n = 0;
    if (!s || !ReadTextField(*this, field, n))
    {
        SetFailed();
        return false;
    }
    // A String of exactly n bytes whose length counts the stored zero.
    String text;
    text.Resize(static_cast<long>(n), false);
    text.Append(field.get(), static_cast<long>(n - 1));
    s->Swap(text);
    return true;
}

bool Reader::ReadString(char* buffer, std::size_t capacity)
{
    if (Failed()) return false;
    std::unique_ptr<char[]> field;
    std::size_t n = 0;
    if (!buffer || capacity == 0 || !ReadTextField(*this, field, n))
    {
        SetFailed();
        return false;
    }
    std::size_t k = std::min(n - 1, capacity - 1);
    std::memcpy(buffer, field.get(), k);
    buffer[k] = 0;
    return true;
}

// ---------------------------------------------------------------------------------------------------
// FileWriter

FileWriter::~FileWriter()
{
    Close();
}

bool FileWriter::Create(char const* path)
{
    Close();
    ClearFailed();
    stream = OpenRegularStream(path, true);
    if (!stream) SetFailed();
    return stream != nullptr;
}

bool FileWriter::Adopt(int fd)
{
    Close();
    ClearFailed();
    stream = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (!stream)
    {
        int const why = errno;
        if (fd >= 0) ::close(fd);
        errno = why;
        SetFailed();
    }
    return stream != nullptr;
}

void FileWriter::WriteBytes(void const* data, std::size_t n)
{
    if (!stream)
    {
        SetFailed();
        return;
    }
    if (n > 0 && std::fwrite(data, 1, n, stream) != n) SetFailed();
}

void FileWriter::WriteString(char const* s)
{
    s = OrEmpty(s);
    WriteBytes(s, std::strlen(s));
    char const cr = '\r';
    WriteBytes(&cr, 1);
}

bool FileWriter::Flush()
{
    if (!stream || std::fflush(stream) != 0) SetFailed();
    return !Failed();
}

bool FileWriter::Close()
{
    if (stream)
    {
        // Buffered data reach the disk here: a full disk shows up as a failed close.
        if (std::fclose(stream) != 0) SetFailed();
        stream = nullptr;
    }
    return !Failed();
}

// ---------------------------------------------------------------------------------------------------
// ReplacingFileWriter

ReplacingFileWriter::~ReplacingFileWriter()
{
    Discard();
}

bool ReplacingFileWriter::Open(char const* path)
{
    Discard();
    ClearFailed();
    if (!path || !*path || !MayReplace(path))
    {
        SetFailed();
        return false;
    }
    std::string temporary;
    int const fd = CreateTemporaryFile(FolderPart(path), temporary);
    if (fd < 0 || !Adopt(fd))
    {
        if (fd >= 0) ::unlink(temporary.c_str());
        SetFailed();
        return false;
    }
    target = path;
    scratch = temporary;
    return true;
}

bool ReplacingFileWriter::Close()
{
    bool const wasOpen = IsOpen();
    bool const written = FileWriter::Close() && wasOpen;
    if (target.empty()) return written;
    // The old file is replaced only by a complete new one.
    bool const saved = written && std::rename(scratch.c_str(), target.c_str()) == 0;
    if (!saved)
    {
        SetFailed();
        ::unlink(scratch.c_str());
    }
    target.clear();
    scratch.clear();
    return saved;
}

void ReplacingFileWriter::Discard()
{
    FileWriter::Close();
    if (!target.empty()) ::unlink(scratch.c_str());
    target.clear();
    scratch.clear();
}

// ---------------------------------------------------------------------------------------------------
// FileReader

FileReader::~FileReader()
{
    Close();
}

bool FileReader::Open(char const* path)
{
    Close();
    ClearFailed();
    // Only a regular file is a stream of bytes; anything else is refused without waiting on it.
    stream = OpenRegularStream(path, false);
    if (stream)
    {
        struct stat info
        {
        };
        if (fstat(fileno(stream), &info) == 0)
            size = static_cast<std::size_t>(info.st_size);
        else
            Close();
    }
    if (!stream) SetFailed();
    return stream != nullptr;
}

void FileReader::Close()
{
    if (stream) std::fclose(stream);
    stream = nullptr;
    size = 0;
    position = 0;
}

std::size_t FileReader::Remaining() const
{
    return position < size ? size - position : 0;
}

bool FileReader::ReadBytes(void* buffer, std::size_t n)
{
    if (Failed()) return false;
    if (n == 0) return true;
    if (!stream || !buffer || n > Remaining())
    {
        SetFailed();
        return false;
    }
    // Read aside first, so that an error half way leaves the destination as it was.
    unsigned char small[256];
    std::unique_ptr<unsigned char[]> large;
    unsigned char* into = small;
    if (n > sizeof small)
    {
        large.reset(new unsigned char[n]);
        into = large.get();
    }
    std::size_t got = std::fread(into, 1, n, stream);
    position += got;
    if (got != n)
    {
        SetFailed();
        return false;
    }
    std::memcpy(buffer, into, n);
    return true;
}

bool FileReader::ReadString(char* buffer, std::size_t capacity)
{
    if (Failed()) return false;
    if (!stream || !buffer || capacity == 0)
    {
        SetFailed();
        return false;
    }
    std::string text;
    bool consumed = false;
    bool leading = true;
    for (;;)
    {
        int c = std::fgetc(stream);
        if (c == EOF) break;
        ++position;
        consumed = true;
        if (c == '\r') break;
        if (leading && c == ' ') continue;
        leading = false;
        // Characters beyond the buffer are skipped up to the end of the line.
        if (text.size() < capacity - 1) text.push_back(static_cast<char>(c));
    }
    // A line cut short by the end of the file holds what was there; nothing left at all is a failure.
    if (std::ferror(stream) || !consumed)
    {
        SetFailed();
        return false;
    }
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = 0;
    return true;
}

// ---------------------------------------------------------------------------------------------------
// StringWriter

void StringWriter::Open(String* t)
{
    target = t;
    ClearFailed();
}

void StringWriter::Close()
{
    target = nullptr;
}

void StringWriter::WriteBytes(void const* bytes, std::size_t n)
{
    if (!target)
    {
        SetFailed();
        return;
    }
    target->Append(bytes, static_cast<long>(n));
}

// ---------------------------------------------------------------------------------------------------
// StringReader

void StringReader::Open(char const* d, std::size_t n)
{
    data = d;
    size = d ? n : 0;
    position = 0;
    ClearFailed();
}

void StringReader::Close()
{
    data = nullptr;
    size = 0;
    position = 0;
}

std::size_t StringReader::Remaining() const
{
    return size - position;
}

bool StringReader::Skip(std::size_t n)
{
    if (Failed()) return false;
    if (n > Remaining())
    {
        SetFailed();
        return false;
    }
    position += n;
    return true;
}

bool StringReader::ReadBytes(void* buffer, std::size_t n)
{
    if (Failed()) return false;
    if (n == 0) return true;
    if (!data || !buffer || n > Remaining())
    {
        SetFailed();
        return false;
    }
    std::memcpy(buffer, data + position, n);
    position += n;
    return true;
}
