// The waveform browser on a real instrument and real waveform files: loading, standard shapes,
// importing WAV files, saving and category management.

#include <cmath>
#include <complex>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "SineWav.h"
#include "WidgetTestSupport.h"
#include "dsp/WaveTables.h"
#include "editor/Layout.h"
#include "editor/TSaveDialog.h"
#include "editor/TWaveBrowser.h"
#include "engine/Torvane.h"
#include "engine/VoiceDef.h"
#include "framework/PresetManager.h"
#include "platform/gfx/Types.h"

namespace fs = std::filesystem;
namespace wb = layout::wavebrowser;

namespace
{
float Harmonic(std::vector<float> const& x, int h)
{
    std::complex<double> sum;
    double const n = static_cast<double>(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        sum += static_cast<double>(x[i]) *
               std::polar(1.0, -2.0 * std::numbers::pi * h * static_cast<double>(i) / n);
    return static_cast<float>(2.0 * std::abs(sum) / n);
}

class WaveBrowserTest : public WidgetTest
{
public:
    void SetUp() override
    {
        WidgetTest::SetUp();
        root = Manager().GetRoot().ToStdString();
        // "Bass" holds a sine and a square, "Empty" nothing; slot 1 ends as a saw.
        ASSERT_NE(Synth().LoadStandardWaveform(0, 1, 2), nullptr);
        ASSERT_TRUE(Synth().SaveWaveform(Waves(), 1, "Bass", "A"));
        ASSERT_NE(Synth().LoadStandardWaveform(0, 1, 1), nullptr);
        ASSERT_TRUE(Synth().SaveWaveform(Waves(), 1, "Bass", "B"));
        ASSERT_NE(Synth().LoadStandardWaveform(0, 1, 0), nullptr);
        fs::create_directories(root / "Empty");
        Manager().Refresh();
    }

    PresetManager& Manager() { return *Synth().GetWaveformPresetManager(); }
    VectorMipOscWaveDef* Waves() { return &Synth().GetVoiceDef(0)->waveDef; }
    std::vector<float> Cycle(int slot = 1)
    {
        std::vector<float> out;
        Synth().CopyWaveCycle(0, slot, out);
        return out;
    }
    int Kind() { return Waves()->GetKind(1); }

    // Runs the browser on slot 1 of the current layer (0) with the script.
    void Browse(std::function<void(TWaveBrowser&, gfx::Surface&)> script)
    {
        TWaveBrowser browser;
        Responders::NextModalRun([&](Frame& f) { script(browser, *f.GetFrameWindow()); });
        browser.Create(page.get(), 1, 0, 0, &Synth());
    }
    void ClickRow(gfx::Surface& s, int list, int row)
    {
        layout::Point const at = list == 0 ? wb::kCategoryList : wb::kWaveList;
        backend.Click(s, at.x + 30, at.y + row * 15 + 7);
        backend.Pause(std::chrono::seconds(1));
    }
    void ClickShape(gfx::Surface& s, int x)
    {
        backend.Click(s, wb::kStandardShapes.x + x, wb::kStandardShapes.y + 8);
        backend.Pause(std::chrono::seconds(1));
    }
    static std::string Selected(TPatchList& l) { return l.GetSelection() < 0 ? "-" : l.GetSelectedName(); }
    std::vector<std::string> Texts()
    {
        std::vector<std::string> out;
        for (auto const& m : Messages())
            out.push_back(m.caption + ": " + m.text);
        return out;
    }

    fs::path root;
};
} // namespace

TEST_F(WaveBrowserTest, OpeningLoadsNothingACategoryLoadsItsFirstWaveAndAnEmptyOneKeepsTheSlot)
{
    std::vector<float> const saw = Cycle();
    std::vector<float> opened, bass;
    bool previewAfterBass = false, previewAfterEmpty = true;
    Browse(
        [&](TWaveBrowser& b, gfx::Surface& s)
        {
            backend.Then([&] { opened = Cycle(); });
            ClickRow(s, 0, 0); // Bass
            backend.Then(
                [&]
                {
                    bass = Cycle();
                    previewAfterBass = b.GetPreview().Showing();
                });
            ClickRow(s, 0, 1); // Empty
            backend.Then([&] { previewAfterEmpty = b.GetPreview().Showing(); });
            backend.Click(s, wb::kClose.x + 5, wb::kClose.y + 5);
        });
    EXPECT_EQ(opened, saw);
    EXPECT_EQ(Harmonic(bass, 1) > 0.9f && Harmonic(bass, 2) < 1e-3f, true); // "A" is the sine
    EXPECT_TRUE(previewAfterBass);
    EXPECT_FALSE(previewAfterEmpty);
    EXPECT_EQ(Cycle(), bass);
    EXPECT_TRUE(Texts().empty());
}

TEST_F(WaveBrowserTest, ATruncatedFileShowsTheMessageAndKeepsTheSlot)
{
    fs::path const file = root / "Bass" / "A(User).wfm";
    fs::resize_file(file, fs::file_size(file) / 2);
    std::vector<float> const saw = Cycle();
    bool preview = true;
    Browse(
        [&](TWaveBrowser& b, gfx::Surface& s)
        {
            ClickRow(s, 0, 0);
            backend.Then([&] { preview = b.GetPreview().Showing(); });
            backend.Then([&] { b.ButtonPressed(TWaveBrowser::kCloseId); });
        });
    EXPECT_EQ(Cycle(), saw);
    EXPECT_FALSE(preview);
    EXPECT_EQ(Texts(), std::vector<std::string>{"File error: Error: Could not load waveform file A(User)"});
}

TEST_F(WaveBrowserTest, ImportsAWavFileAsAPeakOneCycleAndProposesItsNameWithoutCategory)
{
    fs::path const wav = fs::path(home.RootFolder()) / "sine440.wav";
    WriteSineWav(wav, 440.0f, 4096);
    fs::path const text = fs::path(home.RootFolder()) / "notes.wav";
    std::ofstream(text) << "not a wave file\n";

    std::vector<float> imported, afterBad;
    std::string proposed, proposedAfterBad, nameInDialog;
    int categoryInDialog = 0;
    Browse(
        [&](TWaveBrowser& b, gfx::Surface& s)
        {
            ClickRow(s, 0, 0);
            Responders::NextFileDialog(wav.string());
            backend.Then([&] { b.ButtonPressed(TWaveBrowser::kImportId); });
            backend.Then(
                [&]
                {
                    imported = Cycle();
                    proposed = b.ProposedName().ToStdString();
                });
            Responders::NextFileDialog(text.string());
            backend.Then([&] { b.ButtonPressed(TWaveBrowser::kImportId); });
            backend.Then(
                [&]
                {
                    afterBad = Cycle();
                    proposedAfterBad = b.ProposedName().ToStdString();
                });
            Responders::NextModalRun(
                [&](Frame& f)
                {
                    auto& d = dynamic_cast<TSaveDialog&>(f);
                    backend.Then(
                        [&]
                        {
                            nameInDialog = d.GetNameField().GetText().ToStdString();
                            categoryInDialog = d.GetCategoryList().GetSelection();
                            d.ButtonPressed(TSaveDialog::kCancelId);
                        });
                });
            backend.Then([&] { b.ButtonPressed(TWaveBrowser::kSaveId); });
            backend.Then([&] { b.ButtonPressed(TWaveBrowser::kCloseId); });
        });
    ASSERT_FALSE(imported.empty());
    float peak = 0.0f;
    for (float v : imported)
        peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(peak, 1.0f, 1e-3f);
    float const h1 = Harmonic(imported, 1);
    for (int h = 2; h <= 16; ++h)
        EXPECT_GT(h1, Harmonic(imported, h)) << "harmonic " << h;
    EXPECT_EQ(proposed, "sine440");
    EXPECT_EQ(afterBad, imported);
    EXPECT_EQ(proposedAfterBad, "sine440");
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].caption, "File error");
    EXPECT_EQ(nameInDialog, "sine440");
    EXPECT_EQ(categoryInDialog, -1);
}

