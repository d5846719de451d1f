// The instrument's render: the tone of the default patch, pitch bend, long blocks, the engine
// switch, the effects and global filters, floating-point state, and a soak of a heavy patch.

#include "PlayTestSupport.h"
#include "support/engine/BusyPatch.h"

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

using namespace play;

namespace
{

// The biquad low-pass of the voice filter (cookbook formulas) at `freq`, in double.
double LowPassGain(double cutoff, double q, double freq, double rate)
{
    const double w0 = 2.0 * M_PI * cutoff / rate;
    const double alpha = std::sin(w0) / (2.0 * q);
    const double cs = std::cos(w0);
    const double b0 = (1.0 - cs) / 2.0, b1 = 1.0 - cs, b2 = (1.0 - cs) / 2.0;
    const double a0 = 1.0 + alpha, a1 = -2.0 * cs, a2 = 1.0 - alpha;
    const std::complex<double> z = std::polar(1.0, -2.0 * M_PI * freq / rate);
    return std::abs((b0 + b1 * z + b2 * z * z) / (a0 + a1 * z + a2 * z * z));
}

// Amplitude of the first harmonic of wave `slot` of one level of a four-wave table.
double Fundamental(VectorMipOscWaveDef const& def, int level, int slot)
{
    std::complex<double> sum = 0.0;
    for (long i = 0; i < def.length; ++i)
        sum += static_cast<double>(def.levels[level][4 * i + slot]) *
               std::polar(1.0, -2.0 * M_PI * static_cast<double>(i) / static_cast<double>(def.length));
    return 2.0 * std::abs(sum) / static_cast<double>(def.length);
}

} // namespace

// ---- the tone ------------------------------------------------------------------------------

TEST(RenderTone, DefaultPatchA4IsAt440HzAtTheExpectedLevel)
{
    HeadlessHost host(false);
    Torvane& t = host.Instrument();
    host.NoteOn(69, 127);
    const Stereo s = RenderHost(host, 2 * 44100, 512);

    // One second from 0.5 s on: 440 whole cycles.
    const size_t from = 22050;
    const double a440 = ToneAmplitude(s.left, from, 44100, 440.0, 44100.0);
    EXPECT_GT(a440, 100.0 * ToneAmplitude(s.left, from, 44100, 439.0, 44100.0));
    EXPECT_GT(a440, 100.0 * ToneAmplitude(s.left, from, 44100, 441.0, 44100.0));

    // Amplitude line 0.7 x layer level 0.7 x master 1 x velocity 127/127, half to each side
    // (centre pan), times the saw's fundamental at the level that plays, its weight at vector
    // position (-1, 0), and the voice filter (low-pass, cutoff 22000, resonance 5).
    VoiceDef* def = t.GetVoiceDef(0);
    const int level = def->waveDef.LevelForIncrement(440.0f * 4096.0f / 44100.0f);
    const double q0 = 1.0 / 1e-5, q1 = 1.0 / (2.0 + 1e-5), q2 = 1.0 / (4.0 + 1e-5);
    const double weight = q0 / (q0 + 2.0 * q1 + q2);
    const double expected = 0.7 * 0.7 * 0.5 * Fundamental(def->waveDef, level, 0) * weight *
                            LowPassGain(22000.0, StereoFilter::ResonanceToQ(5.0f), 440.0, 44100.0);
    EXPECT_NEAR(a440, expected, expected * 0.005);
    EXPECT_NEAR(ToneAmplitude(s.right, from, 44100, 440.0, 44100.0), expected, expected * 0.005);
}

TEST(RenderTone, FullPitchBendDownWithRange12IsOneOctave)
{
    HeadlessHost host(false);
    host.Instrument().pitchBendRange = 12.0f;
    host.NoteOn(69, 127);
    host.QueueMidi(0xE0, 0, 0, 0); // full bend down: -1.0
    const Stereo s = RenderHost(host, 2 * 44100, 512);
    // The saw's fundamental moves to 220 Hz (unbent, nothing would sound there).
    const double a220 = ToneAmplitude(s.left, 44100, 44100, 220.0, 44100.0);
    EXPECT_GT(a220, 0.2);
    EXPECT_GT(a220, 100.0 * ToneAmplitude(s.left, 44100, 44100, 219.0, 44100.0));
    EXPECT_GT(a220, 100.0 * ToneAmplitude(s.left, 44100, 44100, 221.0, 44100.0));
}

