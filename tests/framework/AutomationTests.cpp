#include "framework/AutomatableParameterServer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

#include "framework/ParameterController.h"
#include "framework/PluginBase.h"
#include "framework/Streams.h"

#include <thread>

namespace
{

// A server whose host hears of every change (as the Audio Unit's parameter listeners do).
class TestServer : public AutomatableParameterServer
{
public:
    void AutomatableParameterChangeNotify(int index, float value) override
    {
        reports.emplace_back(index, value);
    }
    std::vector<std::pair<int, float>> reports;
};

class CountingListener : public ParamUpdateListener
{
public:
    void ParameterUpdated(float value, Parameter*) override { values.push_back(value); }
    std::vector<float> values;
};

class Knob : public ParameterController
{
public:
    void ParameterUpdated(float, Parameter*) override { ++heard; }
    int heard = 0;
};

using Reports = std::vector<std::pair<int, float>>;

struct ThreeParameters
{
    ThreeParameters()
    {
        a.Create("Volume", nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
        b.Create("Mode", nullptr, Parameter::Global, 0.0f, 3.0f, Parameter::Discrete);
        c.Create("Cutoff", nullptr, Parameter::Global, 0.0f, 10.0f, Parameter::Continuous);
        c = 2.0f;
        server.AddAutomatableParameter(&a);
        server.AddAutomatableParameter(&b);
        server.AddAutomatableParameter(&c);
    }
    Parameter a, b, c;
    TestServer server;
};

} // namespace

TEST(Automation, RegistrationOrderIsTheHostIndex)
{
    ThreeParameters t;
    // Each registration reports the starting value under its new index.
    EXPECT_EQ(t.server.reports, (Reports{{0, 0.0f}, {1, 0.0f}, {2, 0.2f}}));
    EXPECT_EQ(t.server.GetNumAutomatableParameters(), 3);
    EXPECT_EQ(t.server.GetAutomatableParameter(2), &t.c);
    EXPECT_FLOAT_EQ(t.server.GetAutomatableParameterValue(2), 0.2f);
}

TEST(Automation, HostChangesAreNotEchoed)
{
    ThreeParameters t;
    CountingListener other;
    t.c.AddUpdateListener(&other);
    t.server.reports.clear();

    t.server.SetAutomatableParameterValue(2, 0.5f);
    EXPECT_EQ(static_cast<float>(t.c), 5.0f);
    EXPECT_TRUE(t.server.reports.empty());
    EXPECT_EQ(other.values, (std::vector<float>{5.0f})); // everybody else hears it

    // Out of the normalised range: clamped by the parameter.
    t.server.SetAutomatableParameterValue(2, 1.5f);
    EXPECT_EQ(static_cast<float>(t.c), 10.0f);
    // A discrete parameter rounds: 0.5 of 0..3 is 1.5, which rounds to 2.
    t.server.SetAutomatableParameterValue(1, 0.5f);
    EXPECT_EQ(static_cast<float>(t.b), 2.0f);
    EXPECT_TRUE(t.server.reports.empty());
}

TEST(Automation, ChangesFromInsideAreReported)
{
    ThreeParameters t;
    t.server.reports.clear();

    Knob knob;
    knob.BindParameter(&t.c);
    knob.ControllerSetAll(0.75f);
    t.c = 1.0f;
    t.c.SetBool(false);
    EXPECT_EQ(t.server.reports, (Reports{{2, 0.75f}, {2, 0.1f}, {2, 0.0f}}));

    // A parameter that is not served is not reported.
    Parameter loose;
    loose.Create("Loose", nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    t.server.reports.clear();
    AutomatableParameterServer::UpdateListener listener(&t.server);
    listener.ParameterUpdated(0.5f, &loose);
    EXPECT_TRUE(t.server.reports.empty());
}

TEST(Automation, ATwiceServedParameterReportsItsFirstIndex)
{
    ThreeParameters t;
    t.server.AddAutomatableParameter(&t.a);
    EXPECT_EQ(t.server.reports.back(), (std::pair<int, float>{3, 0.0f}));
    t.server.reports.clear();
    t.a = 0.5f;
    // Both listener entries report under the first index; the host hears the value once.
    EXPECT_EQ(t.server.reports, (Reports{{0, 0.5f}}));
}

TEST(Automation, TheHostHearsOfAParameterOnlyWhenItsValueChanges)
{
    ThreeParameters t;
    t.server.reports.clear();
    Knob knob;
    knob.BindParameter(&t.c);

    // Set to what it holds, told again, loaded with the same value: nothing reaches the host.
    t.c = 2.0f;
    t.c.RefreshListeners();
    t.b.SetBool(false);
    float const same = 2.0f;
    StringReader r;
    r.Open(reinterpret_cast<char const*>(&same), sizeof same);
    t.c.Load(r);
    EXPECT_TRUE(t.server.reports.empty());

    // A load of another value tells the listeners twice; the host hears it once.
    knob.heard = 0;
    float const other = 4.0f;
    r.Open(reinterpret_cast<char const*>(&other), sizeof other);
    t.c.Load(r);
    EXPECT_EQ(t.server.reports, (Reports{{2, 0.4f}}));
    EXPECT_EQ(knob.heard, 2);

    // A value the host set is known to it: the same value from inside is not sent back.
    t.server.reports.clear();
    t.server.SetAutomatableParameterValue(0, 0.5f);
    t.a = 0.5f;
    EXPECT_TRUE(t.server.reports.empty());
    t.a = 0.25f;
    EXPECT_EQ(t.server.reports, (Reports{{0, 0.25f}}));
}

TEST(Automation, HostSideNames)
{
    ThreeParameters t;
    EXPECT_STREQ(t.server.GetAutomatableParameterName(0), "Volume");
    t.c.SetInstanceName("Voice 1");
    EXPECT_STREQ(t.server.GetAutomatableParameterName(2), "Voice 1 : Cutoff");

    char text[64];
    std::memset(text, 'x', sizeof text);
    t.server.GetAutomatableParameterName(2, text, sizeof text);
    EXPECT_STREQ(text, "Voice 1 : Cutoff");

    // A short host buffer gets a cut, terminated name and nothing beyond it.
    char small[9];
    std::memset(small, 'x', sizeof small);
    t.server.GetAutomatableParameterName(2, small, 8);
    EXPECT_STREQ(small, "Voice 1");
    EXPECT_EQ(small[8], 'x');
    t.server.GetAutomatableParameterName(2, small, 0);
    EXPECT_EQ(small[0], 'V');
}

TEST(Automation, HostIndicesOutOfRangeAreIgnored)
{
    ThreeParameters t;
    t.server.reports.clear();
    for (int index : {-1, 3, 1000, std::numeric_limits<int>::min()})
    {
        t.server.SetAutomatableParameterValue(index, 0.7f);
        EXPECT_EQ(t.server.GetAutomatableParameterValue(index), 0.0f);
        EXPECT_STREQ(t.server.GetAutomatableParameterName(index), "");
        char text[8] = "abc";
        t.server.GetAutomatableParameterName(index, text, sizeof text);
        EXPECT_STREQ(text, "");
        EXPECT_EQ(t.server.GetAutomatableParameter(index), nullptr);
    }
    EXPECT_EQ(static_cast<float>(t.a), 0.0f);
    EXPECT_EQ(static_cast<float>(t.b), 0.0f);
    EXPECT_EQ(static_cast<float>(t.c), 2.0f);
    EXPECT_TRUE(t.server.reports.empty());
}

TEST(Automation, NonFiniteHostValuesAreNotStored)
{
    ThreeParameters t;
    for (float v : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::infinity()})
    {
        t.server.SetAutomatableParameterValue(2, v);
        float const stored = t.c;
        EXPECT_TRUE(std::isfinite(stored));
        EXPECT_GE(stored, 0.0f);
        EXPECT_LE(stored, 10.0f);
    }
}

// ---------------------------------------------------------------------------------------------------
// Reports raised under the plug-in mutex

namespace
{

// B follows A upwards, as one cutoff pushes the other.
class Pusher : public ParamUpdateListener
{
public:
    Pusher(Parameter& from, Parameter& to) : from(from), to(to) {}
    void ParameterUpdated(float, Parameter*) override
    {
        if (static_cast<float>(from) > static_cast<float>(to)) to = static_cast<float>(from);
    }
    Parameter& from;
    Parameter& to;
};

// A plug-in that records each report and whether another thread could claim its mutex then. Its
// host hears of every change, or (onlyUser) only of the user's, and then B follows A.
class ReportingPlugin : public PluginBase, public AutomatableParameterServer
{
public:
    explicit ReportingPlugin(bool onlyUser = false) : PluginBase(0, nullptr, nullptr), onlyUser(onlyUser)
    {
        a.Create("A", nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
        b.Create("B", nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
        if (onlyUser) a.AddUpdateListener(&push);
        AddAutomatableParameter(&a);
        AddAutomatableParameter(&b);
        if (onlyUser) return;
        reports.clear();
        mutexFree.clear();
    }
    void Render(float*, float*, float*, float*, long, int) override {}
    bool ReportsOnlyUserChanges() const override { return onlyUser; }
    void AutomatableParameterChangeNotify(int index, float value) override
    {
        reports.emplace_back(index, value);
        bool freeElsewhere = false;
        std::thread probe(
            [&]
            {
                freeElsewhere = GetMutex().TryClaim();
                if (freeElsewhere) GetMutex().Release();
            });
        probe.join();
        mutexFree.push_back(freeElsewhere);
        if (inHandler) inHandler();
    }

    bool const onlyUser;
    Parameter a, b;
    Pusher push{a, b};
    Reports reports;
    std::vector<bool> mutexFree;
    std::function<void()> inHandler; // the host's doings inside its handler
};

} // namespace

TEST(Automation, ReportsRaisedUnderThePluginMutexAreSentAfterItsLastRelease)
{
    ReportingPlugin plugin;
    {
        AudioAPI::Lock outer(plugin.GetMutex());
        plugin.a = 0.25f;
        {
            AudioAPI::Lock inner(plugin.GetMutex());
            plugin.b = 0.5f;
        }
        plugin.a = 0.75f;
        // Nothing reaches the host while the mutex is held, even after an inner release; a
        // parameter waits once, with its latest value.
        EXPECT_TRUE(plugin.reports.empty());
        EXPECT_EQ(plugin.GetPluginMutex().QueuedReports(), 2);
    }
    EXPECT_EQ(plugin.reports, (Reports{{0, 0.75f}, {1, 0.5f}}));
    EXPECT_EQ(plugin.mutexFree, (std::vector<bool>{true, true}));

    // Changed and changed back in one hold: the host already has the value.
    plugin.reports.clear();
    {
        AudioAPI::Lock hold(plugin.GetMutex());
        plugin.b = 0.9f;
        plugin.b = 0.5f;
    }
    EXPECT_TRUE(plugin.reports.empty());

    // Without the mutex a change is reported at once, by the changing thread.
    plugin.reports.clear();
    plugin.b = 0.125f;
    EXPECT_EQ(plugin.reports, (Reports{{1, 0.125f}}));
    // A host change is still not echoed.
    plugin.SetAutomatableParameterValue(0, 0.5f);
    EXPECT_EQ(plugin.reports.size(), 1u);
}

TEST(Automation, ManyChangesInOneHoldReachTheHostOnceAParameterWithItsLatestValue)
{
    ReportingPlugin plugin;
    int const changes = PluginMutex::kMaxQueuedReports + 40;
    {
        AudioAPI::Lock hold(plugin.GetMutex());
        for (int i = 0; i < changes; ++i)
        {
            Parameter& p = i % 2 ? plugin.b : plugin.a;
            p = static_cast<float>(i) / static_cast<float>(changes);
        }
    }
    ASSERT_EQ(plugin.reports.size(), 2u);
    EXPECT_EQ(plugin.reports[0].first, 0);
    EXPECT_FLOAT_EQ(plugin.reports[0].second, plugin.a.ControllerGet());
    EXPECT_EQ(plugin.reports[1].first, 1);
    EXPECT_FLOAT_EQ(plugin.reports[1].second, plugin.b.ControllerGet());
}

TEST(Automation, AReportFromAThreadWithoutTheMutexIsNotQueuedBehindTheHolder)
{
    ReportingPlugin plugin;
    AudioAPI::Lock hold(plugin.GetMutex());
    std::thread other([&] { plugin.b = 0.5f; });
    other.join();
    EXPECT_EQ(plugin.reports, (Reports{{1, 0.5f}}));
    EXPECT_EQ(plugin.GetPluginMutex().QueuedReports(), 0);
}

// ---------------------------------------------------------------------------------------------------
// A host that hears only the user's changes

TEST(Automation, AHostThatHearsOnlyTheUserHearsNothingElse)
{
    ReportingPlugin plugin(true);
    ReportingPlugin other(true);
    // Built: nothing, and the host's value is the starting one.
    EXPECT_TRUE(plugin.reports.empty());

    // Nobody's change, another editor's input: nothing. The user's: reported.
    plugin.a = 0.25f;
    {
        EditorInput::Scope elsewhere(&other);
        plugin.a = 0.75f;
    }
    EXPECT_TRUE(plugin.reports.empty());
    {
        EditorInput::Scope user(&plugin);
        plugin.a = 0.8f;
        EditorInput::Scope nobody(nullptr);
        plugin.a = 0.9f;
    }
    // The user's change and what it pushed on.
    EXPECT_EQ(plugin.reports, (Reports{{1, 0.8f}, {0, 0.8f}}));
    // The value before nobody's change, set back by the user: the host hears it.
    plugin.reports.clear();
    {
        EditorInput::Scope user(&plugin);
        plugin.a = 0.8f;
    }
    EXPECT_EQ(plugin.reports, (Reports{{0, 0.8f}}));

    // Under the mutex: the user's change told again by nobody stays the user's; replaced by
    // nobody's value, it is not sent.
    plugin.reports.clear();
    {
        AudioAPI::Lock hold(plugin.GetMutex());
        {
            EditorInput::Scope user(&plugin);
            plugin.a = 0.85f;
            plugin.b = 0.95f;
        }
        plugin.a.RefreshListeners();
        plugin.b = 0.7f;
    }
    EXPECT_EQ(plugin.reports, (Reports{{0, 0.85f}}));

    // A change of the user's on another thread (a learned controller): its changes only.
    plugin.reports.clear();
    {
        AutomatableParameterServer::UserChange learned(plugin);
        std::thread elsewhere([&] { plugin.b = 0.1f; });
        elsewhere.join();
        plugin.b = 0.2f;
    }
    plugin.b = 0.3f;
    EXPECT_EQ(plugin.reports, (Reports{{1, 0.2f}}));

    // The host's own calls, also from inside its handler of the user's change, and what they
    // push on: nothing.
    plugin.reports.clear();
    bool once = true;
    plugin.inHandler = [&]
    {
        if (!std::exchange(once, false)) return;
        plugin.SetAutomatableParameterValue(0, 0.99f);
        plugin.b = 0.05f;
    };
    {
        EditorInput::Scope user(&plugin);
        plugin.a = 0.0f;
        plugin.SetAutomatableParameterValue(0, 0.6f);
    }
    EXPECT_EQ(plugin.reports, (Reports{{0, 0.0f}}));
    EXPECT_EQ(static_cast<float>(plugin.b), 0.6f);
}
