#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "framework/MidiLearn.h"
#include "framework/Notifications.h"
#include "framework/Parameter.h"
#include "framework/ParameterController.h"
#include "framework/ParameterHost.h"
#include "framework/Streams.h"
#include "framework/String.h"
#include "platform/CascadeList.h"

namespace
{
// Records every notification it hears.
struct Recorder : ParamUpdateListener
{
    std::vector<std::pair<float, Parameter*>> calls;
    void ParameterUpdated(float value, Parameter* changed) override { calls.emplace_back(value, changed); }
};

// A control: records what it hears, moves its parameters through ControllerSetAll.
struct TestControl : ParameterController
{
    std::vector<float> heard;
    void ParameterUpdated(float value, Parameter*) override { heard.push_back(value); }
};

std::vector<unsigned char> Bytes(String const& s)
{
    char const* p = s;
    return std::vector<unsigned char>(p, p + s.GetLength());
}

float Nan()
{
    return std::numeric_limits<float>::quiet_NaN();
}

float Inf()
{
    return std::numeric_limits<float>::infinity();
}

// Installs a scripted chooser for the life of the object; records each popup's entries.
struct ScriptedPopup
{
    long choose; // id to choose, -1 to dismiss
    int shown = 0;
    std::vector<std::pair<long, std::string>> entries; // id -1 marks a separator
    CascadeList::Chooser previous;

    explicit ScriptedPopup(long id) : choose(id)
    {
        previous = CascadeList::SetChooser(
            [this](CascadeList& list, Window*, long, long) -> CascadeList::Item*
            {
                ++shown;
                entries.clear();
                CascadeList::Item* chosen = nullptr;
                for (CascadeList::Entry const& e : list.GetEntries())
                {
                    if (!e.item)
                    {
                        entries.emplace_back(-1, "");
                        continue;
                    }
                    entries.emplace_back(e.item->id, e.item->name);
                    if (e.item->id == choose) chosen = e.item;
                }
                return chosen;
            });
    }
    ~ScriptedPopup() { CascadeList::SetChooser(previous); }
};
} // namespace

TEST(ParameterSet, DiscreteValuesRoundByTruncationThenHalfUp)
{
    Parameter p;
    p.Create("d", nullptr, Parameter::Global, -10.0f, 10.0f, Parameter::Discrete);
    struct Case
    {
        float in, out;
    } const cases[] = {
        {2.5f, 3.0f}, {2.4f, 2.0f},  {-2.7f, -2.0f}, {-2.5f, -2.0f},  {0.5f, 1.0f},
        {3.0f, 3.0f}, {0.49f, 0.0f}, {9.6f, 10.0f},  {-9.99f, -9.0f},
    };
    for (Case const& c : cases)
    {
        p = c.in;
        EXPECT_EQ(static_cast<float>(p), c.out) << "set " << c.in;
    }
}

TEST(ParameterSet, ClampsIntoTheRangeWhicheverEndIsLarger)
{
    Parameter up;
    up.Create("up", nullptr, Parameter::Global, 0.0f, 10.0f, Parameter::Continuous);
    Parameter down;
    down.Create("down", nullptr, Parameter::Global, 10.0f, 0.0f, Parameter::Continuous);
    EXPECT_TRUE(up.GetSmallToBig());
    EXPECT_FALSE(down.GetSmallToBig());
    EXPECT_FLOAT_EQ(down.GetRange(), -10.0f);

    struct Case
    {
        float in, out;
    } const cases[] = {{12.0f, 10.0f}, {-1.0f, 0.0f}, {5.5f, 5.5f}, {10.0f, 10.0f}, {0.0f, 0.0f}};
    for (Case const& c : cases)
    {
        EXPECT_EQ(up.Set(c.in, nullptr), c.out) << "up " << c.in;
        EXPECT_EQ(down.Set(c.in, nullptr), c.out) << "down " << c.in;
    }
}

