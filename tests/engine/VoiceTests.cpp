// One layer of a sounding note: release ramps, unison, the oscillator/noise balance, vector
// weights, the filter, sends, play time, loop and freeze, and its modulation rows.

#include "PlayTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace play;

namespace
{

// The release curve: 1 - x / ((x - 1) c + x) with c = 1 - 1 / 0.8, sampled every 512 samples,
// straight lines between, and exactly 0 at the release length.
double ExpectedRelease(double u, double length)
{
    auto curve = [](double x)
    {
        const double c = 1.0 - 1.0 / 0.8;
        return x / ((x - 1.0) * c + x);
    };
    if (u <= 0.0) return 1.0;
    if (u >= length) return 0.0;
    const double xa = std::floor(u / 512.0) * 512.0;
    const double xb = std::min(xa + 512.0, length);
    const double va = xa == 0.0 ? 1.0 : 1.0 - curve(xa / length);
    const double vb = xb >= length ? 0.0 : 1.0 - curve(xb / length);
    return va + (vb - va) * (u - xa) / (xb - xa);
}

// Two instruments playing the same note; one is released at `at` (offset `offset`). Returns
// the released one's gain per sample from `at` on (where the other is loud enough to tell),
// and the released output itself.
struct ReleaseRun
{
    std::vector<double> gain; // NaN where the reference is too quiet
    std::vector<float> out;
    int freeAfter = -1; // samples after `at` until the note was free (block resolution)
};

ReleaseRun RunRelease(float releaseTime, long offset)
{
    HeadlessHost a(false);
    HeadlessHost b(false);
    for (HeadlessHost* h : {&a, &b})
    {
        h->Instrument().GetVoiceDef(0)->parameters[VoiceDef::kReleaseTime] = releaseTime;
        h->Instrument().NoteOnMidiEvent(0, 57, 127, 0);
        RenderDirect(h->Instrument(), 1024);
    }
    a.Instrument().NoteOffMidiEvent(0, 57, offset);
    ReleaseRun run;
    TNote* n = a.Instrument().GetTNote(0);
    for (long done = 0; done < 4096; done += 64)
    {
        const Stereo x = RenderDirect(a.Instrument(), 64);
        const Stereo y = RenderDirect(b.Instrument(), 64);
        for (size_t i = 0; i < 64; ++i)
        {
            run.out.push_back(x.left[i]);
            run.gain.push_back(std::fabs(y.left[i]) > 0.02f ? x.left[i] / static_cast<double>(y.left[i])
                                                            : NAN);
        }
        if (run.freeAfter < 0 && n->GetState() == TNote::kFree) run.freeAfter = static_cast<int>(done + 64);
    }
    return run;
}

class VoiceTest : public ::testing::Test
{
protected:
    VoiceTest() : host(false), t(host.Instrument()), def(t.GetVoiceDef(0)) {}

    TNote* Play(int key = 69, int velocity = 127)
    {
        t.NoteOnMidiEvent(0, key, velocity, 0);
        return NoteFor(t, key);
    }
    void Block(long frames = 64) { RenderDirect(t, frames); }

    HeadlessHost host;
    Torvane& t;
    VoiceDef* def;
};

} // namespace

// ---- release ---------------------------------------------------------------------------------

TEST(VoiceRelease, RampFollowsTheCurveAndEndsAtExactlyZero)
{
    for (float length : {1000.0f, 300.0f, 1024.0f, 2900.0f})
    {
        const ReleaseRun run = RunRelease(length, 0);
        for (size_t u = 0; u < run.gain.size(); ++u)
        {
            if (u >= length)
            {
                ASSERT_EQ(run.out[u], 0.0f) << length << " " << u;
                continue;
            }
            if (!std::isnan(run.gain[u]))
            {
                ASSERT_NEAR(run.gain[u], ExpectedRelease(static_cast<double>(u), length), 2e-4)
                    << length << " " << u;
            }
        }
        // Free at the end of the block in which the release time passed the ramp's end.
        EXPECT_EQ(run.freeAfter, (static_cast<int>(length) / 64 + 1) * 64) << length;
    }
}

