#include "hostcli/OutputFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>

#include "framework/FileKeeping.h"

// The host links none of the plug-ins' code: it keeps its own small replacing writer.

namespace
{

// How many links a path may lead through.
constexpr int kMaxLinks = 40;
// Bytes gathered before they are written.
constexpr std::size_t kBufferSize = 64 * 1024;

template <typename Call> auto Retried(Call call)
{
    for (;;)
    {
        auto const result = call();
        if (result >= 0 || errno != EINTR) return result;
    }
}

std::string Failure(std::string const& what, std::string const& path, char const* reason)
{
    return "cannot write the " + what + " " + path + ": " + reason;
}

// The path made absolute, with repeated separators and "." components dropped (".." is kept: a
// link before it would change what it means).
std::string Tidy(std::string const& path)
{
    std::string whole = path;
    if (whole.empty() || whole[0] != '/')
    {
        char here[PATH_MAX];
        if (::getcwd(here, sizeof here) != nullptr) whole = std::string(here) + "/" + whole;
    }
    std::string tidy;
    std::size_t at = 0;
    while (at <= whole.size())
    {
        std::size_t const end = std::min(whole.find('/', at), whole.size());
        std::string_view const part(whole.data() + at, end - at);
        if (!part.empty() && part != ".")
        {
            tidy += '/';
            tidy += part;
        }
        at = end + 1;
    }
    return tidy.empty() ? "/" : tidy;
}

bool AllDigits(std::string_view text)
{
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// The descriptors open when the program started (all of them until that is noted).
constexpr int kNotedDescriptors = 1024;
std::bitset<kNotedDescriptors> startedWith;
bool startNoted = false;

bool StartedWith(int fd)
{
    if (!startNoted) return true;
    return fd >= 0 && fd < kNotedDescriptors && startedWith.test(static_cast<std::size_t>(fd));
}

// Named temporary files, removed when a signal ends the program: slots of a folder descriptor
// and a name that the handler reads without allocating.
struct NamedTemporary
{
    std::atomic<int> folder{-1};
    char name[32] = {};
};
constexpr int kNamedTemporaries = 16;
NamedTemporary namedTemporaries[kNamedTemporaries];

int Register(int folder, std::string const& name)
{
    for (int i = 0; i < kNamedTemporaries; ++i)
    {
        NamedTemporary& slot = namedTemporaries[i];
        if (slot.folder.load() != -1) continue;
        std::snprintf(slot.name, sizeof slot.name, "%s", name.c_str());
        int expected = -1;
        if (slot.folder.compare_exchange_strong(expected, folder)) return i;
    }
    return -1;
}

void Unregister(int& slot)
{
    if (slot >= 0) namedTemporaries[slot].folder.store(-1);
    slot = -1;
}

int const kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previousActions[3];

extern "C" void RemoveTemporariesAndEnd(int signal)
{
    for (NamedTemporary& slot : namedTemporaries)
    {
        int const folder = slot.folder.exchange(-1);
        if (folder >= 0) ::unlinkat(folder, slot.name, 0);
    }
    // Ended by the signal itself, so the exit status says which.
    struct sigaction fallback
    {
    };
    fallback.sa_handler = SIG_DFL;
    ::sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
}

// The descriptor a tidy path names (/dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N or
// /proc/P/fd/N), with `ours` true when it is one of this process's; -1 for any other path.
int DescriptorNamed(std::string const& path, bool& ours)
{
    ours = true;
    if (path == "/dev/stdin") return 0;
    if (path == "/dev/stdout") return 1;
    if (path == "/dev/stderr") return 2;
    std::string_view const text(path);
    if (text.substr(0, 8) == "/dev/fd/" && AllDigits(text.substr(8))) return std::atoi(path.c_str() + 8);
    if (text.substr(0, 6) != "/proc/") return -1;
    std::size_t const slash = text.find('/', 6);
    if (slash == std::string_view::npos || text.substr(slash, 4) != "/fd/" ||
        !AllDigits(text.substr(slash + 4)))
        return -1;
    std::string_view const process = text.substr(6, slash - 6);
    if (process == "self" || process == "thread-self")
        ours = true;
    else if (AllDigits(process))
        ours = std::atol(std::string(process).c_str()) == static_cast<long>(::getpid());
    else
        return -1;
    return std::atoi(path.c_str() + slash + 4);
}

// Where a path leads as an output: the links at its end followed (never those of its folders,
// which the system takes as it finds them) up to a descriptor path or anything that is not a
// link (or nothing).
struct Resolved
{
    std::string path;
    int descriptor = -1; // the descriptor a descriptor path names
    bool ours = false;   // ... and whether it is one of this process's

    // One of the descriptors this process was started with.
    bool IsOwnOutput() const { return ours && descriptor >= 0; }
};

// The folder and name parts of a path that is not a folder's.
void Split(std::string const& path, std::string& folder, std::string& name)
{
    std::size_t const slash = path.rfind('/');
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

int Resolve(std::string const& given, Resolved& out)
{
    std::string current = given;
    for (int hop = 0; hop <= kMaxLinks; ++hop)
    {
        bool ours = false;
        int const fd = DescriptorNamed(Tidy(current), ours);
        struct stat facts
        {
        };
        if (fd >= 0 || ::lstat(current.c_str(), &facts) != 0 || !S_ISLNK(facts.st_mode))
        {
            out = {current, fd, ours};
            return 0;
        }
        char target[PATH_MAX];
        ssize_t const n = ::readlink(current.c_str(), target, sizeof target);
        if (n < 0) return errno;
        if (static_cast<std::size_t>(n) >= sizeof target) return ENAMETOOLONG;
        std::string const next(target, static_cast<std::size_t>(n));
        std::string folder, name;
        Split(current, folder, name);
        current = next[0] == '/' ? next : folder + "/" + next;
    }
    return ELOOP;
}

// A name for a temporary file: ".vsthost-" and six random letters or digits.
std::string TemporaryName()
{
    static char const kCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 pick{std::random_device{}()};
    std::string name = ".vsthost-";
    for (int i = 0; i < 6; ++i)
        name += kCharacters[pick() % (sizeof kCharacters - 1)];
    return name;
}

// A new file in the folder open at `folder`, named by TemporaryName, created exclusively (never
// through a link or over anything already there) with `mode` less the umask.
int CreateBeside(int folder, std::string& created, mode_t mode)
{
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        std::string const name = TemporaryName();
        int const fd = Retried(
            [&]
            {
                return ::openat(folder, name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
            });
        if (fd >= 0)
        {
            created = name;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

// Gives the new file the old one's owner and group where the user may (the owner first:
// changing it clears the set-id bits), then its mode and ACL. False with errno set when the mode
// can't be given on a file system that keeps modes.
bool TakeOver(int fd, struct stat const& old, filekeeping::Acl const& acl)
{
    struct stat made
    {
    };
    if (::fstat(fd, &made) == 0 && (made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0)
        (void)!::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    return filekeeping::TakeModeAndAcl(fd, old.st_mode, acl);
}

bool IsRegular(int fd)
{
    struct stat facts
    {
    };
    return ::fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode);
}

// Opens `name` in the folder `at` to be written in place, without waiting (a FIFO nothing reads
// fails at once) and then in blocking mode; -1 with errno set on failure.
int OpenInPlace(int at, char const* name, int flags)
{
    int const fd =
        Retried([&] { return ::openat(at, name, O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | flags); });
    if (fd < 0) return -1;
    int const status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0)
    {
        int const why = errno;
        ::close(fd);
        errno = why;
        return -1;
    }
    return fd;
}

} // namespace

bool OutputFile::Identify(std::string const& path, Identity& identity)
{
    Resolved where;
    if (Resolve(path, where) != 0) return false;
    struct stat facts
    {
    };
    identity = Identity{};
    if (where.IsOwnOutput())
    {
        if (!StartedWith(where.descriptor) || ::fstat(where.descriptor, &facts) != 0) return false;
    }
    else if (::stat(where.path.c_str(), &facts) != 0)
    {
        if (errno != ENOENT || where.descriptor >= 0) return false;
        // A file still to be made: its folder and its name.
        std::string folder;
        Split(where.path, folder, identity.name);
        if (::stat(folder.c_str(), &facts) != 0) return false;
    }
    identity.device = facts.st_dev;
    identity.inode = facts.st_ino;
    identity.characterDevice = identity.name.empty() && S_ISCHR(facts.st_mode);
    return true;
}

bool OutputFile::IdentifyDescriptor(int fd, Identity& identity)
{
    struct stat facts
    {
    };
    if (::fstat(fd, &facts) != 0) return false;
    identity = Identity{facts.st_dev, facts.st_ino, {}, S_ISCHR(facts.st_mode)};
    return true;
}

void OutputFile::NoteStartingDescriptors()
{
    for (int fd = 0; fd < kNotedDescriptors; ++fd)
        startedWith.set(static_cast<std::size_t>(fd), ::fcntl(fd, F_GETFD) != -1);
    startNoted = true;
}

void OutputFile::RemoveTemporariesOnSignals(bool on)
{
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
    {
        if (on)
        {
            struct sigaction action
            {
            };
            action.sa_handler = RemoveTemporariesAndEnd;
            ::sigemptyset(&action.sa_mask);
            for (int other : kEndingSignals)
                ::sigaddset(&action.sa_mask, other);
            ::sigaction(kEndingSignals[i], &action, &previousActions[i]);
            // A signal ignored from the start (nohup, a background job) stays ignored.
            if (previousActions[i].sa_handler == SIG_IGN)
                ::sigaction(kEndingSignals[i], &previousActions[i], nullptr);
        }
        else
            ::sigaction(kEndingSignals[i], &previousActions[i], nullptr);
    }
}

OutputFile::~OutputFile()
{
    Discard();
}

void OutputFile::CloseFolder()
{
    if (folder >= 0) ::close(folder);
    folder = -1;
}

bool OutputFile::Prepare(std::string const& target, char const* kind, std::string& error)
{
    Discard();
    path = target;
    what = kind;
    failed = false;
    writeError = 0;
    written = 0;
    note.clear();
    own = -1;
    regular = false;
    unnamed = false;
    way = Way::Replace;

    Resolved where;
    if (int const why = Resolve(path, where))
    {
        error = Failure(what, path, std::strerror(why));
        return false;
    }
    // A descriptor the program was started with: written through it as it is, at its offset
    // (appended to where it was opened to append).
    if (where.IsOwnOutput())
    {
        int const flags = StartedWith(where.descriptor) ? ::fcntl(where.descriptor, F_GETFL) : -1;
        struct stat opened
        {
        };
        if (flags == -1 || ::fstat(where.descriptor, &opened) != 0)
        {
            error = Failure(what, path, "no such descriptor is open");
            return false;
        }
        if (S_ISDIR(opened.st_mode) || (flags & O_ACCMODE) == O_RDONLY)
        {
            error = Failure(what, path,
                            S_ISDIR(opened.st_mode) ? "it is a folder"
                                                    : "the descriptor is not open for writing");
            return false;
        }
        int const fd = ::fcntl(where.descriptor, F_DUPFD_CLOEXEC, 3);
        if (fd < 0)
        {
            error = Failure(what, path, std::strerror(errno));
            return false;
        }
        way = Way::Descriptor;
        own = where.descriptor;
        return OpenStream(fd, error);
    }
    struct stat facts
    {
    };
    bool const exists = ::stat(where.path.c_str(), &facts) == 0;
    if (!exists && (errno != ENOENT || where.descriptor >= 0))
    {
        bool const noFolder = where.descriptor < 0 && errno == ENOTDIR;
        error = Failure(what, path, noFolder ? "no such folder" : std::strerror(errno));
        return false;
    }
    if (exists && S_ISDIR(facts.st_mode))
    {
        error = Failure(what, path, "it is a folder");
        return false;
    }
    // Anything but a regular file, and another process's descriptor path, is written in place; a
    // FIFO opened without waiting fails at once when nothing reads it.
    if (where.descriptor >= 0 || (exists && !S_ISREG(facts.st_mode)))
    {
        int const fd = OpenInPlace(AT_FDCWD, where.path.c_str(), 0);
        if (fd < 0)
        {
            error = Failure(what, path, errno == ENXIO ? "nothing reads from it" : std::strerror(errno));
            return false;
        }
        way = Way::InPlace;
        return OpenStream(fd, error);
    }

    // A replacement, made in the folder's descriptor (so the path may be as long as the
    // system allows). The folder is read to be synced; one that may only be searched is used as
    // a path.
    std::string folderPath;
    Split(where.path, folderPath, name);
    folder = Retried([&] { return ::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    folderReadable = folder >= 0;
    if (folder < 0 && errno == EACCES)
        folder = Retried([&] { return ::open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); });
    if (folder < 0)
    {
        error = Failure(what, path,
                        errno == ENOENT || errno == ENOTDIR ? "no such folder" : std::strerror(errno));
        return false;
    }
    if (exists && !filekeeping::MayWrite(folder, name))
    {
        error = Failure(what, path, "it is read-only");
        CloseFolder();
        return false;
    }
    filekeeping::Acl const acl = exists ? filekeeping::ReadAcl(folder, name) : filekeeping::Acl{};
    // Unnamed until Commit where the file system allows, so a run cut short leaves nothing.
    mode_t const first = exists ? 0600 : 0666;
    int fd = filekeeping::OpenUnnamed(folder, first);
    unnamed = fd >= 0;
    if (fd < 0 && filekeeping::KeepsNoUnnamedFiles(errno))
    {
        fd = CreateBeside(folder, temporary, first);
        if (fd >= 0) registered = Register(folder, temporary);
    }
    if (fd < 0)
    {
        int const why = errno;
        temporary.clear();
        // A folder that takes no new file, holding a file the user may write: that file is
        // written in place.
        if (exists && (why == EACCES || why == EPERM))
        {
            int const inPlace = OpenInPlace(folder, name.c_str(), O_NOFOLLOW);
            if (inPlace >= 0 && IsRegular(inPlace))
            {
                CloseFolder();
                way = Way::InPlace;
                note = "the folder of the " + what + " " + path + " takes no new file (" +
                       std::strerror(why) +
                       "): the file is written in place, so a power cut or a failure part-way may leave it "
                       "damaged";
                return OpenStream(inPlace, error);
            }
            if (inPlace >= 0) ::close(inPlace);
        }
        CloseFolder();
        error = Failure(what, path, std::strerror(why));
        return false;
    }
    if (exists && !TakeOver(fd, facts, acl))
    {
        error = Failure(what, path, std::strerror(errno));
        ::close(fd);
        Discard();
        return false;
    }
    return OpenStream(fd, error);
}

ssize_t OutputFile::WriteOut(void* cookie, char const* data, std::size_t size)
{
    OutputFile& file = *static_cast<OutputFile*>(cookie);
    std::size_t done = 0;
    while (done < size)
    {
        ssize_t const n = ::write(file.descriptor, data + done, size - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
        {
            // Fewer bytes than asked mark the stream failed.
            if (file.writeError == 0) file.writeError = n < 0 ? errno : EIO;
            file.failed = true;
            break;
        }
    }
    file.written += done;
    return static_cast<ssize_t>(done);
}

bool OutputFile::OpenStream(int fd, std::string& error)
{
    descriptor = fd;
    regular = IsRegular(fd);
    // The bytes reach the descriptor through WriteOut, which keeps the reason of a failure.
    cookie_io_functions_t const io{nullptr, &OutputFile::WriteOut, nullptr, nullptr};
    stream = ::fopencookie(this, "wb", io);
    if (stream == nullptr)
    {
        error = Failure(what, path, std::strerror(errno));
        Discard();
        return false;
    }
    std::setvbuf(stream, nullptr, _IOFBF, kBufferSize);
    return true;
}

bool OutputFile::Reserve(unsigned long long size, std::string& error)
{
    if (stream == nullptr || way != Way::InPlace || !regular || size == 0) return true;
    // Room for the whole file before its first byte is written over: a full disk refuses here.
    int const why =
        ::fallocate(descriptor, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0 ? 0 : errno;
    if (why == 0 || why == EOPNOTSUPP || why == ENOSYS) return true;
    error = Failure(what, path, std::strerror(why));
    Discard();
    return false;
}

bool OutputFile::Write(void const* data, std::size_t size)
{
    if (stream == nullptr || failed) return false;
    if (size > 0 && std::fwrite(data, 1, size, stream) != size) failed = true;
    return !failed;
}

bool OutputFile::Commit(std::string& error)
{
    if (stream == nullptr)
    {
        error = Failure(what, path, "it was not opened");
        return false;
    }
    bool good = std::fflush(stream) == 0 && std::ferror(stream) == 0 && !failed;
    int number = writeError;
    std::fclose(stream); // the descriptor stays open: it is closed below
    stream = nullptr;
    auto const fail = [&](int why)
    {
        good = false;
        number = why;
    };
    // A file written in place ends where the new contents end.
    if (good && way == Way::InPlace && regular && ::ftruncate(descriptor, static_cast<off_t>(written)) != 0)
        fail(errno);
    // The data reach the disk before the file takes the old one's place (and before an in-place
    // file is called written). Our own output may be a file or a pipe; a temporary file is
    // regular.
    if (good && regular && Retried([this] { return ::fsync(descriptor); }) != 0 &&
        !(way == Way::Descriptor && (errno == EINVAL || errno == ENOTSUP)))
        fail(errno);
    // A complete unnamed file is given its temporary name, to be renamed over the target.
    if (good && unnamed)
    {
        if (int const why = filekeeping::Name(descriptor, folder, TemporaryName, temporary))
            fail(why);
        else
            registered = Register(folder, temporary);
    }
    unnamed = false;
    if (::close(descriptor) != 0 && errno != EINTR && good) fail(errno);
    descriptor = -1;
    if (good && way == Way::Replace && ::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0)
        fail(errno);
    if (!good)
    {
        error = Failure(what, path, number != 0 ? std::strerror(number) : "a write failed");
        Discard();
        return false;
    }
    if (way == Way::Replace)
    {
        temporary.clear();
        Unregister(registered);
        // The new file is in place: a folder that could not be synced leaves it saved.
        int const why = !folderReadable                                    ? EACCES
                        : Retried([this] { return ::fsync(folder); }) == 0 ? 0
                                                                           : errno;
        if (why != 0 && why != EINVAL && why != ENOTSUP)
            note = "the " + what + " " + path +
                   " was saved, but the folder could not be synced: " + std::strerror(why);
    }
    CloseFolder();
    return true;
}

void OutputFile::Discard()
{
    if (stream != nullptr) std::fclose(stream);
    stream = nullptr;
    if (descriptor >= 0) ::close(descriptor);
    descriptor = -1;
    if (!temporary.empty() && folder >= 0) ::unlinkat(folder, temporary.c_str(), 0);
    temporary.clear();
    Unregister(registered);
    unnamed = false;
    CloseFolder();
}

std::string OutputFile::TakeNote()
{
    std::string taken;
    taken.swap(note);
    return taken;
}
