#include "EnvelopeTestSupport.h"

#include "dsp/Envelope.h"
#include "framework/Random.h"
#include "framework/Streams.h"
#include "framework/String.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using envtest::Reference;
using envtest::Snapshot;

namespace
{

Envelope MakeLine(std::initializer_list<std::pair<float, float>> pts)
{
    Envelope e(1);
    for (auto [t, v] : pts)
        e.AddBreakpoint(t, v);
    return e;
}

std::vector<float> Times(const Envelope& e)
{
    std::vector<float> out;
    for (long i = 0; i < e.Size(); ++i)
        out.push_back(e[i].time);
    return out;
}

std::vector<float> Column(const Envelope& e, long k)
{
    std::vector<float> out;
    for (long i = 0; i < e.Size(); ++i)
        out.push_back(e[i].values[k]);
    return out;
}

std::string Bytes(const String& s)
{
    return std::string(static_cast<char const*>(s), static_cast<size_t>(s.GetLength()));
}

std::string SaveToBytes(const Envelope& e)
{
    String block;
    StringWriter w;
    w.Open(&block);
    EXPECT_TRUE(e.Save(w));
    w.Close();
    return Bytes(block);
}

bool LoadFromBytes(Envelope& e, const std::string& bytes)
{
    StringReader r;
    r.Open(bytes.data(), bytes.size());
    return e.Load(r);
}

void PutFloat(std::string& s, float f)
{
    char b[4];
    std::memcpy(b, &f, 4);
    s.append(b, 4);
}

void PutInt(std::string& s, int v)
{
    char b[4];
    std::memcpy(b, &v, 4);
    s.append(b, 4);
}

} // namespace

// ------------------------------------------------------------------------------------------
// Pool

TEST(EnvelopePool, GrowsBy256AndPointsNeverMove)
{
    Envelope e(2);
    EXPECT_EQ(e.GetBreakpoints().Capacity(), 8);
    std::vector<Breakpoint*> taken;
    for (int i = 0; i < 8; ++i)
        taken.push_back(e.AddBreakpoint(static_cast<float>(i), static_cast<float>(i)));
    EXPECT_EQ(e.GetBreakpoints().Capacity(), 8);
    taken.push_back(e.AddBreakpoint(8.0f, 8.0f));
    EXPECT_EQ(e.GetBreakpoints().Capacity(), 264);
    for (int i = 9; i < 265; ++i)
        taken.push_back(e.AddBreakpoint(static_cast<float>(i), static_cast<float>(i)));
    EXPECT_EQ(e.GetBreakpoints().Capacity(), 520);
    for (int i = 0; i < 265; ++i)
    {
        ASSERT_EQ(taken[i], &e[i]);
        EXPECT_EQ(taken[i]->time, static_cast<float>(i));
        EXPECT_EQ(taken[i]->numValues, 2);
        EXPECT_EQ(taken[i]->values[1], static_cast<float>(i));
    }
}

TEST(EnvelopePool, ClearKeepsPointsWithStaleContents)
{
    Envelope e(1);
    Breakpoint* first = e.AddBreakpoint(5.0f, 0.25f);
    e.Clear();
    EXPECT_EQ(e.Size(), 0);
    Breakpoint* again = e.AddBreakpoint();
    EXPECT_EQ(again, first);
    EXPECT_EQ(again->time, 5.0f);
    EXPECT_EQ(again->values[0], 0.25f);
}

TEST(EnvelopePool, ReserveGrowsInWholeSteps)
{
    Envelope e(1);
    e.Reserve(300);
    EXPECT_EQ(e.GetBreakpoints().Capacity(), 520);
    EXPECT_EQ(e.scratch->GetBreakpoints().Capacity(), 520);
    e.Reserve(10);
    EXPECT_EQ(e.GetBreakpoints().Capacity(), 520);
}

TEST(EnvelopePool, InsertAndRemoveKeepOrderAndPool)
{
    Envelope e = MakeLine({{0, 0}, {10, 1}, {20, 2}});
    Breakpoint* mid = &e[1];
    Breakpoint* p = e.GetBreakpoints().Insert(1);
    p->time = 5.0f;
    p->values[0] = 0.5f;
    EXPECT_EQ(Times(e), (std::vector<float>{0, 5, 10, 20}));
    EXPECT_EQ(&e[2], mid);
    e.DeleteBreakpoint(0);
    EXPECT_EQ(Times(e), (std::vector<float>{5, 10, 20}));
    EXPECT_EQ(Column(e, 0), (std::vector<float>{0.5f, 1, 2}));
    EXPECT_EQ(e.GetBreakpoints().Capacity(), 8);
    // Out-of-range removals are ignored.
    e.DeleteBreakpoint(3);
    e.DeleteBreakpoint(-1);
    EXPECT_EQ(e.Size(), 3);
}