TEST(VoiceRelease, RampStartsAtTheNoteOffOffset)
{
    const ReleaseRun run = RunRelease(1000.0f, 100);
    for (size_t u = 0; u < 1100; ++u)
    {
        if (!std::isnan(run.gain[u]))
        {
            ASSERT_NEAR(run.gain[u], ExpectedRelease(static_cast<double>(u) - 100.0, 1000.0), 2e-4) << u;
        }
    }
    EXPECT_EQ(run.out[1100], 0.0f);
}

TEST_F(VoiceTest, QuickReleaseOfAReleasedNoteFadesFromItsCurrentLevel)
{
    def->parameters[VoiceDef::kReleaseTime] = 2000.0f;
    TNote* n = Play();
    Voice* v = n->GetVoice(0);
    EXPECT_EQ(v->GetReleaseLevel(), 1.0f);
    n->Release(0);
    Block(1000);
    const float level = v->GetReleaseLevel();
    EXPECT_NEAR(level, ExpectedRelease(1000.0, 2000.0), 1e-5);
    n->QuickRelease(0);
    EXPECT_EQ(n->GetState(), TNote::kQuickRelease);
    EXPECT_EQ(v->GetReleaseLevel(), level);
    EXPECT_EQ(v->GetReleaseEnd(), 400.0f);
    Block(200);
    EXPECT_NEAR(v->GetReleaseLevel(), level / 2.0f, 1e-6f);

    // A note that is on fades from full level.
    TNote* m = Play(60);
    m->QuickRelease(10);
    EXPECT_EQ(m->GetVoice(0)->GetReleaseLevel(), 1.0f);
    EXPECT_EQ(m->GetVoice(0)->GetReleaseEnd(), 410.0f);
}

// ---- unison ----------------------------------------------------------------------------------

TEST_F(VoiceTest, UnisonSlotsSpreadAndDetune)
{
    def->parameters[VoiceDef::kUnisonCount] = 3.0f;
    SetFlatLine(def->lines[VoiceDef::kVoiceLine], {0.0f, 0.0f, 0.0f, 0.1f, 0.5f});
    TNote* n = Play(69);
    Block();
    Voice* v = n->GetVoice(0);
    const float pans[] = {-0.5f, 0.0f, 0.5f};
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_FLOAT_EQ(v->GetOscillator(i).Pan()[0].values[0], pans[i]) << i;
        const float detune = static_cast<float>(i) * Voice::detuneStretch[i] / 3.0f;
        EXPECT_FLOAT_EQ(v->GetOscillator(i).Frequency()[0].values[0], NoteToFreq(69.0f - 0.1f * detune)) << i;
    }
    EXPECT_EQ(v->GetOscillator(3).Amplitude().Size(), 0);

    // Off-centre: each slot clamped to the stereo field.
    SetFlatLine(def->lines[VoiceDef::kVoiceLine], {0.0f, 0.0f, 0.8f, 0.1f, 0.5f});
    Block();
    EXPECT_FLOAT_EQ(v->GetOscillator(0).Pan()[0].values[0], 0.3f);
    EXPECT_FLOAT_EQ(v->GetOscillator(1).Pan()[0].values[0], 0.8f);
    EXPECT_FLOAT_EQ(v->GetOscillator(2).Pan()[0].values[0], 1.0f);
}

TEST_F(VoiceTest, UnisonCountIsKeptWithinZeroToFour)
{
    Parameter& unison = def->parameters[VoiceDef::kUnisonCount];
    unison.SetMinMax(-3.0f, 9.0f, false);
    unison = 9.0f;
    TNote* n = Play();
    const Stereo loud = RenderDirect(t, 512);
    EXPECT_GT(Peak(loud), 0.05f);
    for (int i = 0; i < VoiceDef::maxUnisonNum; ++i)
        EXPECT_GT(n->GetVoice(0)->GetOscillator(i).Amplitude().Size(), 0) << i;

    // Below 0 no slot plays (what remains is the filter's denormal guard).
    HeadlessHost quiet(false);
    Parameter& none = quiet.Instrument().GetVoiceDef(0)->parameters[VoiceDef::kUnisonCount];
    none.SetMinMax(-3.0f, 9.0f, false);
    none = -3.0f;
    quiet.Instrument().NoteOnMidiEvent(0, 69, 127, 0);
    EXPECT_LT(Peak(RenderDirect(quiet.Instrument(), 512)), 1e-9f);
}

