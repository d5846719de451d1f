#include "vsthost/WavFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace
{

void Put16(std::vector<unsigned char>& out, std::uint32_t v)
{
    out.push_back(static_cast<unsigned char>(v & 0xFF));
    out.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}

void Put32(std::vector<unsigned char>& out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void PutTag(std::vector<unsigned char>& out, char const* tag)
{
    out.insert(out.end(), tag, tag + 4);
}

} // namespace

std::uint64_t WavWriter::MaxFrames(bool floatSamples)
{
    return 0xFFFFFF00u / (2u * (floatSamples ? 4u : 2u));
}

bool WavWriter::Open(std::string const& path, int sampleRate, bool isFloat, std::uint64_t frames)
{
    owned.reset();
    file = nullptr;
    ok = false;
    if (sampleRate <= 0 || frames > MaxFrames(isFloat)) return false;
    owned.reset(std::fopen(path.c_str(), "wb"));
    return owned && Open(owned.get(), sampleRate, isFloat, frames);
}

bool WavWriter::Open(std::FILE* stream, int sampleRate, bool isFloat, std::uint64_t frames)
{
    if (stream != owned.get()) owned.reset();
    file = stream;
    ok = false;
    floatSamples = isFloat;
    announced = frames;
    written = 0;
    if (file == nullptr || sampleRate <= 0 || frames > MaxFrames(isFloat)) return false;
    ok = WriteHeader(sampleRate);
    return ok;
}

std::uint64_t WavWriter::FileBytes(bool floatSamples, std::uint64_t frames)
{
    // RIFF and WAVE, the format chunk (with a fact chunk for float samples), the data chunk.
    std::uint64_t const header = floatSamples ? 8 + 4 + 8 + 18 + 12 + 8 : 8 + 4 + 8 + 16 + 8;
    return header + frames * 2 * (floatSamples ? 4 : 2);
}

bool WavWriter::WriteHeader(int sampleRate)
{
    std::uint32_t const bytesPerSample = floatSamples ? 4 : 2;
    std::uint64_t const dataBytes = announced * 2 * bytesPerSample;

    std::vector<unsigned char> out;
    std::uint32_t const fmtBytes = floatSamples ? 18 : 16;
    std::uint32_t const factBytes = floatSamples ? 12 : 0;
    PutTag(out, "RIFF");
    Put32(out, static_cast<std::uint32_t>(4 + 8 + fmtBytes + factBytes + 8 + dataBytes));
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    Put32(out, fmtBytes);
    Put16(out, floatSamples ? 3 : 1); // IEEE float or PCM
    Put16(out, 2);
    Put32(out, static_cast<std::uint32_t>(sampleRate));
    Put32(out, static_cast<std::uint32_t>(sampleRate) * 2 * bytesPerSample);
    Put16(out, 2 * bytesPerSample);
    Put16(out, 8 * bytesPerSample);
    if (floatSamples)
    {
        Put16(out, 0);
        PutTag(out, "fact");
        Put32(out, 4);
        Put32(out, static_cast<std::uint32_t>(announced));
    }
    PutTag(out, "data");
    Put32(out, static_cast<std::uint32_t>(dataBytes));
    return std::fwrite(out.data(), 1, out.size(), file) == out.size();
}

bool WavWriter::Write(float const* left, float const* right, std::size_t n)
{
    if (!file || !ok) return false;
    if (n > announced - written)
    {
        ok = false;
        return false;
    }
    buffer.clear();
    for (std::size_t i = 0; i < n; ++i)
    {
        for (float s : {left[i], right[i]})
        {
            if (floatSamples)
            {
                std::uint32_t bits = 0;
                std::memcpy(&bits, &s, 4);
                Put32(buffer, bits);
            }
            else
            {
                float const clipped = std::isfinite(s) ? std::clamp(s, -1.0f, 1.0f) : 0.0f;
                auto const v = static_cast<std::int16_t>(std::lround(clipped * 32767.0f));
                Put16(buffer, static_cast<std::uint16_t>(v));
            }
        }
    }
    ok = std::fwrite(buffer.data(), 1, buffer.size(), file) == buffer.size();
    written += n;
    return ok;
}

bool WavWriter::Close()
{
    if (!file) return false;
    bool good = ok && written == announced && std::fflush(file) == 0;
    if (owned) good = std::fclose(owned.release()) == 0 && good;
    file = nullptr;
    ok = false;
    return good;
}

bool WriteWavFile(std::string const& path, std::vector<float> const& left, std::vector<float> const& right,
                  int sampleRate, bool floatSamples)
{
    std::size_t const frames = std::min(left.size(), right.size());
    WavWriter writer;
    if (!writer.Open(path, sampleRate, floatSamples, frames)) return false;
    writer.Write(left.data(), right.data(), frames);
    return writer.Close();
}