TEST(RenderTone, DefaultPatchAt48kHzKeepsItsPitch)
{
    HeadlessHost host(false, 48000.0f);
    host.NoteOn(69, 127);
    const Stereo s = RenderHost(host, 48000 + 24000, 480);
    const double a440 = ToneAmplitude(s.left, 24000, 48000, 440.0, 48000.0);
    EXPECT_GT(a440, 0.2);
    EXPECT_GT(a440, 100.0 * ToneAmplitude(s.left, 24000, 48000, 439.0, 48000.0));
}

// ---- long blocks ----------------------------------------------------------------------------

// A note that glides (legato) and is released inside the first piece with a release longer
// than the piece: glide, release ramp and timeline carry across the cut.
static void PlayGlideAndRelease(Torvane& t)
{
    t.keyMode = 2.0f;
    t.portamentoTime = 0.3f;
    t.GetVoiceDef(0)->parameters[VoiceDef::kReleaseTime] = 6000.0f;
    t.NoteOnMidiEvent(0, 60, 100, 0);
    t.NoteOnMidiEvent(0, 67, 100, 10);
}

TEST(RenderLongBlocks, TenThousandFramesEqualAPieceOf8192And1808)
{
    HeadlessHost a(false);
    HeadlessHost b(false);
    PlayGlideAndRelease(a.Instrument());
    PlayGlideAndRelease(b.Instrument());
    Stereo whole = RenderDirect(a.Instrument(), 10000);
    Stereo first = RenderDirect(b.Instrument(), 8192);
    Stereo second = RenderDirect(b.Instrument(), 1808);
    first.left.insert(first.left.end(), second.left.begin(), second.left.end());
    first.right.insert(first.right.end(), second.right.begin(), second.right.end());
    ASSERT_EQ(whole.left.size(), 10000u);
    EXPECT_EQ(whole.left, first.left);
    EXPECT_EQ(whole.right, first.right);
    EXPECT_GT(Peak(whole), 0.05f);

    // Release inside a long block, then on.
    a.Instrument().NoteOffMidiEvent(0, 67, 0);
    b.Instrument().NoteOffMidiEvent(0, 67, 0);
    a.Instrument().NoteOffMidiEvent(0, 60, 0);
    b.Instrument().NoteOffMidiEvent(0, 60, 0);
    whole = RenderDirect(a.Instrument(), 10000);
    first = RenderDirect(b.Instrument(), 8192);
    second = RenderDirect(b.Instrument(), 1808);
    first.left.insert(first.left.end(), second.left.begin(), second.left.end());
    EXPECT_EQ(whole.left, first.left);
    // The 6000-sample release ended in the first piece.
    EXPECT_EQ(whole.left[9999], 0.0f);
    EXPECT_EQ(BusyNotes(a.Instrument()), 0);
}

TEST(RenderLongBlocks, HostBlockOf20000FramesPlaysLikeShortBlocks)
{
    HeadlessHost a(false);
    HeadlessHost b(false);
    a.NoteOn(57, 90);
    b.NoteOn(57, 90);
    a.Render(20000);
    const Stereo pieces = RenderHost(b, 20000, 5000);
    // The default patch has no modulation that blocks of other lengths would step
    // differently: the two are the same signal (up to the rounding of the stored phase).
    ASSERT_EQ(a.Left().size(), 20000u);
    for (size_t i = 0; i < 20000; ++i)
        ASSERT_NEAR(a.Left()[i], pieces.left[i], 1e-4f) << i;
}

// ---- engine switch, floating-point state, bad values ------------------------------------------

TEST(RenderSwitch, DisabledEngineLeavesTheBlockAndTheNotesAlone)
{
    HeadlessHost host(false);
    Torvane& t = host.Instrument();
    t.NoteOnMidiEvent(0, 60, 100, 0);
    RenderDirect(t, 256);
    TNote* n = NoteFor(t, 60);
    ASSERT_NE(n, nullptr);
    const float age = n->GetLifeTime();

    // A refresh of the switch while on changes nothing.
    t.enabled.RefreshListeners();
    EXPECT_EQ(n->GetState(), TNote::kOn);

    t.enabled = 0.0f;
    EXPECT_EQ(n->GetState(), TNote::kFree); // switching off kills every note
    EXPECT_EQ(t.GetNoteStack().Size(), 0);
    std::vector<float> l(128, 0.25f), r(128, 0.25f);
    t.Render(l.data(), r.data(), 128, 0);
    EXPECT_EQ(l, std::vector<float>(128, 0.25f));
    EXPECT_EQ(n->GetLifeTime(), age);
    // No note starts while the engine is off.
    t.NoteOnMidiEvent(0, 62, 100, 0);
    EXPECT_EQ(BusyNotes(t), 0);
}