// ---- oscillators, noise, weights --------------------------------------------------------------

TEST(VoiceBalance, ChoosesOscillatorsNoiseBothOrNeither)
{
    struct Case
    {
        std::vector<float> balances; // one Wave-line point each
        bool oscillator;
        bool noise;
    };
    const Case cases[] = {
        {{1.0f, 1.0f}, true, false}, {{0.0f}, false, true}, {{1.0f, 0.0f}, true, true},
        {{0.5f}, true, true},        {{}, false, false},
    };
    for (Case const& c : cases)
    {
        HeadlessHost h(false);
        Torvane& ti = h.Instrument();
        EventEnvelope& wave = ti.GetVoiceDef(0)->lines[VoiceDef::kWaveLine];
        wave.Clear();
        for (size_t k = 0; k < c.balances.size(); ++k)
        {
            Breakpoint* b = wave.AddBreakpoint();
            b->time = 1000.0f * static_cast<float>(k);
            b->values[0] = -1.0f;
            b->values[1] = 0.0f;
            b->values[2] = c.balances[k];
        }
        ti.NoteOnMidiEvent(0, 60, 100, 0);
        const Stereo s = RenderDirect(ti, 512);
        Voice* v = NoteFor(ti, 60)->GetVoice(0);
        EXPECT_EQ(v->GetOscillator(0).GetPhase() != 0.0f, c.oscillator) << c.balances.size();
        EXPECT_EQ(v->GetNoise(0).GetIndex() != 0, c.noise) << c.balances.size();
        EXPECT_EQ(Peak(s) > 1e-6f, c.oscillator || c.noise) << c.balances.size();
    }
}

TEST_F(VoiceTest, VectorWeightsFollowThePositionOnThePlane)
{
    auto weights = [](float x, float y, float e, int i)
    {
        const float px[4] = {-1.0f, 0.0f, 1.0f, 0.0f};
        const float py[4] = {0.0f, -1.0f, 0.0f, 1.0f};
        float q[4];
        float sum = 0.0f;
        for (int k = 0; k < 4; ++k)
        {
            q[k] = 1.0f / ((x - px[k]) * (x - px[k]) + (y - py[k]) * (y - py[k]) + e);
            sum += q[k];
        }
        return q[i] / sum;
    };
    SetFlatLine(def->lines[VoiceDef::kWaveLine], {0.3f, -0.2f, 1.0f});
    TNote* n = Play();
    Block();
    Envelope const& w = n->GetVoice(0)->GetOscillator(0).Weights();
    ASSERT_EQ(w.Size(), 2);
    for (int i = 0; i < 4; ++i)
        EXPECT_FLOAT_EQ(w[0].values[i], weights(0.3f, -0.2f, 0.00001f, i)) << i;

    // With vector X modulated (an LFO of depth 0: it adds nothing) the curves are walked
    // together and the distance is softened.
    std::vector<float> mod(23, 0.0f);
    mod[6] = 1.0f;
    SetFlatLine(def->lines[VoiceDef::kModulationLine], mod);
    t.SetModulationSource(0, kModSourceLFO1, 0);
    t.SetModulationTarget(0, kModTargetVectorX, 0);
    Block();
    ASSERT_EQ(w.Size(), 3); // the LFO's points at 0, 32 and 64
    EXPECT_EQ(w[1].time, 32.0f);
    for (int i = 0; i < 4; ++i)
        EXPECT_FLOAT_EQ(w[1].values[i], weights(0.3f, -0.2f, 0.01f, i)) << i;
}

TEST_F(VoiceTest, ModulationSourcesGiveVelocityAndNoteNumber)
{
    TNote* n = Play(69, 127);
    Voice* v = n->GetVoice(0);
    Envelope out(1);
    v->CreateModEnvelope(&out, 100, kVoiceOutputVelocity);
    ASSERT_EQ(out.Size(), 2);
    EXPECT_EQ(out[0].values[0], 127.0f / 64.0f - 1.0f);
    EXPECT_EQ(out[1].time, 100.0f);
    out.Clear();
    v->CreateModEnvelope(&out, 100, kVoiceOutputNoteNumber);
    EXPECT_EQ(out[1].values[0], 69.0f / 64.0f - 1.0f);
    out.Clear();
    v->CreateModEnvelope(&out, 100, 2);
    EXPECT_EQ(out.Size(), 0);
}

