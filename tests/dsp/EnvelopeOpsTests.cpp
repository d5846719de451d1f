#include "EnvelopeTestSupport.h"

#include "dsp/Envelope.h"
#include "framework/Random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

using envtest::Held;
using envtest::Reference;
using envtest::Snapshot;

namespace
{

using Points = std::vector<std::pair<float, float>>;

Points PointsOf(const Envelope& e, long k = 0)
{
    Points out;
    for (long i = 0; i < e.Size(); ++i)
        out.emplace_back(e[i].time, e[i].values[k]);
    return out;
}

Envelope MakeLine(const Points& pts)
{
    Envelope e(1);
    for (auto [t, v] : pts)
        e.AddBreakpoint(t, v);
    return e;
}

void ExpectTimesAscending(const Envelope& e)
{
    for (long i = 1; i < e.Size(); ++i)
        ASSERT_LE(e[i - 1].time, e[i].time) << "at " << i;
}

} // namespace

// ------------------------------------------------------------------------------------------
// Plain extraction

TEST(EnvelopeExtract, PieceOfALine)
{
    Envelope e = MakeLine({{0, 0}, {100, 1}, {200, 0}});
    Envelope piece(1);
    EnvelopeContext ctx;
    LoopInfo loop;
    e.ExtractTimePeriod(&piece, 50, 150, &ctx, false, &loop, -50);
    EXPECT_EQ(PointsOf(piece), (Points{{0, 0.5f}, {50, 1}, {100, 0.5f}}));
    EXPECT_EQ(loop.position, 150.0f);
    EXPECT_EQ(ctx.segment, 1);
    // A period ending on a point ends with that point.
    piece.Clear();
    e.ExtractTimePeriod(&piece, 150, 200, &ctx, false, nullptr, 0);
    EXPECT_EQ(PointsOf(piece), (Points{{150, 0.5f}, {200, 0}}));
}

TEST(EnvelopeExtract, PastTheEndHoldsOrZeros)
{
    Envelope e = MakeLine({{0, 0}, {100, 1}});
    Envelope piece(1);
    e.ExtractTimePeriod(&piece, 150, 250, nullptr, false, nullptr, 0);
    EXPECT_EQ(PointsOf(piece), (Points{{150, 1}, {250, 1}}));
    piece.Clear();
    e.ExtractTimePeriod(&piece, 150, 250, nullptr, true, nullptr, 0);
    EXPECT_EQ(PointsOf(piece), (Points{{150, 0}, {250, 0}}));
    // Running out of points inside the period: the end point holds or drops to zero.
    piece.Clear();
    e.ExtractTimePeriod(&piece, 50, 250, nullptr, true, nullptr, 0);
    EXPECT_EQ(PointsOf(piece), (Points{{50, 0.5f}, {100, 1}, {250, 0}}));
    piece.Clear();
    Envelope empty(1);
    EnvelopeContext ctx;
    ctx.segment = 7;
    empty.ExtractTimePeriod(&piece, 0, 64, &ctx, false, nullptr, 10);
    EXPECT_EQ(PointsOf(piece), (Points{{10, 0}, {74, 0}}));
    EXPECT_EQ(ctx.segment, 0);
}

TEST(EnvelopeExtract, JumpAtTheStartOfAPieceIsKept)
{
    // A jump at 100: the whole curve reads 1 at 100 and leaves it from 5.
    Envelope e = MakeLine({{0, 0}, {100, 1}, {100, 5}, {200, 5}});
    Envelope piece(1);
    e.ExtractTimePeriod(&piece, 100, 150, nullptr, false, nullptr, 0);
    EXPECT_EQ(PointsOf(piece), (Points{{100, 1}, {100, 5}, {150, 5}}));
    EXPECT_EQ(piece.ValueAtTime(100, 0, nullptr, false), 1.0f);
    EXPECT_EQ(piece.ValueAtTime(120, 0, nullptr, false), 5.0f);
}

