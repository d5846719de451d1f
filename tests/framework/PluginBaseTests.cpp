#include "framework/PluginBase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "framework/Paths.h"
#include "framework/Streams.h"
#include "framework/String.h"
#include "support/RecordingEditor.h"

namespace
{

// A plug-in with one gain parameter that renders a constant block of it,
// holding the plug-in mutex for the whole block as the instrument does.
class TestPlugin : public PluginBase
{
public:
    TestPlugin() : PluginBase(0, nullptr, nullptr)
    {
        gain.Create("Gain", this, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
        steps.Create("Steps", this, Parameter::Internal, 0.0f, 8.0f, Parameter::Discrete);
    }

    void Render(float*, float*, float* outL, float* outR, long frames, int outputPair) override
    {
        AudioAPI::Lock hold(GetMutex());
        lastPair = outputPair;
        float const g = gain;
        for (long i = 0; i < frames; ++i)
        {
            outL[i] += g;
            outR[i] += g;
        }
    }
    void GUIOpened() override { events.push_back("opened"); }
    void GUIClosed() override { events.push_back("closed"); }

    Parameter gain;
    Parameter steps;
    int lastPair = -1;
    std::vector<std::string> events;
};

struct Payload
{
    explicit Payload(int* deletions) : deletions(deletions) {}
    ~Payload() { ++*deletions; }
    int* deletions;
};

} // namespace

TEST(PluginBase, NothingIsQueuedWithoutAnEditor)
{
    TestPlugin plugin;
    EXPECT_FALSE(plugin.HasGUI());
    EXPECT_EQ(plugin.GetGUI(), nullptr);
    plugin.UpdateGUIAll();
    plugin.UpdateGUISpecific(3, std::make_shared<int>(1));
    plugin.PostEditorRequests(PluginBase::kFirstDerivedEditorRequest);
    EXPECT_FALSE(plugin.GetGUINotificationQueue().NotEmpty());
    EXPECT_FALSE(plugin.EditorRequestsPending());

    RecordingPluginEditor editor;
    plugin.SetGUI(&editor);
    EXPECT_TRUE(plugin.HasGUI());
    EXPECT_EQ(plugin.GetGUI(), &editor);
    EXPECT_FALSE(plugin.EditorRequestsPending());
    plugin.ProcessGUINotifications();
    EXPECT_TRUE(editor.Calls().empty());
    plugin.SetGUI(nullptr);
}

TEST(PluginBase, RequestsWaitForTheDrainAndArriveInOrder)
{
    TestPlugin plugin;
    RecordingPluginEditor editor;
    editor.Watch(&plugin.GetMutex());
    plugin.SetGUI(&editor);

    int rawDeletions = 0;
    Payload raw(&rawDeletions);
    int sharedDeletions = 0;
    plugin.UpdateGUISpecific(3, static_cast<void*>(&raw));
    plugin.UpdateGUISpecific(7, std::shared_ptr<void>(std::make_shared<Payload>(&sharedDeletions)));
    plugin.UpdateGUIAll();
    plugin.UpdateGUIAll(); // merges with the first
    // Posting calls nothing.
    EXPECT_TRUE(editor.Calls().empty());
    EXPECT_TRUE(plugin.EditorRequestsPending());

    plugin.ProcessGUINotifications();
    EXPECT_EQ(editor.Calls(), (std::vector<std::string>{"UpdateAll", "UpdateSpecific 3", "UpdateSpecific 7",
                                                        "NotificationQueueChanged"}));
    EXPECT_FALSE(plugin.EditorRequestsPending());
    // The raw payload stays the caller's; the shared one lives as long as a holder.
    EXPECT_EQ(editor.SpecificData()[0].get(), &raw);
    EXPECT_EQ(rawDeletions, 0);
    EXPECT_EQ(sharedDeletions, 0);

    // A drain with nothing posted delivers nothing.
    plugin.ProcessGUINotifications();
    EXPECT_EQ(editor.Calls().size(), 4u);
    plugin.SetGUI(nullptr);
    EXPECT_EQ(rawDeletions, 0);
    EXPECT_EQ(editor.violations.load(), 0);
}

TEST(PluginBase, OnlyTheEditorsThreadOutsideTheMutexDrainsThread)
{
    TestPlugin plugin;
    RecordingPluginEditor editor;
    editor.Watch(&plugin.GetMutex());
    plugin.SetGUI(&editor);
    plugin.UpdateGUIAll();
    plugin.UpdateGUISpecific(1, nullptr);

    std::thread([&] { plugin.ProcessGUINotifications(); }).join();
    {
        AudioAPI::Lock hold(plugin.GetMutex());
        plugin.ProcessGUINotifications();
    }
    EXPECT_TRUE(editor.Calls().empty());
    EXPECT_TRUE(plugin.EditorRequestsPending());

    plugin.ProcessGUINotifications();
    EXPECT_EQ(editor.Calls(),
              (std::vector<std::string>{"UpdateAll", "UpdateSpecific 1", "NotificationQueueChanged"}));
    EXPECT_EQ(editor.violations.load(), 0);
    plugin.SetGUI(nullptr);
}

TEST(PluginBase, AttachingAndDetachingClearTheMailbox)
{
    TestPlugin plugin;
    RecordingPluginEditor first;
    plugin.SetGUI(&first);
    int deletions = 0;
    plugin.UpdateGUISpecific(1, std::shared_ptr<void>(std::make_shared<Payload>(&deletions)));
    plugin.UpdateGUIAll();
    ASSERT_TRUE(plugin.GetGUINotificationQueue().NotEmpty());

    RecordingPluginEditor second;
    plugin.SetGUI(&second);
    EXPECT_FALSE(plugin.EditorRequestsPending());
    EXPECT_EQ(deletions, 1); // the dropped entry released its payload
    EXPECT_EQ(plugin.GetGUI(), &second);

    plugin.UpdateGUIAll();
    plugin.SetGUI(nullptr);
    EXPECT_FALSE(plugin.EditorRequestsPending());
    EXPECT_FALSE(plugin.HasGUI());
    plugin.ProcessGUINotifications();
    EXPECT_TRUE(first.Calls().empty());
    EXPECT_TRUE(second.Calls().empty());
    EXPECT_EQ(plugin.events, (std::vector<std::string>{"opened", "opened", "closed"}));
}

TEST(PluginBase, AnEditorMayDetachWhileItDrains)
{
    // A handler that detaches the editor gets no further call.
    struct DetachingEditor : RecordingPluginEditor
    {
        explicit DetachingEditor(PluginBase& p) : plugin(p) {}
        void UpdateAll() override
        {
            RecordingPluginEditor::UpdateAll();
            plugin.SetGUI(nullptr);
        }
        PluginBase& plugin;
    };
    TestPlugin plugin;
    DetachingEditor editor(plugin);
    plugin.SetGUI(&editor);
    plugin.GetGUINotificationQueue().Push({1, 5, nullptr});
    plugin.GetGUINotificationQueue().Push({0, 0, nullptr});
    plugin.GetGUINotificationQueue().Push({1, 6, nullptr});
    plugin.ProcessGUINotifications();
    EXPECT_EQ(editor.Calls(), (std::vector<std::string>{"UpdateSpecific 5", "UpdateAll"}));
    EXPECT_FALSE(plugin.HasGUI());
    EXPECT_FALSE(plugin.GetGUINotificationQueue().NotEmpty());
}

TEST(PluginBase, BaseStateAndRendering)
{
    PluginState state;
    int size = 123;
    EXPECT_EQ(state.SavePluginState(size), nullptr);
    EXPECT_EQ(size, 0);
    state.RestorePluginState(nullptr, 5); // ignored

    TestPlugin plugin;
    plugin.gain = 0.25f;
    std::vector<float> left(16, 1.0f), right(16, 0.0f);
    plugin.CallGenericRender(nullptr, nullptr, left.data(), right.data(), 16, 0);
    EXPECT_EQ(plugin.lastPair, 0);
    EXPECT_TRUE(std::all_of(left.begin(), left.end(), [](float v) { return v == 1.25f; }));
    EXPECT_TRUE(std::all_of(right.begin(), right.end(), [](float v) { return v == 0.25f; }));

    EXPECT_EQ(plugin.GetNumParameters(), 0);
    plugin.SetNumParameters(40);
    EXPECT_EQ(plugin.GetNumParameters(), 40);
}

TEST(PluginBase, ItsParameterHostSavesTheValueStream)
{
    TestPlugin plugin;
    plugin.gain = 0.5f;
    plugin.steps = 3.0f;
    String block;
    StringWriter w;
    w.Open(&block);
    plugin.Save(w);
    w.Close();
    // Globals first, then internals: 0.5f, 3.0f, then the memory block's zero.
    unsigned char const expected[] = {0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x40, 0x40};
    ASSERT_EQ(block.GetLength(), 8);
    EXPECT_EQ(0, std::memcmp(static_cast<char const*>(block), expected, sizeof expected));

    TestPlugin other;
    StringReader r;
    r.Open(static_cast<char const*>(block), 8);
    other.Load(r);
    EXPECT_EQ(static_cast<float>(other.gain), 0.5f);
    EXPECT_EQ(static_cast<float>(other.steps), 3.0f);
}

TEST(PluginBase, ARootPathSetsTheFolders)
{
    String const root(GetRootPath()), images(GetImagePath()), data(GetDataPath()), presets(GetPresetsPath());
    {
        struct RootedPlugin : PluginBase
        {
            RootedPlugin() : PluginBase(0, "id", "/x/") {}
            void Render(float*, float*, float*, float*, long, int) override {}
        } plugin;
        EXPECT_STREQ(GetRootPath(), "/x/");
        EXPECT_STREQ(GetDataPath(), "/x/Data/");
    }
    SetRootPath(root);
    SetImagePath(images);
    SetDataPath(data);
    SetPresetsPath(presets);
}

// One thread sets parameters (as host automation does) and attaches and
// detaches an editor; the other renders blocks and queues redraws. Run under
// ThreadSanitizer to check the locking.
TEST(PluginBase, ParametersSetWhileAnotherThreadRenders)
{
    TestPlugin plugin;
    RecordingPluginEditor gui;
    gui.Watch(&plugin.GetMutex());
    std::atomic<bool> done{false};
    std::atomic<int> badBlocks{0};
    std::atomic<int> blocks{0};

    std::thread renderer(
        [&]
        {
            std::vector<float> left(64), right(64);
            while (!done.load())
            {
                std::fill(left.begin(), left.end(), 0.0f);
                std::fill(right.begin(), right.end(), 0.0f);
                plugin.CallGenericRender(nullptr, nullptr, left.data(), right.data(), 64, 0);
                // One value per block, within the range, never torn.
                float const first = left[0];
                bool const ok =
                    first >= 0.0f && first <= 1.0f && std::isfinite(first) &&
                    std::all_of(left.begin(), left.end(), [first](float v) { return v == first; }) &&
                    right == left;
                if (!ok) badBlocks.fetch_add(1);
                plugin.UpdateGUIAll();
                blocks.fetch_add(1);
            }
        });

    for (int i = 0; i < 20000 || blocks.load() < 500; ++i)
    {
        plugin.gain.Set(static_cast<float>(i % 101) / 100.0f, nullptr);
        if (i % 500 == 0) plugin.SetGUI(&gui);
        if (i % 500 == 250) plugin.SetGUI(nullptr);
        if (i % 500 == 10) plugin.UpdateGUIAll();
        if (i % 100 == 0) plugin.UpdateGUISpecific(i, nullptr);
        if (i % 50 == 0) plugin.ProcessGUINotifications();
    }
    done.store(true);
    renderer.join();
    plugin.SetGUI(nullptr);

    EXPECT_EQ(badBlocks.load(), 0);
    EXPECT_FALSE(plugin.GetGUINotificationQueue().NotEmpty());
    EXPECT_GT(gui.updateAll.load(), 0);
    EXPECT_EQ(gui.violations.load(), 0);
}

// Only a change made while the user's input of that plug-in's editor is handled on this thread
// marks it; a scope of nobody (timers, drains), another plug-in's scope, another thread and a
// transient parameter mark nothing. The mark is taken once.
TEST(PluginBase, OnlyTheUsersInputInItsEditorMarksAnEdit)
{
    TestPlugin a;
    TestPlugin b;
    Parameter view;
    view.Create("View", nullptr, Parameter::Private, 0.0f, 1.0f, Parameter::Continuous);
    view.SetTransient(true);
    struct Case
    {
        char const* what;
        std::function<void()> change;
        bool aMarked;
        bool bMarked;
    };
    float next = 0.0f;
    auto step = [&next] { return next = next > 0.5f ? 0.25f : 0.75f; };
    std::vector<Case> const cases = {
        {"outside any scope", [&] { a.steps = step() * 8.0f; }, false, false},
        {"in a's input",
         [&]
         {
             EditorInput::Scope input(&a);
             a.steps = step() * 8.0f;
         },
         true, false},
        {"the same value again in a's input",
         [&]
         {
             float const same = a.steps;
             EditorInput::Scope input(&a);
             a.steps = same;
         },
         false, false},
        {"in a's input, a timer's scope of nobody inside",
         [&]
         {
             EditorInput::Scope input(&a);
             EditorInput::Scope timer(nullptr);
             a.gain = step();
             a.MarkEditedByEditor();
         },
         false, false},
        {"a's own operation in b's input",
         [&]
         {
             EditorInput::Scope input(&b);
             a.MarkEditedByEditor();
         },
         false, false},
        {"a transient value in a's input",
         [&]
         {
             EditorInput::Scope input(&a);
             view = step();
         },
         false, false},
        {"another thread while a's input is handled here",
         [&]
         {
             EditorInput::Scope input(&a);
             std::thread other(
                 [&]
                 {
                     a.gain = step();
                     a.MarkEditedByEditor();
                     EditorInput::MarkEdited();
                 });
             other.join();
         },
         false, false},
    };
    for (Case const& c : cases)
    {
        c.change();
        EXPECT_EQ(a.TakeEditorEdits(), c.aMarked) << c.what;
        EXPECT_EQ(b.TakeEditorEdits(), c.bMarked) << c.what;
        EXPECT_FALSE(a.TakeEditorEdits()) << c.what << ": taken once";
    }
    EXPECT_EQ(EditorInput::Current(), nullptr);
}