TEST_F(VoiceTest, PitchBendRowFollowsTheRange)
{
    TNote* n = t.GetTNote(5);
    t.pitchBendRange = 12.0f;
    EXPECT_EQ(n->GetVoice(2)->GetPitchBendAmount(), 1.0f);
    t.pitchBendRange = 2.0f;
    EXPECT_FLOAT_EQ(n->GetVoice(2)->GetPitchBendAmount(), std::pow(2.0f, 2.0f / 12.0f) - 1.0f);
    // The instrument's row setters never rebind it.
    n->SetModulationSource(kPitchBendModRow, kModSourceLFO1, 2);
    n->SetModulationEnabled(kPitchBendModRow, false, 2);
    TModMap* bend = n->GetVoice(2)->GetModMatrix().GetMap(kPitchBendModRow);
    EXPECT_EQ(bend->source, t.GetPitchBendSource());
    EXPECT_TRUE(bend->enabled);
}

// ---- filter ----------------------------------------------------------------------------------

TEST_F(VoiceTest, FilterFollowsItsLineTheKeyAndItsModulation)
{
    def->parameters[VoiceDef::kCutoffFollowsNote] = 1.0f;
    SetFlatLine(def->lines[VoiceDef::kFilterLine], {0.5f, 1.0f, 5.0f});
    Play(69);
    Block();
    TNote* n = NoteFor(t, 69);
    StereoFilter& f = n->GetVoice(0)->GetFilter();
    EXPECT_FLOAT_EQ(static_cast<float>(f.cutoff), 22000.0f * 0.125f + 440.0f);
    EXPECT_EQ(static_cast<float>(f.type), 1.0f);
    EXPECT_EQ(static_cast<float>(f.resonance), 5.0f);

    // The mod wheel at rest (-1) through a depth of 0.5 divides the cutoff by 1.5.
    t.SetModulationSource(0, kModSourceModWheel, 0);
    t.SetModulationTarget(0, kModTargetFilterFreq, 0);
    Block();
    const float c = 0.5f / 1.5f;
    EXPECT_NEAR(static_cast<float>(f.cutoff), 22000.0f * c * c * c + 440.0f, 0.05f);
}

// ---- sends -------------------------------------------------------------------------------------

TEST_F(VoiceTest, SendSegmentWithZeroAtOneEndSendsNothing)
{
    t.GetDelayEffect()->enabled = 1.0f;
    EventEnvelope& fx = def->lines[VoiceDef::kEffectsLine];
    fx.Clear();
    Breakpoint* a = fx.AddBreakpoint();
    a->time = 0.0f;
    a->SetYs(0.0f);
    Breakpoint* b = fx.AddBreakpoint();
    b->time = 1024.0f;
    b->SetYs(0.0f);
    b->values[2] = 1.0f;
    Play();
    Block(512);
    SoundBuffer* send = t.GetDelayBuffer();
    float sent = 0.0f;
    for (long i = 0; i < 512; ++i)
        sent = std::max(sent, std::fabs(send->left[i]));
    EXPECT_EQ(sent, 0.0f);
    Block(512);
    for (long i = 0; i < 512; ++i)
        sent = std::max(sent, std::fabs(send->left[i]));
    EXPECT_GT(sent, 0.01f);
}

TEST_F(VoiceTest, SendsTakeTheirShareAndDistortionLowersTheDryPath)
{
    t.GetReverbEffect()->enabled = 1.0f;
    t.GetDistortionEffect()->enabled = 1.0f;
    SetFlatLine(def->lines[VoiceDef::kEffectsLine], {0.0f, 0.5f, 0.0f, 0.25f});
    TNote* n = Play();
    Block(256); // the block's send switches: reverb and distortion

    SoundBuffer* reverb = t.GetReverbBuffer();
    SoundBuffer* distortion = t.GetDistortionBuffer();
    reverb->ClearStereo(256);
    distortion->ClearStereo(256);
    std::vector<float> l(256, 0.0f), r(256, 0.0f);
    n->Render(l.data(), r.data(), 256, 0);
    float peak = 0.0f;
    for (long i = 0; i < 256; ++i)
    {
        ASSERT_FLOAT_EQ(distortion->left[i], 0.5f * reverb->left[i]) << i;
        ASSERT_NEAR(l[i], 1.5f * reverb->left[i], 1e-6f) << i;
        peak = std::max(peak, std::fabs(l[i]));
    }
    EXPECT_GT(peak, 0.05f);
}