// ------------------------------------------------------------------------------------------
// Evaluation

TEST(EnvelopeEvaluation, EmptyAndSinglePoint)
{
    Envelope empty(2);
    float out[2] = {9, 9};
    EXPECT_EQ(empty.ValueAtTime(3.0f, 0, nullptr, false), 0.0f);
    empty.ValuesAtTime(3.0f, out, nullptr, false);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(empty.GetDuration(), 0.0f);

    Envelope one = MakeLine({{10, 0.75f}});
    EXPECT_EQ(one.ValueAtTime(3.0f, 0, nullptr, false), 0.75f);
    EXPECT_EQ(one.ValueAtTime(3.0f, 0, nullptr, true), 0.0f);
    EXPECT_EQ(one.ValueAtTime(10.0f, 0, nullptr, true), 0.75f);
    EXPECT_EQ(one.ValueAtTime(10.0f, 0, nullptr, false), 0.75f);
}

TEST(EnvelopeEvaluation, StaleContextGivesLastValueUntilReset)
{
    Envelope e = MakeLine({{0, 0}, {10, 1}, {20, 0}, {30, 5}});
    EnvelopeContext ctx;
    EXPECT_FLOAT_EQ(e.ValueAtTime(25.0f, 0, &ctx, false), 2.5f);
    EXPECT_EQ(ctx.segment, 2);
    EXPECT_EQ(e.ValueAtTime(5.0f, 0, &ctx, false), 5.0f); // before the cached segment
    EXPECT_EQ(ctx.segment, 3);
    ctx.Reset();
    EXPECT_FLOAT_EQ(e.ValueAtTime(5.0f, 0, &ctx, false), 0.5f);
    // Before the first point, and a context from a longer envelope.
    Envelope late = MakeLine({{100, 1}, {200, 3}});
    EXPECT_EQ(late.ValueAtTime(50.0f, 0, nullptr, false), 3.0f);
    EnvelopeContext foreign;
    foreign.segment = 1000;
    EXPECT_EQ(late.ValueAtTime(150.0f, 0, &foreign, false), 3.0f);
    EXPECT_EQ(foreign.segment, 1);
}

TEST(EnvelopeEvaluation, EqualTimesGiveTheFirstPoint)
{
    Envelope e = MakeLine({{0, 0}, {10, 1}, {10, 7}, {20, 7}});
    EXPECT_EQ(e.ValueAtTime(10.0f, 0, nullptr, false), 1.0f);
    EXPECT_FLOAT_EQ(e.ValueAtTime(15.0f, 0, nullptr, false), 7.0f);
    EXPECT_FLOAT_EQ(e.ValueAtTime(5.0f, 0, nullptr, false), 0.5f);
}

TEST(EnvelopeEvaluation, RandomForwardQueriesMatchLinearReference)
{
    Random rng(17);
    Envelope e(3);
    for (int trial = 0; trial < 200; ++trial)
    {
        const long n = 1 + static_cast<long>(rng.NextUInt32() % 40);
        envtest::RandomEnvelope(e, rng, n, 0.0f, 50);
        const auto ref = Snapshot(e);
        const float last = e[n - 1].time;
        EnvelopeContext ctx;
        float t = 0.0f;
        float out[3];
        while (t <= last + 20.0f)
        {
            const long k = static_cast<long>(rng.NextUInt32() % 3);
            const float v = e.ValueAtTime(t, k, &ctx, false);
            const double want = Reference(ref, t, k);
            ASSERT_NEAR(v, want, 1e-5) << "trial " << trial << " t " << t;
            EXPECT_EQ(v, e.ValueAtTime(t, k, nullptr, false));
            e.ValuesAtTime(t, out, &ctx, false);
            for (long j = 0; j < 3; ++j)
                ASSERT_NEAR(out[j], Reference(ref, t, j), 1e-5);
            // Half the steps land on whole numbers, where points sit.
            t += (rng.NextUInt32() & 1) ? std::floor(rng.NextFloat() * 8.0f) : rng.NextFloat() * 6.0f;
        }
    }
}

// ------------------------------------------------------------------------------------------
// InsertBreakpoint

TEST(EnvelopeInsert, IntoEmptyWithZeros)
{
    Envelope e(2);
    EnvelopeContext ctx;
    ctx.segment = 3;
    Breakpoint* p = e.InsertBreakpoint(4.0f, true, &ctx);
    EXPECT_EQ(e.Size(), 1);
    EXPECT_EQ(p->time, 4.0f);
    EXPECT_EQ(p->values[0], 0.0f);
    EXPECT_EQ(p->values[1], 0.0f);
    EXPECT_EQ(ctx.segment, 3);
}

