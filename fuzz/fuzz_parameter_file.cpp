// Parameter-file headers: the reader opens a file only when the first line is its format's
// name and the version lies in the accepted range, and then stands at the payload.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "framework/ParameterFile.h"

namespace
{

struct Format
{
    char const* name;
    float min;
    float max;
};

constexpr Format kFormats[] = {
    {"TorvanePatch", 1.0f, 1.0f},
    {"Waveform", 1.0f, 0.0f},
    {"Timeline", 0.5f, 2.0f},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string const path = fuzz::WriteScratchFile("input.prm", data, size);
    for (Format const& f : kFormats)
    {
        ParameterFileReader reader;
        reader.format.formatName = f.name;
        reader.format.SetAcceptVersion(f.min, f.max);
        if (!reader.Open(path.c_str()))
        {
            fuzz::Check(!reader.IsOpen(), "a refused file stays open");
            continue;
        }
        float const v = reader.format.version;
        fuzz::Check(v >= reader.format.acceptMin && v <= reader.format.acceptMax,
                    "a version out of range was accepted");

        // The header is the name (a line read as text: leading spaces skipped, a zero byte
        // ends the text), a carriage return and the version.
        size_t skipped = 0;
        while (skipped < size && data[skipped] == ' ')
            ++skipped;
        size_t const n = std::strlen(f.name);
        fuzz::Check(size >= skipped + n + 1 && std::memcmp(data + skipped, f.name, n) == 0 &&
                        (data[skipped + n] == '\r' || data[skipped + n] == 0),
                    "a file opened whose first line is not the format name");
        auto const* cr =
            static_cast<uint8_t const*>(std::memchr(data + skipped + n, '\r', size - skipped - n));
        fuzz::Check(cr != nullptr, "a header line without its end was accepted");
        size_t const payload = static_cast<size_t>(cr - data) + 1 + 4;
        fuzz::Check(payload <= size && reader.Remaining() == size - payload,
                    "the reader does not stand at the payload");

        // The payload reads to its end without trouble.
        char text[64];
        int i = 0;
        float x = 0.0f;
        bool b = false;
        while (reader.Remaining() > 0)
        {
            size_t const before = reader.Remaining();
            reader.Read(&i);
            reader.Read(&x);
            reader.Read(&b);
            reader.Read(text);
            if (reader.Remaining() == before) break;
        }
        reader.Close();
    }
    return 0;
}