TEST_F(WaveBrowserTest, TheStandardShapeStripLoadsByPositionAndItsLastPixelsOnlyClear)
{
    struct Case
    {
        int x;
        int kind;
    };
    Case const cases[] = {{8, kWaveSaw}, {24, kWaveSquare}, {40, kWaveSine}, {56, kWaveSilence}, {65, -1}};
    for (Case const& c : cases)
    {
        ASSERT_NE(Synth().LoadStandardWaveform(0, 1, 2), nullptr);
        int kind = 0;
        std::string waveSelection;
        Browse(
            [&](TWaveBrowser& b, gfx::Surface& s)
            {
                ClickRow(s, 0, 0); // Bass: "A(User)" selected and loaded (a sine)
                backend.Then([&] { Synth().LoadStandardWaveform(0, 1, 0); });
                ClickShape(s, c.x);
                backend.Then(
                    [&]
                    {
                        kind = Kind();
                        waveSelection = Selected(b.GetWaveList());
                    });
                backend.Then([&] { b.ButtonPressed(TWaveBrowser::kCloseId); });
            });
        EXPECT_EQ(kind, c.kind < 0 ? kWaveSaw : c.kind) << "x " << c.x;
        EXPECT_EQ(waveSelection, "-") << "x " << c.x;
    }
}

