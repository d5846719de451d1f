#include "vsthost/MidiFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>

namespace
{

// One event of the file, 16 bytes, so that a file of millions of events stays small while the
// tracks are merged: the tick, its place in the file (ties keep the file's order), and a
// payload that is the channel message's bytes, a tempo, or the index of a system-exclusive body.
struct FileEvent
{
    enum Kind : std::uint32_t
    {
        Channel = 0,
        Tempo = 1,
        Sysex = 2
    };
    static constexpr std::uint32_t kKindShift = 24;

    std::uint64_t tick;
    std::uint32_t order;
    std::uint32_t payload; // the kind in the top byte, its value in the low three

    Kind GetKind() const { return static_cast<Kind>(payload >> kKindShift); }
    std::uint32_t Value() const { return payload & ((1u << kKindShift) - 1); }
};

struct FileEvents
{
    std::vector<FileEvent> events;
    std::vector<std::vector<std::uint8_t>> sysex;

    void Add(std::uint64_t tick, FileEvent::Kind kind, std::uint32_t value)
    {
        events.push_back(FileEvent{tick, static_cast<std::uint32_t>(events.size()),
                                   (static_cast<std::uint32_t>(kind) << FileEvent::kKindShift) | value});
    }
};

class ByteReader
{
public:
    ByteReader(unsigned char const* data, std::size_t size) : data(data), size(size) {}

    bool Byte(std::uint8_t& v)
    {
        if (pos >= size) return false;
        v = data[pos++];
        return true;
    }

    bool Peek(std::uint8_t& v) const
    {
        if (pos >= size) return false;
        v = data[pos];
        return true;
    }

    bool Be(int bytes, std::uint32_t& v)
    {
        v = 0;
        for (int i = 0; i < bytes; ++i)
        {
            std::uint8_t b = 0;
            if (!Byte(b)) return false;
            v = (v << 8) | b;
        }
        return true;
    }

    // A variable-length quantity of at most four bytes.
    bool Vlq(std::uint32_t& v)
    {
        v = 0;
        for (int i = 0; i < 4; ++i)
        {
            std::uint8_t b = 0;
            if (!Byte(b)) return false;
            v = (v << 7) | (b & 0x7F);
            if ((b & 0x80) == 0) return true;
        }
        return false;
    }

    bool Skip(std::size_t n)
    {
        if (n > size - pos) return false;
        pos += n;
        return true;
    }

    bool Bytes(std::size_t n, std::vector<std::uint8_t>& out)
    {
        if (n > size - pos) return false;
        out.assign(data + pos, data + pos + n);
        pos += n;
        return true;
    }

