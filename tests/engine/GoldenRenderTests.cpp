// Golden renders: every sample the engine produces for a fixed set of patches, note counts,
// block sizes and sample rates, reduced to a 64-bit digest (FNV-1a over the float bits of both
// channels) plus a few sample values for a readable failure. The figures below were recorded
// from the engine before its render was restructured for speed; any change to the arithmetic
// (order of operations, a fused multiply-add, a reordered sum) changes a digest.
//
// To print the table of a build (after an intended change of sound):
//   TORVANE_GOLDEN_PRINT=1 engine_tests --gtest_filter='GoldenRender*'

#include "PlayTestSupport.h"
#include "dsp/Simd.h"
#include "framework/Random.h"
#include "support/engine/BusyPatch.h"
#include "support/engine/CustomWave.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "editor/SineWav.h"
#include "framework/Streams.h"
#include "support/TemporaryDataHome.h"

using namespace play;

namespace
{

enum Patch
{
    kFull,
    kBusy,
    kDefault
};

char const* PatchName(int patch)
{
    return patch == kFull ? "full" : patch == kBusy ? "busy" : "default";
}

constexpr long kTotalFrames = 16384;
constexpr long kReleaseFrame = 12000;
constexpr long kProbeFrames[3] = {777, 6000, 11000};

struct Render
{
    uint64_t digest = 0;
    float probes[3] = {};
};

struct Event
{
    long frame;
    int key;
    bool on;
};

// Notes start spread over the first frames (a few at a time, so block starts and offsets inside
// blocks both occur) and are all released at kReleaseFrame, then the tail plays.
// `command` (when given) runs on the patch before the notes.
Render RenderGolden(int patch, int notes, long block, float rate,
                    std::function<void(Torvane&)> const& command = nullptr)
{
    // The random start phases and noise depend on how many generators the process made before.
    Random::RestartDefaultSeeds();
    HeadlessHost host(false, rate);
    Torvane& t = host.Instrument();
    if (patch == kFull) MakeBusyPatch(t, BusyPatch::kHeld);
    if (patch == kBusy) MakeBusyPatch(t);
    if (command) command(t);

    std::vector<Event> events;
    for (int i = 0; i < notes; ++i)
    {
        const int key = notes == 1 ? 57 : 36 + 3 * i;
        events.push_back({static_cast<long>(i / 4) * 37, key, true});
    }
    for (int i = 0; i < notes; ++i)
        events.push_back({kReleaseFrame + i, notes == 1 ? 57 : 36 + 3 * i, false});

    uint64_t hash = 1469598103934665603ull;
    auto mix = [&hash](float v)
    {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        for (int b = 0; b < 4; ++b)
        {
            hash ^= (bits >> (8 * b)) & 0xffu;
            hash *= 1099511628211ull;
        }
    };

    Render r;
    for (long start = 0; start < kTotalFrames; start += block)
    {
        const long n = std::min(block, kTotalFrames - start);
        for (Event const& e : events)
            if (e.frame >= start && e.frame < start + n)
            {
                if (e.on)
                    host.NoteOn(e.key, 100, e.frame - start);
                else
                    host.NoteOff(e.key, e.frame - start);
            }
        host.Render(n);
        for (long i = 0; i < n; ++i)
        {
            mix(host.Left()[static_cast<size_t>(i)]);
            mix(host.Right()[static_cast<size_t>(i)]);
            for (int p = 0; p < 3; ++p)
                if (start + i == kProbeFrames[p]) r.probes[p] = host.Left()[static_cast<size_t>(i)];
        }
    }
    r.digest = hash;
    return r;
}

struct Golden
{
    int patch;
    int notes;
    long block;
    int rate;
    uint64_t digest;
    float probes[3];
};

// clang-format off
Golden const kGolden[] = {
    {kFull, 16, 64, 44100, 0x060adceb09d5e2a0ull, {0x1.897df4p+1, -0x1.9b11b8p+1, 0x1.0e4004p+1}},
    {kFull, 16, 512, 44100, 0xfdc74600ae1d22fcull, {-0x1.1955ap+2, -0x1.0ea7fcp-1, 0x1.17dd58p+1}},
    {kFull, 16, 8192, 44100, 0xbaac63f1bf8b891dull, {0x1.54506p-3, -0x1.35bacp-2, 0x1.17f83p+1}},
    {kFull, 16, 64, 96000, 0x6916869f03cf2242ull, {0x1.a6284p-2, -0x1.074856p+1, 0x1.1d5f1cp+2}},
    {kFull, 16, 512, 96000, 0xdcb8fdd8a6966ecaull, {0x1.841b8cp+0, -0x1.eb822ap+1, 0x1.65c154p-2}},
    {kFull, 16, 8192, 96000, 0x58f29d565423743cull, {0x1.77a6b4p+0, -0x1.a8d8cap+1, 0x1.694722p-2}},
    {kFull, 1, 64, 44100, 0x8933d30985923cd0ull, {0x1.bff16p-1, 0x1.4610cp-1, -0x1.82ba86p-3}},
    {kFull, 1, 512, 44100, 0xf3a73b58be38b503ull, {0x1.c43424p-1, 0x1.45f9e2p-1, -0x1.82ad6cp-3}},
    {kFull, 1, 8192, 44100, 0x844bce4d62aa1916ull, {0x1.f3feeap-1, 0x1.441ebcp-1, -0x1.82cc8cp-3}},
    {kFull, 1, 64, 96000, 0xfc6d69a0bc0ba105ull, {-0x1.c5f016p-1, -0x1.0eae5cp+0, 0x1.46add8p-1}},
    {kFull, 1, 512, 96000, 0x7259ca51dacb125cull, {-0x1.e64e94p-1, -0x1.0e818p+0, 0x1.469e68p-1}},
    {kFull, 1, 8192, 96000, 0x2292cc298b9d5c2dull, {-0x1.17e63ap+0, -0x1.0a1efep+0, 0x1.46a1ecp-1}},
    {kBusy, 16, 64, 44100, 0xb15b75a1db03911cull, {0x1.61a45ap-2, -0x1.6aabacp-1, 0x1.0afffp-2}},
    {kBusy, 16, 512, 44100, 0xc2eded9affc0f6acull, {0x1.94a2e4p-2, -0x1.bfe34cp-1, 0x1.427208p-2}},
    {kBusy, 16, 8192, 44100, 0x3cb15a9a92aee62cull, {0x1.31f8bp-1, -0x1.2937f4p+0, 0x1.a392e6p-2}},
    {kBusy, 16, 64, 96000, 0x0155369b096900f5ull, {0x1.62563ap-3, -0x1.33ed7ap-1, 0x1.7246p-1}},
    {kBusy, 16, 512, 96000, 0x937d943ccf31c771ull, {0x1.64f808p-4, -0x1.bcb2acp-1, 0x1.1282fep-1}},
    {kBusy, 16, 8192, 96000, 0xbfdca0c72831910aull, {0x1.58c65p-1, -0x1.0c1cf6p-1, 0x1.00b334p-1}},
    {kBusy, 1, 64, 44100, 0xdac1f8611d08a975ull, {0x1.c74b98p-3, -0x1.e4c03ap-3, 0x1.244ef8p-5}},
    {kBusy, 1, 512, 44100, 0x2de4610219964dd2ull, {0x1.c8222ap-3, -0x1.e5cbaap-3, 0x1.246bep-5}},
    {kBusy, 1, 8192, 44100, 0x35102522eec26f80ull, {0x1.3340d8p-2, -0x1.1a1b08p-2, 0x1.2ad7cep-5}},
    {kBusy, 1, 64, 96000, 0x66a8f82a505f4376ull, {-0x1.1d2e8ep-3, -0x1.445704p-3, 0x1.104a86p-3}},
    {kBusy, 1, 512, 96000, 0x40e1c9c3aca5ad76ull, {-0x1.049072p-3, -0x1.48adf4p-3, 0x1.10261p-3}},
    {kBusy, 1, 8192, 96000, 0xa5efba85bc3b1e8bull, {0x1.470354p-4, -0x1.2c6b9p-4, 0x1.0ef788p-3}},
    {kDefault, 16, 64, 44100, 0xb4a646dffbf90337ull, {0x1.313124p-1, -0x1.b69ddcp-3, 0x1.87c384p-3}},
    {kDefault, 16, 512, 44100, 0x07fffd8c13e2f2cbull, {-0x1.87df1p-2, -0x1.27bea4p-1, 0x1.518f54p-4}},
    {kDefault, 16, 8192, 44100, 0x07fffd8c13e2f2cbull, {-0x1.87df1p-2, -0x1.27bea4p-1, 0x1.518f54p-4}},
    {kDefault, 16, 64, 96000, 0x6d5e1dd428aeffdfull, {-0x1.cd649p-2, 0x1.5f6dd4p-2, 0x1.3d9e3cp-2}},
    {kDefault, 16, 512, 96000, 0x76170621a859702full, {0x1.a686fp-6, -0x1.f9db2cp-1, -0x1.616e4ap-1}},
    {kDefault, 16, 8192, 96000, 0x76170621a859702full, {0x1.a686fp-6, -0x1.f9db2cp-1, -0x1.616e4ap-1}},
    {kDefault, 1, 64, 44100, 0x9aa19c4b65c71bb7ull, {-0x1.d40b9p-3, -0x1.107a78p-2, -0x1.cffc3ep-3}},
    {kDefault, 1, 512, 44100, 0x9aa19c4b65c71bb7ull, {-0x1.d40b9p-3, -0x1.107a78p-2, -0x1.cffc3ep-3}},
    {kDefault, 1, 8192, 44100, 0x9aa19c4b65c71bb7ull, {-0x1.d40b9p-3, -0x1.107a78p-2, -0x1.cffc3ep-3}},
    {kDefault, 1, 64, 96000, 0xde143b2a41d3d3efull, {-0x1.5800c2p-3, -0x1.31f7ccp-3, 0x1.6e6012p-3}},
    {kDefault, 1, 512, 96000, 0xde143b2a41d3d3efull, {-0x1.5800c2p-3, -0x1.31f7ccp-3, 0x1.6e6012p-3}},
    {kDefault, 1, 8192, 96000, 0xde143b2a41d3d3efull, {-0x1.5800c2p-3, -0x1.31f7ccp-3, 0x1.6e6012p-3}},
};
// clang-format on

bool PrintMode()
{
    char const* v = std::getenv("TORVANE_GOLDEN_PRINT");
    return v != nullptr && v[0] == '1';
}

// Renders every case of `patch` on every vector path the processor has and compares it with its
// recorded line.
void ExpectGolden(int patch)
{
    for (Simd::Path path : {Simd::Path::SSE2, Simd::Path::AVX2})
    {
        if (!Simd::Force(path)) continue;
        SCOPED_TRACE(path == Simd::Path::AVX2 ? "AVX2" : "SSE2");
        int cases = 0;
        for (Golden const& g : kGolden)
        {
            if (g.patch != patch) continue;
            ++cases;
            SCOPED_TRACE(std::string(PatchName(g.patch)) + " patch, " + std::to_string(g.notes) +
                         " notes, block " + std::to_string(g.block) + ", " + std::to_string(g.rate) + " Hz");
            const Render r = RenderGolden(g.patch, g.notes, g.block, static_cast<float>(g.rate));
            for (int p = 0; p < 3; ++p)
                EXPECT_EQ(r.probes[p], g.probes[p]) << "left sample at frame " << kProbeFrames[p];
            EXPECT_EQ(r.digest, g.digest);
        }
        EXPECT_EQ(cases, 12);
    }
    Simd::Unforce();
}

} // namespace

