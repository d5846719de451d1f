#pragma once

// The one temporary data home of tests, benchmarks and fuzz targets (header only, so the
// benchmarks and fuzz targets use it without the test libraries).

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

// A new empty folder below the system's temporary folder, named prefix + a random number.
inline std::string MakeTemporaryFolder(char const* prefix)
{
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (;;)
    {
        std::filesystem::path const candidate =
            std::filesystem::temp_directory_path() /
            (std::string(prefix) + std::to_string(random() & 0xFFFFFFFFFFu));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) return candidate.string();
    }
}

// Points the application-support folder ($XDG_DATA_HOME) at a new empty temporary folder while
// it lives: instruments built meanwhile keep their folders, presets and MIDI-learn file there.
// Puts the previous value back and deletes the folder on destruction.
class TemporaryDataHome
{
public:
    explicit TemporaryDataHome(char const* prefix = "torvane-home-") : path(MakeTemporaryFolder(prefix))
    {
        if (char const* old = std::getenv("XDG_DATA_HOME"))
        {
            previous = old;
            hadPrevious = true;
        }
        setenv("XDG_DATA_HOME", path.c_str(), 1);
        ++Live();
    }
    ~TemporaryDataHome()
    {
        --Live();
        if (hadPrevious)
            setenv("XDG_DATA_HOME", previous.c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
    TemporaryDataHome(TemporaryDataHome const&) = delete;
    TemporaryDataHome& operator=(TemporaryDataHome const&) = delete;

    std::string const& Path() const { return path; }
    // Where the instrument's root folder lies: Path() + "/Corvella Audio/Torvane/".
    std::string RootFolder() const { return path + "/Corvella Audio/Torvane/"; }

    // True while any TemporaryDataHome lives in the process.
    static bool AnyAlive() { return Live().load() > 0; }

private:
    static std::atomic<int>& Live()
    {
        static std::atomic<int> live{0};
        return live;
    }

    std::string path;
    std::string previous;
    bool hadPrevious = false;
};
