// One table of entries no reader may trust (HostileEntries: a FIFO, a socket, a folder and a
// link loop named like a file, an unreadable, an empty, a random and a truncated file) run
// through every reader and browser of the instrument's files: each returns at once, lists show
// only regular files, a refused patch or waveform says so once with its name, and nothing else
// changes.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "WidgetTestSupport.h"
#include "editor/PresetGUI.h"
#include "editor/TWaveBrowser.h"
#include "editor/TimelinePresetDlg.h"
#include "engine/Torvane.h"
#include "engine/VoiceDef.h"
#include "framework/ParameterFile.h"
#include "framework/PresetManager.h"
#include "framework/Streams.h"
#include "support/HostileEntries.h"
#include "toolkit/Responders.h"

namespace fs = std::filesystem;

namespace
{
std::string ReadAll(fs::path const& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class HostileEntryTest : public WidgetTest
{
public:
    // Makes every entry of the table that this user can make in root/category with the
    // extension, from the bytes of a good file; returns the watchdog over the FIFOs.
    std::unique_ptr<FifoWatchdog> Plant(fs::path const& folder, char const* extension,
                                        std::string const& valid)
    {
        std::vector<fs::path> fifos;
        for (HostileEntry const& e : HostileEntries())
        {
            if (!CanMakeHostile(e.kind)) continue;
            fs::path const path = folder / (std::string(e.name) + "." + extension);
            EXPECT_TRUE(MakeHostile(e.kind, path, valid)) << e.name;
            if (e.kind == Hostile::Fifo) fifos.push_back(path);
        }
        return std::make_unique<FifoWatchdog>(fifos);
    }
    // The names lists must show: the regular files among the entries made.
    static std::vector<std::string> Listed()
    {
        std::vector<std::string> names;
        for (HostileEntry const& e : HostileEntries())
            if (e.listed && CanMakeHostile(e.kind)) names.push_back(e.name);
        return names;
    }
    static std::vector<std::string> Names(CascadeList* list)
    {
        std::vector<std::string> names;
        for (int i = 0; list != nullptr && i < list->NumItems(); ++i)
            names.push_back(list->GetItem(i)->name);
        return names;
    }
    static CascadeList* Category(PresetManager& m, char const* name)
    {
        for (int i = 0; i < m.GetList().NumItems(); ++i)
            if (m.GetList().GetItem(i)->name == name) return m.GetList().GetItem(i)->subList;
        return nullptr;
    }
    std::vector<float> Cycle()
    {
        std::vector<float> out;
        Synth().CopyWaveCycle(0, 1, out);
        return out;
    }
    std::size_t MessageCount() const { return Messages().size(); }
    std::string LastText() const { return Messages().empty() ? "" : Messages().back().text; }
};
} // namespace

TEST_F(HostileEntryTest, PatchFilesAreListedOnlyWhenRegularAndRefusedOnceByName)
{
    Synth().masterVolume = 0.25f;
    ASSERT_EQ(Synth().SavePatch("Cycle", "Good"), 1);
    PresetManager& manager = *Synth().GetPatchPresetManager();
    fs::path const root = manager.GetRoot().ToStdString();
    auto watchdog = Plant(root / "Hostile", "trv", ReadAll(root / "Cycle" / "Good(User).trv"));
    manager.Refresh();
    EXPECT_EQ(Names(Category(manager, "Hostile")), Listed());

    Synth().masterVolume = 0.5f; // an edit not saved
    for (HostileEntry const& e : HostileEntries())
    {
        if (!CanMakeHostile(e.kind)) continue;
        std::size_t const before = MessageCount();
        ParameterFileReader reader;
        EXPECT_FALSE(manager.LoadStart("Hostile", e.name, reader) && e.kind != Hostile::Truncated) << e.name;
        reader.Close();
        EXPECT_EQ(Synth().LoadPatch("Hostile", e.name), 0) << e.name;
        ASSERT_EQ(MessageCount(), before + 1) << e.name;
        EXPECT_EQ(LastText(), std::string("Error: Could not load patch: ") + e.name);
        EXPECT_STREQ(Synth().GetPatchName(), "Good(User)") << e.name;
        EXPECT_FLOAT_EQ(static_cast<float>(Synth().masterVolume), 0.5f) << e.name;
    }
    EXPECT_FALSE(watchdog->End());
}

TEST_F(HostileEntryTest, ThePresetPageSaysSoOnceAndSelectsTheLoadedPatchAgain)
{
    ASSERT_EQ(Synth().SavePatch("Cycle", "Good"), 1);
    PresetManager& manager = *Synth().GetPatchPresetManager();
    fs::path const root = manager.GetRoot().ToStdString();
    std::string const valid = ReadAll(root / "Cycle" / "Good(User).trv");
    auto watchdog = Plant(root / "Cycle", "trv", valid);
    auto watchdog2 = Plant(root / "Hostile", "trv", valid);
    manager.Refresh();

    PresetGUI presets;
    presets.Create(page.get(), &Synth(), "Cycle", "Good(User)");
    TPatchList& categories = presets.GetCategoryList();
    TPatchList& patches = presets.GetPatchList();
    ASSERT_EQ(patches.GetSelectedName(), "Good(User)");
    // In the loaded patch's category the selection goes back to it; in another, to none.
    for (char const* category : {"Cycle", "Hostile"})
    {
        categories.SetSelection(category);
        presets.PatchListSelection(PresetGUI::kCategoryListId, categories.GetSelection(),
                                   categories.GetSelectedItem());
        std::string const loadedRow = std::string(category) == "Cycle" ? "Good(User)" : "-";
        for (std::string const& name : Listed())
        {
            std::size_t const before = MessageCount();
            patches.SetSelection(name.c_str());
            ASSERT_GE(patches.GetSelection(), 0) << name;
            presets.PatchListSelection(PresetGUI::kPatchListId, patches.GetSelection(),
                                       patches.GetSelectedItem());
            ASSERT_EQ(MessageCount(), before + 1) << category << "/" << name;
            EXPECT_EQ(LastText(), "Error: Could not load patch: " + name);
            EXPECT_EQ(patches.GetSelection() < 0 ? "-" : patches.GetSelectedName(), loadedRow) << name;
            EXPECT_STREQ(Synth().GetPatchName(), "Good(User)");
            EXPECT_STREQ(Synth().GetPatchCategory(), "Cycle");
        }
    }
    EXPECT_FALSE(watchdog->End());
    EXPECT_FALSE(watchdog2->End());
}

TEST_F(HostileEntryTest, PreviousAndNextPassOverThemWithOneMessagePerStep)
{
    ASSERT_EQ(Synth().SavePatch("Another", "A"), 1);
    ASSERT_EQ(Synth().SavePatch("Other", "B"), 1);
    PresetManager& manager = *Synth().GetPatchPresetManager();
    fs::path const root = manager.GetRoot().ToStdString();
    auto watchdog = Plant(root / "Hostile", "trv", ReadAll(root / "Other" / "B(User).trv"));
    manager.Refresh();
    ASSERT_EQ(Synth().LoadPatch("Another", "A(User)"), 1);

    std::string named;
    for (std::string const& name : Listed())
        named += (named.empty() ? "" : ", ") + name;
    std::string const text =
        (Listed().size() == 1 ? "Error: Could not load patch: " : "Error: Could not load patches: ");
    Synth().NextPatch();
    EXPECT_STREQ(Synth().GetPatchName(), "B(User)");
    ASSERT_EQ(MessageCount(), 1u);
    EXPECT_EQ(LastText(), text + named);
    Synth().PreviousPatch();
    EXPECT_STREQ(Synth().GetPatchName(), "A(User)");
    EXPECT_EQ(MessageCount(), 2u);
    Synth().PreviousPatch(); // round the end: nothing refused on the way
    EXPECT_STREQ(Synth().GetPatchName(), "B(User)");
    EXPECT_EQ(MessageCount(), 2u);
    EXPECT_FALSE(watchdog->End());
}

TEST_F(HostileEntryTest, TheWaveformBrowserSaysSoOnceAndKeepsTheSlot)
{
    VectorMipOscWaveDef* waves = &Synth().GetVoiceDef(0)->waveDef;
    ASSERT_NE(Synth().LoadStandardWaveform(0, 1, 2), nullptr);
    ASSERT_TRUE(Synth().SaveWaveform(waves, 1, "Bass", "A"));
    ASSERT_NE(Synth().LoadStandardWaveform(0, 1, 0), nullptr);
    PresetManager& manager = *Synth().GetWaveformPresetManager();
    fs::path const root = manager.GetRoot().ToStdString();
    auto watchdog = Plant(root / "Hostile", "wfm", ReadAll(root / "Bass" / "A(User).wfm"));
    manager.Refresh();
    EXPECT_EQ(Names(Category(manager, "Hostile")), Listed());

    std::vector<float> const saw = Cycle();
    std::vector<std::string> failures;
    TWaveBrowser browser;
    Responders::NextModalRun(
        [&](Frame&)
        {
            backend.Then(
                [&]
                {
                    TPatchList& categories = browser.GetCategoryList();
                    TPatchList& list = browser.GetWaveList();
                    categories.SetSelection("Hostile");
                    std::size_t const before = MessageCount();
                    // The category's first file is refused as it loads.
                    browser.PatchListSelection(TWaveBrowser::kCategoryListId, categories.GetSelection(),
                                               categories.GetSelectedItem());
                    if (MessageCount() != before + 1) failures.push_back("category click");
                    for (std::string const& name : Listed())
                    {
                        std::size_t const count = MessageCount();
                        list.SetSelection(name.c_str());
                        browser.PatchListSelection(TWaveBrowser::kWaveListId, list.GetSelection(),
                                                   list.GetSelectedItem());
                        if (MessageCount() != count + 1 ||
                            LastText() != "Error: Could not load waveform file " + name)
                            failures.push_back(name + ": " + LastText());
                        if (list.GetSelection() != -1) failures.push_back(name + ": selection stays");
                        if (browser.GetPreview().Showing()) failures.push_back(name + ": preview");
                    }
                    browser.ButtonPressed(TWaveBrowser::kCloseId);
                });
        });
    browser.Create(page.get(), 1, 0, 0, &Synth());
    EXPECT_EQ(failures, std::vector<std::string>{});
    EXPECT_EQ(Cycle(), saw);
    EXPECT_FALSE(watchdog->End());
}

TEST_F(HostileEntryTest, TimelinePresetsSayTheyCouldNotBeOpenedAndChangeNoLine)
{
    ASSERT_TRUE(Synth().SaveTimelinePreset("Mine", "Set", {true, true, true, true, true, true}));
    PresetManager& manager = *Synth().GetTimelinePresetManager();
    fs::path const root = manager.GetRoot().ToStdString();
    auto watchdog = Plant(root / "Hostile", "tvl", ReadAll(root / "Mine" / "Set(User).tvl"));
    manager.Refresh();
    EXPECT_EQ(Names(Category(manager, "Hostile")), Listed());

    auto sizes = [this]
    {
        std::vector<long> out;
        for (int i = 0; i < VoiceDef::kNumLines; ++i)
            out.push_back(Synth().GetVoiceDef(Synth().GetCurrentVoice())->GetLine(i)->Size());
        return out;
    };
    std::vector<long> const before = sizes();
    TimelinePresetDlg dialog(page.get(), Synth(), true);
    dialog.GetCategoryList().SetSelection("Hostile");
    dialog.PatchListSelection(TimelinePresetDlg::kCategoryListId, dialog.GetCategoryList().GetSelection(),
                              dialog.GetCategoryList().GetSelectedItem());
    for (std::string const& name : Listed())
    {
        TPatchList& list = dialog.GetPresetList();
        list.SetSelection(name.c_str());
        dialog.PatchListSelection(TimelinePresetDlg::kPresetListId, list.GetSelection(),
                                  list.GetSelectedItem());
        std::size_t const count = MessageCount();
        dialog.ButtonPressed(TimelinePresetDlg::kLoadId);
        ASSERT_EQ(MessageCount(), count + 1) << name;
        EXPECT_TRUE(LastText() == "Error: Could not open Timeline set: " + name ||
                    LastText() == "Error while loading Timeline set")
            << LastText();
    }
    EXPECT_EQ(sizes(), before);
    for (HostileEntry const& e : HostileEntries())
    {
        ParameterFileReader reader;
        EXPECT_FALSE(manager.LoadStart("Hostile", e.name, reader) && e.kind != Hostile::Truncated) << e.name;
    }
    EXPECT_FALSE(watchdog->End());
}

TEST_F(HostileEntryTest, AnInstanceIsBuiltWhateverTakesThePlaceOfItsMidiLearnMappings)
{
    // A good mappings file: version, one mapping of a parameter that exists, controller 74.
    String good;
    {
        StringWriter w;
        w.Open(&good);
        w.Write(1.0f);
        w.Write(1);
        w.Close();
    }
    std::string valid(static_cast<char const*>(good), static_cast<std::size_t>(good.GetLength()));
    valid += "Master Volume\r\r";
    valid += std::string("\x4A\x00\x00\x00", 4);
    fs::path const file = fs::path(home.RootFolder()) / "Data" / "MidiLearnMappings.dat";
    for (HostileEntry const& e : HostileEntries())
    {
        if (!CanMakeHostile(e.kind)) continue;
        std::error_code error;
        fs::remove_all(file, error);
        ASSERT_TRUE(MakeHostile(e.kind, file, valid)) << e.name;
        FifoWatchdog watchdog(e.kind == Hostile::Fifo ? std::vector<fs::path>{file}
                                                      : std::vector<fs::path>{});
        auto built = std::make_unique<HeadlessHost>();
        EXPECT_EQ(built->Instrument().GetMidiLearnManager()->NumMappings(), 0) << e.name;
        built.reset();
        EXPECT_FALSE(watchdog.End()) << e.name;
        fs::remove_all(file, error);
    }
}

namespace
{
// A WAV file of `frames` frames of one channel at the given depth (format tag 3 for float).
std::string Wav(int bits, std::uint32_t frames, bool floating = false)
{
    std::string out;
    auto u32 = [&](std::uint32_t v) { out.append(reinterpret_cast<char const*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.append(reinterpret_cast<char const*>(&v), 2); };
    std::uint32_t const bytes = frames * static_cast<std::uint32_t>(bits / 8);
    out += "RIFF";
    u32(36 + bytes);
    out += "WAVEfmt ";
    u32(16);
    u16(floating ? 3 : 1);
    u16(1);
    u32(44100);
    u32(44100 * static_cast<std::uint32_t>(bits / 8));
    u16(static_cast<std::uint16_t>(bits / 8));
    u16(static_cast<std::uint16_t>(bits));
    out += "data";
    u32(bytes);
    for (std::uint32_t i = 0; i < bytes; ++i)
        out += static_cast<char>((i * 37) & 0x7F);
    return out;
}

// Why the import refuses each file, as its message says.
std::string Why(std::string const& name)
{
    std::map<std::string, std::string> const reasons = {
        {"a fifo", "it is not a file"},
        {"b socket", "it is not a file"},
        {"c folder", "Is a directory"},
        {"d loop", "Too many levels of symbolic links"},
        {"e unreadable", "Permission denied"},
        {"f empty", "it is not a WAV file"},
        {"g random", "it is not a WAV file"},
        {"float32", "only WAV files of 8, 16 or 24-bit integer PCM are read"},
        {"int32", "only WAV files of 8, 16 or 24-bit integer PCM are read"},
        {"one frame", "it holds too few samples"},
    };
    auto const found = reasons.find(name);
    return found != reasons.end() ? found->second : "(no reason expected for " + name + ")";
}
} // namespace

TEST_F(HostileEntryTest, WavImportsTakeOnlyConvertibleFilesWithACycle)
{
    fs::path const folder = fs::path(home.RootFolder()) / "imports";
    fs::create_directories(folder);
    std::string const good = Wav(16, 4096);
    std::ofstream(folder / "good.wav", std::ios::binary) << good;
    auto watchdog = Plant(folder, "wav", good);
    struct Depth
    {
        char const* name;
        std::string bytes;
    };
    std::vector<Depth> const depths = {
        {"float32", Wav(32, 4096, true)}, {"int32", Wav(32, 4096)}, {"one frame", Wav(16, 1)}};
    for (Depth const& d : depths)
        std::ofstream(folder / (std::string(d.name) + ".wav"), std::ios::binary) << d.bytes;
    std::vector<std::string> refused;
    for (HostileEntry const& e : HostileEntries())
        if (CanMakeHostile(e.kind) && e.kind != Hostile::Truncated) refused.push_back(e.name);
    for (Depth const& d : depths)
        refused.push_back(d.name);

    ASSERT_NE(Synth().LoadStandardWaveform(0, 1, 0), nullptr);
    std::vector<float> const saw = Cycle();
    for (std::string const& name : refused)
    {
        EXPECT_FALSE(Synth().ImportWave(0, 1, (folder / (name + ".wav")).c_str())) << name;
        EXPECT_EQ(Cycle(), saw) << name;
    }

    // Through the browser: the import message with the file's name, the proposed name kept.
    std::vector<std::string> failures;
    TWaveBrowser browser;
    Responders::NextModalRun(
        [&](Frame&)
        {
            backend.Then(
                [&]
                {
                    Responders::NextFileDialog((folder / "good.wav").string());
                    browser.ButtonPressed(TWaveBrowser::kImportId);
                    for (std::string const& name : refused)
                    {
                        std::size_t const count = MessageCount();
                        std::vector<float> const held = Cycle();
                        Responders::NextFileDialog((folder / (name + ".wav")).string());
                        browser.ButtonPressed(TWaveBrowser::kImportId);
                        if (MessageCount() != count + 1 ||
                            LastText() !=
                                "Error: Could not import the wave file " + name + ".wav: " + Why(name))
                            failures.push_back(name + ": " + LastText());
                        if (!(browser.ProposedName() == "good")) failures.push_back(name + ": proposed name");
                        if (Cycle() != held) failures.push_back(name + ": slot");
                    }
                    browser.ButtonPressed(TWaveBrowser::kCloseId);
                });
        });
    browser.Create(page.get(), 1, 0, 0, &Synth());
    EXPECT_EQ(failures, std::vector<std::string>{});
    EXPECT_FALSE(watchdog->End());
}

TEST_F(HostileEntryTest, ParameterFilesNeitherReadNorWriteAnythingButRegularFiles)
{
    fs::path const folder = fs::path(home.RootFolder()) / "params";
    ParameterFileFormat format;
    format.extension = "prm";
    format.formatName = "Params";
    {
        ParameterFileWriter writer;
        writer.format = format;
        ASSERT_TRUE(writer.Open((folder / "good.prm").c_str(), true));
        writer.Write(7);
        ASSERT_TRUE(writer.Close());
    }
    auto watchdog = Plant(folder, "prm", ReadAll(folder / "good.prm"));
    for (HostileEntry const& e : HostileEntries())
    {
        if (!CanMakeHostile(e.kind)) continue;
        fs::path const path = folder / (std::string(e.name) + ".prm");
        ParameterFileReader reader;
        reader.format = format;
        int value = 0;
        bool const read = reader.Open(path.c_str()) && reader.Read(&value);
        EXPECT_FALSE(read && value == 7) << e.name;
        // Nothing is written in place of anything but a regular file.
        if (e.kind == Hostile::Fifo || e.kind == Hostile::Socket || e.kind == Hostile::FolderNamedLikeFile)
        {
            ParameterFileWriter writer;
            writer.format = format;
            EXPECT_FALSE(writer.Open(path.c_str(), true) && writer.Close()) << e.name;
            FileWriter plain;
            EXPECT_FALSE(plain.Create(path.c_str())) << e.name;
        }
    }
    // A FIFO named as the temporary files of earlier versions: the writer's own temporary file
    // is new, and the FIFO is never opened.
    ASSERT_EQ(mkfifo((folder / "next.prm.tmp").c_str(), 0600), 0);
    FifoWatchdog tmpWatchdog({folder / "next.prm.tmp"});
    ParameterFileWriter writer;
    writer.format = format;
    EXPECT_TRUE(writer.Open((folder / "next.prm").c_str(), true) && writer.Close());
    EXPECT_FALSE(tmpWatchdog.End());
    EXPECT_FALSE(watchdog->End());
}

TEST_F(HostileEntryTest, NamesWithNoncharactersOrAtTheFileNameLimitAreListedDrawnAndLoaded)
{
    std::string const noncharacter = "Bad\xef\xbf\xbf"
                                     "Name";
    std::string const shown = "Bad\xef\xbf\xbd"
                              "Name";
    std::string const longest(251, 'L'); // with ".trv" or ".wfm": 255 bytes
    ASSERT_EQ(Synth().SavePatch("Cycle", "Good"), 1);
    VectorMipOscWaveDef* waves = &Synth().GetVoiceDef(0)->waveDef;
    ASSERT_NE(Synth().LoadStandardWaveform(0, 1, 2), nullptr);
    ASSERT_TRUE(Synth().SaveWaveform(waves, 1, "Bass", "A"));
    ASSERT_NE(Synth().LoadStandardWaveform(0, 1, 0), nullptr);
    PresetManager& patches = *Synth().GetPatchPresetManager();
    PresetManager& waveforms = *Synth().GetWaveformPresetManager();
    fs::path const patchRoot = patches.GetRoot().ToStdString();
    fs::path const waveRoot = waveforms.GetRoot().ToStdString();
    for (std::string const& name : {noncharacter, longest})
    {
        fs::create_directories(patchRoot / "Names");
        fs::copy_file(patchRoot / "Cycle" / "Good(User).trv", patchRoot / "Names" / (name + ".trv"));
        fs::create_directories(waveRoot / "Names");
        fs::copy_file(waveRoot / "Bass" / "A(User).wfm", waveRoot / "Names" / (name + ".wfm"));
    }
    patches.Refresh();
    waveforms.Refresh();
    EXPECT_EQ(Names(Category(patches, "Names")), (std::vector<std::string>{noncharacter, longest}));

    PresetGUI presets;
    presets.Create(page.get(), &Synth(), "Names", noncharacter.c_str());
    for (std::string const& name : {noncharacter, longest})
    {
        TPatchList& list = presets.GetPatchList();
        list.SetSelection(name.c_str());
        presets.PatchListSelection(PresetGUI::kPatchListId, list.GetSelection(), list.GetSelectedItem());
        EXPECT_EQ(Synth().GetPatchName().ToStdString(), name);
    }
    Run();
    EXPECT_FALSE(backend.FindStrings(shown).empty());
    EXPECT_FALSE(backend.FindStrings(longest).empty());
    EXPECT_FALSE(backend.FindStrings("Names").empty());

    std::vector<std::string> loaded;
    TWaveBrowser browser;
    Responders::NextModalRun(
        [&](Frame&)
        {
            backend.Then(
                [&]
                {
                    browser.GetCategoryList().SetSelection("Names");
                    browser.PatchListSelection(TWaveBrowser::kCategoryListId,
                                               browser.GetCategoryList().GetSelection(),
                                               browser.GetCategoryList().GetSelectedItem());
                    TPatchList& list = browser.GetWaveList();
                    for (std::string const& name : {noncharacter, longest})
                    {
                        list.SetSelection(name.c_str());
                        browser.PatchListSelection(TWaveBrowser::kWaveListId, list.GetSelection(),
                                                   list.GetSelectedItem());
                        if (list.GetSelection() >= 0 && browser.GetPreview().Showing())
                            loaded.push_back(list.GetSelectedName());
                    }
                    browser.ButtonPressed(TWaveBrowser::kCloseId);
                });
        });
    browser.Create(page.get(), 1, 0, 0, &Synth());
    EXPECT_EQ(loaded, (std::vector<std::string>{noncharacter, longest}));
    EXPECT_TRUE(Messages().empty());
}