TEST(RenderSwitch, FloatingPointControlIsRestoredAfterTheBlock)
{
    HeadlessHost host(false);
    Torvane& t = host.Instrument();
    t.NoteOnMidiEvent(0, 60, 100, 0);
    const unsigned saved = _mm_getcsr();
    const unsigned plain = saved & ~0x8040u;
    _mm_setcsr(plain);
    RenderDirect(t, 512);
    EXPECT_EQ(_mm_getcsr(), plain);
    _mm_setcsr(plain | 0x8040u);
    RenderDirect(t, 512);
    EXPECT_EQ(_mm_getcsr(), plain | 0x8040u);
    _mm_setcsr(saved);
}

TEST(RenderSwitch, NoNaNOrInfinityLeavesAndEffectsRecover)
{
    HeadlessHost host(false);
    Torvane& t = host.Instrument();
    MakeBusyPatch(t, BusyPatch::kHeavy);
    VoiceDef* def = t.GetVoiceDef(0);
    // An absurd amplitude and sends overflow the voice's output and the effect sends.
    SetFlatLine(def->lines[VoiceDef::kAmplitudeLine], {3e38f});
    SetFlatLine(def->lines[VoiceDef::kEffectsLine], {0.0f, 1e38f, 1e38f, 1e38f});
    for (int k = 0; k < 4; ++k)
        t.NoteOnMidiEvent(0, 48 + 7 * k, 127, 0);
    for (int b = 0; b < 20; ++b)
    {
        const Stereo s = RenderDirect(t, 512);
        for (size_t i = 0; i < s.left.size(); ++i)
        {
            ASSERT_TRUE(std::isfinite(s.left[i])) << b << " " << i;
            ASSERT_TRUE(std::isfinite(s.right[i])) << b << " " << i;
        }
    }
    // Sane values again: the effects and filters were not left poisoned.
    SetFlatLine(def->lines[VoiceDef::kAmplitudeLine], {1.0f});
    SetFlatLine(def->lines[VoiceDef::kEffectsLine], {0.0f, 0.3f, 0.3f, 0.3f});
    float peak = 0.0f;
    for (int b = 0; b < 20; ++b)
    {
        const Stereo s = RenderDirect(t, 512);
        for (float v : s.left)
            ASSERT_TRUE(std::isfinite(v));
        peak = std::max(peak, Peak(s));
    }
    EXPECT_GT(peak, 0.01f);
}

TEST(RenderSoak, HeavyPatchAtExtremeSettingsStaysFiniteAndBounded)
{
    HeadlessHost host(false);
    Torvane& t = host.Instrument();
    MakeBusyPatch(t, BusyPatch::kExtreme);
    t.pitchBendRange = 12.0f;
    for (int k = 0; k < 16; ++k)
        host.NoteOn(24 + 6 * k, 127, k);
    const long blocks[] = {1, 7, 64, 333, 512, 4096, 8192, 10000};
    // Peaks of the first and of the last five seconds.
    float early = 0.0f;
    float late = 0.0f;
    long total = 0;
    for (int round = 0; total < 20 * 44100; ++round)
    {
        const long n = blocks[round % 8];
        // Pitch bend and mod wheel swing from one end to the other.
        host.QueueMidi(0xE0, 0, (round % 2) ? 127 : 0, 0);
        host.ControlChange(1, (round % 3) ? 127 : 0);
        if (round % 5 == 4)
        {
            host.NoteOff(24 + 6 * (round % 16));
            host.NoteOn(24 + 6 * (round % 16), 127);
        }
        host.Render(n);
        ASSERT_TRUE(host.AllFinite()) << round;
        if (total < 5 * 44100) early = std::max(early, host.Peak());
        if (total >= 15 * 44100) late = std::max(late, host.Peak());
        total += n;
    }
    // 16 notes x 4 layers x 4 slots of level 1 through filters of resonance 50 (a gain of
    // about 37.5 at the cutoff) stay below 10000 before the effects; nothing builds up.
    EXPECT_GT(early, 0.01f);
    EXPECT_LT(early, 20000.0f);
    EXPECT_LT(late, 3.0f * early);
}

// ---- effects and global filters -------------------------------------------------------------

