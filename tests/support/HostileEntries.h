#pragma once

// Entries in the data folder that no reader may trust, made where a reader will meet them, and a
// watchdog that frees a reader stuck on a FIFO so that such a fault fails a test instead of
// hanging it (header only).

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

enum class Hostile
{
    Fifo,
    Socket,
    FolderNamedLikeFile,
    SymlinkLoop,
    Unreadable,
    ZeroLength,
    RandomBytes,
    Truncated,
};

struct HostileEntry
{
    Hostile kind;
    char const* name; // the file name without extension
    bool listed;      // whether lists show it (only regular files are listed)
};

// One row per kind; the names sort in this order.
inline std::vector<HostileEntry> const& HostileEntries()
{
    static std::vector<HostileEntry> const entries = {
        {Hostile::Fifo, "a fifo", false},
        {Hostile::Socket, "b socket", false},
        {Hostile::FolderNamedLikeFile, "c folder", false},
        {Hostile::SymlinkLoop, "d loop", false},
        {Hostile::Unreadable, "e unreadable", true},
        {Hostile::ZeroLength, "f empty", true},
        {Hostile::RandomBytes, "g random", true},
        {Hostile::Truncated, "h truncated", true},
    };
    return entries;
}

// Permissions don't stop the super-user: an unreadable file can't be made for it.
inline bool CanMakeHostile(Hostile kind)
{
    return kind != Hostile::Unreadable || geteuid() != 0;
}

// Makes the entry at path; valid holds the bytes of a good file of that kind (a truncated entry
// keeps its first half, a random one gets as many random bytes).
inline bool MakeHostile(Hostile kind, std::filesystem::path const& path, std::string const& valid)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    switch (kind)
    {
    case Hostile::Fifo:
        return mkfifo(path.c_str(), 0600) == 0;
    case Hostile::Socket:
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.string().size() >= sizeof address.sun_path) return false;
        std::strcpy(address.sun_path, path.c_str());
        int const fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0) return false;
        bool const bound = bind(fd, reinterpret_cast<sockaddr const*>(&address), sizeof address) == 0;
        close(fd);
        return bound;
    }
    case Hostile::FolderNamedLikeFile:
        return fs::create_directory(path, error);
    case Hostile::SymlinkLoop:
        fs::create_symlink(path.filename(), path, error);
        return !error;
    case Hostile::Unreadable:
    {
        std::ofstream(path, std::ios::binary) << valid;
        return chmod(path.c_str(), 0) == 0;
    }
    case Hostile::ZeroLength:
        return std::ofstream(path, std::ios::binary).good();
    case Hostile::RandomBytes:
    {
        std::mt19937 random(1234);
        std::string bytes(std::max<std::size_t>(valid.size(), 64), '\0');
        for (char& c : bytes)
            c = static_cast<char>(random());
        std::ofstream(path, std::ios::binary) << bytes;
        return true;
    }
    case Hostile::Truncated:
        std::ofstream(path, std::ios::binary) << valid.substr(0, valid.size() / 2);
        return true;
    }
    return false;
}

// While it lives, a thread watches the FIFOs given to it: when the test has not ended the
// watchdog after `patience`, something must be stuck opening one of them, and the watchdog
// opens each from its side (again and again) to free it, and records that it had to.
class FifoWatchdog
{
public:
    explicit FifoWatchdog(std::vector<std::filesystem::path> fifos,
                          std::chrono::seconds patience = std::chrono::seconds(30))
        : paths(std::move(fifos))
    {
        // A freed writer would be killed by its first write into a FIFO nobody reads.
        std::signal(SIGPIPE, SIG_IGN);
        watcher = std::thread(
            [this, patience]
            {
                std::unique_lock<std::mutex> hold(mutex);
                if (wake.wait_for(hold, patience, [this] { return ended; })) return;
                while (!ended)
                {
                    released = true;
                    for (auto const& p : paths)
                    {
                        int const fd = open(p.c_str(), O_RDWR | O_NONBLOCK);
                        if (fd >= 0) close(fd);
                    }
                    wake.wait_for(hold, std::chrono::milliseconds(50), [this] { return ended; });
                }
            });
    }
    ~FifoWatchdog() { End(); }
    FifoWatchdog(FifoWatchdog const&) = delete;
    FifoWatchdog& operator=(FifoWatchdog const&) = delete;

    // Stops watching; true when a reader or writer had to be freed.
    bool End()
    {
        {
            std::lock_guard<std::mutex> hold(mutex);
            ended = true;
        }
        wake.notify_all();
        if (watcher.joinable()) watcher.join();
        return released;
    }

private:
    std::vector<std::filesystem::path> paths;
    std::mutex mutex;
    std::condition_variable wake;
    bool ended = false;
    std::atomic<bool> released{false};
    std::thread watcher;
};
