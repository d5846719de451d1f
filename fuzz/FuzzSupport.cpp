#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include "platform/MessagePopup.h"
#include "support/TemporaryDataHome.h"

namespace fs = std::filesystem;

namespace fuzz
{

namespace
{

class DroppingSink : public MessageSink
{
public:
    void Show(char const*, char const*) override {}
    bool AskYesNo(char const*, char const*) override { return false; }
};

} // namespace

std::string const& ScratchFolder()
{
    // The data home of every instrument the target builds, removed at exit.
    static TemporaryDataHome folder("torvane-fuzz-");
    return folder.Path();
}

void WriteFile(std::string const& path, uint8_t const* data, size_t size)
{
    std::error_code error;
    fs::create_directories(fs::path(path).parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (size > 0) out.write(reinterpret_cast<char const*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) Fail(("cannot write " + path).c_str());
}

std::string WriteScratchFile(char const* name, uint8_t const* data, size_t size)
{
    std::string path = ScratchFolder() + "/" + name;
    WriteFile(path, data, size);
    return path;
}

std::vector<uint8_t> ReadFile(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void SilenceMessages()
{
    SetMessageSink(std::make_shared<DroppingSink>());
}

void Fail(char const* what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

} // namespace fuzz
