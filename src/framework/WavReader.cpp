#include "framework/WavReader.h"

#include "framework/Streams.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>

namespace
{

uint16_t Le16(unsigned char const* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t Le32(unsigned char const* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Bytes handed to fread per step while converting.
constexpr size_t kChunkBytes = size_t(1) << 16;
// Format tags: integer PCM, and the extensible form whose extension names the coding.
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;

} // namespace

WaveReader::~WaveReader()
{
    Close();
}

int WaveReader::Open(char const* path)
{
    Close();
    if (!path) return 0;
    // A regular file only: a FIFO or device is refused without waiting on it.
    FILE* f = OpenRegularStream(path, false);
    if (!f) return 0;
    file = f;
    ownsFile = true;
    Parse();
    return 1;
}

void WaveReader::UseFile(FILE* f)
{
    Close();
    file = f;
    ownsFile = false;
    Parse();
}

void WaveReader::Close()
{
    if (file && ownsFile) std::fclose(file);
    file = nullptr;
    ownsFile = false;
}

bool WaveReader::Compare(char const* a, char const* b)
{
    return std::memcmp(a, b, 4) == 0;
}

bool WaveReader::ReadExact(void* dst, size_t n)
{
    return std::fread(dst, 1, n, file) == n;
}

bool WaveReader::SeekTo(int64_t pos)
{
    return file && fseeko(file, off_t(pos), SEEK_SET) == 0;
}

int64_t WaveReader::GetPosition() const
{
    return file ? int64_t(ftello(file)) : 0;
}

// Parsing

void WaveReader::Parse()
{
    fmt = fmtChunk{};
    fact = factChunk{};
    data = dataChunk{};
    haveData = false;
    pcm = false;
    format = WaveFormat{};
    fileLength = 0;
    if (!file || fseeko(file, 0, SEEK_END) != 0) return;
    int64_t const realSize = ftello(file);
    if (realSize < 0 || !SeekTo(0) || !ReadMainFileHeader()) return;
    // The RIFF size may claim more than the file holds: trust the smaller.
    fileLength = std::min(fileLength, realSize);

    int64_t pos = 12;
    while (pos + 8 <= fileLength)
    {
        char id[4];
        uint32_t size = 0;
        if (!SeekTo(pos) || !GetChunkName(id, size)) break;
        int64_t const body = pos + 8;
        if (Compare(id, "fmt "))
            ReadFormatHeader(size);
        else if (Compare(id, "fact"))
            ReadFactHeader(size);
        else if (Compare(id, "data"))
            ReadDataHeader(size, body);
        // Chunks of odd size are followed by a pad byte.
        pos = body + int64_t(size) + int64_t(size & 1u);
    }
    Finish();
}

bool WaveReader::ReadMainFileHeader()
{
    unsigned char b[12];
    if (!ReadExact(b, sizeof b)) return false;
    // The "RIFF" and "WAVE" ids are not checked.
    fileLength = int64_t(Le32(b + 4)) + 8;
    return true;
}

bool WaveReader::GetChunkName(char id[4], uint32_t& size)
{
    unsigned char b[8];
    if (!ReadExact(b, sizeof b)) return false;
    std::memcpy(id, b, 4);
    size = Le32(b + 4);
    return true;
}

void WaveReader::ReadFormatHeader(uint32_t size)
{
    fmt = fmtChunk{};
    pcm = false;
    std::memcpy(fmt.id, "fmt ", 4);
    fmt.size = size;
    unsigned char b[16];
    // A format block shorter than the 16 PCM bytes (or cut off) describes nothing.
    if (size < sizeof b || GetPosition() + int64_t(sizeof b) > fileLength || !ReadExact(b, sizeof b)) return;
    fmt.formatTag = Le16(b);
    fmt.channels = Le16(b + 2);
    fmt.sampleRate = Le32(b + 4);
    fmt.byteRate = Le32(b + 8);
    fmt.blockAlign = Le16(b + 12);
    fmt.bitsPerSample = Le16(b + 14);
    pcm = fmt.formatTag == kFormatPcm;
    if (fmt.formatTag != kFormatExtensible) return;
    // The extension: its size, valid bits, channel mask and the sub-format's GUID, whose first
    // two bytes hold the format tag it stands for.
    unsigned char e[24];
    if (size < 16 + sizeof e || GetPosition() + int64_t(sizeof e) > fileLength || !ReadExact(e, sizeof e))
        return;
    static unsigned char const kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                    0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    pcm = Le16(e) >= 22 && std::memcmp(e + 8, kPcmSubFormat, sizeof kPcmSubFormat) == 0;
}

void WaveReader::ReadFactHeader(uint32_t size)
{
    fact = factChunk{};
    std::memcpy(fact.id, "fact", 4);
    unsigned char b[4];
    if (size < sizeof b || GetPosition() + int64_t(sizeof b) > fileLength || !ReadExact(b, sizeof b)) return;
    fact.size = size;
    fact.sampleCount = Le32(b);
}

void WaveReader::ReadDataHeader(uint32_t size, int64_t start)
{
    data = dataChunk{};
    std::memcpy(data.id, "data", 4);
    data.size = size;
    data.start = start;
    haveData = true;
}

void WaveReader::Finish()
{
    format.channels = fmt.channels;
    format.sampleRate = fmt.sampleRate;
    format.bitsPerSample = fmt.bitsPerSample;
    if (!haveData) return;

    int64_t const avail = std::max<int64_t>(0, fileLength - data.start);
    if (int64_t(data.size) > avail) data.size = uint32_t(avail);
    if (uint64_t const frameSize = FrameSize())
    {
        data.frames = uint32_t(data.size / frameSize);
        if (fact.size != 0) data.frames = std::min(data.frames, fact.sampleCount);
    }
    if (fmt.byteRate != 0)
    {
        data.minutes = data.size / fmt.byteRate / 60;
        data.seconds = double(data.size) / fmt.byteRate - 60.0 * data.minutes;
    }
    SeekTo(data.start);
}

// Reading

uint64_t WaveReader::FrameSize() const
{
    if (format.bitsPerSample < 8) return 0;
    return uint64_t(format.channels) * format.bitsPerSample / 8;
}

unsigned WaveReader::FramesRemaining() const
{
    uint64_t const frameSize = FrameSize();
    if (!file || !haveData || frameSize == 0) return 0;
    int64_t const pos = GetPosition();
    if (pos < data.start) return 0;
    uint64_t const index = uint64_t(pos - data.start) / frameSize;
    return index >= data.frames ? 0u : unsigned(data.frames - index);
}

void WaveReader::SeekToStart()
{
    if (haveData) SeekTo(data.start);
}

void WaveReader::SeekFrames(unsigned frame)
{
    if (haveData) SeekTo(data.start + int64_t(std::min(frame, data.frames) * FrameSize()));
}

int WaveReader::Read(void* raw, int n)
{
    if (!file || n <= 0) return 0;
    return int(std::fread(raw, 1, size_t(n), file));
}

unsigned WaveReader::ReadFrames(void* raw, unsigned n)
{
    unsigned const want = std::min(n, FramesRemaining());
    if (want == 0) return 0;
    return unsigned(std::fread(raw, size_t(FrameSize()), want, file));
}

unsigned WaveReader::ReadFrames(float* out, unsigned n)
{
    return ReadConverted(out, nullptr, n, Layout::Interleaved);
}

unsigned WaveReader::ReadStereoFrames(float* left, float* right, unsigned n)
{
    return ReadConverted(left, right, n, Layout::Stereo);
}

unsigned WaveReader::ReadFramesMakeMono(float* out, unsigned n)
{
    return ReadConverted(out, nullptr, n, Layout::Mono);
}

unsigned WaveReader::ReadFramesMakeMono(std::vector<float>& out)
{
    out.resize(data.frames, 0.0f);
    if (out.empty()) return 0;
    return ReadFramesMakeMono(out.data(), unsigned(out.size()));
}

unsigned WaveReader::ReadConverted(float* a, float* b, unsigned n, Layout layout)
{
    unsigned const total = std::min(n, FramesRemaining());
    if (total == 0) return 0;
    uint64_t const frameSize = FrameSize();
    unsigned const channels = format.channels;
    unsigned const bits = format.bitsPerSample;
    bool convert = pcm && (bits == 8 || bits == 16 || bits == 24);
    if (layout == Layout::Stereo && channels != 2) convert = false;
    if (layout == Layout::Mono && channels != 1 && channels != 2) convert = false;
    if (!convert)
    {
        // Nothing to convert; the frames are still consumed and counted.
        SeekTo(GetPosition() + int64_t(total * frameSize));
        return total;
    }

    size_t const framesPerStep = std::max<size_t>(1, kChunkBytes / frameSize);
    scratch.resize(framesPerStep * frameSize);
    unsigned done = 0;
    while (done < total)
    {
        size_t const want = std::min<size_t>(total - done, framesPerStep);
        size_t const got = std::fread(scratch.data(), size_t(frameSize), want, file);
        unsigned const frames = unsigned(got);
        switch (layout)
        {
        case Layout::Interleaved:
            ConvertToFloat(scratch.data(), frames, a + size_t(done) * channels);
            break;
        case Layout::Stereo:
            ConvertToStereoFloat(scratch.data(), frames, a + done, b + done);
            break;
        case Layout::Mono:
            ConvertToFloatMakeMono(scratch.data(), frames, a + done);
            break;
        }
        done += frames;
        if (got < want) break;
    }
    return done;
}

// Conversion

float WaveReader::SampleAt(unsigned char const* p) const
{
    switch (format.bitsPerSample)
    {
    case 8:
        return float((int(p[0]) - 128) / 127.0);
    case 16:
        return float(int16_t(Le16(p)) / 32767.0);
    case 24:
    {
        uint32_t const u = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
        if (u & 0x800000u) return float((double(u) - 8388608.0) / 8388607.0 - 1.0);
        return float(u / 8388607.0);
    }
    default:
        return 0.0f;
    }
}

void WaveReader::ConvertToFloat(unsigned char const* src, unsigned frames, float* out) const
{
    size_t const bytes = format.bitsPerSample / 8u;
    size_t const count = size_t(frames) * format.channels;
    for (size_t i = 0; i < count; ++i)
        out[i] = SampleAt(src + i * bytes);
}

void WaveReader::ConvertToStereoFloat(unsigned char const* src, unsigned frames, float* left,
                                      float* right) const
{
    size_t const bytes = format.bitsPerSample / 8u;
    for (unsigned f = 0; f < frames; ++f)
    {
        left[f] = SampleAt(src + (2 * size_t(f)) * bytes);
        right[f] = SampleAt(src + (2 * size_t(f) + 1) * bytes);
    }
}

void WaveReader::ConvertToFloatMakeMono(unsigned char const* src, unsigned frames, float* out) const
{
    size_t const bytes = format.bitsPerSample / 8u;
    if (format.channels == 1)
    {
        for (unsigned f = 0; f < frames; ++f)
            out[f] = SampleAt(src + f * bytes);
        return;
    }
    for (unsigned f = 0; f < frames; ++f)
        out[f] =
            (SampleAt(src + (2 * size_t(f)) * bytes) + SampleAt(src + (2 * size_t(f) + 1) * bytes)) * 0.5f;
}
