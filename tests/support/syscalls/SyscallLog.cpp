// The definitions below stand in for the C library's: no header may define them inline.
#undef _FORTIFY_SOURCE
#include "support/syscalls/SyscallLog.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{

// Fixed storage: the calls are noted without allocating (a call may come from anywhere).
constexpr int kMaxEvents = 64;
constexpr std::size_t kEventSize = 24;

struct Event
{
    char name[kEventSize];
    bool failed;
};
Event events[kMaxEvents];
int eventCount = 0;
std::atomic<bool> active{false};
pthread_t owner;
char prefix[64];
char target[256];
char failing[kEventSize]; // empty: nothing is made to fail
int failError = 0;
int file = -1;   // the save's file while it is open
int folder = -1; // the folder it was made in, while it is open

bool Watched()
{
    return active.load(std::memory_order_acquire) && pthread_equal(owner, pthread_self());
}

bool IsTemporary(char const* name)
{
    return name != nullptr && std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

// Runs the real call, unless it is the event made to fail, and notes the event (null: not one
// of the save's calls).
template <typename Make> long Through(char const* event, Make make)
{
    if (event == nullptr) return make();
    int const saved = errno;
    long result;
    int error = 0;
    if (failing[0] != 0 && std::strcmp(event, failing) == 0)
    {
        failing[0] = 0;
        // A close happens all the same: the descriptor is gone whatever close reports.
        if (std::strncmp(event, "close", 5) == 0) make();
        result = -1;
        error = failError;
    }
    else
    {
        result = make();
        error = result < 0 ? errno : 0;
    }
    bool const repeated = eventCount > 0 && std::strcmp(event, "write") == 0 &&
                          std::strcmp(events[eventCount - 1].name, "write") == 0 &&
                          !events[eventCount - 1].failed;
    if (eventCount < kMaxEvents && !repeated)
    {
        Event& noted = events[eventCount++];
        std::snprintf(noted.name, kEventSize, "%s", event);
        noted.failed = result < 0;
    }
    errno = result < 0 ? error : saved;
    return result;
}

// On the save's file or its folder: `onFile` or `onFolder`, else null.
char const* On(int fd, char const* onFile, char const* onFolder)
{
    if (!Watched() || fd < 0) return nullptr;
    return fd == file ? onFile : fd == folder ? onFolder : nullptr;
}

// The call this one stands in front of: a sanitizer's wrapper of it where the sanitizer's
// run-time is linked into the program (its interceptors must still see the call), else the
// next definition, the C library's.
template <typename Function> Function Real(char const* name)
{
    char wrapper[64] = "__interceptor_";
    std::strncat(wrapper, name, sizeof wrapper - std::strlen(wrapper) - 1);
    if (void* const found = dlsym(RTLD_DEFAULT, wrapper)) return reinterpret_cast<Function>(found);
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

SyscallLog::SyscallLog(char const* temporaryPrefix, char const* targetName)
{
    eventCount = 0;
    failing[0] = 0;
    std::snprintf(prefix, sizeof prefix, "%s", temporaryPrefix);
    std::snprintf(target, sizeof target, "%s", targetName);
    file = -1;
    folder = -1;
    owner = pthread_self();
    active.store(true, std::memory_order_release);
}

SyscallLog::~SyscallLog()
{
    active.store(false, std::memory_order_release);
}

void SyscallLog::Fail(char const* event, int error)
{
    std::snprintf(failing, sizeof failing, "%s", event);
    failError = error;
}

std::string SyscallLog::Story() const
{
    std::string story;
    for (int i = 0; i < eventCount; ++i)
        story += (i > 0 ? ", " : "") + std::string(events[i].name) + (events[i].failed ? "!" : "");
    return story;
}

std::vector<std::string> ReplaceCallRow::Messages(std::string const& failure, std::string const& done) const
{
    std::string const reason = error != 0 ? std::strerror(error) : "";
    if (told == Failure) return {failure + ": " + reason};
    if (told == FolderNotSynced) return {done + ", but the folder could not be synced: " + reason};
    return {};
}

std::vector<ReplaceCallRow> ReplaceCallRows()
{
    using R = ReplaceCallRow;
    return {
        {"a new file", 0, nullptr, 0, true,
         "tmpfile, write, fsync, link, close, rename, fsync folder, close folder", R::Nothing},
        {"over a 0640 file", 0640, nullptr, 0, true,
         "tmpfile, fchmod 640, write, fsync, link, close, rename, fsync folder, close folder", R::Nothing},
        {"over a 0600 file", 0600, nullptr, 0, true,
         "tmpfile, fchmod 600, write, fsync, link, close, rename, fsync folder, close folder", R::Nothing},
        {"a write fails", 0640, "write", ENOSPC, false, "tmpfile, fchmod 640, write!, close, close folder",
         R::Failure},
        {"the data sync fails", 0640, "fsync", EIO, false,
         "tmpfile, fchmod 640, write, fsync!, close, close folder", R::Failure},
        {"the close fails", 0640, "close", EIO, false,
         "tmpfile, fchmod 640, write, fsync, link, close!, close folder", R::Failure},
        {"the rename fails", 0640, "rename", EXDEV, false,
         "tmpfile, fchmod 640, write, fsync, link, close, rename!, close folder", R::Failure},
        {"the folder sync fails", 0640, "fsync folder", EIO, true,
         "tmpfile, fchmod 640, write, fsync, link, close, rename, fsync folder!, close folder",
         R::FolderNotSynced},
        {"the folder can't be synced (EINVAL)", 0640, "fsync folder", EINVAL, true,
         "tmpfile, fchmod 640, write, fsync, link, close, rename, fsync folder!, close folder", R::Nothing},
        {"no unnamed files (EOPNOTSUPP)", 0640, "tmpfile", EOPNOTSUPP, true,
         "tmpfile!, create, fchmod 640, write, fsync, close, rename, fsync folder, close folder", R::Nothing},
        {"the link fails", 0640, "link", ENOENT, false,
         "tmpfile, fchmod 640, write, fsync, link!, close, close folder", R::Failure},
    };
}

std::string AclValue(unsigned owner, std::vector<std::pair<unsigned, unsigned>> const& users, unsigned group,
                     unsigned mask, unsigned other)
{
    std::string value;
    auto const put = [&value](unsigned v, int bytes)
    {
        for (int b = 0; b < bytes; ++b)
            value.push_back(static_cast<char>((v >> (8 * b)) & 0xFF));
    };
    constexpr unsigned kNone = 0xFFFFFFFFu;
    put(2, 4); // the version
    put(0x01, 2), put(owner, 2), put(kNone, 4);
    for (auto const& [id, permissions] : users)
        put(0x02, 2), put(permissions, 2), put(id, 4);
    put(0x04, 2), put(group, 2), put(kNone, 4);
    put(0x10, 2), put(mask, 2), put(kNone, 4);
    put(0x20, 2), put(other, 2), put(kNone, 4);
    return value;
}

std::vector<AclRow> AclRows()
{
    // user:nobody:rw- group::r-- mask::rw- on a 0660 file; a default naming nobody on the folder.
    std::string const named = AclValue(6, {{65534, 6}}, 4, 6, 0);
    std::string const folder = AclValue(7, {{65534, 7}}, 5, 7, 0);
    return {
        {"a file with an ACL", 0660, named, "", nullptr, 0660, named},
        {"a file without one in a folder with a default ACL", 0640, "", folder, nullptr, 0640, ""},
        {"a file and folder without any", 0640, "", "", nullptr, 0640, ""},
        {"an ACL that can't be set", 0660, named, "", "set acl", 0640, ""},
        {"a new file in a folder with a default ACL", 0, "", folder, nullptr, 0660, "inherited"},
    };
}

std::string AclOf(char const* path)
{
    char buffer[1024];
    ssize_t const n = ::lgetxattr(path, "system.posix_acl_access", buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

bool SetDefaultAcl(char const* folder, std::string const& value)
{
    if (value.empty()) return ::removexattr(folder, "system.posix_acl_default") == 0 || errno == ENODATA;
    return ::setxattr(folder, "system.posix_acl_default", value.data(), value.size(), 0) == 0;
}

bool SetAcl(char const* path, std::string const& value)
{
    return ::setxattr(path, "system.posix_acl_access", value.data(), value.size(), 0) == 0;
}

bool KeepsAcls(char const* folder)
{
    return SetDefaultAcl(folder, AclValue(7, {}, 5, 5, 5)) && SetDefaultAcl(folder, "");
}

// ---------------------------------------------------------------------------------------------
// The C library's names

extern "C"
{

    int openat(int at, char const* name, int flags, ...)
    {
        va_list args;
        va_start(args, flags);
        mode_t const mode =
            (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
        va_end(args);
        static auto const real = Real<int (*)(int, char const*, int, ...)>("openat");
        char const* event = nullptr;
        if (Watched() && (flags & O_CREAT) != 0 && IsTemporary(name))
        {
            event = "create";
            folder = at;
        }
        else if (Watched() && (flags & O_TMPFILE) == O_TMPFILE)
        {
            event = "tmpfile";
            folder = at;
        }
        else if (Watched() && at >= 0 && at == folder && std::strcmp(name, target) == 0)
            event = "open";
        int const fd = static_cast<int>(Through(event, [&] { return real(at, name, flags, mode); }));
        if (event != nullptr && fd >= 0) file = fd;
        return fd;
    }
    // The large-file name is the same call where files are 64-bit already.
    int openat64(int at, char const* name, int flags, ...) __attribute__((alias("openat")));

    ssize_t write(int fd, void const* data, size_t n)
    {
        static auto const real = Real<ssize_t (*)(int, void const*, size_t)>("write");
        return Through(On(fd, "write", nullptr), [&] { return real(fd, data, n); });
    }

    int fsync(int fd)
    {
        static auto const real = Real<int (*)(int)>("fsync");
        return static_cast<int>(Through(On(fd, "fsync", "fsync folder"), [&] { return real(fd); }));
    }

    int close(int fd)
    {
        static auto const real = Real<int (*)(int)>("close");
        char const* const event = On(fd, "close", "close folder");
        int const result = static_cast<int>(Through(event, [&] { return real(fd); }));
        if (event != nullptr) (fd == file ? file : folder) = -1;
        return result;
    }

    int renameat(int from, char const* fromName, int to, char const* toName)
    {
        static auto const real = Real<int (*)(int, char const*, int, char const*)>("renameat");
        // The temporary file renamed over the target in its folder.
        bool const ours = On(from, nullptr, "rename") != nullptr && to == from && IsTemporary(fromName) &&
                          std::strcmp(toName, target) == 0;
        return static_cast<int>(
            Through(ours ? "rename" : nullptr, [&] { return real(from, fromName, to, toName); }));
    }

    int linkat(int from, char const* fromName, int to, char const* toName, int flags)
    {
        static auto const real = Real<int (*)(int, char const*, int, char const*, int)>("linkat");
        // The unnamed file given its temporary name in its folder.
        bool const ours = On(to, nullptr, "link") != nullptr && IsTemporary(toName);
        return static_cast<int>(
            Through(ours ? "link" : nullptr, [&] { return real(from, fromName, to, toName, flags); }));
    }

    int fsetxattr(int fd, char const* name, void const* value, size_t size, int flags)
    {
        static auto const real = Real<int (*)(int, char const*, void const*, size_t, int)>("fsetxattr");
        return static_cast<int>(
            Through(On(fd, "set acl", nullptr), [&] { return real(fd, name, value, size, flags); }));
    }

    int fchmod(int fd, mode_t mode)
    {
        static auto const real = Real<int (*)(int, mode_t)>("fchmod");
        char event[kEventSize];
        std::snprintf(event, sizeof event, "fchmod %o", static_cast<unsigned>(mode));
        return static_cast<int>(Through(On(fd, event, nullptr), [&] { return real(fd, mode); }));
    }

} // extern "C"
