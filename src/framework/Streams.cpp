#include "framework/Streams.h"

#include "framework/FileKeeping.h"
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

// Retries a call that a signal interrupted.
template <typename Call> auto Retried(Call call)
{
    for (;;)
    {
        auto const result = call();
        if (result >= 0 || errno != EINTR) return result;
    }
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
    int const fd = Retried([&] { return ::open(path, flags, 0666); });
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
} // namespace

void SetTemporaryNameSource(TemporaryNameSource source)
{
    temporaryNameSource.store(source);
}

namespace
{
std::string NextTemporaryName()
{
    TemporaryNameSource const source = temporaryNameSource.load();
    return std::string(kTemporaryNamePrefix) + (source != nullptr ? source() : RandomTemporaryName());
}
} // namespace

int CreateTemporaryFile(int folder, std::string& name, unsigned mode)
{
    for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt)
    {
        std::string const candidate = NextTemporaryName();
        int const fd = Retried(
            [&]
            {
                return ::openat(folder, candidate.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                                static_cast<mode_t>(mode));
            });
        if (fd >= 0)
        {
            name = candidate;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

std::string WithReason(char const* text, SaveOutcome const& outcome)
{
    if (outcome.reason.empty()) return WithReason(text, outcome.error);
    return OrEmpty(text) + std::string(": ") + outcome.reason;
}

std::string WithReason(char const* text, int error)
{
    std::string result = OrEmpty(text);
    if (error != 0)
    {
        result += ": ";
        result += std::strerror(error);
    }
    return result;
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

void FileWriter::Restart()
{
    ClearFailed();
    error = 0;
}

void FileWriter::Fail(int number)
{
    if (!Failed()) error = number;
    SetFailed();
}

bool FileWriter::Create(char const* path)
{
    Close();
    Restart();
    int const opened = OpenRegularFile(path, true);
    if (opened < 0)
    {
        Fail(errno);
        return false;
    }
    return Adopt(opened);
}

bool FileWriter::Adopt(int descriptor)
{
    Drop();
    Restart();
    if (descriptor < 0)
    {
        Fail(EBADF);
        return false;
    }
    fd = descriptor;
    buffer.clear();
    return true;
}

void FileWriter::WriteBytes(void const* data, std::size_t n)
{
    if (fd < 0)
    {
        Fail(EBADF);
        return;
    }
    if (Failed() || n == 0) return;
    if (buffer.size() + n > kBufferSize && !Flush()) return;
    buffer.append(static_cast<char const*>(data), n);
    if (buffer.size() >= kBufferSize) Flush();
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
    if (fd < 0)
    {
        Fail(EBADF);
        return false;
    }
    std::size_t done = 0;
    while (!Failed() && done < buffer.size())
    {
        ssize_t const n = ::write(fd, buffer.data() + done, buffer.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EINTR)
            Fail(errno);
        else if (n == 0)
            Fail(EIO);
    }
    buffer.clear();
    return !Failed();
}

bool FileWriter::Sync()
{
    if (!Flush()) return false;
    if (Retried([this] { return ::fsync(fd); }) != 0) Fail(errno);
    return !Failed();
}

void FileWriter::Drop()
{
    if (fd >= 0) ::close(fd);
    fd = -1;
    buffer.clear();
    buffer.shrink_to_fit();
}

bool FileWriter::Close()
{
    if (fd >= 0)
    {
        // Buffered data reach the file here: a full disk shows up as a failed close.
        if (!Failed()) Flush();
        if (::close(fd) != 0 && errno != EINTR) Fail(errno);
        fd = -1;
        Drop();
    }
    return !Failed();
}

// ---------------------------------------------------------------------------------------------------
// ReplacingFileWriter

ReplacingFileWriter::~ReplacingFileWriter()
{
    Discard();
}

void ReplacingFileWriter::Begin()
{
    Discard();
    Restart();
    saved = false;
    folderNotSynced = 0;
    reason.clear();
}

void ReplacingFileWriter::Refuse(int number)
{
    Begin();
    Fail(number);
}

void ReplacingFileWriter::Refuse(int number, std::string const& why)
{
    Fail(number);
    reason = why;
    CloseFolder();
}

void ReplacingFileWriter::CloseFolder()
{
    if (folder >= 0) ::close(folder);
    folder = -1;
}

bool ReplacingFileWriter::Open(char const* path)
{
    Begin();
    if (!path || !*path)
    {
        Fail(ENOENT);
        return false;
    }
    std::string const whole(path);
    std::size_t const slash = whole.rfind('/');
    std::string const name = slash == std::string::npos ? whole : whole.substr(slash + 1);
    std::string const where = slash == std::string::npos ? std::string(".")
                              : slash == 0               ? std::string("/")
                                                         : whole.substr(0, slash);
    if (name.empty() || name == "." || name == "..")
    {
        Fail(EISDIR);
        return false;
    }
    // The folder is read to be synced; one that may only be searched is used as a path.
    folder = Retried([&] { return ::open(where.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    folderReadable = folder >= 0;
    if (folder < 0 && errno == EACCES)
        folder = Retried([&] { return ::open(where.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); });
    if (folder < 0)
    {
        Fail(errno);
        return false;
    }
    // Nothing, a regular file or a link (never followed) may be replaced.
    struct stat old
    {
    };
    bool const replacing = ::fstatat(folder, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!replacing && errno != ENOENT)
    {
        Fail(errno);
        CloseFolder();
        return false;
    }
    bool const keepMode = replacing && S_ISREG(old.st_mode);
    if (replacing && !keepMode && !S_ISLNK(old.st_mode))
    {
        Refuse(S_ISDIR(old.st_mode) ? EISDIR : EINVAL,
               S_ISDIR(old.st_mode) ? std::string() : name + " is not a regular file");
        return false;
    }
    if (keepMode && !filekeeping::MayWrite(folder, name))
    {
        Refuse(EACCES, name + " is read-only");
        return false;
    }
    filekeeping::Acl const acl = keepMode ? filekeeping::ReadAcl(folder, name) : filekeeping::Acl{};
    // Unnamed until Close where the file system allows, so a save cut short leaves nothing.
    std::string temporary;
    mode_t const first = keepMode ? 0600 : 0666;
    int fd = filekeeping::OpenUnnamed(folder, first);
    unnamed = fd >= 0;
    if (fd < 0 && filekeeping::KeepsNoUnnamedFiles(errno)) fd = CreateTemporaryFile(folder, temporary, first);
    if (fd < 0)
    {
        Fail(errno);
        CloseFolder();
        return false;
    }
    // The old file's owner and group where the user may (the owner first: changing it clears
    // the set-id bits), then its mode and ACL, before any data.
    if (keepMode)
    {
        struct stat made
        {
        };
        if (::fstat(fd, &made) == 0 && (made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
            ::fchown(fd, old.st_uid, old.st_gid) != 0)
            (void)!::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        // File systems that keep no modes refuse the change; the file is saved as they make it.
        if (!filekeeping::TakeModeAndAcl(fd, old.st_mode, acl))
        {
            Fail(errno);
            ::close(fd);
            if (!unnamed) ::unlinkat(folder, temporary.c_str(), 0);
            CloseFolder();
            return false;
        }
    }
    Adopt(fd);
    target = name;
    scratch = temporary;
    return true;
}

bool ReplacingFileWriter::Close()
{
    bool const wasOpen = IsOpen();
    if (wasOpen && !Failed()) Sync();
    // A complete unnamed file is given its temporary name, to be renamed over the target.
    if (wasOpen && !Failed() && unnamed)
    {
        if (int const why =
                filekeeping::Name(Descriptor(), folder, NextTemporaryName, scratch, kTemporaryNameTries))
            Fail(why);
        unnamed = false;
    }
    bool const written = FileWriter::Close() && wasOpen;
    if (target.empty()) return written;
    // The old file is replaced only by a complete new one, whose data are on the disk.
    saved = written;
    if (saved && ::renameat(folder, scratch.c_str(), folder, target.c_str()) != 0)
    {
        Fail(errno);
        saved = false;
    }
    if (!saved)
    {
        if (!scratch.empty()) ::unlinkat(folder, scratch.c_str(), 0);
    }
    else if (!folderReadable)
        folderNotSynced = EACCES;
    else if (Retried([this] { return ::fsync(folder); }) != 0 && errno != EINVAL && errno != ENOTSUP)
        folderNotSynced = errno; // the new file is in place: the save stands
    CloseFolder();
    target.clear();
    scratch.clear();
    return saved;
}

void ReplacingFileWriter::Discard()
{
    Drop();
    if (!target.empty() && !scratch.empty()) ::unlinkat(folder, scratch.c_str(), 0);
    unnamed = false;
    CloseFolder();
    target.clear();
    scratch.clear();
}

SaveOutcome ReplacingFileWriter::Outcome() const
{
    return SaveOutcome{saved, saved ? 0 : Error(), folderNotSynced, saved ? std::string() : reason};
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