TEST(ParameterSet, DiscreteRoundsBeforeClamping)
{
    // Range ends that are not whole: rounding comes first, then the clamp.
    Parameter p;
    p.Create("d", nullptr, Parameter::Global, 0.0f, 2.4f, Parameter::Discrete);
    EXPECT_EQ(p.Set(2.45f, nullptr), 2.0f);
    EXPECT_EQ(p.Set(2.6f, nullptr), 2.4f);

    Parameter inverted;
    inverted.Create("i", nullptr, Parameter::Global, 10.0f, 0.0f, Parameter::Discrete);
    EXPECT_EQ(inverted.Set(2.5f, nullptr), 3.0f);
    EXPECT_EQ(inverted.Set(-2.7f, nullptr), 0.0f);
    EXPECT_EQ(inverted.Set(11.0f, nullptr), 10.0f);
}

TEST(ParameterSet, HugeDiscreteValuesClampWithoutOverflow)
{
    Parameter p;
    p.Create("d", nullptr, Parameter::Global, -5.0f, 5.0f, Parameter::Discrete);
    EXPECT_EQ(p.Set(1e20f, nullptr), 5.0f);
    EXPECT_EQ(p.Set(-3e38f, nullptr), -5.0f);
    EXPECT_EQ(p.Set(std::numeric_limits<float>::max(), nullptr), 5.0f);
}

TEST(ParameterSet, NonFiniteValuesAreRefused)
{
    Parameter p;
    p.Create("p", nullptr, Parameter::Global, 0.0f, 10.0f, Parameter::Discrete);
    Recorder r;
    p.AddUpdateListener(&r);
    p = 4.0f;
    p = 6.0f;
    r.calls.clear();

    for (float bad : {Nan(), Inf(), -Inf()})
    {
        EXPECT_EQ(p.Set(bad, nullptr), 6.0f);
        EXPECT_EQ(p = bad, 6.0f);
        EXPECT_EQ(p.ControllerSet(bad, nullptr), p.Normalise(6.0f));
    }
    EXPECT_EQ(static_cast<float>(p), 6.0f);
    EXPECT_EQ(p.GetOldValue(), 4.0f);
    EXPECT_TRUE(r.calls.empty());

    // From a stream: the NaN is refused, the listeners still hear the refresh of the kept value.
    String block;
    StringWriter w;
    w.Open(&block);
    w.Write(Nan());
    StringReader in;
    in.Open(block, static_cast<std::size_t>(block.GetLength()));
    p.Load(in);
    EXPECT_EQ(static_cast<float>(p), 6.0f);
    ASSERT_EQ(r.calls.size(), 1u);
    EXPECT_EQ(r.calls[0].first, 6.0f);
}

