#include "framework/MidiLearn.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "framework/Parameter.h"
#include "framework/Streams.h"
#include "framework/String.h"
#include "platform/CascadeList.h"

namespace fs = std::filesystem;

namespace
{

using Bytes = std::vector<unsigned char>;

// A fresh folder below the system's temporary folder, removed afterwards.
class TempFolder
{
public:
    TempFolder()
    {
        static std::atomic<int> counter{0};
        path = fs::temp_directory_path() / ("torvane-midilearn-" + std::to_string(::getpid()) + "-" +
                                            std::to_string(counter.fetch_add(1)));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempFolder() { fs::remove_all(path); }
    fs::path path;
};

Bytes ReadFile(fs::path const& p)
{
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(fs::path const& p, Bytes const& bytes)
{
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<char const*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void Append(Bytes& b, std::string const& text)
{
    b.insert(b.end(), text.begin(), text.end());
}

void AppendInt(Bytes& b, int v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>((static_cast<unsigned>(v) >> (8 * i)) & 0xFF));
}

// The file's header: version 1.0 and the count.
Bytes Header(int count)
{
    Bytes b = {0x00, 0x00, 0x80, 0x3F};
    AppendInt(b, count);
    return b;
}

void AppendRecord(Bytes& b, std::string const& name, std::string const& instance, int controller)
{
    Append(b, name + "\r" + instance + "\r");
    AppendInt(b, controller);
}

// Chooses the popup entry with the given id, or dismisses the popup (-1);
// records the entries it was shown. Puts the previous chooser back at the end.
class ScriptedPopup
{
public:
    explicit ScriptedPopup(long choose) : choose(choose)
    {
        previous = CascadeList::SetChooser(
            [this](CascadeList& list, Window*, long, long) -> CascadeList::Item*
            {
                shown.clear();
                CascadeList::Item* chosen = nullptr;
                for (CascadeList::Entry const& e : list.GetEntries())
                {
                    shown.push_back(e.item != nullptr ? e.item->name + "#" + std::to_string(e.item->id)
                                                      : "-");
                    if (e.item != nullptr && e.item->id == this->choose) chosen = e.item;
                }
                return chosen;
            });
    }
    ~ScriptedPopup() { CascadeList::SetChooser(previous); }
    long choose;
    std::vector<std::string> shown;

private:
    CascadeList::Chooser previous;
};

std::string const kLearn = "MIDI Learn (click here, then move MIDI controller to assign it to me)#0";
std::string const kCancel = "Cancel MIDI Learn#1";
std::string const kDisconnect = "Disconnect from MIDI controller#2";

// An instrument's view of MIDI learn: a few learnable parameters and the
// manager that hears every raw message.
struct Rig
{
    Rig()
    {
        cutoff.Create("Cutoff", nullptr, Parameter::Global, 20.0f, 20000.0f, Parameter::Continuous);
        mode.Create("Mode", nullptr, Parameter::Global, 0.0f, 4.0f, Parameter::Discrete);
        padX.Create("X", nullptr, Parameter::Internal, -1.0f, 1.0f, Parameter::Continuous);
        padX.SetInstanceName("3");
        for (Parameter* p : {&cutoff, &mode, &padX})
        {
            p->SetMidiLearnManager(&manager);
            manager.RegisterGlobalParameter(p);
        }
    }
    // As the adapter delivers a control change, through the decoding.
    void CC(int controller, int value) { manager.HandleMidiEvent(0, 0xB0, controller, value, 0); }

    Parameter cutoff, mode, padX;
    MidiLearnManager manager;
};

} // namespace

TEST(MidiLearn, LearnThroughThePopupThenPlay)
{
    Rig rig;
    {
        ScriptedPopup popup(0);
        rig.cutoff.MidiLearnShowPopup(nullptr, 10, 20);
        EXPECT_EQ(popup.shown, (std::vector<std::string>{kLearn}));
    }
    EXPECT_TRUE(rig.cutoff.MidiLearnIsListening());
    EXPECT_FALSE(rig.cutoff.MidiLearnMapped());

    // The learning message binds CC74 and its value is not applied.
    rig.CC(74, 100);
    rig.manager.NextBuffer();
    EXPECT_FALSE(rig.cutoff.MidiLearnIsListening());
    EXPECT_TRUE(rig.cutoff.MidiLearnMapped());
    EXPECT_EQ(static_cast<float>(rig.cutoff), 20.0f);

    // Values wait for the next block.
    rig.CC(74, 127);
    EXPECT_EQ(static_cast<float>(rig.cutoff), 20.0f);
    rig.manager.NextBuffer();
    EXPECT_EQ(static_cast<float>(rig.cutoff), 20000.0f);
    rig.CC(74, 0);
    rig.manager.NextBuffer();
    EXPECT_EQ(static_cast<float>(rig.cutoff), 20.0f);

    // Two messages in one block: only the second arrives.
    struct Counter : ParamUpdateListener
    {
        void ParameterUpdated(float v, Parameter*) override { values.push_back(v); }
        std::vector<float> values;
    } counter;
    rig.cutoff.AddUpdateListener(&counter);
    rig.CC(74, 10);
    rig.CC(74, 127);
    rig.CC(75, 127); // another controller: nothing mapped
    rig.manager.NextBuffer();
    rig.manager.NextBuffer(); // nothing pending any more
    EXPECT_EQ(counter.values, (std::vector<float>{20000.0f}));
    rig.cutoff.RemoveUpdateListener(&counter);

    // The popup of a mapped parameter offers to disconnect it.
    {
        ScriptedPopup popup(2);
        rig.cutoff.MidiLearnShowPopup(nullptr, 0, 0);
        EXPECT_EQ(popup.shown, (std::vector<std::string>{kLearn, "-", kDisconnect}));
    }
    EXPECT_FALSE(rig.cutoff.MidiLearnMapped());
    rig.cutoff = 500.0f;
    rig.CC(74, 0);
    rig.manager.NextBuffer();
    EXPECT_EQ(static_cast<float>(rig.cutoff), 500.0f);
}

TEST(MidiLearn, ListeningRules)
{
    Rig rig;
    rig.manager.StartListen(&rig.cutoff);
    {
        ScriptedPopup popup(-1); // dismissed: nothing changes
        rig.cutoff.MidiLearnShowPopup(nullptr, 0, 0);
        EXPECT_EQ(popup.shown, (std::vector<std::string>{kCancel}));
    }
    EXPECT_TRUE(rig.manager.IsListeningTo(&rig.cutoff));

    rig.manager.CancelListen(&rig.mode); // not the listened one
    EXPECT_TRUE(rig.manager.IsListeningTo(&rig.cutoff));
    rig.manager.StartListen(&rig.mode); // replaces
    EXPECT_FALSE(rig.manager.IsListeningTo(&rig.cutoff));
    EXPECT_TRUE(rig.manager.IsListeningTo(&rig.mode));
    rig.manager.CancelListen(nullptr);
    EXPECT_FALSE(rig.manager.IsListeningTo(&rig.mode));

    {
        ScriptedPopup popup(1);
        rig.mode.MidiLearnStart();
        rig.mode.MidiLearnShowPopup(nullptr, 0, 0);
    }
    EXPECT_FALSE(rig.mode.MidiLearnIsListening());

    // Sustain and all-notes-off are not control changes: they teach nothing.
    rig.manager.StartListen(&rig.mode);
    rig.CC(64, 127);
    rig.CC(123, 0);
    EXPECT_TRUE(rig.manager.IsListeningTo(&rig.mode));

    // A parameter without a manager shows no popup and is neither listening nor mapped.
    Parameter plain;
    plain.Create("Plain", nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    ScriptedPopup popup(0);
    plain.MidiLearnShowPopup(nullptr, 0, 0);
    EXPECT_TRUE(popup.shown.empty());
    EXPECT_FALSE(plain.MidiLearnIsListening());
    EXPECT_FALSE(plain.MidiLearnMapped());
}

TEST(MidiLearn, OneControllerSeveralParametersAndDiscreteRounding)
{
    Rig rig;
    rig.manager.StartListen(&rig.mode);
    rig.CC(1, 0);
    rig.manager.StartListen(&rig.padX);
    rig.CC(1, 0);
    rig.manager.StartListen(&rig.mode); // a second mapping of the same parameter
    rig.CC(2, 0);
    EXPECT_EQ(rig.manager.NumMappings(), 3);

    rig.CC(1, 64); // 64/127 of 0..4 is 2.0157..., rounded to 2
    rig.manager.NextBuffer();
    EXPECT_EQ(static_cast<float>(rig.mode), 2.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(rig.padX), -1.0f + 2.0f * 64.0f / 127.0f);

    rig.manager.UnmapParameter(&rig.mode); // every mapping of it goes
    EXPECT_EQ(rig.manager.NumMappings(), 1);
    EXPECT_TRUE(rig.manager.IsMapped(&rig.padX));
}

TEST(MidiLearn, MappingsFileIsByteExactAndReloads)
{
    TempFolder temp;
    fs::path const file = temp.path / "deeper" / "Data" / "MidiLearnMappings.dat"; // folders missing
    {
        Rig rig;
        rig.manager.AutoLoadAndSave(file.c_str()); // no file yet: nothing loaded
        EXPECT_EQ(rig.manager.NumMappings(), 0);

        rig.manager.StartListen(&rig.cutoff);
        rig.CC(74, 5);
        // The MIDI side opens no file; the editor's side writes it, at the
        // latest when it starts the next learn.
        EXPECT_FALSE(fs::exists(file));
        rig.manager.StartListen(&rig.padX);
        EXPECT_TRUE(fs::exists(file));
        rig.CC(16, 5);
        EXPECT_TRUE(rig.manager.DoPendingAutoSave());
        EXPECT_FALSE(rig.manager.DoPendingAutoSave()); // nothing new
    }

    Bytes expected = Header(2);
    AppendRecord(expected, "Cutoff", "", 74);
    AppendRecord(expected, "X", "3", 16);
    EXPECT_EQ(ReadFile(file), expected);

    Rig fresh;
    fresh.manager.AutoLoadAndSave(file.c_str());
    EXPECT_EQ(fresh.manager.NumMappings(), 2);
    fresh.CC(16, 127);
    fresh.manager.NextBuffer();
    EXPECT_EQ(static_cast<float>(fresh.padX), 1.0f);
    EXPECT_TRUE(fresh.manager.IsMapped(&fresh.cutoff));
}

TEST(MidiLearn, ALearnIsSavedAtTheLatestWhenTheManagerGoes)
{
    TempFolder temp;
    fs::path const file = temp.path / "MidiLearnMappings.dat";
    {
        Rig rig;
        rig.manager.AutoLoadAndSave(file.c_str());
        rig.manager.StartListen(&rig.mode);
        rig.CC(7, 1);
    }
    Bytes expected = Header(1);
    AppendRecord(expected, "Mode", "", 7);
    EXPECT_EQ(ReadFile(file), expected);
}

TEST(MidiLearn, UnmappingIsSaved)
{
    TempFolder temp;
    fs::path const file = temp.path / "MidiLearnMappings.dat";
    Bytes two = Header(2);
    AppendRecord(two, "Cutoff", "", 74);
    AppendRecord(two, "Mode", "", 20);
    WriteFile(file, two);

    {
        Rig rig;
        rig.manager.AutoLoadAndSave(file.c_str());
        ASSERT_EQ(rig.manager.NumMappings(), 2);
        ScriptedPopup popup(2);
        rig.cutoff.MidiLearnShowPopup(nullptr, 0, 0);
    }
    Bytes one = Header(1);
    AppendRecord(one, "Mode", "", 20);
    EXPECT_EQ(ReadFile(file), one);

    Rig fresh;
    fresh.manager.AutoLoadAndSave(file.c_str());
    EXPECT_FALSE(fresh.manager.IsMapped(&fresh.cutoff));
    EXPECT_TRUE(fresh.manager.IsMapped(&fresh.mode));
}

TEST(MidiLearn, UnknownRecordsAreSkippedAndAnEmptyCountClears)
{
    TempFolder temp;
    fs::path const file = temp.path / "m.dat";
    Bytes b = Header(3);
    AppendRecord(b, "Gone", "", 1);
    AppendRecord(b, "X", "9", 2); // right name, wrong instance
    AppendRecord(b, "X", "3", 3);
    WriteFile(file, b);

    Rig rig;
    rig.manager.AutoLoadAndSave(file.c_str());
    EXPECT_EQ(rig.manager.NumMappings(), 1);
    rig.CC(3, 127);
    rig.manager.NextBuffer();
    EXPECT_EQ(static_cast<float>(rig.padX), 1.0f);

    WriteFile(file, Header(0));
    EXPECT_TRUE(rig.manager.DoAutoLoad());
    EXPECT_EQ(rig.manager.NumMappings(), 0);
}

TEST(MidiLearn, DamagedFilesKeepWhatWasRead)
{
    TempFolder temp;
    fs::path const file = temp.path / "m.dat";
    Bytes good = Header(3);
    AppendRecord(good, "Cutoff", "", 74);
    AppendRecord(good, "Mode", "", 20);
    AppendRecord(good, "X", "3", 21);

    Rig rig;
    rig.manager.AutoLoadAndSave(file.c_str()); // missing: nothing
    // Cut anywhere inside the second record: the first stays.
    std::size_t const firstEnd = 8 + 7 + 1 + 4;
    for (std::size_t cut = firstEnd; cut < firstEnd + 5 + 1 + 4; ++cut)
    {
        WriteFile(file, Bytes(good.begin(), good.begin() + static_cast<long>(cut)));
        EXPECT_FALSE(rig.manager.DoAutoLoad()) << cut;
        EXPECT_EQ(rig.manager.NumMappings(), 1) << cut;
        EXPECT_TRUE(rig.manager.IsMapped(&rig.cutoff)) << cut;
    }

    // A huge count over a short file ends at the data's end.
    Bytes huge = Header(0x7FFFFFFF);
    AppendRecord(huge, "Mode", "", 20);
    WriteFile(file, huge);
    EXPECT_FALSE(rig.manager.DoAutoLoad());
    EXPECT_EQ(rig.manager.NumMappings(), 1);
    EXPECT_TRUE(rig.manager.IsMapped(&rig.mode));

    // A controller number outside 0..127 is a bad record.
    Bytes bad = Header(2);
    AppendRecord(bad, "Cutoff", "", 74);
    AppendRecord(bad, "Mode", "", 300);
    WriteFile(file, bad);
    EXPECT_FALSE(rig.manager.DoAutoLoad());
    EXPECT_EQ(rig.manager.NumMappings(), 1);
    EXPECT_TRUE(rig.manager.IsMapped(&rig.cutoff));

    // A damaged header or a negative count changes nothing.
    for (Bytes const& b : {Bytes{0x00, 0x00}, Header(-1), Bytes{}})
    {
        WriteFile(file, b);
        EXPECT_FALSE(rig.manager.DoAutoLoad());
        EXPECT_EQ(rig.manager.NumMappings(), 1);
    }

    // A name longer than a parameter's name can be is cut and matches nothing.
    Bytes longName = Header(2);
    AppendRecord(longName, std::string(1000, 'n'), "", 5);
    AppendRecord(longName, "Mode", "", 6);
    WriteFile(file, longName);
    EXPECT_TRUE(rig.manager.DoAutoLoad());
    EXPECT_EQ(rig.manager.NumMappings(), 1);
    EXPECT_TRUE(rig.manager.IsMapped(&rig.mode));
}

TEST(MidiLearn, SavingFailsCleanly)
{
    TempFolder temp;
    fs::path const blocker = temp.path / "file";
    WriteFile(blocker, Bytes{1});
    Rig rig;
    // The parent "folder" is a file: nothing can be written there.
    rig.manager.AutoLoadAndSave((blocker / "MidiLearnMappings.dat").c_str());
    rig.manager.StartListen(&rig.mode);
    rig.CC(7, 1);
    EXPECT_FALSE(rig.manager.DoPendingAutoSave());
    EXPECT_FALSE(rig.manager.DoAutoSave());
    EXPECT_EQ(ReadFile(blocker), Bytes{1});
    // The failure is told once, however often the save is tried again; once a save succeeds,
    // the next failure is told again.
    EXPECT_EQ(rig.manager.TakeSaveReport(), "Could not save the MIDI-learn mappings: Not a directory");
    EXPECT_FALSE(rig.manager.DoPendingAutoSave());
    EXPECT_FALSE(rig.manager.DoAutoSave());
    EXPECT_EQ(rig.manager.TakeSaveReport(), "");
    fs::remove(blocker);
    EXPECT_TRUE(rig.manager.DoAutoSave());
    EXPECT_EQ(rig.manager.TakeSaveReport(), "");
    fs::remove_all(blocker);
    WriteFile(blocker, Bytes{1});
    EXPECT_FALSE(rig.manager.DoAutoSave());
    EXPECT_EQ(rig.manager.TakeSaveReport(), "Could not save the MIDI-learn mappings: Not a directory");

    Rig off; // auto-save never turned on
    EXPECT_FALSE(off.manager.DoAutoSave());
    EXPECT_FALSE(off.manager.DoAutoLoad());
}

TEST(MidiLearn, SaveAndLoadThroughMemory)
{
    Rig rig;
    rig.manager.StartListen(&rig.padX);
    rig.CC(99, 0);
    String block;
    StringWriter w;
    w.Open(&block);
    rig.manager.Save(w);
    w.Close();

    Rig other;
    StringReader r;
    r.Open(static_cast<char const*>(block), static_cast<std::size_t>(block.GetLength()));
    EXPECT_TRUE(other.manager.Load(r));
    EXPECT_TRUE(other.manager.IsMapped(&other.padX));
    EXPECT_EQ(other.manager.FindGlobalParameter("X", "3"), &other.padX);
    EXPECT_EQ(other.manager.FindGlobalParameter("X", ""), nullptr);
}

// The editor's thread changes the mappings while the audio thread plays
// controllers and steps blocks. Run under ThreadSanitizer to check the locking.
TEST(MidiLearn, EditorAndAudioThreadsTogether)
{
    Rig rig;
    rig.manager.StartListen(&rig.cutoff);
    rig.CC(74, 0);
    std::atomic<bool> done{false};

    std::thread audio(
        [&]
        {
            int v = 0;
            while (!done.load())
            {
                rig.CC(74, v);
                rig.CC(11, v);
                v = (v + 1) % 128;
                rig.manager.NextBuffer();
            }
        });
    for (int i = 0; i < 2000; ++i)
    {
        rig.manager.StartListen(&rig.padX);
        rig.manager.CancelListen(nullptr);
        (void)rig.manager.IsMapped(&rig.cutoff);
        if (i % 10 == 0) rig.manager.UnmapParameter(&rig.padX);
    }
    done.store(true);
    audio.join();

    // After the turmoil the CC74 mapping still works.
    EXPECT_TRUE(rig.manager.IsMapped(&rig.cutoff));
    rig.CC(74, 127);
    rig.manager.NextBuffer();
    EXPECT_EQ(static_cast<float>(rig.cutoff), 20000.0f);
}