TEST(EnvelopeExtract, RandomBlocksEvaluateLikeTheWhole)
{
    Random rng(2024);
    Envelope src(2);
    Envelope piece(2);
    Envelope pieceNoCtx(2);
    for (int trial = 0; trial < 150; ++trial)
    {
        envtest::RandomEnvelope(src, rng, 1 + static_cast<long>(rng.NextUInt32() % 30), 0.0f, 120);
        const auto ref = Snapshot(src);
        const float total = src[src.Size() - 1].time + 300.0f;
        EnvelopeContext ctx;
        float from = 0.0f;
        while (from < total)
        {
            const float len = static_cast<float>(rng.NextUInt32() % 200);
            const float to = from + len;
            piece.Clear();
            pieceNoCtx.Clear();
            src.ExtractTimePeriod(&piece, from, to, &ctx, false, nullptr, -from);
            src.ExtractTimePeriod(&pieceNoCtx, from, to, nullptr, false, nullptr, -from);
            ASSERT_EQ(PointsOf(piece, 1), PointsOf(pieceNoCtx, 1));
            ASSERT_GE(piece.Size(), 2);
            ASSERT_EQ(piece[0].time, 0.0f);
            ASSERT_EQ(piece[piece.Size() - 1].time, len);
            ExpectTimesAscending(piece);
            for (int q = 0; q < 12; ++q)
            {
                const float u = q == 0 ? 0.0f : q == 1 ? len : std::floor(rng.NextFloat() * (len + 1.0f));
                for (long k = 0; k < 2; ++k)
                    ASSERT_NEAR(piece.ValueAtTime(u, k, nullptr, false), Reference(ref, from + u, k), 1e-5)
                        << "trial " << trial << " from " << from << " u " << u;
            }
            from = to;
        }
    }
}

// ------------------------------------------------------------------------------------------
// Looped extraction

TEST(EnvelopeExtractLoop, TwoPassesMeetAtTheSeam)
{
    Envelope e = MakeLine({{0, 0}, {2000, 2000}});
    Envelope piece(1);
    EnvelopeContext ctx;
    LoopInfo loop;
    loop.looping = true;
    loop.start = 100;
    loop.end = 1000;
    e.ExtractTimePeriod(&piece, 800, 1400, &ctx, false, &loop, -800);
    EXPECT_EQ(PointsOf(piece), (Points{{0, 800}, {200, 1000}, {200, 100}, {600, 500}}));
    EXPECT_EQ(loop.position, 500.0f);
}

TEST(EnvelopeExtractLoop, ShortLoopHoldsTheEndValue)
{
    Envelope e = MakeLine({{0, 0}, {2000, 2000}});
    Envelope piece(1);
    EnvelopeContext ctx;
    LoopInfo loop;
    loop.looping = true;
    loop.start = 600;
    loop.end = 1000; // 400 long, below the 512 minimum
    e.ExtractTimePeriod(&piece, 800, 1400, &ctx, false, &loop, -800);
    EXPECT_EQ(PointsOf(piece), (Points{{0, 800}, {200, 1000}, {600, 1000}}));
    EXPECT_EQ(loop.position, 1000.0f);
    piece.Clear();
    e.ExtractTimePeriod(&piece, loop.position, loop.position + 64, &ctx, false, &loop, 0);
    EXPECT_EQ(PointsOf(piece), (Points{{1000, 1000}, {1064, 1000}}));
    EXPECT_EQ(loop.position, 1000.0f);
}

TEST(EnvelopeExtractLoop, EmptyPeriodAppendsNothing)
{
    Envelope e = MakeLine({{0, 0}, {2000, 2000}});
    Envelope piece(1);
    LoopInfo loop;
    loop.looping = true;
    loop.start = 0;
    loop.end = 1000;
    e.ExtractTimePeriod(&piece, 1000, 1000, nullptr, false, &loop, 0);
    EXPECT_EQ(piece.Size(), 0);
    EXPECT_EQ(loop.position, 1000.0f);
}

TEST(EnvelopeExtractLoop, WithoutAContextLikeAFreshOne)
{
    Random rng(8);
    Envelope src(1);
    envtest::RandomEnvelope(src, rng, 25, 0.0f, 100);
    LoopInfo a;
    a.looping = true;
    a.start = 300;
    a.end = 900;
    LoopInfo b = a;
    Envelope withCtx(1);
    Envelope without(1);
    EnvelopeContext ctx;
    src.ExtractTimePeriod(&withCtx, 0, 5000, &ctx, false, &a, 0);
    src.ExtractTimePeriod(&without, 0, 5000, nullptr, false, &b, 0);
    EXPECT_EQ(PointsOf(withCtx), PointsOf(without));
    EXPECT_EQ(a.position, b.position);
    EXPECT_GT(without.Size(), 20);
}