TEST(ParameterSet, NotifiesEveryListenerButTheAuthorEvenWhenUnchanged)
{
    Parameter p;
    p.Create("p", nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    Recorder a, b, c;
    p.AddUpdateListener(&a);
    p.AddUpdateListener(&b);
    p.AddUpdateListener(&c);
    p.AddUpdateListener(&a); // duplicates are allowed and heard twice

    p.Set(0.0f, &b); // same value as before
    EXPECT_EQ(a.calls.size(), 2u);
    EXPECT_TRUE(b.calls.empty());
    EXPECT_EQ(c.calls.size(), 1u);
    EXPECT_EQ(c.calls[0].second, &p);

    p.RemoveUpdateListener(&a); // first occurrence only
    p = 0.5f;
    EXPECT_EQ(a.calls.size(), 3u);
    EXPECT_EQ(b.calls.size(), 1u);
    p.RemoveUpdateListener(&a);
    p.RemoveUpdateListener(&a); // absent: nothing
    p = 0.25f;
    EXPECT_EQ(a.calls.size(), 3u);
    EXPECT_EQ(c.calls.back().first, 0.25f);
}

TEST(ParameterSet, ListenersReadTheValueAfterEarlierListenersChangedIt)
{
    Parameter p;
    p.Create("p", nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    struct Doubler : ParamUpdateListener
    {
        bool busy = false;
        void ParameterUpdated(float value, Parameter* changed) override
        {
            if (busy) return;
            busy = true;
            changed->Set(value * 2.0f, this);
            busy = false;
        }
    } doubler;
    Recorder later;
    p.AddUpdateListener(&doubler);
    p.AddUpdateListener(&later);

    EXPECT_EQ(p.Set(0.25f, nullptr), 0.5f);
    // The inner set tells `later` 0.5, then the outer walk re-reads 0.5 for it too.
    ASSERT_EQ(later.calls.size(), 2u);
    EXPECT_EQ(later.calls[0].first, 0.5f);
    EXPECT_EQ(later.calls[1].first, 0.5f);
}

TEST(ParameterSet, PreviousValueFollowsSetButNotControllerSet)
{
    Parameter p;
    p.Create("p", nullptr, Parameter::Global, 0.0f, 10.0f, Parameter::Continuous);
    EXPECT_EQ(p.GetOldValue(), 0.0f);
    p = 3.0f;
    p = 7.0f;
    EXPECT_EQ(p.GetOldValue(), 3.0f);
    p.ControllerSet(0.5f, nullptr);
    EXPECT_EQ(static_cast<float>(p), 5.0f);
    EXPECT_EQ(p.GetOldValue(), 3.0f);
    p.PostRender();
    EXPECT_EQ(p.GetOldValue(), 5.0f);
}

TEST(ParameterSet, ControllerSetSkipsTheMovingControlAndUnchangedPositions)
{
    Parameter p;
    p.Create("p", nullptr, Parameter::Global, 0.0f, 10.0f, Parameter::Discrete);
    TestControl moving;
    moving.BindParameter(&p);
    Recorder other;
    p.AddUpdateListener(&other);
    moving.heard.clear();

    EXPECT_FLOAT_EQ(p.ControllerSet(0.26f, &moving), 0.3f); // 2.6 rounds to 3
    EXPECT_EQ(static_cast<float>(p), 3.0f);
    EXPECT_TRUE(moving.heard.empty());
    ASSERT_EQ(other.calls.size(), 1u);
    EXPECT_EQ(other.calls[0].first, 3.0f);

    // 0.31 maps to 3.1, which rounds to the value already held: nobody is told.
    EXPECT_FLOAT_EQ(p.ControllerSet(0.31f, nullptr), 0.3f);
    EXPECT_EQ(other.calls.size(), 1u);
    EXPECT_TRUE(moving.heard.empty());

    // Beyond the ends: clamped.
    EXPECT_FLOAT_EQ(p.ControllerSet(1.5f, &moving), 1.0f);
    EXPECT_EQ(static_cast<float>(p), 10.0f);
}

TEST(ParameterSet, SetBoolStoresOneOrZeroWithoutClamping)
{
    Parameter p;
    p.Create("p", nullptr, Parameter::Global, 0.0f, 0.5f, Parameter::Continuous);
    Recorder r;
    p.AddUpdateListener(&r);
    p = 0.25f;
    p.SetBool(true);
    EXPECT_EQ(static_cast<float>(p), 1.0f);
    EXPECT_EQ(p.GetOldValue(), 0.25f);
    EXPECT_TRUE(p.GetBool());
    p.SetBool(true); // unchanged, still told
    EXPECT_EQ(r.calls.size(), 3u);
    p.SetBool(false);
    EXPECT_EQ(static_cast<float>(p), 0.0f);
    EXPECT_FALSE(p.GetBool());

    Parameter b;
    b.CreateBool("b", nullptr, Parameter::Private);
    EXPECT_TRUE(b.IsDiscrete());
    EXPECT_EQ(b.GetMinValue(), 0.0f);
    EXPECT_EQ(b.GetMaxValue(), 1.0f);
    b = 0.5f;
    EXPECT_TRUE(b.GetBool());
    EXPECT_EQ(b.GetInt(), 1);
}

TEST(ParameterSet, EffectiveValueAppliesAnActiveModulationInput)
{
    Parameter p;
    p.Create("p", nullptr, Parameter::Global, -10.0f, 10.0f, Parameter::Continuous);
    p = -2.7f;
    EXPECT_EQ(p.GetInt(), -2); // truncated toward zero

    ModulationValues* mod = p.GetModValues(0);
    mod->values[0] = 0.5f;
    mod->active = true;
    p = 0.8f;
    EXPECT_EQ(static_cast<float>(p), 0.4f);
    EXPECT_TRUE(p.GetBool()); // reads the stored value
    EXPECT_EQ(p.GetInt(), 0);

    p.SetModulationBypass(true);
    EXPECT_EQ(static_cast<float>(p), 0.8f);
}

TEST(ParameterNormalise, LinearAndCubeLawMapTheRange)
{
    Parameter p;
    p.Create("p", nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    p.SetCurveType(Parameter::CubeLaw);
    EXPECT_EQ(p.UnNormalise(0.5f), 0.125f);
    EXPECT_FLOAT_EQ(p.Normalise(0.125f), 0.5f);

    Parameter q;
    q.Create("q", nullptr, Parameter::Global, 20.0f, 100.0f, Parameter::Continuous);
    EXPECT_EQ(q.UnNormalise(0.25f), 40.0f);
    EXPECT_EQ(q.Normalise(40.0f), 0.25f);
    // Neither mapping clamps.
    EXPECT_EQ(q.UnNormalise(1.5f), 140.0f);
    EXPECT_EQ(q.Normalise(0.0f), -0.25f);
}

TEST(ParameterNormalise, CubeLawMatchesAReferenceAndRoundTrips)
{
    struct Range
    {
        float min, max;
    } const ranges[] = {{0.0f, 1.0f}, {256.0f, 352800.0f}, {0.05f, 1.0f}, {10.0f, -10.0f}, {-3.0f, 5.0f}};
    for (Range const& range : ranges)
    {
        for (Parameter::CurveType curve : {Parameter::Linear, Parameter::CubeLaw})
        {
            Parameter p;
            p.Create("p", nullptr, Parameter::Global, range.min, range.max, Parameter::Continuous);
            p.SetCurveType(curve);
            float const r = range.max - range.min;
            for (int i = 0; i <= 64; ++i)
            {
                float const t = static_cast<float>(i) / 64.0f;
                float const v = p.UnNormalise(t);
                float const expectedV =
                    curve == Parameter::CubeLaw ? range.min + r * t * t * t : range.min + r * t;
                EXPECT_EQ(v, expectedV);

                float const n = p.Normalise(v);
                float const u = (v - range.min) / r;
                float const expectedN =
                    curve == Parameter::CubeLaw ? static_cast<float>(std::pow(double(u), 1.0 / 3.0)) : u;
                EXPECT_NEAR(n, expectedN, 2e-6f);
                EXPECT_NEAR(n, t, 1e-3f)
                    << range.min << ".." << range.max << " curve " << curve << " t " << t;
            }
        }
    }
}

TEST(ParameterNormalise, ControllerGetIsTheNormalisedEffectiveValue)
{
    Parameter p;
    p.Create("p", nullptr, Parameter::Global, 0.0f, 8.0f, Parameter::Continuous);
    p.SetCurveType(Parameter::CubeLaw);
    p = 1.0f;
    EXPECT_FLOAT_EQ(p.ControllerGet(), 0.5f);
    EXPECT_FLOAT_EQ(p.ControllerSet(0.75f, nullptr), 0.75f);
    EXPECT_FLOAT_EQ(static_cast<float>(p), 8.0f * 0.75f * 0.75f * 0.75f);
}

TEST(ParameterSetUp, CreateRangeTypeAndRefreshes)
{
    ParameterHost host;
    Parameter p;
    p.Create("Cutoff", &host, Parameter::Internal, 20.0f, 100.0f, Parameter::Continuous);
    EXPECT_EQ(p.GetHost(), &host);
    EXPECT_EQ(p.GetScope(), Parameter::Internal);
    EXPECT_EQ(static_cast<float>(p), 20.0f);
    EXPECT_EQ(p.GetOldValue(), 20.0f);
    EXPECT_TRUE(p.IsContinuous());

    Recorder r;
    p.AddUpdateListener(&r);
    p = 60.0f;
    p.SetMinMax(30.0f, 50.0f, false);
    EXPECT_EQ(static_cast<float>(p), 30.0f);
    EXPECT_EQ(p.GetOldValue(), 20.0f); // untouched
    EXPECT_EQ(r.calls.size(), 1u);
    p.SetMinMax(50.0f, 30.0f, true);
    EXPECT_FALSE(p.GetSmallToBig());
    EXPECT_EQ(r.calls.size(), 2u);
    EXPECT_EQ(r.calls.back().first, 50.0f);

    p.SetType(Parameter::Discrete, false);
    EXPECT_TRUE(p.IsDiscrete());
    EXPECT_EQ(r.calls.size(), 2u);
    p.SetType(Parameter::Continuous, true);
    EXPECT_EQ(r.calls.size(), 3u);
    p.RefreshListeners();
    EXPECT_EQ(r.calls.size(), 4u);
    EXPECT_EQ(r.calls.back().first, 50.0f);
}

TEST(ParameterSetUp, NamesAreCopiedWithABound)
{
    std::string longName(300, 'x');
    Parameter p;
    p.Create(longName.c_str(), nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    EXPECT_EQ(std::strlen(p.GetName()), 255u);
    EXPECT_EQ(std::string(p.GetName()), longName.substr(0, 255));
    EXPECT_STREQ(p.GetInstanceName(), "");
    p.SetInstanceName(longName.c_str());
    EXPECT_EQ(std::strlen(p.GetInstanceName()), 255u);
    p.SetInstanceName(nullptr);
    EXPECT_STREQ(p.GetInstanceName(), "");

    Parameter q;
    q.Create("Level", nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    EXPECT_TRUE(q.Is("Level"));
    EXPECT_FALSE(q.Is("level"));
    EXPECT_FALSE(q.Is("Level "));
    EXPECT_FALSE(q.Is(nullptr));
}

TEST(ParameterStream, SaveWritesTheStoredValueAndLoadTellsListenersTwice)
{
    Parameter p;
    p.Create("p", nullptr, Parameter::Global, 0.0f, 10.0f, Parameter::Discrete);
    p = 1.0f;
    ModulationValues* mod = p.GetModValues(0);
    mod->values[0] = 3.0f;
    mod->active = true; // the stream holds the stored value, not the effective one

    String block;
    StringWriter w;
    w.Open(&block);
    p.Save(w);
    EXPECT_EQ(Bytes(block), (std::vector<unsigned char>{0x00, 0x00, 0x80, 0x3F}));

    Parameter q;
    q.Create("p", nullptr, Parameter::Global, 0.0f, 10.0f, Parameter::Discrete);
    Recorder r;
    q.AddUpdateListener(&r);
    String in;
    StringWriter w2;
    w2.Open(&in);
    w2.Write(12.6f); // rounded, then clamped
    StringReader reader;
    reader.Open(in, static_cast<std::size_t>(in.GetLength()));
    q.Load(reader);
    EXPECT_EQ(static_cast<float>(q), 10.0f);
    ASSERT_EQ(r.calls.size(), 2u);
    EXPECT_EQ(r.calls[0].first, 10.0f);
    EXPECT_EQ(r.calls[1].first, 10.0f);
}

TEST(ParameterStream, ToStringDescribesTheParameter)
{
    Parameter p;
    p.Create("Polyphony", nullptr, Parameter::Global, 1.0f, 16.0f, Parameter::Discrete);
    p = 8.0f;
    EXPECT_STREQ(p.ToString(), "Name:\tPolyphony\nType:\tDiscrete\nValue:\t8.000000\n");
    Parameter q;
    q.Create("Level", nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    q = 0.25f;
    EXPECT_STREQ(q.ToString(), "Name:\tLevel\nType:\tContinuous\nValue:\t0.250000\n");
}

TEST(ParameterDeZip, PostRenderWalkKeepsThePreviousValueOfEachBlock)
{
    NextBufferListener root;
    Parameter p;
    p.Create("p", nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    p = 0.2f;
    p = 0.6f;
    p.EnableDeZipping(&root, true);
    EXPECT_TRUE(p.GetDeZipping());
    EXPECT_EQ(p.GetOldValue(), 0.6f);
    EXPECT_EQ(root.NumListeners(), 1u);

    p = 0.9f;
    EXPECT_EQ(p.GetOldValue(), 0.6f);
    root._HandlePostRenderNotification();
    EXPECT_EQ(p.GetOldValue(), 0.9f);

    p.EnableDeZipping(&root, false);
    EXPECT_EQ(root.NumListeners(), 0u);
    p = 0.1f;
    root._HandlePostRenderNotification();
    EXPECT_EQ(p.GetOldValue(), 0.9f);
}

TEST(ParameterMidiLearn, WithoutAManagerNothingHappens)
{
    ScriptedPopup popup(0);
    Parameter p;
    p.Create("p", nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    EXPECT_FALSE(p.MidiLearnEnabled());
    p.MidiLearnStart();
    p.MidiLearnCancel();
    p.MidiLearnRemoveMapping();
    EXPECT_FALSE(p.MidiLearnIsListening());
    EXPECT_FALSE(p.MidiLearnMapped());
    p.MidiLearnShowPopup(nullptr, 10, 20);
    EXPECT_EQ(popup.shown, 0);
}

TEST(ParameterMidiLearn, PopupOffersLearnCancelAndDisconnect)
{
    MidiLearnManager manager;
    Parameter p;
    p.Create("Cutoff", nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    p.SetMidiLearnManager(&manager);
    ASSERT_TRUE(p.MidiLearnEnabled());

    {
        ScriptedPopup popup(0);
        p.MidiLearnShowPopup(nullptr, 1, 2);
        ASSERT_EQ(popup.shown, 1);
        ASSERT_EQ(popup.entries.size(), 1u);
        EXPECT_EQ(popup.entries[0],
                  (std::pair<long, std::string>(
                      0, "MIDI Learn (click here, then move MIDI controller to assign it to me)")));
        EXPECT_TRUE(p.MidiLearnIsListening());
    }
    {
        ScriptedPopup popup(-1); // dismissed: still listening
        p.MidiLearnShowPopup(nullptr, 1, 2);
        ASSERT_EQ(popup.entries.size(), 1u);
        EXPECT_EQ(popup.entries[0], (std::pair<long, std::string>(1, "Cancel MIDI Learn")));
        EXPECT_TRUE(p.MidiLearnIsListening());
    }
    {
        ScriptedPopup popup(1);
        p.MidiLearnShowPopup(nullptr, 1, 2);
        EXPECT_FALSE(p.MidiLearnIsListening());
    }

    p.MidiLearnStart();
    manager.ControlChangeMidiEvent(0, 74, 100, 0);
    ASSERT_TRUE(p.MidiLearnMapped());
    {
        ScriptedPopup popup(2);
        p.MidiLearnShowPopup(nullptr, 1, 2);
        ASSERT_EQ(popup.entries.size(), 3u);
        EXPECT_EQ(popup.entries[0].first, 0);
        EXPECT_EQ(popup.entries[1].first, -1);
        EXPECT_EQ(popup.entries[2], (std::pair<long, std::string>(2, "Disconnect from MIDI controller")));
        EXPECT_FALSE(p.MidiLearnMapped());
    }
}

// One thread sets parameters as a host's automation would, the other reads them as the audio
// thread does. Every value read must be one that was set (no torn floats), inside the range.
TEST(ParameterThreads, ValuesReadWhileSetElsewhereAreNeverTorn)
{
    ParameterHost host;
    Parameter a, b;
    a.Create("a", &host, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    b.Create("b", &host, Parameter::Global, -100.0f, 100.0f, Parameter::Discrete);
    NextBufferListener root;
    a.EnableDeZipping(&root, true);

    std::atomic<bool> done{false};
    std::thread setter(
        [&]
        {
            for (int i = 0; i < 20000; ++i)
            {
                a = (i % 2) ? 0.25f : 0.75f;
                b.Set(static_cast<float>(i % 201 - 100) + 0.4f, &host);
            }
            done = true;
        });

    long bad = 0;
    long reads = 0;
    while (!done.load() || reads < 1000)
    {
        float va = static_cast<float>(a);
        float old = a.GetOldValue();
        float vb = static_cast<float>(b);
        if (va != 0.0f && va != 0.25f && va != 0.75f) ++bad;
        if (old != 0.0f && old != 0.25f && old != 0.75f) ++bad;
        if (vb != std::trunc(vb) || vb < -100.0f || vb > 100.0f) ++bad;
        root._HandlePostRenderNotification();
        ++reads;
    }
    setter.join();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(static_cast<float>(a), 0.25f);
    EXPECT_EQ(static_cast<float>(b), 0.0f);
}
