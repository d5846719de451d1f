// A host that calls open, idle and close from its own event loop on one thread. Every menu,
// dialog, drag and fade of the product's editor is opened by the user's input in one of the
// host's idles: that call returns while it is still open, the user's later input over later idles
// ends it with the result it always had, and a close (effEditClose, then effClose) while it is open
// returns at once, saves nothing and deletes the instance once. With a dialog open, the host's own
// calls (setParameter, setChunk, getChunk) reach the host as nothing. The editor is opened through
// the plug-in's dispatcher in a fake host window of the headless back end.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
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

// No call of the host's waits for the user: one that took this long waited. The sanitizers make
// the work itself several times slower.
constexpr SteadyClock::duration kBound =
    kUnderSanitizer ? SteadyClock::duration(5s) : SteadyClock::duration(1s);

// Instances made and deleted.
int made = 0;
int deleted = 0;

class CountedTorvane : public Torvane
{
public:
    explicit CountedTorvane(audioMasterCallback host) : Torvane(host) { ++made; }
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

double Ms(SteadyClock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// What the host's loop measured: its longest call, and the longest span between the starts of
// two calls.
struct Figures
{
    SteadyClock::duration longestCall{};
    SteadyClock::duration longestGap{};
    std::optional<SteadyClock::time_point> lastStart;
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
        surface = nullptr;
        fs::create_directories(wav.parent_path());
        WriteSineWav(wav, 440.0f, 4096);
    }

    // A new instance with its editor open in the host window, as a host opens it.
    void Launch()
    {
        HeadlessHost::Maker const counted = [](audioMasterCallback callback)
        { return std::make_unique<CountedTorvane>(callback); };
        host = std::make_unique<HeadlessHost>(counted);
        AttachEditorLoader<GUI>(&Synth());
        ASSERT_EQ(Dispatch(effEditOpen, kHostWindow), 1);
        surface = Loader().GetSurface();
        ASSERT_NE(surface, nullptr);
        ASSERT_TRUE(Settle());
    }
    // The host closes the editor and then the instance, each call timed.
    void Shut(SteadyClock::duration& editClose, SteadyClock::duration& close)
    {
        int const gone = deleted;
        SteadyClock::time_point const t0 = SteadyClock::now();
        Dispatch(effEditClose);
        SteadyClock::time_point const t1 = SteadyClock::now();
        EXPECT_EQ(host->CloseInstance(), 1);
        SteadyClock::time_point const t2 = SteadyClock::now();
        editClose = t1 - t0;
        close = t2 - t1;
        host.reset();
        surface = nullptr;
        EXPECT_EQ(deleted - gone, 1) << "the instance deleted once";
        EXPECT_TRUE(gfx::Surface::All().empty());
    }
    void Shut()
    {
        SteadyClock::duration a{}, b{};
        Shut(a, b);
    }

    VstGUILoader& Loader() { return *static_cast<VstGUILoader*>(Synth().getEditor()); }
    GUI& Root() { return dynamic_cast<GUI&>(*Loader().GetEditor()); }

    // One round of the host's loop: time passes, then the host idles the editor.
    void HostIdle()
    {
        backend.Advance(66ms);
        SteadyClock::time_point const start = SteadyClock::now();
        if (figures.lastStart) figures.longestGap = std::max(figures.longestGap, start - *figures.lastStart);
        figures.lastStart = start;
        Dispatch(effEditIdle);
        figures.longestCall = std::max(figures.longestCall, SteadyClock::now() - start);
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
    void ClickAt(layout::Point p) { ClickIn(*surface, p); }
    static layout::Point Inside(layout::Point p, int by = 5) { return {p.x + by, p.y + by}; }
    void PressAt(layout::Point p)
    {
        backend.Pause(1s);
        backend.Press(*surface, p.x, p.y);
    }
    void MoveTo(layout::Point p) { backend.MoveTo(*surface, p.x, p.y); }
    void ReleaseAt(layout::Point p) { backend.Release(*surface, p.x, p.y); }
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
        ClickAt(button);
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
        OpenMenu({root::kFileButton.x + 5, root::kFileButton.y + 5});
        Choose(entry);
    }
    // An alert's buttons are 70 by 22, 10 apart, 16 from its right and bottom edges: the one
    // `fromRight` places from the right (the note's OK, the question's No: 0; its Yes: 1).
    static layout::Point AlertButton(gfx::Surface& alert, int fromRight)
    {
        return {alert.Width() - 16 - 70 * (fromRight + 1) - 10 * fromRight + 10,
                alert.Height() - 16 - 22 + 10};
    }

    fs::path Home() { return home.RootFolder(); }
    fs::path Patches() { return Synth().GetPatchPresetManager()->GetRoot().ToStdString(); }
    fs::path Timelines() { return Synth().GetTimelinePresetManager()->GetRoot().ToStdString(); }
    std::vector<float> SlotCycle()
    {
        std::vector<float> out;
        Synth().CopyWaveCycle(0, 0, out);
        return out;
    }
    Parameter& DelayMix() { return *Synth().GetDelayEffect()->FindParameter("DELAY_MIX", true); }
    PerformModSource& Pad() { return *Synth().GetPerformMods()->GetSource(0); }
    layout::Point PadPoint(int x, int y)
    {
        return {root::kPerformPage.x + perform::kBlocks[0].x + x,
                root::kPerformPage.y + perform::kBlocks[0].y + y};
    }
    TPatchList& Categories() { return dynamic_cast<PresetGUI&>(*Root().GetPage()).GetCategoryList(); }

    fs::path const wav = fs::path(home.RootFolder()) / "import" / "sine440.wav";
    Figures figures;
    Listing before; // the data home's files when the row's thing was opened
};

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
} // namespace

