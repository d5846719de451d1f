// Envelope chunks: a refused chunk leaves the envelope as it was; an accepted one saves back
// to a chunk that loads to the same envelope; reading, cutting and shaping what was loaded
// stays within the envelope's memory.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "dsp/Envelope.h"
#include "framework/Locks.h"

namespace
{

std::vector<uint8_t> Saved(Envelope const& e)
{
    fuzz::ByteWriter w;
    e.Save(w);
    return w.bytes;
}

void Exercise(Envelope& e)
{
    long const n = e.numValues;
    std::vector<float> values(static_cast<size_t>(n));
    float const duration = e.GetDuration();
    EnvelopeContext ctx;
    for (int i = 0; i <= 8; ++i)
    {
        float const t = duration * static_cast<float>(i) / 8.0f - 1.0f;
        e.ValuesAtTime(t, values.data(), &ctx, i % 2 == 0);
        e.ValueAtTime(t, n - 1, &ctx, false);
    }

    Envelope piece(static_cast<int>(n));
    EnvelopeContext from;
    e.ExtractTimePeriod(&piece, 0.0f, duration * 0.5f + 10.0f, &from, false, nullptr, 0.0f);
    LoopInfo loop;
    loop.looping = true;
    loop.start = duration * 0.25f;
    loop.end = duration * 0.75f;
    from.Reset();
    e.ExtractTimePeriod(&piece, 0.0f, duration * 2.0f + 600.0f, &from, false, &loop, 5.0f);

    Envelope copy(e);
    copy.ScaleToDuration(100.0f);
    copy.ClipValues(-1.0f, 1.0f);
    long at = 0;
    copy.GetPeakY(0, &at);
    copy.RemoveDuplicates();
    Envelope part(true);
    copy.ExtractYRange(&part, 0, n - 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    // A line as the instrument keeps one: a few points of five values.
    Envelope e(5);
    e.AddBreakpoint(0.0f, 0.5f);
    e.AddBreakpoint(1000.0f, -0.25f);
    e.AddBreakpoint(44100.0f, 1.0f);
    std::vector<uint8_t> const before = Saved(e);

    StringReader r;
    r.Open(reinterpret_cast<char const*>(data), size);
    if (!e.Load(r))
    {
        fuzz::Check(Saved(e) == before, "a refused chunk changed the envelope");
        return 0;
    }
    std::vector<uint8_t> const loaded = Saved(e);
    Envelope again(true);
    StringReader back = fuzz::ReaderOn(loaded);
    fuzz::Check(again.Load(back), "a saved envelope does not load");
    fuzz::Check(Saved(again) == loaded, "a saved envelope loads to another");
    Exercise(e);
    return 0;
}
