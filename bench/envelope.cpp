#include "dsp/Envelope.h"

#include <benchmark/benchmark.h>

namespace
{
// A 32-point timeline line over about 10 seconds, with the given values per point.
Envelope MakeLine(int values)
{
    Envelope line(values);
    for (int i = 0; i < 32; ++i)
    {
        Breakpoint* p = line.AddBreakpoint();
        p->time = static_cast<float>(i) * 14000.0f;
        for (int k = 0; k < values; ++k)
            p->values[k] = static_cast<float>((i * 7 + k * 3) % 11) / 10.0f;
    }
    return line;
}

// The voice's walk: one piece per block, forward through the line with one context, starting
// over at the end. Arguments: block frames, values per point.
void BM_ExtractPieces(benchmark::State& state)
{
    const float frames = static_cast<float>(state.range(0));
    const int values = static_cast<int>(state.range(1));
    const Envelope line = MakeLine(values);
    const float length = line.GetDuration();
    Envelope piece(values);
    piece.Reserve(64);
    EnvelopeContext ctx;
    float from = 0.0f;
    for (auto _ : state)
    {
        piece.Clear();
        line.ExtractTimePeriod(&piece, from, from + frames, &ctx, false, nullptr, -from);
        benchmark::DoNotOptimize(piece[piece.Size() - 1].values[0]);
        from += frames;
        if (from > length)
        {
            from = 0.0f;
            ctx.Reset();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExtractPieces)->Args({64, 1})->Args({512, 1})->Args({64, 23})->Args({512, 23});

// The same walk inside a loop region of the line, crossing its seam now and then.
void BM_ExtractLoopedPieces(benchmark::State& state)
{
    const float frames = static_cast<float>(state.range(0));
    const Envelope line = MakeLine(5);
    Envelope piece(5);
    piece.Reserve(64);
    EnvelopeContext ctx;
    LoopInfo loop;
    loop.looping = true;
    loop.start = 70000.0f;
    loop.end = 130000.0f;
    float from = 0.0f;
    for (auto _ : state)
    {
        piece.Clear();
        line.ExtractTimePeriod(&piece, from, from + frames, &ctx, false, &loop, -from);
        benchmark::DoNotOptimize(piece[piece.Size() - 1].values[0]);
        from = loop.position;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExtractLoopedPieces)->Arg(64)->Arg(512);
} // namespace