TEST(GoldenRender, PrintTable)
{
    if (!PrintMode()) GTEST_SKIP() << "set TORVANE_GOLDEN_PRINT=1 to print the table";
    for (int patch : {kFull, kBusy, kDefault})
        for (int notes : {16, 1})
            for (int rate : {44100, 96000})
                for (long block : {64L, 512L, 8192L})
                {
                    const Render r = RenderGolden(patch, notes, block, static_cast<float>(rate));
                    std::printf("    {k%c%s, %d, %ld, %d, 0x%016llxull, {%a, %a, %a}},\n",
                                PatchName(patch)[0] - 32, PatchName(patch) + 1, notes, block, rate,
                                static_cast<unsigned long long>(r.digest), static_cast<double>(r.probes[0]),
                                static_cast<double>(r.probes[1]), static_cast<double>(r.probes[2]));
                }
}

TEST(GoldenRender, FullPatchRendersTheRecordedSamples)
{
    ExpectGolden(kFull);
}

TEST(GoldenRender, BusyPatchRendersTheRecordedSamples)
{
    ExpectGolden(kBusy);
}

TEST(GoldenRender, DefaultPatchRendersTheRecordedSamples)
{
    ExpectGolden(kDefault);
}

TEST(GoldenRender, RendersAreAudibleAndDiffer)
{
    if (PrintMode()) GTEST_SKIP();
    // The table would catch nothing if the renders were silent or all alike.
    const Render full = RenderGolden(kFull, 16, 512, 44100.0f);
    const Render def = RenderGolden(kDefault, 1, 512, 44100.0f);
    EXPECT_NE(full.digest, def.digest);
    EXPECT_NE(full.probes[1], 0.0f);
    EXPECT_NE(def.probes[1], 0.0f);
}