TEST(EnvelopeInsert, BetweenPointsInterpolates)
{
    Envelope e = MakeLine({{0, 0}, {10, 1}, {20, 3}});
    EnvelopeContext ctx;
    Breakpoint* p = e.InsertBreakpoint(15.0f, true, &ctx);
    EXPECT_EQ(Times(e), (std::vector<float>{0, 10, 15, 20}));
    EXPECT_EQ(p, &e[2]);
    EXPECT_FLOAT_EQ(p->values[0], 2.0f);
    EXPECT_EQ(ctx.segment, 2);
}

TEST(EnvelopeInsert, AtAnExistingTimeGoesAfterTheRun)
{
    Envelope e = MakeLine({{0, 0}, {10, 1}, {10, 4}, {20, 3}});
    EnvelopeContext ctx;
    Breakpoint* p = e.InsertBreakpoint(10.0f, true, &ctx);
    EXPECT_EQ(p, &e[3]);
    EXPECT_EQ(p->values[0], 4.0f);
    EXPECT_EQ(ctx.segment, 2);
    EXPECT_EQ(Times(e), (std::vector<float>{0, 10, 10, 10, 20}));
}

TEST(EnvelopeInsert, BeforeTheFirstPoint)
{
    Envelope one = MakeLine({{10, 5}});
    Breakpoint* p = one.InsertBreakpoint(2.0f, true, nullptr);
    EXPECT_EQ(p, &one[0]);
    EXPECT_EQ(p->values[0], 0.0f); // a single point is not copied

    Envelope two = MakeLine({{10, 5}, {20, 6}});
    p = two.InsertBreakpoint(2.0f, true, nullptr);
    EXPECT_EQ(p->values[0], 5.0f);
    EXPECT_EQ(Times(two), (std::vector<float>{2, 10, 20}));
}

TEST(EnvelopeInsert, PastTheEndAppends)
{
    Envelope e = MakeLine({{0, 1}, {10, 2}});
    EnvelopeContext ctx;
    Breakpoint* p = e.InsertBreakpoint(30.0f, true, &ctx);
    EXPECT_EQ(p, &e[2]);
    EXPECT_EQ(p->values[0], 2.0f);
    EXPECT_EQ(ctx.segment, 2);
    // A context past the end appends too.
    ctx.segment = 99;
    e.InsertBreakpoint(40.0f, false, &ctx);
    EXPECT_EQ(Times(e), (std::vector<float>{0, 10, 30, 40}));
}

TEST(EnvelopeInsert, RandomInsertionsKeepTimeAndInsertionOrder)
{
    Random rng(5);
    Envelope e(1);
    for (int i = 0; i < 600; ++i)
    {
        const float t = std::floor(rng.NextFloat() * 200.0f);
        Breakpoint* p = e.InsertBreakpoint(t, true, nullptr);
        ASSERT_EQ(p->time, t);
        p->values[0] = static_cast<float>(i);
    }
    ASSERT_EQ(e.Size(), 600);
    // Points of one time stay in the order they were inserted.
    for (long i = 1; i < e.Size(); ++i)
    {
        ASSERT_LE(e[i - 1].time, e[i].time);
        if (e[i - 1].time == e[i].time)
        {
            ASSERT_LT(e[i - 1].values[0], e[i].values[0]);
        }
    }
}

TEST(EnvelopeInsert, FindGivesTheFirstOfEqualTimes)
{
    Envelope e = MakeLine({{0, 0}, {10, 1}, {10, 2}});
    EXPECT_EQ(e.FindBreakpointAtTime(10.0f), &e[1]);
    EXPECT_EQ(e.FindBreakpointAtTime(11.0f), nullptr);
}

// ------------------------------------------------------------------------------------------
// Copies

TEST(EnvelopeCopy, AssignmentCopiesPointsNotTheCount)
{
    Envelope src = MakeLine({{0, 1}, {5, 2}});
    Envelope dst(1);
    dst.AddBreakpoint(99.0f, 9.0f);
    dst = src;
    EXPECT_EQ(Times(dst), Times(src));
    EXPECT_EQ(Column(dst, 0), Column(src, 0));
    Envelope& alias = dst;
    dst = alias;
    EXPECT_EQ(dst.Size(), 2);

    // A wider source gives its leading values; a narrower one leaves zeros.
    Envelope wide(3);
    wide.AddBreakpoint(1.0f, 4.0f);
    dst = wide;
    EXPECT_EQ(dst.numValues, 1);
    EXPECT_EQ(dst[0].values[0], 4.0f);
    Envelope narrow(3);
    narrow = src;
    EXPECT_EQ(narrow[1].values[0], 2.0f);
    EXPECT_EQ(narrow[1].values[2], 0.0f);

    Envelope copy(src);
    EXPECT_EQ(copy.numValues, 1);
    EXPECT_NE(copy.scratch, nullptr);
    EXPECT_EQ(Times(copy), Times(src));
}