    bool AtEnd() const { return pos >= size; }
    std::size_t Position() const { return pos; }

private:
    unsigned char const* data;
    std::size_t size;
    std::size_t pos = 0;
};

int DataBytes(std::uint8_t status)
{
    switch (status & 0xF0)
    {
    case 0xC0:
    case 0xD0:
        return 1;
    default:
        return 2;
    }
}

bool ReadTrack(ByteReader r, FileEvents& out, std::string& error)
{
    std::uint64_t tick = 0;
    std::uint8_t running = 0;
    while (!r.AtEnd())
    {
        std::uint32_t delta = 0;
        std::uint8_t status = 0;
        if (!r.Vlq(delta) || !r.Peek(status))
        {
            error = "truncated or malformed track event";
            return false;
        }
        tick += delta;
        if (status & 0x80)
            r.Skip(1);
        else if (running != 0)
            status = running;
        else
        {
            error = "data byte without a status";
            return false;
        }

        if (status == 0xFF)
        {
            std::uint8_t type = 0;
            std::uint32_t length = 0;
            std::vector<std::uint8_t> body;
            if (!r.Byte(type) || !r.Vlq(length) || !r.Bytes(length, body))
            {
                error = "truncated meta event";
                return false;
            }
            if (type == 0x2F) return true;
            if (type == 0x51 && body.size() == 3)
            {
                std::uint32_t const tempo =
                    (std::uint32_t(body[0]) << 16) | (std::uint32_t(body[1]) << 8) | body[2];
                if (tempo > 0) out.Add(tick, FileEvent::Tempo, tempo);
            }
            continue;
        }
        if (status == 0xF0 || status == 0xF7)
        {
            std::uint32_t length = 0;
            std::vector<std::uint8_t> body;
            if (!r.Vlq(length) || !r.Bytes(length, body))
            {
                error = "truncated system-exclusive event";
                return false;
            }
            if (status == 0xF0) body.insert(body.begin(), 0xF0);
            if (body.empty()) continue;
            if (out.sysex.size() >= (1u << FileEvent::kKindShift))
            {
                error = "too many system-exclusive events";
                return false;
            }
            out.Add(tick, FileEvent::Sysex, static_cast<std::uint32_t>(out.sysex.size()));
            out.sysex.push_back(std::move(body));
            continue;
        }
        if (status >= 0xF0)
        {
            error = "system message inside a track";
            return false;
        }
        running = status;
        std::uint32_t message = status;
        for (int i = 0; i < DataBytes(status); ++i)
        {
            std::uint8_t b = 0;
            if (!r.Byte(b) || (b & 0x80) != 0)
            {
                error = "truncated or malformed channel message";
                return false;
            }
            message |= static_cast<std::uint32_t>(b) << (8 * (1 + i));
        }
        out.Add(tick, FileEvent::Channel, message);
    }
    // A track without its end marker: what was read stands.
    return true;
}

} // namespace

bool ParseMidiFile(std::vector<unsigned char> const& bytes, double sampleRate, std::vector<TimedMidi>& events,
                   std::string& error)
{
    ByteReader r(bytes.data(), bytes.size());
    std::uint32_t tag = 0;
    std::uint32_t length = 0;
    std::uint32_t format = 0;
    std::uint32_t tracks = 0;
    std::uint32_t division = 0;
    if (!r.Be(4, tag) || tag != 0x4D546864 || !r.Be(4, length) || length < 6 || !r.Be(2, format) ||
        !r.Be(2, tracks) || !r.Be(2, division) || !r.Skip(length - 6))
    {
        error = "not a standard MIDI file";
        return false;
    }
    if (format > 2 || division == 0 || sampleRate <= 0.0)
    {
        error = "unsupported MIDI file format or time division";
        return false;
    }
    // Seconds a tick: fixed for SMPTE division, else from the tempo in force.
    double smpteTick = 0.0;
    if (division & 0x8000)
    {
        int const framesPerSecond = -static_cast<int>(static_cast<std::int8_t>(division >> 8));
        int const ticksPerFrame = static_cast<int>(division & 0xFF);
        if (framesPerSecond <= 0 || ticksPerFrame == 0)
        {
            error = "malformed SMPTE time division";
            return false;
        }
        smpteTick = 1.0 / (framesPerSecond * ticksPerFrame);
    }

    FileEvents all;
    while (!r.AtEnd())
    {
        if (!r.Be(4, tag) || !r.Be(4, length) || length > bytes.size() - r.Position())
        {
            error = "truncated chunk";
            return false;
        }
        ByteReader chunk(bytes.data() + r.Position(), length);
        r.Skip(length);
        if (tag != 0x4D54726B) // chunks other than tracks are skipped
            continue;
        if (!ReadTrack(chunk, all, error)) return false;
    }

    // Tracks merged by time; events of one time keep the file's order (every order differs).
    std::sort(all.events.begin(), all.events.end(),
              [](FileEvent const& a, FileEvent const& b)
              { return a.tick != b.tick ? a.tick < b.tick : a.order < b.order; });
    std::size_t count = 0;
    for (FileEvent const& e : all.events)
        count += e.GetKind() != FileEvent::Tempo ? 1 : 0;
    events.reserve(events.size() + count);
    double seconds = 0.0;
    std::uint64_t lastTick = 0;
    double tempo = 500000.0;
    for (FileEvent const& e : all.events)
    {
        double const tick = smpteTick > 0.0 ? smpteTick : tempo / 1e6 / static_cast<double>(division);
        seconds += static_cast<double>(e.tick - lastTick) * tick;
        lastTick = e.tick;
        if (e.GetKind() == FileEvent::Tempo)
        {
            tempo = e.Value();
            continue;
        }
        double const frame = std::round(seconds * sampleRate);
        if (!(frame < 1.0e18))
        {
            error = "an event lies beyond any length that can be rendered";
            return false;
        }
        TimedMidi& out = events.emplace_back();
        out.frame = static_cast<long>(frame);
        if (e.GetKind() == FileEvent::Sysex)
            out.sysex = std::move(all.sysex[e.Value()]);
        else
            for (int i = 0; i < 3; ++i)
                out.data[i] = static_cast<std::uint8_t>(e.Value() >> (8 * i));
    }
    return true;
}