// The commands that build wave tables sound as they always have: the full patch, a command, then
// 16 notes in blocks of 512 at 44100 Hz.
TEST(GoldenRender, WaveCommandsLeaveTheRecordedSound)
{
    TemporaryDataHome home("torvane-golden-");
    std::string const wav = (std::filesystem::path(home.Path()) / "a440.wav").string();
    WriteSineWav(wav, 440.0f, 8192);
    String const waveform = CustomWaveText(2048, 64);
    std::vector<float> partials(256, 0.0f);
    for (std::size_t h = 0; h < partials.size(); h += 3)
        partials[h] = 1.0f / static_cast<float>(h + 1);

    struct Row
    {
        char const* what;
        std::function<void(Torvane&)> command;
        std::uint64_t digest;
    };
    std::vector<Row> const rows = {
        {"Reset Patch", [](Torvane& t) { t.DefaultPatch(); }, 0x07fffd8c13e2f2cbull},
        {"Reset voice", [](Torvane& t) { t.ResetVoice(1); }, 0xce978bd62cbe54f3ull},
        {"standard shape", [](Torvane& t) { t.LoadStandardWaveform(0, 1, 2); }, 0xb51803c82f23522cull},
        {"waveform file (another shape)",
         [&](Torvane& t)
         {
             StringReader r;
             r.Open(waveform, static_cast<std::size_t>(waveform.GetLength()));
             t.LoadWaveform(2, 2, r);
         },
         0x6a406d20320cea84ull},
        {"WAV import", [&](Torvane& t) { t.ImportWave(0, 3, wav.c_str()); }, 0x5616275cf496b169ull},
        {"waveform editor apply",
         [&](Torvane& t) { t.SetWaveFromPartials(3, 0, 256, partials.data(), nullptr); },
         0x7bb9da688aa36d1full},
    };
    for (Row const& row : rows)
    {
        Render const r = RenderGolden(kFull, 16, 512, 44100.0f, row.command);
        if (PrintMode())
            std::printf("    %s: 0x%016llxull\n", row.what, static_cast<unsigned long long>(r.digest));
        else
            EXPECT_EQ(r.digest, row.digest) << row.what;
    }
}