// ------------------------------------------------------------------------------------------
// Chunk

TEST(EnvelopeChunk, EmptyEnvelopeBytes)
{
    Envelope e(3);
    const std::string bytes = SaveToBytes(e);
    EXPECT_EQ(bytes, std::string("\x00\x00\x80\x3f\x00\x00\x00\x00\x03\x00\x00\x00", 12));
    Envelope back(1);
    back.AddBreakpoint(1.0f, 1.0f);
    ASSERT_TRUE(LoadFromBytes(back, bytes));
    EXPECT_EQ(back.Size(), 0);
    EXPECT_EQ(back.numValues, 3);
    EXPECT_EQ(back.scratch->numValues, 3);
}

TEST(EnvelopeChunk, RandomRoundTripsAreByteExact)
{
    Random rng(99);
    for (int trial = 0; trial < 50; ++trial)
    {
        const long nv = 1 + static_cast<long>(rng.NextUInt32() % 23);
        Envelope e(static_cast<int>(nv));
        envtest::RandomEnvelope(e, rng, static_cast<long>(rng.NextUInt32() % 300), 0.0f, 1000);
        const std::string bytes = SaveToBytes(e);
        ASSERT_EQ(bytes.size(), 12 + static_cast<size_t>(e.Size()) * 4 * (1 + nv));
        Envelope back(5);
        ASSERT_TRUE(LoadFromBytes(back, bytes));
        EXPECT_EQ(back.numValues, nv);
        EXPECT_EQ(SaveToBytes(back), bytes);
    }
}

TEST(EnvelopeChunk, NegativeCountLoadsEmpty)
{
    std::string s;
    PutFloat(s, 1.0f);
    PutInt(s, -5);
    PutInt(s, 1);
    Envelope e = MakeLine({{0, 1}});
    ASSERT_TRUE(LoadFromBytes(e, s));
    EXPECT_EQ(e.Size(), 0);
}

TEST(EnvelopeChunk, HostileChunksAreRefusedAndChangeNothing)
{
    Envelope good(2);
    good.AddBreakpoint(0.0f, 1.0f);
    good.AddBreakpoint(10.0f, 2.0f);
    const std::string valid = SaveToBytes(good);

    std::vector<std::string> hostile;
    for (size_t cut = 0; cut < valid.size(); ++cut)
        hostile.push_back(valid.substr(0, cut)); // every truncation
    auto header = [](int count, int nv)
    {
        std::string s;
        PutFloat(s, 1.0f);
        PutInt(s, count);
        PutInt(s, nv);
        return s;
    };
    hostile.push_back(header(0x7fffffff, 1) + std::string(64, '\0')); // huge count
    hostile.push_back(header(1000, 64) + std::string(260 * 10, '\0'));
    hostile.push_back(header(0, 0));
    hostile.push_back(header(1, 65) + std::string(66 * 4, '\0'));
    hostile.push_back(header(1, -3) + std::string(64, '\0'));
    hostile.push_back(header(1, 0x7fffffff) + std::string(64, '\0'));
    std::string nan = header(1, 1);
    PutFloat(nan, 0.0f);
    PutFloat(nan, std::numeric_limits<float>::quiet_NaN());
    hostile.push_back(nan);
    std::string inf = header(1, 1);
    PutFloat(inf, std::numeric_limits<float>::infinity());
    PutFloat(inf, 0.0f);
    hostile.push_back(inf);

    Envelope e(3);
    e.AddBreakpoint(4.0f, 0.5f);
    const std::string before = SaveToBytes(e);
    for (const std::string& bytes : hostile)
    {
        EXPECT_FALSE(LoadFromBytes(e, bytes)) << bytes.size();
        EXPECT_EQ(SaveToBytes(e), before);
    }
    // The bounds allow exactly what is there.
    Envelope wide(1);
    ASSERT_TRUE(LoadFromBytes(wide, header(2, 64) + std::string(2 * 65 * 4, '\0')));
    EXPECT_EQ(wide.Size(), 2);
    EXPECT_EQ(wide.numValues, 64);
}
