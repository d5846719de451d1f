#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// The current sample format of an opened file.
struct WaveFormat
{
    unsigned short channels = 0;
    unsigned int sampleRate = 0;
    unsigned short bitsPerSample = 0;
};

// Reads uncompressed PCM RIFF WAVE files and converts their samples to float.
// The chunk structure is parsed once on opening; frames are converted on request.
// Malformed files never fail loudly: they parse to fewer (or no) frames, and every
// count is clipped to the bytes the file really holds. Callers judge a file by
// NumFrames() and GetFormat().
class WaveReader
{
public:
    struct fmtChunk
    {
        char id[4] = {};
        uint32_t size = 0;
        uint16_t formatTag = 0;
        uint16_t channels = 0;
        uint32_t sampleRate = 0;
        uint32_t byteRate = 0;
        uint16_t blockAlign = 0;
        uint16_t bitsPerSample = 0;
    };
    struct factChunk
    {
        char id[4] = {};
        uint32_t size = 0; // 0 until a fact chunk is read
        uint32_t sampleCount = 0;
    };
    struct dataChunk
    {
        char id[4] = {};
        uint32_t size = 0;    // bytes of sample data the file holds
        int64_t start = 0;    // file position of the first sample
        uint32_t minutes = 0; // duration: whole minutes ...
        double seconds = 0.0; // ... and the remaining seconds
        uint32_t frames = 0;
    };

    WaveReader() = default;
    ~WaveReader();
    WaveReader(WaveReader const&) = delete;
    WaveReader& operator=(WaveReader const&) = delete;

    // Opens a regular file for reading and parses it; 0 when it can't be opened or isn't a
    // regular file (a FIFO or device is refused without waiting), else 1.
    int Open(char const* path);
    // Parses an already opened file; the caller keeps ownership of it.
    void UseFile(FILE* file);
    // Closes a file opened by Open (a file given to UseFile is only forgotten).
    void Close();

    unsigned NumFrames() const { return data.frames; }
    // Whether the samples are integer PCM: format tag 1, or WAVE_FORMAT_EXTENSIBLE (0xFFFE)
    // whose extension holds at least its 22 bytes and names the PCM sub-format. A-law, mu-law,
    // float, ADPCM and every other coding are not.
    bool IsPcm() const { return pcm; }
    // Whether the reads convert this file's samples: integer PCM of 8, 16 or 24 bits, at least
    // one channel. Other files (32-bit integer, float or compressed among them) read as frames
    // but convert nothing.
    bool CanConvert() const
    {
        return pcm && format.channels > 0 &&
               (format.bitsPerSample == 8 || format.bitsPerSample == 16 || format.bitsPerSample == 24);
    }
    WaveFormat const& GetFormat() const { return format; }
    fmtChunk const& GetFmtChunk() const { return fmt; }
    factChunk const& GetFactChunk() const { return fact; }
    dataChunk const& GetDataChunk() const { return data; }

    // Each read takes at most n frames, and no more than remain between the current
    // position and the end of the sample data; it returns the frames read.
    // Interleaved as in the file: frames * channels floats.
    unsigned ReadFrames(float* out, unsigned n);
    // Two-channel files only (other files convert nothing).
    unsigned ReadStereoFrames(float* left, float* right, unsigned n);
    // One value per frame: mono as is, stereo (first + second) * 0.5, others nothing.
    unsigned ReadFramesMakeMono(float* out, unsigned n);
    // Resizes out to NumFrames() (new elements 0) and reads the frames into it.
    unsigned ReadFramesMakeMono(std::vector<float>& out);
    // Raw frames without conversion (frame size = channels * bits / 8).
    unsigned ReadFrames(void* raw, unsigned n);
    // n raw bytes from the current position; returns the bytes read.
    int Read(void* raw, int n);

    void SeekToStart();
    void SeekFrames(unsigned frame);
    int64_t GetPosition() const;

    // True when the first four characters are equal.
    static bool Compare(char const* a, char const* b);

private:
    enum class Layout
    {
        Interleaved,
        Stereo,
        Mono
    };

    void Parse();
    bool ReadMainFileHeader();
    bool GetChunkName(char id[4], uint32_t& size);
    void ReadFormatHeader(uint32_t size);
    void ReadFactHeader(uint32_t size);
    void ReadDataHeader(uint32_t size, int64_t start);
    void Finish();

    bool ReadExact(void* dst, size_t n);
    bool SeekTo(int64_t pos);
    uint64_t FrameSize() const;
    unsigned FramesRemaining() const;
    unsigned ReadConverted(float* a, float* b, unsigned n, Layout layout);
    void ConvertToFloat(unsigned char const* src, unsigned frames, float* out) const;
    void ConvertToStereoFloat(unsigned char const* src, unsigned frames, float* left, float* right) const;
    void ConvertToFloatMakeMono(unsigned char const* src, unsigned frames, float* out) const;
    float SampleAt(unsigned char const* p) const;

    FILE* file = nullptr;
    bool ownsFile = false;
    int64_t fileLength = 0; // RIFF size + 8, clipped to the real file size
    fmtChunk fmt;
    factChunk fact;
    dataChunk data;
    bool haveData = false;
    bool pcm = false;
    WaveFormat format;
    std::vector<unsigned char> scratch;
};
