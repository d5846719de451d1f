// The definitions below stand in for the C library's: no header may define them inline.
#undef _FORTIFY_SOURCE
#include "support/syscalls/SyscallLog.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <sstream>

namespace
{

// Fixed storage: the calls are noted without allocating (a call may come from anywhere).
constexpr int kMaxRecords = 1024;
constexpr int kNameCapacity = 256;
constexpr int kKinds = static_cast<int>(Syscall::Fchown) + 1;

struct Stored
{
    Syscall call;
    int fd;
    char name[kNameCapacity];
    int other;
    char otherName[kNameCapacity];
    int flags;
    unsigned mode;
    int result;
    int error;
};

struct Rule
{
    int nth = 0; // 0: none
    int error = 0;
    SyscallTarget target = SyscallTarget::Any;
    int seen = 0;
};

Stored records[kMaxRecords];
std::atomic<int> count{0};
Rule rules[kKinds];
std::atomic<bool> active{false};
pthread_t owner;
char prefix[kNameCapacity];
int temporaryFd = -1; // the temporary file while it is open
int folderFd = -1;    // the folder it was made in

bool IsTemporaryName(char const* name)
{
    return name != nullptr && prefix[0] != 0 && std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

bool Watched()
{
    return active.load(std::memory_order_acquire) && pthread_equal(owner, pthread_self());
}

void Copy(char* to, char const* from)
{
    if (from == nullptr)
    {
        to[0] = 0;
        return;
    }
    std::strncpy(to, from, kNameCapacity - 1);
    to[kNameCapacity - 1] = 0;
}

bool OnTarget(SyscallTarget target, int fd, char const* name)
{
    switch (target)
    {
    case SyscallTarget::Any:
        return true;
    case SyscallTarget::Temporary:
        return name != nullptr ? IsTemporaryName(name) : fd >= 0 && fd == temporaryFd;
    case SyscallTarget::Folder:
        return fd >= 0 && fd == folderFd;
    }
    return false;
}

// True when the rule for the call says this one fails (errno is then set).
bool Injected(Syscall call, int fd, char const* name)
{
    Rule& rule = rules[static_cast<int>(call)];
    if (rule.nth == 0 || !OnTarget(rule.target, fd, name)) return false;
    if (++rule.seen != rule.nth) return false;
    errno = rule.error;
    return true;
}

// Follows the temporary file and its folder from their opening to their closing.
void Track(Syscall call, int fd, char const* name, int flags, long result)
{
    if (call == Syscall::Open && result >= 0 && (flags & O_CREAT) != 0 && IsTemporaryName(name))
    {
        temporaryFd = static_cast<int>(result);
        folderFd = fd;
    }
    if (call == Syscall::Close && fd == temporaryFd) temporaryFd = -1;
    if (call == Syscall::Close && fd == folderFd) folderFd = -1;
}

void Note(Syscall call, int fd, char const* name, int other, char const* otherName, int flags, unsigned mode,
          int result, int error)
{
    int const at = count.load(std::memory_order_relaxed);
    if (at >= kMaxRecords) return;
    Stored& r = records[at];
    r.call = call;
    r.fd = fd;
    Copy(r.name, name);
    r.other = other;
    Copy(r.otherName, otherName);
    r.flags = flags;
    r.mode = mode;
    r.result = result;
    r.error = error;
    count.store(at + 1, std::memory_order_relaxed);
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

// Runs the real call unless a rule fails it, and notes it when watched.
template <typename Make>
long Through(Syscall call, int fd, char const* name, int other, char const* otherName, int flags,
             unsigned mode, Make make)
{
    if (!Watched()) return make();
    int const saved = errno;
    long result;
    int error = 0;
    if (Injected(call, fd, name))
    {
        error = errno;
        // A close happens all the same: the descriptor is gone whatever close reports.
        if (call == Syscall::Close) make();
        result = -1;
    }
    else
    {
        errno = saved;
        result = make();
        error = result < 0 ? errno : 0;
    }
    Note(call, fd, name, other, otherName, flags, mode, static_cast<int>(result), error);
    Track(call, fd, name, flags, call == Syscall::Close ? 0 : result);
    errno = result < 0 ? error : saved;
    return result;
}

unsigned ModeOf(int flags, va_list args)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, unsigned) : 0u;
}

using OpenFunction = int (*)(char const*, int, ...);
using OpenAtFunction = int (*)(int, char const*, int, ...);

int DoOpen(OpenFunction real, char const* path, int flags, unsigned mode)
{
    return static_cast<int>(Through(Syscall::Open, AT_FDCWD, path, -1, nullptr, flags, mode,
                                    [&] { return static_cast<long>(real(path, flags, mode)); }));
}

int DoOpenAt(OpenAtFunction real, int folder, char const* path, int flags, unsigned mode)
{
    return static_cast<int>(Through(Syscall::Open, folder, path, -1, nullptr, flags, mode,
                                    [&] { return static_cast<long>(real(folder, path, flags, mode)); }));
}

} // namespace

