// Escape and Return in every modal window of the editor: Escape ends it as its Cancel (or Close)
// button does, Return as its default button does where it has one. Each window is opened as the
// user opens it, in the product's editor opened through the plug-in's dispatcher.

#include <string>
#include <vector>

#include "VstEditorTestSupport.h"
#include "editor/TSaveDialog.h"
#include "editor/TWaveBrowser.h"
#include "editor/TimelinePresetDlg.h"
#include "editor/WaveEditor.h"
#include "engine/VoiceDef.h"

using namespace vsteditor;

namespace
{
class ModalKeysTest : public VstEditorTest
{
public:
    fs::path PatchFile(char const* category, char const* name)
    {
        return fs::path(home.RootFolder()) / "Patches" / category / (std::string(name) + ".trv");
    }
    fs::path TimelineFile(char const* category, char const* name)
    {
        return fs::path(Synth().GetTimelinePresetManager()->GetRoot().ToStdString()) / category /
               (std::string(name) + ".tvl");
    }
    std::vector<float> SlotCycle()
    {
        std::vector<float> out;
        Synth().CopyWaveCycle(0, 0, out);
        return out;
    }
    bool stillOpen = false;
    long FilterPoints() { return Synth().GetVoiceDef(0)->GetLine(VoiceDef::kFilterLine)->Size(); }
    // Frames open besides the editor's own surface.
    static std::size_t OpenFrames() { return gfx::Surface::All().size() - 1; }
};

struct Row
{
    std::string window;
    std::string key;
    std::function<void()> setup;
    // Opens the window (its modal run gets the script queued before).
    std::function<void()> open;
    std::function<bool()> outcome;
    std::string expected;
};
} // namespace

