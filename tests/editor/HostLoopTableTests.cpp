// A host that calls open, idle and close from its own event loop on one thread. Every menu,
// dialog, drag and fade of the product's editor is opened by the user's input in one of the
// host's idles: that call returns while it is still open, the user's later input over later idles
// ends it with the result it always had, and a close (effEditClose, then effClose) while it is open
// returns at once, saves nothing and deletes the instance once. With a dialog open, the host's own
// calls (setParameter, setChunk, getChunk) reach the host as nothing. The editor is opened through
// the plug-in's dispatcher in a fake host window of the headless back end.

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "VstEditorTestSupport.h"
#include "editor/PresetGUI.h"
#include "editor/TSplash.h"
#include "engine/PerformMod.h"
#include "support/Sanitizers.h"

using namespace vsteditor;

namespace
{
namespace sd = layout::savedialog;
namespace wb = layout::wavebrowser;
namespace we = layout::waveeditor;
namespace tp = layout::timelinepreset;
namespace np = layout::namepopup;
namespace pr = layout::preset;
using SteadyClock = std::chrono::steady_clock;

// No call of the host's waits for the user: each row's thing is still open when the call that
// opened it has returned (Waiting), and a call that waited for the user here would never return,
// as the user's input comes from this thread. The bound only ends such a hang; no machine, however
// busy, takes it for the work of a call.
constexpr double kBoundMs = kUnderSanitizer ? 120000.0 : 60000.0;

double Ms(SteadyClock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Instances deleted.
int deleted = 0;

class CountedTorvane : public Torvane
{
public:
    using Torvane::Torvane;
    ~CountedTorvane() override { ++deleted; }
};

// Every file below a folder, with its size and its time of last change.
using Listing = std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>>;
Listing Files(fs::path const& folder)
{
    Listing out;
    std::error_code error;
    for (auto const& e : fs::recursive_directory_iterator(folder, error))
        if (e.is_regular_file()) out[e.path().string()] = {e.file_size(), e.last_write_time()};
    return out;
}

// One kind of menu, dialog, drag or fade.
struct Row
{
    std::string what;
    std::function<void()> setup;  // the state its instance starts from
    std::function<void()> open;   // the user's input that opens it (idling on the way where needed)
    std::function<bool()> isOpen; // once the call that handled that input returned
    std::function<void()> finish; // the user's input that ends it
    std::function<bool()> result; // what it has always ended with
    std::string expected;
};

class HostLoopTest : public VstEditorTest
{
public:
    void SetUp() override
    {
        VstEditorTest::SetUp();
        // Each run opens an instance of its own.
        Dispatch(effEditClose);
        host.reset();
        fs::create_directories(wav.parent_path());
        WriteSineWav(wav, 440.0f, 4096);
    }

    // A new instance with its editor open in the host window, as a host opens it.
    void Launch()
    {
        host = std::make_unique<HeadlessHost>(HeadlessHost::Maker(
            [](audioMasterCallback callback) { return std::make_unique<CountedTorvane>(callback); }));
        AttachEditorLoader<GUI>(&Synth());
        ASSERT_EQ(Dispatch(effEditOpen, kHostWindow), 1);
        surface = Loader().GetSurface();
        ASSERT_NE(surface, nullptr);
        ASSERT_TRUE(Settle());
    }
    // The host closes the editor and then the instance; how long each call took.
    std::pair<double, double> Shut()
    {
        int const gone = deleted;
        SteadyClock::time_point const t0 = SteadyClock::now();
        Dispatch(effEditClose);
        SteadyClock::time_point const t1 = SteadyClock::now();
        EXPECT_EQ(host->CloseInstance(), 1);
        SteadyClock::time_point const t2 = SteadyClock::now();
        host.reset();
        surface = nullptr;
        EXPECT_EQ(deleted - gone, 1) << "the instance deleted once";
        EXPECT_TRUE(gfx::Surface::All().empty());
        EXPECT_LT(Ms(t1 - t0), kBoundMs);
        EXPECT_LT(Ms(t2 - t1), kBoundMs);
        return {Ms(t1 - t0), Ms(t2 - t1)};
    }

    VstGUILoader& Loader() { return *static_cast<VstGUILoader*>(Synth().getEditor()); }
    GUI& Root() { return dynamic_cast<GUI&>(*Loader().GetEditor()); }

    // One round of the host's loop: time passes, then the host idles the editor (the longest
    // such call is kept).
    void HostIdle()
    {
        backend.Advance(66ms);
        SteadyClock::time_point const start = SteadyClock::now();
        Dispatch(effEditIdle);
        longestCall = std::max(longestCall, Ms(SteadyClock::now() - start));
    }
    // Idles until `done` holds; false when it did not within a minute of the loop's clock.
    bool IdleUntil(std::function<bool()> const& done)
    {
        for (int i = 0; i < 900; ++i)
        {
            if (done()) return true;
            HostIdle();
        }
        return done();
    }
    // The editor's loop of a menu, dialog, drag or fade waits for the user across the host's calls.
    bool Waiting() { return gfx::RunLoop::StrandWaiting(surface); }
    // Idles until the scripted input is used up, nothing waits to be painted and nothing is open.
    bool Settle()
    {
        HostIdle();
        HostIdle();
        return IdleUntil(
            [this] { return backend.PendingInput() == 0 && !gfx::RunLoop::PaintPending() && !Waiting(); });
    }

    static std::vector<gfx::Surface*> OpenOf(gfx::SurfaceKind kind)
    {
        std::vector<gfx::Surface*> out;
        for (gfx::Surface* s : gfx::Surface::All())
            if (s->Kind() == kind) out.push_back(s);
        return out;
    }
    static std::size_t Frames() { return OpenOf(gfx::SurfaceKind::Frame).size(); }
    static std::size_t Menus() { return OpenOf(gfx::SurfaceKind::Popup).size(); }
    // `n` frames open and drawn.
    static std::function<bool()> FramesShown(std::size_t n)
    {
        return [n] { return Frames() == n && !gfx::RunLoop::PaintPending(); };
    }
    // The frame opened last (a dialog, or an alert over it).
    static gfx::Surface& Top()
    {
        std::vector<gfx::Surface*> const frames = OpenOf(gfx::SurfaceKind::Frame);
        EXPECT_FALSE(frames.empty());
        return frames.empty() ? *gfx::Surface::All().front() : *frames.back();
    }

    // The user's input, each gesture a second after the last (never a double click).
    void ClickIn(gfx::Surface& s, layout::Point p)
    {
        backend.Pause(1s);
        backend.Click(s, p.x, p.y);
    }
    static layout::Point Inside(layout::Point p, int by = 5) { return {p.x + by, p.y + by}; }
    // Types `text` over the `shown` text of the field that has the focus.
    void Retype(gfx::Surface& s, std::string const& shown, char const* text)
    {
        for (std::size_t i = 0; i < shown.size(); ++i)
            backend.Key(s, gfx::kKeyBackspace);
        backend.Type(s, text);
    }
    // Opens a menu with a click and waits for it to be shown.
    void OpenMenu(layout::Point button)
    {
        Click(button);
        EXPECT_TRUE(IdleUntil([] { return Menus() == 1 && !gfx::RunLoop::PaintPending(); }));
    }
    // Clicks the entry of the open menu that is drawn with that text.
    void Choose(std::string const& entry)
    {
        std::vector<gfx::Surface*> const menus = OpenOf(gfx::SurfaceKind::Popup);
        ASSERT_FALSE(menus.empty());
        gfx::Surface& menu = *menus.back();
        std::vector<gfx::DrawnString> const drawn = backend.FindStrings(entry);
        auto const at =
            std::find_if(drawn.rbegin(), drawn.rend(),
                         [&menu](gfx::DrawnString const& s) { return s.target == menu.BackBuffer(); });
        ASSERT_NE(at, drawn.rend()) << "no entry " << entry;
        ClickIn(menu, {static_cast<int>(at->x) + 4, static_cast<int>(at->y) - 4});
    }
    void FileMenu(std::string const& entry)
    {
        OpenMenu(Inside(root::kFileButton));
        Choose(entry);
    }
    // An alert's buttons are 70 by 22, 10 apart, 16 from its right and bottom edges: the one
    // `fromRight` places from the right (the note's OK, the question's No: 0; its Yes: 1).
    static layout::Point AlertButton(gfx::Surface& alert, int fromRight)
    {
        return {alert.Width() - 16 - 70 * (fromRight + 1) - 10 * fromRight + 10,
                alert.Height() - 16 - 22 + 10};
    }
    // A drag: pressed at `from` and moved `by` the first offset, which `moved` sees take effect
    // while the drag waits; moved on by the second and released at the third.
    Row DragRow(std::string what, std::function<void()> setup, layout::Point from,
                std::array<layout::Point, 3> by, std::function<bool()> moved, std::function<bool()> result,
                std::string expected)
    {
        auto at = [from, by](int i) { return layout::Point{from.x + by[i].x, from.y + by[i].y}; };
        return {std::move(what),
                std::move(setup),
                [this, from, at]
                {
                    backend.Pause(1s);
                    backend.Press(*surface, from.x, from.y);
                    backend.MoveTo(*surface, at(0).x, at(0).y);
                },
                [this, moved] { return backend.PendingInput() == 0 && Waiting() && moved(); },
                [this, at]
                {
                    backend.MoveTo(*surface, at(1).x, at(1).y);
                    backend.Release(*surface, at(2).x, at(2).y);
                },
                std::move(result),
                std::move(expected)};
    }

    fs::path Patches() { return Synth().GetPatchPresetManager()->GetRoot().ToStdString(); }
    fs::path Patch(char const* category, char const* name)
    {
        return Patches() / category / (std::string(name) + ".trv");
    }
    fs::path Timelines() { return Synth().GetTimelinePresetManager()->GetRoot().ToStdString(); }
    std::vector<float> SlotCycle()
    {
        std::vector<float> out;
        Synth().CopyWaveCycle(0, 0, out);
        return out;
    }
    Parameter& DelayMix() { return *Synth().GetDelayEffect()->FindParameter("DELAY_MIX", true); }
    TPatchList& Categories() { return dynamic_cast<PresetGUI&>(*Root().GetPage()).GetCategoryList(); }

    fs::path const wav = fs::path(home.RootFolder()) / "import" / "sine440.wav";
    double longestCall = 0.0; // ms
    Listing before;           // the data home's files when the row's thing was opened
};
} // namespace

TEST_F(HostLoopTest, EveryMenuDialogDragAndFadeLetsTheHostCallReturnAndACloseEndsIt)
{
    std::vector<float> cycle;
    float value = 0.0f;
    float valueY = 0.0f;
    int firstRow = 0;
    auto savedA = [&] { ASSERT_TRUE(Synth().SavePatch("Pads", "A")); };
    auto loadShape = [&](int shape)
    {
        return [&, shape]
        {
            Synth().LoadStandardWaveform(0, 0, shape);
            cycle = SlotCycle();
        };
    };
    layout::Point const ruler =
        OnSynthPage({synth::kTimeline.x + layout::timeline::kX0, synth::kTimeline.y + 25}, 0, 0);
    layout::Rect const categoryTrack =
        layout::ListScrollTrack(layout::ListBox(pr::kCategoryList, pr::kListWidth, pr::kListRows));
    layout::Point const thumb{root::kPresetPage.x + categoryTrack.x + 5,
                              root::kPresetPage.y + categoryTrack.y + layout::kListArrowHeight + 5};
    auto pad = [this] { return Synth().GetPerformMods()->GetSource(0); };

    std::vector<Row> const rows = {
        {"File menu (a popup menu), Save chosen",
         [&]
         {
             savedA();
             fs::remove(Patch("Pads", "A(User)"));
         },
         [&] { OpenMenu(Inside(root::kFileButton)); }, [&] { return Menus() == 1; }, [&] { Choose("Save"); },
         [&] { return fs::exists(Patch("Pads", "A(User)")); }, "the patch saved under its name"},
        {"save dialog (File > Save As..)", savedA, [&] { FileMenu("Save As.."); }, FramesShown(1),
         [&]
         {
             Retype(Top(), "A(User)", "Wobble");
             ClickIn(Top(), Inside(sd::kSave));
         },
         [&]
         { return fs::exists(Patch("Pads", "Wobble(User)")) && Synth().GetPatchName() == "Wobble(User)"; },
         "the typed name saved"},
        {"note alert (File > Save with no category, Save)", [&] { Synth().SetPatchCategory(""); },
         [&]
         {
             FileMenu("Save");
             ASSERT_TRUE(IdleUntil(FramesShown(1)));
             backend.Type(Top(), "Named");
             ClickIn(Top(), Inside(sd::kSave));
         },
         FramesShown(2),
         [&]
         {
             ClickIn(Top(), AlertButton(Top(), 0));
             ASSERT_TRUE(IdleUntil(FramesShown(1)));
             ClickIn(Top(), Inside(sd::kCancel));
         },
         [&]
         {
             return Frames() == 0 &&
                    !backend.FindStrings("Please create or select a category before saving").empty() &&
                    Files(home.RootFolder()) == before;
         },
         "OK; the dialog stays until Cancel; nothing written"},
        {"yes/no question (File > Reset Patch)", savedA, [&] { FileMenu("Reset Patch"); }, FramesShown(1),
         [&] { ClickIn(Top(), AlertButton(Top(), 1)); },
         [&] { return Synth().GetPatchName() == "<untitled>"; }, "Yes: the patch reset"},
        {"timeline preset dialog (voice menu > Save Timeline preset)",
         [&]
         {
             fs::create_directories(Timelines() / "Mine");
             Synth().GetTimelinePresetManager()->Refresh();
         },
         [&]
         {
             OpenMenu(OnSynthPage(synth::kVoiceMenu));
             Choose("Save Timeline preset");
         },
         FramesShown(1),
         [&]
         {
             Retype(Top(), "<untitled>", "Set");
             ClickIn(Top(), Inside(tp::kSave));
         },
         [&] { return fs::exists(Timelines() / "Mine" / "Set(User).tvl"); }, "the typed name saved"},
        {"waveform browser", loadShape(0), [&] { Click(OnSynthPage(synth::kWaveLoad[0])); }, FramesShown(1),
         [&]
         {
             ClickIn(Top(), {wb::kStandardShapes.x + 40, wb::kStandardShapes.y + 8});
             ClickIn(Top(), Inside(wb::kClose));
         },
         [&] { return SlotCycle() != cycle; }, "the clicked shape loaded, then closed"},
        {"file dialog (the browser's Import)", loadShape(1),
         [&]
         {
             Click(OnSynthPage(synth::kWaveLoad[0]));
             ASSERT_TRUE(IdleUntil(FramesShown(1)));
             ClickIn(Top(), Inside(wb::kImport));
         },
         FramesShown(2),
         [&]
         {
             backend.Type(Top(), wav.string().c_str());
             backend.Key(Top(), gfx::kKeyReturn);
             ASSERT_TRUE(IdleUntil(FramesShown(1)));
             ClickIn(Top(), Inside(wb::kClose));
         },
         [&] { return SlotCycle() != cycle; }, "the typed WAV imported"},
        {"waveform editor", [&] { cycle = SlotCycle(); }, [&] { Click(OnSynthPage(synth::kWaveEdit[0])); },
         FramesShown(1),
         [&]
         {
             ClickIn(Top(), {we::kPartialGraph.x + 2, we::kPartialGraph.y + 52});
             ClickIn(Top(), Inside(we::kClose));
         },
         [&] { return SlotCycle() != cycle; }, "the partial clicked applied, then closed"},
        {"category name popup (the save dialog's Add)", savedA,
         [&]
         {
             FileMenu("Save As..");
             ASSERT_TRUE(IdleUntil(FramesShown(1)));
             ClickIn(Top(), Inside(sd::kAddCategory));
         },
         [&] { return Frames() == 2 && !backend.FindStrings("New category name:").empty(); },
         [&]
         {
             backend.Type(Top(), "Leads");
             ClickIn(Top(), Inside(np::kOk, 10));
             ASSERT_TRUE(IdleUntil(FramesShown(1)));
             ClickIn(Top(), Inside(sd::kCancel));
         },
         [&] { return fs::is_directory(Patches() / "Leads") && !fs::exists(Patch("Leads", "A(User)")); },
         "the category made; the dialog cancelled"},
        {"splash fade (about)", [] {}, [&] { Click(Inside(root::kAboutButton)); },
         [&]
         {
             // It is made by its fade in: the editor holds it once that has ended.
             auto const* fading = dynamic_cast<TSplash*>(Root().GetChildren().back());
             return fading != nullptr && !fading->IsFadedIn() && fading->GetAlpha() < 1.0f;
         },
         [&]
         {
             ASSERT_TRUE(IdleUntil([&] { return Root().GetSplash() != nullptr && !Waiting(); }));
             EXPECT_TRUE(Root().GetSplash()->IsFadedIn());
             Click({400, 400});
         },
         [&] { return Root().GetSplash() == nullptr; }, "faded in; a click faded it out"},
        DragRow(
            "knob drag (delay mix)", [&] { DelayMix().Set(0.0f, nullptr); },
            KnobCentre(synth::kDelayKnobs[2]), {{{0, -10}, {0, -20}, {0, -25}}},
            [&] { return static_cast<float>(DelayMix()) > 0.0f; },
            [&] { return std::fabs(static_cast<float>(DelayMix()) - 0.2f) < 1e-4f; }, "25 pixels up: 0.2"),
        DragRow(
            "scroll bar drag (the preset page's categories)",
            [&]
            {
                for (int i = 0; i < 30; ++i)
                    fs::create_directories(Patches() / ("C" + std::to_string(100 + i)));
                Synth().GetPatchPresetManager()->Refresh();
                Click(Inside(root::kPresetTab.TopLeft()));
                ASSERT_TRUE(Settle());
                ASSERT_EQ(Categories().GetFirstVisible(), 0);
            },
            thumb, {{{0, 40}, {0, 80}, {0, 120}}},
            [&]
            {
                firstRow = Categories().GetFirstVisible();
                return firstRow > 0;
            },
            [&] { return Categories().GetFirstVisible() > firstRow; }, "scrolled on as the pointer went"),
        DragRow(
            "timeline drag (the edit-time handle)", [&] { value = Synth().GetEditTime(); }, ruler,
            {{{60, 0}, {100, 0}, {150, 0}}},
            [&]
            {
                bool const moved = Synth().GetEditTime() != value;
                value = Synth().GetEditTime();
                return moved;
            },
            [&] { return Synth().GetEditTime() > value; }, "the edit time followed to the release"),
        DragRow(
            "X/Y bowl drag (synthesizer page)",
            [&]
            {
                Synth().vectorXParam.Set(0.0f, nullptr);
                Synth().vectorYParam.Set(0.0f, nullptr);
            },
            OnSynthPage(synth::kBowlCentre, 0, 0), {{{15, 10}, {25, 15}, {35, 20}}},
            [&]
            {
                value = static_cast<float>(Synth().vectorXParam);
                valueY = static_cast<float>(Synth().vectorYParam);
                return value > 0.0f;
            },
            [&]
            {
                return static_cast<float>(Synth().vectorXParam) > value &&
                       static_cast<float>(Synth().vectorYParam) > valueY;
            },
            "the dot followed to the release"),
        DragRow(
            "X/Y pad drag (perform page)",
            [&]
            {
                Click(Inside(root::kPerformTab.TopLeft()));
                ASSERT_TRUE(Settle());
            },
            OnPad(0, {50, 50}), {{{-25, -25}, {-40, -40}, {-50, -50}}},
            [&] { return static_cast<float>(pad()->X) < 0.0f; },
            [&] { return static_cast<float>(pad()->X) == -1.0f && static_cast<float>(pad()->Y) == 1.0f; },
            "the pad's corner: X -1, Y 1"),
    };

    std::printf("%-60s %12s %12s %10s %9s\n", "row", "run call ms", "shut call ms", "EditClose", "effClose");
    for (Row const& row : rows)
    {
        SCOPED_TRACE(row.what);
        // A new instance in the row's state; the user's input opens its thing, which is open once
        // the host's call that handled that input has returned.
        auto openOn = [&]
        {
            Launch();
            row.setup();
            EXPECT_TRUE(Settle());
            before = Files(home.RootFolder());
            longestCall = 0.0;
            row.open();
            EXPECT_TRUE(IdleUntil(row.isOpen)) << "never opened";
            EXPECT_TRUE(Waiting()) << "the call that opened it did not return while it was open";
        };
        // First run: the user ends it over the host's later idles.
        openOn();
        row.finish();
        EXPECT_TRUE(Settle());
        EXPECT_EQ(Frames() + Menus(), 0u) << "left open";
        EXPECT_TRUE(row.result()) << row.expected;
        EXPECT_LT(longestCall, kBoundMs);
        double const runCall = longestCall;
        Shut();

        // Second run: closed while it is open.
        openOn();
        auto const [editClose, close] = Shut();
        EXPECT_LT(longestCall, kBoundMs);
        EXPECT_EQ(Files(home.RootFolder()), before) << "saved what the user did not confirm";
        backend.ClearStrings();
        std::printf("%-60s %12.2f %12.2f %10.2f %9.2f\n", row.what.c_str(), runCall, longestCall, editClose,
                    close);
    }
}

TEST_F(HostLoopTest, TheHostsOwnCallsWithADialogOpenReachTheHostAsNothing)
{
    struct Dialog
    {
        std::string what;
        std::function<void()> open;
        std::function<void()> cancel;
    };
    std::vector<Dialog> const dialogs = {
        {"waveform browser", [&] { Click(OnSynthPage(synth::kWaveLoad[0])); },
         [&] { ClickIn(Top(), Inside(wb::kClose)); }},
        {"save dialog", [&] { FileMenu("Save As.."); }, [&] { ClickIn(Top(), Inside(sd::kCancel)); }},
        {"yes/no question", [&] { FileMenu("Reset Patch"); }, [&] { ClickIn(Top(), AlertButton(Top(), 0)); }},
    };
    std::printf("%-20s %12s %12s %12s\n", "dialog", "setChunk ms", "setParam ms", "getChunk ms");
    for (Dialog const& d : dialogs)
    {
        SCOPED_TRACE(d.what);
        Launch();
        int volume = -1;
        for (int i = 0; i < Torvane::kNumHostParameters; ++i)
            if (host->GetParameterName(i) == "MasterVolume") volume = i;
        ASSERT_GE(volume, 0);
        // A state whose every parameter differs from the default patch's.
        for (int i = 0; i < Torvane::kNumHostParameters; ++i)
            host->SetParameter(i, static_cast<float>(i % 7 + 1) / 9.0f);
        ASSERT_TRUE(Synth().SavePatch("Pads", "A"));
        std::vector<unsigned char> const state = host->GetState();
        Synth().DefaultPatch();
        ASSERT_TRUE(Settle());
        d.open();
        ASSERT_TRUE(IdleUntil(FramesShown(1)));
        ASSERT_TRUE(Waiting());
        host->TakeAutomations();
        int const updates = host->DisplayUpdates();

        // The host's calls, on its own thread, between its idles.
        SteadyClock::time_point const t0 = SteadyClock::now();
        host->SetState(state);
        SteadyClock::time_point const t1 = SteadyClock::now();
        host->SetParameter(volume, 0.25f);
        SteadyClock::time_point const t2 = SteadyClock::now();
        std::vector<unsigned char> const chunk = host->GetState();
        SteadyClock::time_point const t3 = SteadyClock::now();
        EXPECT_LT(Ms(t3 - t0), kBoundMs);
        for (int i = 0; i < 10; ++i)
            HostIdle();
        EXPECT_EQ(Frames(), 1u);
        EXPECT_TRUE(Waiting());
        EXPECT_EQ(Synth().GetPatchName(), "A(User)");
        EXPECT_FLOAT_EQ(host->GetParameter(volume), 0.25f);
        EXPECT_FALSE(chunk.empty());
        for (HeadlessHost::Automation const& a : host->TakeAutomations())
            ADD_FAILURE() << "automation reported: parameter " << a.index << " = " << a.value;
        EXPECT_EQ(host->DisplayUpdates(), updates);

        // Cancelled, the dialog changed nothing either.
        d.cancel();
        EXPECT_TRUE(Settle());
        EXPECT_EQ(Frames(), 0u);
        EXPECT_TRUE(host->TakeAutomations().empty());
        EXPECT_EQ(host->DisplayUpdates(), updates);
        EXPECT_EQ(Synth().GetPatchName(), "A(User)");
        Shut();
        std::printf("%-20s %12.2f %12.2f %12.2f\n", d.what.c_str(), Ms(t1 - t0), Ms(t2 - t1), Ms(t3 - t2));
    }
}