bool ReadMidiFile(std::string const& path, double sampleRate, std::vector<TimedMidi>& events,
                  std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        error = "cannot open " + path;
        return false;
    }
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!ParseMidiFile(bytes, sampleRate, events, error))
    {
        error = path + ": " + error;
        return false;
    }
    return true;
}

std::vector<TimedMidi> DemoPhrase(double sampleRate, double bpm)
{
    struct Note
    {
        double beat;
        double length;
        int note;
        int velocity;
    };
    // A minor, F, C, G: the chord a bar, the melody over it in quarters and eighths.
    static Note const notes[] = {
        {0, 4, 45, 60},      {0, 4, 60, 50},  {0, 4, 64, 50},   {4, 4, 41, 60},     {4, 4, 60, 50},
        {4, 4, 65, 50},      {8, 4, 48, 60},  {8, 4, 55, 50},   {8, 4, 64, 50},     {12, 4, 43, 60},
        {12, 4, 59, 50},     {12, 4, 62, 50}, {0, 1, 76, 90},   {1, 0.5, 74, 80},   {1.5, 0.5, 72, 80},
        {2, 2, 69, 90},      {4, 1, 77, 90},  {5, 0.5, 76, 80}, {5.5, 0.5, 74, 80}, {6, 2, 72, 90},
        {8, 1, 79, 90},      {9, 1, 76, 80},  {10, 1, 72, 80},  {11, 1, 76, 80},    {12, 1.5, 74, 90},
        {13.5, 0.5, 71, 80}, {14, 2, 67, 90},
    };
    double const framesPerBeat = 60.0 / bpm * sampleRate;
    auto frameOf = [framesPerBeat](double beat) { return std::lround(beat * framesPerBeat); };
    std::vector<TimedMidi> events;
    auto add = [&events](long frame, std::uint8_t status, std::uint8_t d1, std::uint8_t d2)
    {
        TimedMidi e;
        e.frame = frame;
        e.data[0] = status;
        e.data[1] = d1;
        e.data[2] = d2;
        events.push_back(e);
    };
    for (Note const& n : notes)
    {
        add(frameOf(n.beat), 0x90, static_cast<std::uint8_t>(n.note), static_cast<std::uint8_t>(n.velocity));
        // Released a little before the next beat, so repeated notes are heard apart.
        add(frameOf(n.beat + n.length) - 64, 0x80, static_cast<std::uint8_t>(n.note), 64);
    }
    for (int bar = 0; bar < 4; ++bar)
    {
        add(frameOf(bar * 4.0) + 32, 0xB0, 64, 127);
        add(frameOf(bar * 4.0 + 4.0) - 96, 0xB0, 64, 0);
    }
    std::stable_sort(events.begin(), events.end(),
                     [](TimedMidi const& a, TimedMidi const& b) { return a.frame < b.frame; });
    return events;
}