TEST_F(VoiceTest, VoicesSendOnlyWhereTheBlockClearedTheSendBuffer)
{
    SetFlatLine(def->lines[VoiceDef::kEffectsLine], {0.0f, 0.5f, 0.5f, 0.5f});
    TNote* n = Play();
    Block(256); // every effect off in this block
    // Switched on after the block began: its send buffer was not cleared for this block.
    t.GetDelayEffect()->enabled = 1.0f;
    SoundBuffer* delay = t.GetDelayBuffer();
    delay->ClearStereo(256, 7.0f);
    std::vector<float> l(256, 0.0f), r(256, 0.0f);
    n->Render(l.data(), r.data(), 256, 0);
    for (long i = 0; i < 256; ++i)
        ASSERT_EQ(delay->left[i], 7.0f) << i;
    // The next block clears it and sends.
    Block(256);
    EXPECT_NE(delay->left[100], 7.0f);
}

// ---- time ------------------------------------------------------------------------------------

TEST(VoiceTime, PlayTimeIsRoundedAtEachBlockUnlessInTempo)
{
    HeadlessHost host(false, 48000.0f);
    Torvane& t = host.Instrument();
    t.NoteOnMidiEvent(0, 60, 100, 0);
    Voice* v = NoteFor(t, 60)->GetVoice(0);
    RenderDirect(t, 100);
    EXPECT_FLOAT_EQ(v->GetTime(), 91.875f);
    RenderDirect(t, 100);
    EXPECT_FLOAT_EQ(v->GetTime(), 92.0f + 91.875f);

    // In tempo: one 4/4 bar at 120 bpm (88200 samples at 44100) lasts 44100 units.
    t.GetVoiceDef(0)->parameters[VoiceDef::kTimelineInTempo] = 1.0f;
    t.NoteOnMidiEvent(0, 62, 100, 0);
    Voice* w = NoteFor(t, 62)->GetVoice(0);
    RenderDirect(t, 100);
    RenderDirect(t, 100);
    EXPECT_FLOAT_EQ(w->GetTime(), 2.0f * 100.0f * 0.91875f * 0.5f);
}

TEST_F(VoiceTest, LoopingTimelineWrapsThePlayTimeUntilRelease)
{
    def->loop.looping = true;
    def->loop.start = 0.0f;
    def->loop.end = 1000.0f;
    TNote* n = Play();
    for (int b = 0; b < 15; ++b)
        Block(100);
    EXPECT_EQ(n->GetVoice(0)->GetTime(), 500.0f);
    EXPECT_EQ(def->loop.position, 500.0f);

    // Loop after release off: the released voice runs on past the loop end.
    def->parameters[VoiceDef::kLoopAfterRelease] = 0.0f;
    def->parameters[VoiceDef::kReleaseTime] = 100000.0f;
    n->Release(0);
    for (int b = 0; b < 10; ++b)
        Block(100);
    EXPECT_EQ(n->GetVoice(0)->GetTime(), 1500.0f);
}

TEST_F(VoiceTest, FrozenVoiceGlidesTowardsTheEditTime)
{
    TNote* n = Play();
    Voice* v = n->GetVoice(0);
    t.timeFreeze = 1.0f;
    t.SetEditTime(1000.0f);
    Block();
    EXPECT_EQ(v->GetFreezePosition1(), 0.0f);
    EXPECT_EQ(v->GetFreezePosition2(), 100.0f);
    Block();
    EXPECT_EQ(v->GetFreezePosition1(), 100.0f);
    EXPECT_EQ(v->GetFreezePosition2(), 190.0f);

    // The amplitude comes from the frozen positions: at 230000 (inside the fade of the default
    // amplitude line) the level is lower than at the start.
    t.SetEditTime(250000.0f);
    for (int b = 0; b < 200; ++b)
        Block();
    const float frozen = n->GetVoice(0)->GetOscillator(0).Amplitude()[0].values[0];
    EXPECT_LT(frozen, 0.7f * 0.7f * 0.5f);
    EXPECT_GT(frozen, 0.0f);
}