// The voice's way: one looped extraction per block, each starting where the last one stopped.
// Joined end to end the blocks must read like one extraction of the whole period.
TEST(EnvelopeExtractLoop, RandomBlocksEvaluateLikeTheWhole)
{
    Random rng(77);
    Envelope src(1);
    Envelope whole(1);
    Envelope piece(1);
    for (int trial = 0; trial < 200; ++trial)
    {
        envtest::RandomEnvelope(src, rng, 2 + static_cast<long>(rng.NextUInt32() % 30), 0.0f, 150);
        const float last = src[src.Size() - 1].time;
        LoopInfo proto;
        proto.looping = true;
        proto.start = std::floor(rng.NextFloat() * last);
        proto.end = proto.start + std::floor(rng.NextFloat() * 1500.0f) + 1.0f;
        if (trial % 3 == 0) proto.minLength = std::floor(rng.NextFloat() * 64.0f); // short loops that repeat
        if (trial % 7 == 0) proto.end = proto.start + 512.0f; // exactly the minimum: held, not repeated
        const float total = proto.end + 4000.0f;

        LoopInfo loop = proto;
        EnvelopeContext wholeCtx;
        whole.Clear();
        src.ExtractTimePeriod(&whole, 0, total, &wholeCtx, false, &loop, 0);
        ExpectTimesAscending(whole);
        ASSERT_EQ(whole[whole.Size() - 1].time, total);
        // The whole, unrolled by hand: up to the loop end the curve itself, then either the
        // loop over and over (a seam reads the end value) or the end value held.
        const auto ref = Snapshot(src);
        const double loopLen = proto.end - proto.start;
        const bool repeats = loopLen > proto.minLength;
        for (int q = 0; q < 60; ++q)
        {
            const double t = std::floor(rng.NextFloat() * (total + 1.0f));
            double source = t;
            if (t > proto.end)
            {
                const double m = std::fmod(t - proto.end, loopLen);
                source = repeats && m != 0.0 ? proto.start + m : proto.end;
            }
            ASSERT_NEAR(whole.ValueAtTime(static_cast<float>(t), 0, nullptr, false),
                        Reference(ref, source, 0), 1e-5)
                << "trial " << trial << " t " << t;
        }

        loop = proto;
        EnvelopeContext ctx;
        float from = 0.0f;
        float outStart = 0.0f;
        bool first = true;
        while (outStart < total)
        {
            const float len = std::min(total - outStart, static_cast<float>(1 + rng.NextUInt32() % 600));
            piece.Clear();
            src.ExtractTimePeriod(&piece, from, from + len, &ctx, false, &loop, outStart - from);
            ASSERT_GE(piece.Size(), 2);
            ASSERT_EQ(piece[0].time, outStart);
            ASSERT_EQ(piece[piece.Size() - 1].time, outStart + len);
            ExpectTimesAscending(piece);
            for (int q = 0; q < 16; ++q)
            {
                float t = q == 0   ? outStart
                          : q == 1 ? outStart + len
                                   : outStart + std::floor(rng.NextFloat() * (len + 1.0f));
                if (t == outStart && !first) continue; // a block's start belongs to the block before it
                ASSERT_NEAR(piece.ValueAtTime(t, 0, nullptr, false), whole.ValueAtTime(t, 0, nullptr, false),
                            1e-5)
                    << "trial " << trial << " block at " << outStart << " t " << t;
            }
            first = false;
            from = loop.position;
            outStart += len;
        }
    }
}

TEST(EnvelopeExtractLoop, DegenerateLoopsFinish)
{
    Envelope e = MakeLine({{0, 0}, {100, 1}});
    Envelope piece(1);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case
    {
        float start, end, minLength, from, to;
    };
    const Case cases[] = {
        {50, 50, 512, 0, 1000},                                              // zero length
        {50, 50, -1, 0, 1000},                                               // zero length, negative minimum
        {60, 50, -100, 0, 1000},                                             // start after end
        {50, 50.5f, 0, 0, 1000},                                             // shorter than one time unit
        {nan, 50, 0, 0, 1000},   {0, 50, nan, 0, 1000}, {0, 50, 0, 0, 1e6f}, // many passes of a 50-unit loop
        {0, 1e6f, 0, 0, 1e9f},
    };
    for (const Case& c : cases)
    {
        LoopInfo loop;
        loop.looping = true;
        loop.start = c.start;
        loop.end = c.end;
        loop.minLength = c.minLength;
        piece.Clear();
        e.ExtractTimePeriod(&piece, c.from, c.to, nullptr, false, &loop, 0);
        ASSERT_GE(piece.Size(), 2);
        EXPECT_EQ(piece[piece.Size() - 1].time, c.to);
        ExpectTimesAscending(piece);
    }
    // NaN periods append nothing odd and return.
    LoopInfo loop;
    loop.looping = true;
    loop.end = 50;
    piece.Clear();
    e.ExtractTimePeriod(&piece, nan, nan, nullptr, false, &loop, 0);
    e.ExtractTimePeriod(&piece, nan, 100, nullptr, false, nullptr, 0);
    SUCCEED();
}

