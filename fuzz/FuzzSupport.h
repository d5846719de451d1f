#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/Streams.h"

// Helpers shared by the fuzz targets and the corpus generator.
namespace fuzz
{

// A folder of this process's own (created on first use, removed at exit). $XDG_DATA_HOME
// points at it, so the instrument keeps its folders, presets and MIDI-learn file there.
std::string const& ScratchFolder();

// Writes the bytes to ScratchFolder() + "/" + name and returns the path. Aborts when the file
// can't be written (the run would test nothing).
std::string WriteScratchFile(char const* name, uint8_t const* data, size_t size);
// Writes the bytes to path, creating the folders above it; aborts on failure.
void WriteFile(std::string const& path, uint8_t const* data, size_t size);
std::vector<uint8_t> ReadFile(std::string const& path);

// Message popups go nowhere (the loaders report every refused input with one).
void SilenceMessages();

// Aborts (a crash for the fuzzer) with the text on stderr.
[[noreturn]] void Fail(char const* what);
inline void Check(bool ok, char const* what)
{
    if (!ok) Fail(what);
}

// Collects what is written, texts in the memory form (as a StringWriter writes them).
class ByteWriter : public Writer
{
public:
    void WriteBytes(void const* data, std::size_t n) override
    {
        auto const* p = static_cast<uint8_t const*>(data);
        bytes.insert(bytes.end(), p, p + n);
    }
    std::vector<uint8_t> bytes;
};

// Reads a block of bytes (texts in the memory form).
inline StringReader ReaderOn(std::vector<uint8_t> const& block)
{
    StringReader r;
    r.Open(reinterpret_cast<char const*>(block.data()), block.size());
    return r;
}

// The input as a little stream of small values.
class Bytes
{
public:
    Bytes(uint8_t const* data, size_t size) : data(data), size(size) {}
    bool Empty() const { return position >= size; }
    size_t Left() const { return size - position; }
    uint8_t Next() { return position < size ? data[position++] : 0; }
    uint8_t const* Rest() const { return data + position; }

private:
    uint8_t const* data;
    size_t size;
    size_t position = 0;
};

} // namespace fuzz