TEST_F(ModalKeysTest, EscapeCancelsAndReturnTakesTheDefaultInEveryModalWindow)
{
    fs::path const wav = fs::path(home.RootFolder()) / "import.wav";
    fs::create_directories(wav.parent_path());
    WriteSineWav(wav, 440.0f, 4096);
    ASSERT_TRUE(Synth().SavePatch("Pads", "A"));
    auto* presets = Synth().GetTimelinePresetManager();
    fs::create_directories(fs::path(presets->GetRoot().ToStdString()) / "Mine");
    presets->Refresh();
    ASSERT_TRUE(Synth().SaveTimelinePreset("Mine", "Set", {true, true, true, true, true, true}));

    std::vector<float> cycle;
    long points = 0;
    // The key goes to the window's surface once its modal run has started; what `before` scripts
    // comes first (text typed into a field, say).
    auto keyIn = [this](unsigned key, std::function<void(Frame&, gfx::Surface&)> before = nullptr)
    {
        Responders::NextModalRun(
            [this, key, before](Frame& f)
            {
                gfx::Surface& s = *f.GetFrameWindow();
                if (before) before(f, s);
                backend.Key(s, key);
            });
    };
    auto saveAs = [this]
    {
        Responders::NextMenu({"Save As.."});
        Click({root::kFileButton.x + 5, root::kFileButton.y + 5});
    };
    auto named = [](char const* name)
    {
        return [name](Frame& f, gfx::Surface&)
        {
            // Set as the user types it, replacing what the field holds.
            auto set = [&f, name]
            {
                if (auto* d = dynamic_cast<TSaveDialog*>(&f)) d->GetNameField().SetText(name);
                if (auto* d = dynamic_cast<TimelinePresetDlg*>(&f)) d->GetNameField().SetText(name);
            };
            set();
        };
    };
    auto voiceMenu = [this](char const* entry)
    {
        Responders::NextMenu({entry});
        Click(OnSynthPage(synth::kVoiceMenu));
    };

    std::vector<Row> const rows = {
        {"save dialog", "Escape", [] {},
         [&]
         {
             keyIn(gfx::kKeyEscape, named("ByEscape"));
             saveAs();
         },
         [&]
         { return !fs::exists(PatchFile("Pads", "ByEscape(User)")) && Synth().GetPatchName() == "A(User)"; },
         "cancelled: nothing written, the patch keeps its name"},
        {"save dialog", "Return", [] {},
         [&]
         {
             keyIn(gfx::kKeyReturn, named("ByReturn"));
             saveAs();
         },
         [&] {
             return fs::exists(PatchFile("Pads", "ByReturn(User)")) &&
                    Synth().GetPatchName() == "ByReturn(User)";
         },
         "saved, as the Save button does"},
        {"note alert over the save dialog (no category)", "Return",
         [&]
         {
             // A name of no category: Save raises the note; Return takes its OK, then Escape the
             // dialog's Cancel.
             Synth().SetPatchCategory("");
         },
         [&]
         {
             Responders::NextModalRun(
                 [this](Frame& f)
                 {
                     auto& d = dynamic_cast<TSaveDialog&>(f);
                     gfx::Surface& s = *f.GetFrameWindow();
                     backend.Then([&d] { d.GetCategoryList().SetSelection(-1); });
                     // The note's run: Return for its OK, then Escape for the dialog.
                     Responders::NextModalRun(
                         [this, &s](Frame& note)
                         {
                             backend.Key(*note.GetFrameWindow(), gfx::kKeyReturn);
                             backend.Key(s, gfx::kKeyEscape);
                         });
                     backend.Key(s, gfx::kKeyReturn);
                 });
             Responders::NextMenu({"Save"});
             Click({root::kFileButton.x + 5, root::kFileButton.y + 5});
         },
         [&] { return OpenFrames() == 0 && !fs::exists(PatchFile("Pads", "ByReturn(User)(User)")); },
         "the note closes, the dialog stays until Escape, nothing written"},
        {"reset alert (yes/no)", "Escape", [] {},
         [&]
         {
             keyIn(gfx::kKeyEscape);
             Responders::NextMenu({"Reset Patch"});
             Click({root::kFileButton.x + 5, root::kFileButton.y + 5});
         },
         [&] { return Synth().GetPatchName() != "<untitled>"; }, "No: the patch stays"},
        {"reset alert (yes/no)", "Return", [] {},
         [&]
         {
             keyIn(gfx::kKeyReturn);
             Responders::NextMenu({"Reset Patch"});
             Click({root::kFileButton.x + 5, root::kFileButton.y + 5});
         },
         [&] { return Synth().GetPatchName() != "<untitled>"; }, "No, the default button: the patch stays"},
        {"waveform editor", "Escape", [] {},
         [&]
         {
             keyIn(gfx::kKeyEscape);
             Click(OnSynthPage(synth::kWaveEdit[0]));
         },
         [&] { return OpenFrames() == 0; }, "closed, as its Close button does"},
        {"waveform editor", "Return", [] {},
         [&]
         {
             keyIn(gfx::kKeyReturn);
             Click(OnSynthPage(synth::kWaveEdit[0]));
         },
         [&] { return OpenFrames() == 0; }, "closed, as its Close button does"},
        {"waveform browser", "Escape", [&] { cycle = SlotCycle(); },
         [&]
         {
             keyIn(gfx::kKeyEscape);
             Click(OnSynthPage(synth::kWaveLoad[0]));
         },
         [&] { return OpenFrames() == 0 && SlotCycle() == cycle; }, "closed, the slot unchanged"},
        {"waveform browser", "Return", [&] { cycle = SlotCycle(); },
         [&]
         {
             keyIn(gfx::kKeyReturn);
             Click(OnSynthPage(synth::kWaveLoad[0]));
         },
         [&] { return OpenFrames() == 0 && SlotCycle() == cycle; }, "closed, the slot unchanged"},
        {"file dialog (browser's Import)", "Escape", [&] { cycle = SlotCycle(); },
         [&]
         {
             Responders::NextModalRun(
                 [this, keyIn](Frame& browser)
                 {
                     auto& b = dynamic_cast<TWaveBrowser&>(browser);
                     keyIn(gfx::kKeyEscape);
                     backend.Then([&b] { b.ButtonPressed(TWaveBrowser::kImportId); });
                     backend.Then([this, &b] { backend.Key(*b.GetFrameWindow(), gfx::kKeyEscape); });
                 });
             Click(OnSynthPage(synth::kWaveLoad[0]));
         },
         [&] { return OpenFrames() == 0 && SlotCycle() == cycle; }, "cancelled: nothing imported"},
        {"file dialog (browser's Import)", "Return", [&] { cycle = SlotCycle(); },
         [&]
         {
             Responders::NextModalRun(
                 [this, keyIn, &wav](Frame& browser)
                 {
                     auto& b = dynamic_cast<TWaveBrowser&>(browser);
                     keyIn(gfx::kKeyReturn,
                           [this, &wav](Frame&, gfx::Surface& s) { backend.Type(s, wav.string().c_str()); });
                     backend.Then([&b] { b.ButtonPressed(TWaveBrowser::kImportId); });
                     backend.Then([this, &b] { backend.Key(*b.GetFrameWindow(), gfx::kKeyEscape); });
                 });
             Click(OnSynthPage(synth::kWaveLoad[0]));
         },
         [&] { return OpenFrames() == 0 && SlotCycle() != cycle; }, "the typed file opened: imported"},
        {"timeline preset dialog (save)", "Escape", [] {},
         [&]
         {
             keyIn(gfx::kKeyEscape, named("ByEscape"));
             voiceMenu("Save Timeline preset");
         },
         [&] { return OpenFrames() == 0 && !fs::exists(TimelineFile("Mine", "ByEscape(User)")); },
         "closed, nothing written"},
        {"timeline preset dialog (save)", "Return", [] {},
         [&]
         {
             keyIn(gfx::kKeyReturn, named("ByReturn"));
             voiceMenu("Save Timeline preset");
         },
         [&] { return OpenFrames() == 0 && fs::exists(TimelineFile("Mine", "ByReturn(User)")); },
         "saved, as the Save button does"},
        {"timeline preset dialog (load)", "Escape",
         [&]
         {
             Synth().ClearLine(0, VoiceDef::kFilterLine);
             points = FilterPoints();
         },
         [&]
         {
             keyIn(gfx::kKeyEscape);
             voiceMenu("Load Timeline preset");
         },
         [&] { return OpenFrames() == 0 && FilterPoints() == points; }, "closed, the lines unchanged"},
        {"timeline preset dialog (load)", "Return", [&] { points = FilterPoints(); },
         [&]
         {
             // Return loads nothing (no default: a load replaces lines); Escape then closes it.
             Responders::NextModalRun(
                 [this](Frame& f)
                 {
                     gfx::Surface& s = *f.GetFrameWindow();
                     backend.Key(s, gfx::kKeyReturn);
                     backend.Then([this, &f] { stillOpen = f.IsRunningModal(); });
                     backend.Key(s, gfx::kKeyEscape);
                 });
             voiceMenu("Load Timeline preset");
         },
         [&] { return stillOpen && OpenFrames() == 0 && FilterPoints() == points; },
         "no default: nothing loaded (Escape closes it after)"},
    };

    for (Row const& row : rows)
    {
        SCOPED_TRACE(row.window + ", " + row.key);
        row.setup();
        IdleUntilQuiet();
        row.open();
        IdleUntilQuiet();
        bool const held = row.outcome();
        EXPECT_TRUE(held) << row.expected;
        EXPECT_EQ(OpenFrames(), 0u);
        std::printf("%-48s %-7s %s%s\n", row.window.c_str(), row.key.c_str(),
                    held ? "" : "NOT: ", row.expected.c_str());
    }
    EXPECT_FALSE(Responders::TakeModalRun().has_value());
    EXPECT_FALSE(Responders::TakeMenu().has_value());
}