// ------------------------------------------------------------------------------------------
// Value ranges

TEST(EnvelopeExtractYRange, CopiesTheRangeIntoNarrowerPoints)
{
    Envelope wide(5);
    for (int i = 0; i < 3; ++i)
    {
        Breakpoint* p = wide.AddBreakpoint();
        p->time = static_cast<float>(i * 10);
        for (int k = 0; k < 5; ++k)
            p->values[k] = static_cast<float>(i * 100 + k);
    }
    Envelope narrow(3);
    narrow.AddBreakpoint(-5.0f, 0.0f); // appends after what is there
    wide.ExtractYRange(&narrow, 1, 3);
    ASSERT_EQ(narrow.Size(), 4);
    EXPECT_EQ(narrow[3].time, 20.0f);
    EXPECT_EQ(narrow[3].values[0], 201.0f);
    EXPECT_EQ(narrow[3].values[2], 203.0f);
    Envelope one(1);
    wide.ExtractYRange(&one, 4, 4);
    EXPECT_EQ(PointsOf(one), (Points{{0, 4}, {10, 104}, {20, 204}}));
    // A range past the source's values copies what exists and leaves zeros.
    Envelope three(3);
    wide.ExtractYRange(&three, 3, 5);
    EXPECT_EQ(three[0].values[0], 3.0f);
    EXPECT_EQ(three[0].values[1], 4.0f);
    EXPECT_EQ(three[0].values[2], 0.0f);
}

// ------------------------------------------------------------------------------------------
// Arithmetic

namespace
{

// The union of both grids: every time of either envelope, in order, times found in both
// counted once.
std::vector<double> UnionGrid(const std::vector<envtest::RefPoint>& a,
                              const std::vector<envtest::RefPoint>& b)
{
    std::vector<double> t;
    for (const auto& p : a)
        t.push_back(p.time);
    for (const auto& p : b)
        t.push_back(p.time);
    std::sort(t.begin(), t.end());
    t.erase(std::unique(t.begin(), t.end()), t.end());
    return t;
}

void CheckCombination(const Envelope& a, const Envelope& b, bool multiply)
{
    Envelope out(3);
    if (multiply)
        Envelope::Multiply(a, b, out);
    else
        Envelope::Add(a, b, out);
    const auto ra = Snapshot(a);
    const auto rb = Snapshot(b);
    const auto grid = UnionGrid(ra, rb);
    ASSERT_EQ(out.Size(), static_cast<long>(grid.size()));
    for (size_t i = 0; i < grid.size(); ++i)
    {
        ASSERT_EQ(out[static_cast<long>(i)].time, grid[i]);
        for (long k = 0; k < 3; ++k)
        {
            const double x = Held(ra, grid[i], k);
            const double y = Held(rb, grid[i], k);
            ASSERT_NEAR(out[static_cast<long>(i)].values[k], multiply ? x * y : x + y, 1e-5)
                << "point " << i << " time " << grid[i];
        }
    }
}

} // namespace

TEST(EnvelopeArithmetic, RandomProductsAndSumsOnTheUnionGrid)
{
    Random rng(4);
    Envelope a(3);
    Envelope b(3);
    for (int trial = 0; trial < 300; ++trial)
    {
        envtest::RandomEnvelope(a, rng, 2 + static_cast<long>(rng.NextUInt32() % 20), 0.0f, 40, false);
        envtest::RandomEnvelope(b, rng, 2 + static_cast<long>(rng.NextUInt32() % 20), 0.0f, 40, false);
        if (trial % 2 == 0)
        {
            // The engine's case: both run over the same block.
            const float end = std::max(a[a.Size() - 1].time, b[b.Size() - 1].time) + 1.0f;
            a.AddBreakpoint(end, rng.NextSignedFloat());
            b.AddBreakpoint(end, rng.NextSignedFloat());
        }
        else if (trial % 4 == 1)
        {
            b.ShiftTime(std::floor(rng.NextFloat() * 30.0f)); // differing starts and ends
        }
        CheckCombination(a, b, true);
        CheckCombination(a, b, false);
        CheckCombination(b, a, true);
    }
}