TEST(RenderEffects, DelayAddsTheDelayedSendIntoTheOutput)
{
    HeadlessHost dry(false);
    HeadlessHost wet(false);
    for (HeadlessHost* h : {&dry, &wet})
    {
        SetFlatLine(h->Instrument().GetVoiceDef(0)->lines[VoiceDef::kEffectsLine], {0.0f, 0.0f, 0.5f, 0.0f});
        h->NoteOn(60, 100);
        h->Render(512);
        h->NoteOff(60);
    }
    wet.Instrument().GetDelayEffect()->enabled = 1.0f;
    wet.Instrument().GetDelayEffect()->time = 0.0f;
    // After the release has ended the dry instrument is silent, the delayed one is not.
    const Stereo d = RenderHost(dry, 44100);
    const Stereo w = RenderHost(wet, 44100);
    EXPECT_EQ(Peak(Stereo{std::vector<float>(d.left.begin() + 2048, d.left.end()), {}}), 0.0f);
    EXPECT_GT(Peak(Stereo{std::vector<float>(w.left.begin() + 2048, w.left.end()), {}}), 0.001f);
}

TEST(RenderEffects, GlobalFilterCutoffsKeepTheirOrder)
{
    HeadlessHost host(false);
    Torvane& t = host.Instrument();
    StereoFilter* low = t.GetGlobalLowFilter();
    StereoFilter* high = t.GetGlobalHighFilter();
    high->cutoff = 3000.0f;
    low->cutoff = 5000.0f;
    EXPECT_EQ(static_cast<float>(high->cutoff), 5000.0f);
    EXPECT_EQ(static_cast<float>(low->cutoff), 5000.0f);
    high->cutoff = 1000.0f;
    EXPECT_EQ(static_cast<float>(low->cutoff), 1000.0f);
    low->cutoff = 500.0f;
    EXPECT_EQ(static_cast<float>(high->cutoff), 1000.0f);
}

TEST(RenderEffects, EnabledGlobalLowFilterTakesTheBassOut)
{
    HeadlessHost plain(false);
    HeadlessHost filtered(false);
    // The low filter is the high-pass at the bottom of the range.
    filtered.Instrument().GetGlobalLowFilter()->enabled = 1.0f;
    filtered.Instrument().GetGlobalLowFilter()->cutoff = 2000.0f;
    for (HeadlessHost* h : {&plain, &filtered})
        h->NoteOn(45, 127); // 110 Hz
    const Stereo p = RenderHost(plain, 44100);
    const Stereo f = RenderHost(filtered, 44100);
    const double before = ToneAmplitude(p.left, 22050, 22050, 110.0, 44100.0);
    const double after = ToneAmplitude(f.left, 22050, 22050, 110.0, 44100.0);
    EXPECT_GT(before, 0.1);
    EXPECT_LT(after, before * 0.01);
}

// ---- parameter reactions --------------------------------------------------------------------

TEST(RenderReactions, LFOSyncMakesTheRateControlStepThroughWholeValues)
{
    HeadlessHost host(false);
    Torvane& t = host.Instrument();
    t.lfo1SyncBridge = 1.0f;
    EXPECT_EQ(t.lfo1RateParam.GetType(), Parameter::Discrete);
    EXPECT_EQ(t.lfo1RateParam.GetCurveType(), Parameter::Linear);
    EXPECT_EQ(t.lfo2RateParam.GetType(), Parameter::Continuous);
    t.lfo1SyncBridge = 0.0f;
    EXPECT_EQ(t.lfo1RateParam.GetType(), Parameter::Continuous);
    EXPECT_EQ(t.lfo1RateParam.GetCurveType(), Parameter::CubeLaw);
    t.lfo2SyncBridge = 1.0f;
    EXPECT_EQ(t.lfo2RateParam.GetType(), Parameter::Discrete);
}

TEST(RenderReactions, FreezePositionMovesTheEditTime)
{
    HeadlessHost host(false);
    Torvane& t = host.Instrument();
    ASSERT_EQ(t.GetVoiceDef(-1)->GetDuration(), 264600.0f);
    t.freezePosition = 0.5f; // Time Freeze off: nothing
    EXPECT_EQ(t.GetEditTime(), 0.0f);
    t.timeFreeze = 1.0f;
    t.freezePosition = 0.5f;
    EXPECT_EQ(t.GetEditTime(), 132300.0f);
}

TEST(RenderReactions, SelectionModeRefreshDoesNotKillNotes)
{
    HeadlessHost host(false);
    Torvane& t = host.Instrument();
    t.NoteOnMidiEvent(0, 60, 100, 0);
    t.multipleSelectionMode = 1.0f;
    EXPECT_EQ(NoteFor(t, 60)->GetState(), TNote::kOn);
    EXPECT_FALSE(t.IsRefreshing());
    // An unguarded refresh of every parameter re-runs the key-mode reaction.
    t.RefreshAllParameterListeners(3, true);
    EXPECT_EQ(BusyNotes(t), 0);
}
