#include "hostcli/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace
{
// A new file beside the output, ".vsthost-" and six random letters or digits, created
// exclusively (never through a link or over anything already there), mode 0666 less the umask.
// The host links none of the plug-ins' code, so it makes its own.
int CreateBeside(std::string const& folder, std::string& created)
{
    static char const kCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 pick(seed());
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        std::string name = folder + ".vsthost-";
        for (int i = 0; i < 6; ++i)
            name += kCharacters[pick() % (sizeof kCharacters - 1)];
        int const fd =
            ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0)
        {
            created = name;
            return fd;
        }
        if (errno != EEXIST && errno != EINTR) return -1;
    }
    errno = EEXIST;
    return -1;
}

std::string FolderOf(std::string const& path)
{
    std::size_t const slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Failure(std::string const& what, std::string const& path, char const* reason)
{
    return "cannot write the " + what + " " + path + ": " + reason;
}
} // namespace

OutputFile::~OutputFile()
{
    Discard();
}

bool OutputFile::Prepare(std::string const& target, char const* kind, std::string& error)
{
    Discard();
    path = target;
    what = kind;
    failed = false;
    struct stat facts
    {
    };
    int fd = -1;
    if (::stat(path.c_str(), &facts) == 0 && !S_ISREG(facts.st_mode))
    {
        if (S_ISDIR(facts.st_mode))
        {
            error = Failure(what, path, "it is a folder");
            return false;
        }
        // Written in place; a FIFO opened without blocking fails at once when nothing reads it.
        do
            fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        while (fd < 0 && errno == EINTR);
        if (fd < 0)
        {
            error = Failure(what, path, errno == ENXIO ? "nothing reads from it" : std::strerror(errno));
            return false;
        }
        int const flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        {
            error = Failure(what, path, std::strerror(errno));
            ::close(fd);
            return false;
        }
    }
    else
    {
        fd = CreateBeside(FolderOf(path), temporary);
        if (fd < 0)
        {
            temporary.clear();
            error = Failure(what, path,
                            errno == ENOENT || errno == ENOTDIR ? "no such folder" : std::strerror(errno));
            return false;
        }
    }
    stream = ::fdopen(fd, "wb");
    if (stream == nullptr)
    {
        error = Failure(what, path, std::strerror(errno));
        ::close(fd);
        Discard();
        return false;
    }
    return true;
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
    bool good = !failed && std::ferror(stream) == 0 && std::fflush(stream) == 0;
    int number = good ? 0 : errno;
    if (std::fclose(stream) != 0 && good)
    {
        good = false;
        number = errno;
    }
    stream = nullptr;
    if (good && !temporary.empty() && std::rename(temporary.c_str(), path.c_str()) != 0)
    {
        good = false;
        number = errno;
    }
    if (!good)
    {
        error = Failure(what, path, number != 0 ? std::strerror(number) : "a write failed");
        Discard();
        return false;
    }
    temporary.clear();
    return true;
}

void OutputFile::Discard()
{
    if (stream != nullptr) std::fclose(stream);
    stream = nullptr;
    if (!temporary.empty()) ::unlink(temporary.c_str());
    temporary.clear();
}