TEST(EnvelopeArithmetic, EmptySideCountsAsZero)
{
    Envelope a = MakeLine({{0, 2}, {10, 4}});
    Envelope empty(1);
    Envelope out(1);
    Envelope::Multiply(a, empty, out);
    EXPECT_EQ(PointsOf(out), (Points{{0, 0}, {10, 0}}));
    Envelope::Add(empty, a, out);
    EXPECT_EQ(PointsOf(out), (Points{{0, 2}, {10, 4}}));
    Envelope::Add(empty, empty, out);
    EXPECT_EQ(out.Size(), 0);
}

TEST(EnvelopeArithmetic, InPlaceOperatorsUseTheScratch)
{
    Envelope a = MakeLine({{0, 1}, {100, 3}});
    Envelope b = MakeLine({{0, 2}, {50, 2}, {100, 0}});
    a *= b;
    EXPECT_EQ(PointsOf(a), (Points{{0, 2}, {50, 4}, {100, 0}}));
    a += b;
    EXPECT_EQ(PointsOf(a), (Points{{0, 4}, {50, 6}, {100, 0}}));
    a *= a;
    EXPECT_EQ(PointsOf(a), (Points{{0, 16}, {50, 36}, {100, 0}}));

    Envelope bare(true);
    bare.Init(1);
    bare.AddBreakpoint(0.0f, 5.0f);
    bare *= b;
    EXPECT_EQ(PointsOf(bare), (Points{{0, 5}}));
}

TEST(EnvelopeArithmetic, EqualTimesAtTheEndNeverReadPastAList)
{
    // a ends with a jump at 100, b with a single point there.
    Envelope a = MakeLine({{0, 1}, {100, 1}, {100, 2}});
    Envelope b = MakeLine({{0, 3}, {100, 5}});
    Envelope out(1);
    Envelope::Add(a, b, out);
    EXPECT_EQ(PointsOf(out), (Points{{0, 4}, {100, 6}, {100, 7}}));
}

// ------------------------------------------------------------------------------------------
// Shaping

TEST(EnvelopeShape, CreateEnvelopeExample)
{
    Envelope e(2);
    e.CreateEnvelope(0, 1, 0, 2000, 2);
    EXPECT_EQ(PointsOf(e, 1), (Points{{0, 0}, {500, 0.0625f}, {1000, 0.25f}, {1500, 0.5625f}, {2000, 1}}));
    // Falling, appended after the first segment.
    e.CreateEnvelope(1, 0, 2000, 4000, 2);
    EXPECT_EQ(e.Size(), 10);
    EXPECT_EQ(PointsOf(e, 0).back(), (std::pair<float, float>{4000, 0}));
    EXPECT_EQ(e[6].time, 2500.0f);
    EXPECT_EQ(e[6].values[0], 0.5625f);
    EXPECT_EQ(e[8].values[0], 0.0625f);
}

TEST(EnvelopeShape, CreateEnvelopeGuards)
{
    Envelope e(1);
    e.CreateEnvelope(0, 1, 0, 2000, 0); // a straight line
    EXPECT_EQ(PointsOf(e), (Points{{0, 0}, {2000, 1}}));
    e.Clear();
    e.CreateEnvelope(0, 1, 100, 110, 5000); // spacing of one unit, not zero
    ASSERT_EQ(e.Size(), 11);
    for (long i = 0; i < e.Size(); ++i)
        EXPECT_EQ(e[i].time, 100.0f + static_cast<float>(i));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    e.Clear();
    e.CreateEnvelope(0, 1, 0, nan, 2);
    EXPECT_EQ(e.Size(), 2);
    e.Clear();
    e.CreateEnvelope(0, 1, 0, 1000, nan);
    EXPECT_EQ(e.Size(), 2);
    e.Clear();
    e.CreateEnvelope(0, 1, 0, 1000, 1e-9f); // spacing far past any duration
    EXPECT_EQ(e.Size(), 2);
    e.Clear();
    e.CreateEnvelope(3, 1, 50, 50, 2); // no duration
    EXPECT_EQ(PointsOf(e), (Points{{50, 3}, {50, 1}}));
}

namespace
{
// The plain clean-up: compare neighbours from the start, remove the later of a pair, start again.
Points RemoveDuplicatesReference(Points p)
{
    for (bool again = true; again;)
    {
        again = false;
        for (size_t m = 0; m + 1 < p.size(); ++m)
            if (p[m] == p[m + 1])
            {
                p.erase(p.begin() + static_cast<long>(m) + 1);
                again = true;
                break;
            }
    }
    return p;
}
} // namespace