TEST_F(HostLoopTest, EveryMenuDialogDragAndFadeLetsTheHostCallReturnAndACloseEndsIt)
{
    std::vector<float> cycle;
    float value = 0.0f;
    float valueY = 0.0f;
    int firstRow = 0;
    auto patch = [this](char const* category, char const* name)
    { return Patches() / category / (std::string(name) + ".trv"); };
    auto pressed = [this](std::function<bool()> moved)
    { return [this, moved] { return backend.PendingInput() == 0 && Waiting() && moved(); }; };
    auto frames = [](std::size_t n)
    { return [n] { return Frames() == n && !gfx::RunLoop::PaintPending(); }; };
    int const ruler = synth::kTimeline.x + layout::timeline::kX0;
    int const rulerY = synth::kTimeline.y + 25;
    layout::Rect const categoryTrack =
        layout::ListScrollTrack(layout::ListBox(pr::kCategoryList, pr::kListWidth, pr::kListRows));
    layout::Point const thumb{root::kPresetPage.x + categoryTrack.x + 5,
                              root::kPresetPage.y + categoryTrack.y + layout::kListArrowHeight + 5};

    std::vector<Row> const rows = {
        {"File menu (a popup menu), Save chosen",
         [&]
         {
             ASSERT_TRUE(Synth().SavePatch("Pads", "A"));
             fs::remove(patch("Pads", "A(User)"));
         },
         [&] {
             OpenMenu({root::kFileButton.x + 5, root::kFileButton.y + 5});
         },
         [&] { return Menus() == 1; }, [&] { Choose("Save"); },
         [&] { return Menus() == 0 && fs::exists(patch("Pads", "A(User)")); },
         "the patch saved under its name"},
        {"save dialog (File > Save As..)", [&] { ASSERT_TRUE(Synth().SavePatch("Pads", "A")); },
         [&] { FileMenu("Save As.."); }, frames(1),
         [&]
         {
             Retype(Top(), "A(User)", "Wobble");
             ClickIn(Top(), Inside(sd::kSave));
         },
         [&]
         {
             return Frames() == 0 && fs::exists(patch("Pads", "Wobble(User)")) &&
                    Synth().GetPatchName() == "Wobble(User)";
         },
         "the typed name saved"},
        {"note alert (File > Save with no category, Save)", [&] { Synth().SetPatchCategory(""); },
         [&]
         {
             FileMenu("Save");
             ASSERT_TRUE(IdleUntil(frames(1)));
             backend.Type(Top(), "Named");
             ClickIn(Top(), Inside(sd::kSave));
         },
         frames(2),
         [&]
         {
             ClickIn(Top(), AlertButton(Top(), 0));
             ASSERT_TRUE(IdleUntil(frames(1)));
             ClickIn(Top(), Inside(sd::kCancel));
         },
         [&]
         {
             return Frames() == 0 &&
                    !backend.FindStrings("Please create or select a category before saving").empty() &&
                    Files(Home()) == before;
         },
         "OK; the dialog stays until Cancel; nothing written"},
        {"yes/no question (File > Reset Patch)", [&] { ASSERT_TRUE(Synth().SavePatch("Pads", "A")); },
         [&] { FileMenu("Reset Patch"); }, frames(1), [&] { ClickIn(Top(), AlertButton(Top(), 1)); },
         [&] { return Frames() == 0 && Synth().GetPatchName() == "<untitled>"; }, "Yes: the patch reset"},
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
         frames(1),
         [&]
         {
             Retype(Top(), "<untitled>", "Set");
             ClickIn(Top(), Inside(tp::kSave));
         },
         [&] { return Frames() == 0 && fs::exists(Timelines() / "Mine" / "Set(User).tvl"); },
         "the typed name saved"},
        {"waveform browser",
         [&]
         {
             Synth().LoadStandardWaveform(0, 0, 0);
             cycle = SlotCycle();
         },
         [&] { ClickAt(OnSynthPage(synth::kWaveLoad[0])); }, frames(1),
         [&]
         {
             ClickIn(Top(), {wb::kStandardShapes.x + 40, wb::kStandardShapes.y + 8});
             ClickIn(Top(), Inside(wb::kClose));
         },
         [&] { return Frames() == 0 && SlotCycle() != cycle; }, "the clicked shape loaded, then closed"},
        {"file dialog (the browser's Import)",
         [&]
         {
             Synth().LoadStandardWaveform(0, 0, 1);
             cycle = SlotCycle();
         },
         [&]
         {
             ClickAt(OnSynthPage(synth::kWaveLoad[0]));
             ASSERT_TRUE(IdleUntil(frames(1)));
             ClickIn(Top(), Inside(wb::kImport));
         },
         frames(2),
         [&]
         {
             backend.Type(Top(), wav.string().c_str());
             backend.Key(Top(), gfx::kKeyReturn);
             ASSERT_TRUE(IdleUntil(frames(1)));
             ClickIn(Top(), Inside(wb::kClose));
         },
         [&] { return Frames() == 0 && SlotCycle() != cycle; }, "the typed WAV imported"},
        {"waveform editor", [&] { cycle = SlotCycle(); }, [&] { ClickAt(OnSynthPage(synth::kWaveEdit[0])); },
         frames(1),
         [&]
         {
             ClickIn(Top(), {we::kPartialGraph.x + 2, we::kPartialGraph.y + 52});
             ClickIn(Top(), Inside(we::kClose));
         },
         [&] { return Frames() == 0 && SlotCycle() != cycle; }, "the partial clicked applied, then closed"},
        {"category name popup (the save dialog's Add)", [&] { ASSERT_TRUE(Synth().SavePatch("Pads", "A")); },
         [&]
         {
             FileMenu("Save As..");
             ASSERT_TRUE(IdleUntil(frames(1)));
             ClickIn(Top(), Inside(sd::kAddCategory));
         },
         [&] { return Frames() == 2 && !backend.FindStrings("New category name:").empty(); },
         [&]
         {
             backend.Type(Top(), "Leads");
             ClickIn(Top(), Inside(np::kOk, 10));
             ASSERT_TRUE(IdleUntil(frames(1)));
             ClickIn(Top(), Inside(sd::kCancel));
         },
         [&] {
             return Frames() == 0 && fs::is_directory(Patches() / "Leads") &&
                    !fs::exists(patch("Leads", "A(User)"));
         },
         "the category made; the dialog cancelled"},
        {"splash fade (about)", [] {}, [&] { ClickAt(Inside(root::kAboutButton)); },
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
             ClickAt({400, 400});
         },
         [&] { return Root().GetSplash() == nullptr; }, "faded in; a click faded it out"},
        {"knob drag (delay mix)", [&] { DelayMix().Set(0.0f, nullptr); },
         [&]
         {
             layout::Point const c = KnobCentre(synth::kDelayKnobs[2]);
             PressAt(c);
             MoveTo({c.x, c.y - 10});
         },
         pressed([&] { return static_cast<float>(DelayMix()) > 0.0f; }),
         [&]
         {
             layout::Point const c = KnobCentre(synth::kDelayKnobs[2]);
             MoveTo({c.x, c.y - 20});
             ReleaseAt({c.x, c.y - 25});
         },
         [&] { return std::fabs(static_cast<float>(DelayMix()) - 0.2f) < 1e-4f; }, "25 pixels up: 0.2"},
        {"scroll bar drag (the preset page's categories)",
         [&]
         {
             for (int i = 0; i < 30; ++i)
                 fs::create_directories(Patches() / ("C" + std::to_string(100 + i)));
             Synth().GetPatchPresetManager()->Refresh();
             ClickAt({root::kPresetTab.x + 5, root::kPresetTab.y + 5});
             ASSERT_TRUE(Settle());
             ASSERT_EQ(Categories().GetFirstVisible(), 0);
         },
         [&]
         {
             PressAt(thumb);
             MoveTo({thumb.x, thumb.y + 40});
         },
         pressed(
             [&]
             {
                 firstRow = Categories().GetFirstVisible();
                 return firstRow > 0;
             }),
         [&]
         {
             MoveTo({thumb.x, thumb.y + 80});
             ReleaseAt({thumb.x, thumb.y + 120});
         },
         [&] { return Categories().GetFirstVisible() > firstRow; }, "scrolled on as the pointer went"},
        {"timeline drag (the edit-time handle)", [&] { value = Synth().GetEditTime(); },
         [&]
         {
             PressAt(OnSynthPage({ruler, rulerY}, 0, 0));
             MoveTo(OnSynthPage({ruler + 60, rulerY}, 0, 0));
         },
         pressed(
             [&]
             {
                 bool const moved = Synth().GetEditTime() != value;
                 value = Synth().GetEditTime();
                 return moved;
             }),
         [&]
         {
             MoveTo(OnSynthPage({ruler + 100, rulerY}, 0, 0));
             ReleaseAt(OnSynthPage({ruler + 150, rulerY}, 0, 0));
         },
         [&] { return Synth().GetEditTime() > value; }, "the edit time followed to the release"},
        {"X/Y bowl drag (synthesizer page)",
         [&]
         {
             Synth().vectorXParam.Set(0.0f, nullptr);
             Synth().vectorYParam.Set(0.0f, nullptr);
         },
         [&]
         {
             PressAt(OnSynthPage(synth::kBowlCentre, 0, 0));
             MoveTo(OnSynthPage({synth::kBowlCentre.x + 15, synth::kBowlCentre.y + 10}, 0, 0));
         },
         pressed(
             [&]
             {
                 value = static_cast<float>(Synth().vectorXParam);
                 valueY = static_cast<float>(Synth().vectorYParam);
                 return value > 0.0f;
             }),
         [&]
         {
             MoveTo(OnSynthPage({synth::kBowlCentre.x + 25, synth::kBowlCentre.y + 15}, 0, 0));
             ReleaseAt(OnSynthPage({synth::kBowlCentre.x + 35, synth::kBowlCentre.y + 20}, 0, 0));
         },
         [&]
         {
             return static_cast<float>(Synth().vectorXParam) > value &&
                    static_cast<float>(Synth().vectorYParam) > valueY;
         },
         "the dot followed to the release"},
        {"X/Y pad drag (perform page)",
         [&]
         {
             ClickAt({root::kPerformTab.x + 5, root::kPerformTab.y + 5});
             ASSERT_TRUE(Settle());
         },
         [&]
         {
             PressAt(PadPoint(55, 55));
             MoveTo(PadPoint(30, 30));
         },
         pressed([&] { return static_cast<float>(Pad().X) < 0.0f; }),
         [&]
         {
             MoveTo(PadPoint(15, 15));
             ReleaseAt(PadPoint(5, 5));
         },
         [&] { return static_cast<float>(Pad().X) == -1.0f && static_cast<float>(Pad().Y) == 1.0f; },
         "the pad's corner: X -1, Y 1"},
    };

    std::printf("%-60s %9s %9s | %9s %9s %9s %9s  %s\n", "row", "call ms", "gap ms", "call ms", "gap ms",
                "EditClose", "effClose", "result");
    // A new instance in the row's state; the user's input opens its thing, which is open once the
    // host's call that handled that input has returned.
    auto openOn = [this](Row const& row)
    {
        Launch();
        row.setup();
        EXPECT_TRUE(Settle());
        before = Files(Home());
        figures = {};
        row.open();
        bool const opened = IdleUntil(row.isOpen);
        EXPECT_TRUE(opened) << "never opened";
        EXPECT_TRUE(Waiting()) << "the call that opened it did not return while it was open";
        return opened;
    };
    for (Row const& row : rows)
    {
        SCOPED_TRACE(row.what);
        // First run: the user ends it over the host's later idles.
        bool const opened = openOn(row);
        row.finish();
        EXPECT_TRUE(Settle());
        bool const held = row.result();
        EXPECT_TRUE(held) << row.expected;
        Figures const run = figures;
        EXPECT_LT(Ms(run.longestCall), Ms(kBound));
        Shut();

        // Second run: closed while it is open.
        openOn(row);
        SteadyClock::duration editClose{}, close{};
        Shut(editClose, close);
        EXPECT_LT(Ms(figures.longestCall), Ms(kBound));
        EXPECT_LT(Ms(editClose), Ms(kBound));
        EXPECT_LT(Ms(close), Ms(kBound));
        EXPECT_EQ(Files(Home()), before) << "saved what the user did not confirm";
        backend.ClearStrings();

        std::printf("%-60s %9.2f %9.2f | %9.2f %9.2f %9.2f %9.2f  %s%s\n", row.what.c_str(),
                    Ms(run.longestCall), Ms(run.longestGap), Ms(figures.longestCall), Ms(figures.longestGap),
                    Ms(editClose), Ms(close), held && opened ? "" : "NOT: ", row.expected.c_str());
    }
    EXPECT_EQ(made, deleted);
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
        {"waveform browser", [&] { ClickAt(OnSynthPage(synth::kWaveLoad[0])); },
         [&] { ClickIn(Top(), Inside(wb::kClose)); }},
        {"save dialog", [&] { FileMenu("Save As.."); }, [&] { ClickIn(Top(), Inside(sd::kCancel)); }},
        {"yes/no question", [&] { FileMenu("Reset Patch"); }, [&] { ClickIn(Top(), AlertButton(Top(), 0)); }},
    };
    std::printf("%-20s %12s %12s %12s %9s %9s\n", "dialog", "setChunk ms", "setParam ms", "getChunk ms",
                "automate", "updates");
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
        ASSERT_TRUE(IdleUntil([] { return Frames() == 1 && !gfx::RunLoop::PaintPending(); }));
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
        EXPECT_LT(Ms(t3 - t0), Ms(kBound));
        for (int i = 0; i < 10; ++i)
            HostIdle();
        EXPECT_EQ(Frames(), 1u);
        EXPECT_TRUE(Waiting());
        EXPECT_EQ(Synth().GetPatchName(), "A(User)");
        EXPECT_FLOAT_EQ(host->GetParameter(volume), 0.25f);
        EXPECT_FALSE(chunk.empty());
        std::vector<HeadlessHost::Automation> const reported = host->TakeAutomations();
        int const updated = host->DisplayUpdates() - updates;
        for (HeadlessHost::Automation const& a : reported)
            ADD_FAILURE() << "automation reported: parameter " << a.index << " = " << a.value;
        EXPECT_EQ(updated, 0);

        // Cancelled, the dialog changed nothing either.
        d.cancel();
        EXPECT_TRUE(Settle());
        EXPECT_EQ(Frames(), 0u);
        EXPECT_TRUE(host->TakeAutomations().empty());
        EXPECT_EQ(host->DisplayUpdates(), updates);
        EXPECT_EQ(Synth().GetPatchName(), "A(User)");
        Shut();
        std::printf("%-20s %12.2f %12.2f %12.2f %9zu %9d\n", d.what.c_str(), Ms(t1 - t0), Ms(t2 - t1),
                    Ms(t3 - t2), reported.size(), updated);
    }
}