TEST_F(WaveBrowserTest, SaveKeepsTheSlotAndSelectsTheSavedWave)
{
    std::vector<float> square, afterSave;
    std::string category, wave;
    Browse(
        [&](TWaveBrowser& b, gfx::Surface& s)
        {
            ClickRow(s, 0, 0); // loads "A(User)"
            backend.Then(
                [&]
                {
                    Synth().LoadStandardWaveform(0, 1, 1);
                    square = Cycle();
                });
            Responders::NextModalRun(
                [&](Frame& f)
                {
                    auto& d = dynamic_cast<TSaveDialog&>(f);
                    backend.Then(
                        [&]
                        {
                            d.GetNameField().SetText("Name");
                            d.ButtonPressed(TSaveDialog::kSaveId);
                        });
                });
            backend.Then([&] { b.ButtonPressed(TWaveBrowser::kSaveId); });
            backend.Then(
                [&]
                {
                    afterSave = Cycle();
                    category = Selected(b.GetCategoryList());
                    wave = Selected(b.GetWaveList());
                });
            backend.Then([&] { b.ButtonPressed(TWaveBrowser::kCloseId); });
        });
    EXPECT_TRUE(fs::exists(root / "Bass" / "Name(User).wfm"));
    EXPECT_EQ(afterSave, square);
    EXPECT_EQ(category, "Bass");
    EXPECT_EQ(wave, "Name(User)");
    EXPECT_TRUE(Texts().empty());
}

TEST_F(WaveBrowserTest, DeletingTheSelectedCategoryLeavesTheFirstAndNoWaves)
{
    fs::create_directories(root / "Keys");
    Manager().Refresh();
    std::vector<std::string> names;
    std::string selected;
    int waves = -1;
    Browse(
        [&](TWaveBrowser& b, gfx::Surface& s)
        {
            ClickRow(s, 0, 2); // Keys
            messageRecord->SetAnswer(true);
            backend.Then([&] { b.ButtonPressed(TWaveBrowser::kDeleteCategoryId); });
            backend.Then(
                [&]
                {
                    for (int i = 0; i < b.GetCategoryList().GetEntryCount(); ++i)
                        names.push_back(b.GetCategoryList().GetItem(i)->name);
                    selected = Selected(b.GetCategoryList());
                    waves = b.GetWaveList().GetEntryCount();
                });
            backend.Then([&] { b.ButtonPressed(TWaveBrowser::kCloseId); });
        });
    EXPECT_FALSE(fs::exists(root / "Keys"));
    EXPECT_EQ(names, (std::vector<std::string>{"Bass", "Empty"}));
    EXPECT_EQ(selected, "Bass");
    EXPECT_EQ(waves, 0);
}

TEST_F(WaveBrowserTest, AFailedRenameLeavesTheListsOnLiveEntries)
{
    fs::copy_file(root / "Bass" / "A(User).wfm", root / "Bass" / "A(User)x.wfm");
    Manager().Refresh();
    std::string wave;
    std::vector<float> loaded;
    Browse(
        [&](TWaveBrowser& b, gfx::Surface& s)
        {
            ClickRow(s, 0, 0);
            Responders::NextModalRun(
                [&](Frame& f)
                {
                    backend.Type(*f.GetFrameWindow(), "x");
                    backend.Key(*f.GetFrameWindow(), gfx::kKeyReturn);
                });
            backend.Then([&] { b.ButtonPressed(TWaveBrowser::kRenameWaveId); });
            backend.Then([&] { b.ForceRepaint(); });
            ClickRow(s, 1, 2); // "B(User)"
            backend.Then(
                [&]
                {
                    wave = Selected(b.GetWaveList());
                    loaded = Cycle();
                });
            backend.Then([&] { b.ButtonPressed(TWaveBrowser::kCloseId); });
        });
    EXPECT_EQ(Texts(),
              std::vector<std::string>{
                  "Torvane Error: Could not rename preset. The new name is invalid or already in use"});
    EXPECT_EQ(wave, "B(User)");
    EXPECT_GT(Harmonic(loaded, 3), 0.2f); // the square
}

TEST_F(WaveBrowserTest, AFailedSaveShowsTheSavingMessageAndKeepsEverything)
{
    std::vector<float> before, after;
    std::string wave;
    messageRecord->SetAnswer(true); // replace what is there
    Browse(
        [&](TWaveBrowser& b, gfx::Surface& s)
        {
            ClickRow(s, 0, 0);
            backend.Then([&] { before = Cycle(); });
            Responders::NextModalRun(
                [&](Frame& f)
                {
                    auto& d = dynamic_cast<TSaveDialog&>(f);
                    backend.Then(
                        [&]
                        {
                            d.GetNameField().SetText("Lost");
                            // A folder stands where the file would be written.
                            fs::create_directories(root / "Bass" / "Lost(User).wfm" / "x");
                            d.ButtonPressed(TSaveDialog::kSaveId);
                        });
                });
            backend.Then([&] { b.ButtonPressed(TWaveBrowser::kSaveId); });
            backend.Then(
                [&]
                {
                    after = Cycle();
                    wave = Selected(b.GetWaveList());
                });
            backend.Then([&] { b.ButtonPressed(TWaveBrowser::kCloseId); });
        });
    ASSERT_FALSE(Texts().empty());
    EXPECT_EQ(Texts().back(), "File error: Error: Could not save waveform: Is a directory");
    EXPECT_EQ(after, before);
    EXPECT_EQ(wave, "A(User)");
    EXPECT_TRUE(fs::is_directory(root / "Bass" / "Lost(User).wfm"));
}