TEST(EnvelopeShape, RemoveDuplicates)
{
    Envelope e = MakeLine({{0, 1}, {0, 1}, {0, 1}});
    e.RemoveDuplicates();
    EXPECT_EQ(PointsOf(e), (Points{{0, 1}}));
    Envelope aba = MakeLine({{0, 1}, {0, 2}, {0, 1}});
    aba.RemoveDuplicates();
    EXPECT_EQ(aba.Size(), 3);

    Random rng(12);
    Envelope r(1);
    for (int trial = 0; trial < 100; ++trial)
    {
        r.Clear();
        float t = 0.0f;
        for (int i = 0; i < 40; ++i)
        {
            t += static_cast<float>(rng.NextUInt32() % 3 == 0);
            r.AddBreakpoint(t, static_cast<float>(rng.NextUInt32() % 2));
        }
        const Points want = RemoveDuplicatesReference(PointsOf(r));
        const long capacity = r.GetBreakpoints().Capacity();
        r.RemoveDuplicates();
        ASSERT_EQ(PointsOf(r), want);
        EXPECT_EQ(r.GetBreakpoints().Capacity(), capacity);
    }
}

TEST(EnvelopeShape, TimesShiftAndScale)
{
    Envelope e = MakeLine({{0, 0}, {3, 1}, {5, 2}});
    e.ScaleTimes(0.5f);
    EXPECT_EQ(PointsOf(e), (Points{{0, 0}, {1, 1}, {2, 2}}));
    e.ShiftTime(10);
    EXPECT_EQ(PointsOf(e), (Points{{10, 0}, {11, 1}, {12, 2}}));
    e.ScaleToDuration(4); // f = 4 / 2, about 0
    EXPECT_EQ(PointsOf(e), (Points{{20, 0}, {22, 1}, {24, 2}}));
    Envelope flat = MakeLine({{7, 1}, {7, 2}});
    flat.ScaleToDuration(100);
    EXPECT_EQ(PointsOf(flat), (Points{{7, 1}, {7, 2}}));
    Envelope empty(1);
    empty.ScaleToDuration(100);
    EXPECT_EQ(empty.Size(), 0);
    Envelope negative = MakeLine({{-3, 0}, {-1, 0}});
    negative.ScaleTimes(0.5f);
    EXPECT_EQ(negative[0].time, -1.0f); // toward zero
}

TEST(EnvelopeShape, ValuesClipAndScale)
{
    Envelope e = MakeLine({{0, 1}, {1, -1}, {2, 1.5f}, {3, -7}});
    e.ClipValues(-1, 1);
    EXPECT_EQ(PointsOf(e), (Points{{0, 1}, {1, -1}, {2, 1}, {3, -1}}));
    e.ScaleYs(2);
    EXPECT_EQ(PointsOf(e), (Points{{0, 2}, {1, -2}, {2, 2}, {3, -2}}));
    Envelope two(2);
    two.AddBreakpoint(0, 1);
    two.ScaleY(1, 3);
    EXPECT_EQ(two[0].values[0], 1.0f);
    EXPECT_EQ(two[0].values[1], 3.0f);
}

TEST(EnvelopeShape, Peaks)
{
    long at = -1;
    Envelope e = MakeLine({{0, 0.5f}, {1, -2}, {2, 2}, {3, 1}});
    EXPECT_EQ(e.GetPeakY(0, &at), -2.0f);
    EXPECT_EQ(at, 1); // ties keep the earliest
    e.SetPeakY(0, 1);
    EXPECT_EQ(PointsOf(e), (Points{{0, -0.25f}, {1, 1}, {2, -1}, {3, -0.5f}}));

    Envelope zeros = MakeLine({{0, 0}, {1, -0.0f}});
    EXPECT_EQ(zeros.GetPeakY(0, &at), 0.0f);
    EXPECT_EQ(at, 0);
    zeros.SetPeakY(0, 0.7f);
    EXPECT_EQ(PointsOf(zeros), (Points{{0, 0.7f}, {1, 0.7f}}));

    Envelope empty(1);
    at = 5;
    EXPECT_EQ(empty.GetPeakY(0, &at), 0.0f);
    EXPECT_EQ(at, 0);
    empty.SetPeakY(0, 1);
    EXPECT_EQ(empty.Size(), 0);
    EXPECT_EQ(e.GetPeakY(0, nullptr), 1.0f);
}
