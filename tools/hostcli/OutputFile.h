#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// A file a command-line host writes (the WAV file, the saved state, a screenshot). Prepared before
// the plug-in is loaded, so a folder that is missing or can't be written to is found at once:
//  - a missing or regular file is written to a new temporary file in its folder, created then
//    (exclusively, never through a link), and renamed over the path only when Commit finds
//    everything written: a failed run leaves no partial file and the old file as it was;
//  - an existing file that is not regular (/dev/null, a FIFO) is written in place; a FIFO is
//    opened without waiting and refused when nothing reads it;
//  - a folder is refused.
// A prepared file that is never committed is removed when the object goes.
class OutputFile
{
public:
    OutputFile() = default;
    OutputFile(OutputFile const&) = delete;
    OutputFile& operator=(OutputFile const&) = delete;
    ~OutputFile();

    // False with the reason in `error` ("cannot write the <what> <path>: ...").
    bool Prepare(std::string const& path, char const* what, std::string& error);
    bool IsPrepared() const { return stream != nullptr; }
    std::string const& Path() const { return path; }
    // Where the contents go until Commit; null before Prepare.
    std::FILE* Stream() const { return stream; }
    // Appends bytes; false once any write failed.
    bool Write(void const* data, std::size_t size);
    // Flushes and closes the file and puts it in place; false with the reason in `error` when
    // any write, the close or the rename failed (the old file is then left as it was).
    bool Commit(std::string& error);
    // Drops what was written (a temporary file is removed).
    void Discard();

private:
    std::string path;
    std::string what;
    std::string temporary; // empty when written in place
    std::FILE* stream = nullptr;
    bool failed = false;
};