SyscallLog::SyscallLog(char const* temporaryPrefix)
{
    count.store(0);
    for (Rule& rule : rules)
        rule = Rule{};
    Copy(prefix, temporaryPrefix);
    temporaryFd = -1;
    folderFd = -1;
    owner = pthread_self();
    active.store(true, std::memory_order_release);
}

SyscallLog::~SyscallLog()
{
    active.store(false, std::memory_order_release);
}

void SyscallLog::Fail(Syscall call, int error, SyscallTarget target, int nth)
{
    rules[static_cast<int>(call)] = Rule{nth, error, target, 0};
}

std::vector<SyscallRecord> SyscallLog::Records() const
{
    std::vector<SyscallRecord> out;
    int const n = count.load();
    for (int i = 0; i < n; ++i)
    {
        Stored const& r = records[i];
        out.push_back({r.call, r.fd, r.name, r.other, r.otherName, r.flags, r.mode, r.result, r.error});
    }
    return out;
}

char const* SyscallName(Syscall call)
{
    static char const* const names[kKinds] = {"open",   "write",  "fsync",  "fdatasync", "close",
                                              "rename", "unlink", "fchmod", "fchown"};
    return names[static_cast<int>(call)];
}

std::vector<std::string> SaveStory(std::vector<SyscallRecord> const& records, std::string const& prefix,
                                   std::string const& target)
{
    int temporary = -1;
    int folder = -1;
    std::size_t created = records.size();
    for (std::size_t i = 0; i < records.size() && created == records.size(); ++i)
    {
        SyscallRecord const& r = records[i];
        if (r.call == Syscall::Open && (r.flags & O_CREAT) != 0 &&
            std::string(r.name).rfind(prefix, 0) == 0 && r.result >= 0)
        {
            created = i;
            temporary = r.result;
            folder = r.fd;
        }
    }
    std::vector<std::string> story;
    if (created == records.size()) return story;
    std::size_t start = created;
    while (start > 0 && !(records[start - 1].call == Syscall::Open && records[start - 1].result == folder &&
                          (records[start - 1].flags & O_DIRECTORY) != 0))
        --start;
    if (start > 0) --start;
    bool folderOpen = true;
    for (std::size_t i = start; i < records.size(); ++i)
    {
        SyscallRecord const& r = records[i];
        std::string event;
        bool const onFolder = r.fd == folder && folderOpen;
        bool const onTemporary = r.fd == temporary && temporary >= 0;
        switch (r.call)
        {
        case Syscall::Open:
            if (r.result == folder && i < created) event = "open folder";
            if (i == created) event = "create";
            break;
        case Syscall::Write:
            if (onTemporary) event = "write";
            break;
        case Syscall::Fsync:
        case Syscall::Fdatasync:
            if (onTemporary) event = "fsync";
            if (onFolder) event = "fsync folder";
            break;
        case Syscall::Close:
            if (onTemporary)
            {
                event = "close";
                temporary = -1;
            }
            else if (onFolder && i > created)
            {
                event = "close folder";
                folderOpen = false;
            }
            break;
        case Syscall::Rename:
            if (r.fd == folder && r.other == folder && std::string(r.otherName) == target) event = "rename";
            break;
        case Syscall::Unlink:
            if (r.fd == folder && std::string(r.name).rfind(prefix, 0) == 0) event = "unlink";
            break;
        case Syscall::Fchmod:
            if (onTemporary) event = "fchmod " + (std::ostringstream() << std::oct << r.mode).str();
            break;
        case Syscall::Fchown:
            if (onTemporary) event = "fchown";
            break;
        }
        if (event.empty()) continue;
        if (r.result < 0) event += "!";
        if (event == "write" && !story.empty() && story.back() == "write") continue;
        story.push_back(event);
        if (!folderOpen) break;
    }
    return story;
}

