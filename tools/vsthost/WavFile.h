#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// A stereo WAV file written block by block: 16-bit PCM (samples clipped to -1..1 and rounded,
// not finite ones silent) or 32-bit float. The frame count is given up front, so the header is
// written first and memory stays bounded whatever the length.
class WavWriter
{
public:
    // The most frames one file holds (its data must stay below 4 GB).
    static std::uint64_t MaxFrames(bool floatSamples);
    // The size of a whole file of `frames` frames, header included.
    static std::uint64_t FileBytes(bool floatSamples, std::uint64_t frames);

    // False when the file cannot be created or `frames` is beyond MaxFrames.
    bool Open(std::string const& path, int sampleRate, bool floatSamples, std::uint64_t frames);
    // The same into a stream the caller opened and closes (Close only flushes it).
    bool Open(std::FILE* stream, int sampleRate, bool floatSamples, std::uint64_t frames);
    // Appends n frames; false once a write failed or more frames come than announced.
    bool Write(float const* left, float const* right, std::size_t n);
    // True when every announced frame was written and the file closed cleanly.
    bool Close();

private:
    struct FileCloser
    {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    bool WriteHeader(int sampleRate);

    std::unique_ptr<std::FILE, FileCloser> owned; // a file Open(path) created
    std::FILE* file = nullptr;                    // where the samples go
    bool floatSamples = false;
    bool ok = false;
    std::uint64_t announced = 0;
    std::uint64_t written = 0;
    std::vector<unsigned char> buffer;
};

// The whole file at once through a WavWriter. False when the file cannot be written completely.
bool WriteWavFile(std::string const& path, std::vector<float> const& left, std::vector<float> const& right,
                  int sampleRate, bool floatSamples);