std::vector<ReplaceCallRow> ReplaceCallRows()
{
    using S = Syscall;
    using T = SyscallTarget;
    std::vector<std::string> const start = {"open folder", "create", "fchmod 640", "write"};
    auto with = [&](std::vector<std::string> rest)
    {
        std::vector<std::string> all = start;
        all.insert(all.end(), rest.begin(), rest.end());
        return all;
    };
    return {
        {"a new file",
         0,
         S::Write,
         T::Any,
         0,
         true,
         {"open folder", "create", "write", "fsync", "close", "rename", "fsync folder", "close folder"},
         false,
         false},
        {"over a 0640 file", 0640, S::Write, T::Any, 0, true,
         with({"fsync", "close", "rename", "fsync folder", "close folder"}), false, false},
        {"over a 0600 file",
         0600,
         S::Write,
         T::Any,
         0,
         true,
         {"open folder", "create", "fchmod 600", "write", "fsync", "close", "rename", "fsync folder",
          "close folder"},
         false,
         false},
        {"a write fails",
         0640,
         S::Write,
         T::Temporary,
         ENOSPC,
         false,
         {"open folder", "create", "fchmod 640", "write!", "close", "unlink", "close folder"},
         true,
         false},
        {"the data sync fails", 0640, S::Fsync, T::Temporary, EIO, false,
         with({"fsync!", "close", "unlink", "close folder"}), true, false},
        {"the close fails", 0640, S::Close, T::Temporary, EIO, false,
         with({"fsync", "close!", "unlink", "close folder"}), true, false},
        {"the rename fails", 0640, S::Rename, T::Temporary, EXDEV, false,
         with({"fsync", "close", "rename!", "unlink", "close folder"}), true, false},
        {"the folder sync fails", 0640, S::Fsync, T::Folder, EIO, true,
         with({"fsync", "close", "rename", "fsync folder!", "close folder"}), false, true},
        {"the folder can't be synced (EINVAL)", 0640, S::Fsync, T::Folder, EINVAL, true,
         with({"fsync", "close", "rename", "fsync folder!", "close folder"}), false, false},
    };
}

// ---------------------------------------------------------------------------------------------
// The C library's names

extern "C"
{

    int open(char const* path, int flags, ...)
    {
        va_list args;
        va_start(args, flags);
        unsigned const mode = ModeOf(flags, args);
        va_end(args);
        static OpenFunction const real = Real<OpenFunction>("open");
        return DoOpen(real, path, flags, mode);
    }

    int openat(int folder, char const* path, int flags, ...)
    {
        va_list args;
        va_start(args, flags);
        unsigned const mode = ModeOf(flags, args);
        va_end(args);
        static OpenAtFunction const real = Real<OpenAtFunction>("openat");
        return DoOpenAt(real, folder, path, flags, mode);
    }

    // The large-file names are the same calls where files are 64-bit already.
    int open64(char const* path, int flags, ...) __attribute__((alias("open")));
    int openat64(int folder, char const* path, int flags, ...) __attribute__((alias("openat")));

    ssize_t write(int fd, void const* data, size_t n)
    {
        static auto const real = Real<ssize_t (*)(int, void const*, size_t)>("write");
        return Through(Syscall::Write, fd, nullptr, -1, nullptr, 0, static_cast<unsigned>(n),
                       [&] { return static_cast<long>(real(fd, data, n)); });
    }

    int fsync(int fd)
    {
        static auto const real = Real<int (*)(int)>("fsync");
        return static_cast<int>(Through(Syscall::Fsync, fd, nullptr, -1, nullptr, 0, 0,
                                        [&] { return static_cast<long>(real(fd)); }));
    }

    int fdatasync(int fd)
    {
        static auto const real = Real<int (*)(int)>("fdatasync");
        return static_cast<int>(Through(Syscall::Fdatasync, fd, nullptr, -1, nullptr, 0, 0,
                                        [&] { return static_cast<long>(real(fd)); }));
    }

    int close(int fd)
    {
        static auto const real = Real<int (*)(int)>("close");
        return static_cast<int>(Through(Syscall::Close, fd, nullptr, -1, nullptr, 0, 0,
                                        [&] { return static_cast<long>(real(fd)); }));
    }

    int renameat(int from, char const* fromName, int to, char const* toName)
    {
        static auto const real = Real<int (*)(int, char const*, int, char const*)>("renameat");
        return static_cast<int>(Through(Syscall::Rename, from, fromName, to, toName, 0, 0,
                                        [&] { return static_cast<long>(real(from, fromName, to, toName)); }));
    }

    int unlinkat(int folder, char const* name, int flags)
    {
        static auto const real = Real<int (*)(int, char const*, int)>("unlinkat");
        return static_cast<int>(Through(Syscall::Unlink, folder, name, -1, nullptr, flags, 0,
                                        [&] { return static_cast<long>(real(folder, name, flags)); }));
    }

    int fchmod(int fd, mode_t mode)
    {
        static auto const real = Real<int (*)(int, mode_t)>("fchmod");
        return static_cast<int>(Through(Syscall::Fchmod, fd, nullptr, -1, nullptr, 0, mode,
                                        [&] { return static_cast<long>(real(fd, mode)); }));
    }

    int fchown(int fd, uid_t user, gid_t group)
    {
        static auto const real = Real<int (*)(int, uid_t, gid_t)>("fchown");
        return static_cast<int>(Through(Syscall::Fchown, fd, nullptr, -1, nullptr, 0, 0,
                                        [&] { return static_cast<long>(real(fd, user, group)); }));
    }

} // extern "C"
