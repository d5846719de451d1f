// Writes the seed corpus of every fuzz target: make_corpus <folder> fills <folder>/<target>/
// with inputs made by the system's own code (states, patch, waveform and timeline-preset files
// the instrument saves, mapping files MIDI learn writes, envelope and wave-table streams) and
// by small writers here (WAV files, MIDI byte streams).

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "InstrumentHarness.h"
#include "dsp/Envelope.h"
#include "dsp/WaveTables.h"
#include "engine/Torvane.h"
#include "framework/MidiLearn.h"
#include "framework/ParameterFile.h"
#include "framework/Paths.h"
#include "framework/Random.h"
#include "framework/Streams.h"

namespace fs = std::filesystem;

namespace
{

std::string outRoot;
int written = 0;

void Seed(char const* target, std::string const& name, std::vector<uint8_t> const& bytes)
{
    fuzz::WriteFile(outRoot + "/" + target + "/" + name, bytes.data(), bytes.size());
    ++written;
}

// Copies every file below folder into the target's corpus, named after the file.
void SeedFolder(char const* target, std::string const& folder)
{
    std::vector<fs::path> files;
    for (auto const& entry : fs::recursive_directory_iterator(folder))
    {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    fuzz::Check(!files.empty(), "the instrument saved no file");
    for (fs::path const& file : files)
    {
        std::string name = file.stem().string();
        for (char& c : name)
        {
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '-';
        }
        Seed(target, name, fuzz::ReadFile(file.string()));
    }
}

// ---- WAV files ---------------------------------------------------------------------------

void Put16(std::vector<uint8_t>& b, unsigned v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
void PutId(std::vector<uint8_t>& b, char const* id)
{
    b.insert(b.end(), id, id + 4);
}

struct WavShape
{
    int channels;
    int bits;
    int frames;
    int fmtSize;      // 16, 18 with a zero extension size, or 40 with a whole extensible one
    bool fact;        // a fact chunk before the data
    bool list;        // a LIST chunk before the data
    float frequency;  // cycles over the file
    unsigned tag = 1; // the format tag (0xFFFE: extensible, whose sub-format is PCM)
};

std::vector<uint8_t> MakeWav(WavShape const& s)
{
    int const frameBytes = s.channels * s.bits / 8;
    std::vector<uint8_t> samples;
    for (int i = 0; i < s.frames; ++i)
    {
        for (int c = 0; c < s.channels; ++c)
        {
            double const x = 0.8 * std::sin(6.283185307179586 * s.frequency * i / s.frames + c);
            if (s.bits == 8)
                samples.push_back(static_cast<uint8_t>(128 + std::lround(x * 127)));
            else if (s.bits == 16)
                Put16(samples, static_cast<unsigned>(std::lround(x * 32767)) & 0xFFFF);
            else
            {
                uint32_t const v = static_cast<uint32_t>(std::lround(x * 8388607)) & 0xFFFFFF;
                Put16(samples, v & 0xFFFF);
                samples.push_back(static_cast<uint8_t>(v >> 16));
            }
        }
    }
    std::vector<uint8_t> body;
    PutId(body, "WAVE");
    PutId(body, "fmt ");
    Put32(body, static_cast<uint32_t>(s.fmtSize));
    Put16(body, s.tag);
    Put16(body, static_cast<unsigned>(s.channels));
    Put32(body, 44100);
    Put32(body, static_cast<uint32_t>(44100 * frameBytes));
    Put16(body, static_cast<unsigned>(frameBytes));
    Put16(body, static_cast<unsigned>(s.bits));
    if (s.fmtSize == 18) Put16(body, 0);
    if (s.fmtSize == 40)
    {
        Put16(body, 22);
        Put16(body, static_cast<unsigned>(s.bits));
        Put32(body, 3);
        uint8_t const pcm[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        body.insert(body.end(), pcm, pcm + 16);
    }
    if (s.fact)
    {
        PutId(body, "fact");
        Put32(body, 4);
        Put32(body, static_cast<uint32_t>(s.frames));
    }
    if (s.list)
    {
        PutId(body, "LIST");
        Put32(body, 10);
        char const info[10] = {'I', 'N', 'F', 'O', 'I', 'S', 'F', 'T', 0, 0};
        body.insert(body.end(), info, info + 10);
    }
    PutId(body, "data");
    Put32(body, static_cast<uint32_t>(samples.size()));
    body.insert(body.end(), samples.begin(), samples.end());

    std::vector<uint8_t> file;
    PutId(file, "RIFF");
    Put32(file, static_cast<uint32_t>(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

void WavSeeds()
{
    Seed("wav", "mono16", MakeWav({1, 16, 200, 16, false, false, 3.0f}));
    Seed("wav", "stereo16-list", MakeWav({2, 16, 300, 16, false, true, 5.0f}));
    Seed("wav", "stereo24", MakeWav({2, 24, 120, 16, false, false, 2.0f}));
    Seed("wav", "mono8-fact", MakeWav({1, 8, 256, 18, true, false, 1.0f}));
    Seed("wav", "quad16", MakeWav({4, 16, 40, 16, false, false, 1.0f}));
    Seed("wav", "extensible16", MakeWav({2, 16, 200, 40, false, false, 3.0f, 0xFFFE}));
    Seed("wav", "alaw-tag16", MakeWav({1, 16, 200, 16, false, false, 3.0f, 6}));
    Seed("wav", "float-tag16", MakeWav({1, 16, 200, 18, true, false, 3.0f, 3}));
}

// ---- MIDI ------------------------------------------------------------------------------------

void MidiSeeds()
{
    // Raw bytes: a chord with running status, sustain, bend, a program change, a learn (0xF9
    // then a controller), a system-exclusive message, all notes off.
    Seed("midi_decoder", "phrase",
         {0x90, 60,   100,  64, 90, 67,   80,   0xB0, 64,   127,  0xE0, 0, 100,  0xC0,
          5,    0xF9, 0xB1, 74, 20, 0xB1, 74,   90,   0xFD, 0x80, 60,   0, 0x90, 64,
          0,    0xF0, 1,    2,  3,  0xF7, 0xB0, 64,   0,    0xB0, 123,  0, 0xFD});
    Seed("midi_decoder", "common", {0xF1, 3, 0xF2, 1, 2, 0xF3, 4, 0xFA, 0xD0, 70, 0xA0, 60, 50, 0xFC, 0xF6});

    // 4-byte events for the plug-in: status, data, data, control (offset, render, block size).
    Seed("plugin_midi", "chord", {0x90, 48, 100, 0x00, 0x90, 55, 100, 0x02, 0x90, 64, 100, 0xB5,
                                  0x90, 67, 90,  0x00, 0x90, 71, 90,  0x01, 0x90, 74, 80,  0xA3,
                                  0x80, 48, 0,   0x00, 0x80, 55, 0,   0x80, 0x80, 64, 0,   0xE0});
    Seed("plugin_midi", "sustain-bend",
         {0xB0, 64, 127, 0x00, 0x90, 60, 127, 0x90, 0x80, 60, 0, 0x00, 0xE0, 0,   127, 0xA0,
          0xB0, 1,  100, 0x05, 0xD0, 90, 0,   0x80, 0xB0, 64, 0, 0xF0, 0xB0, 123, 0,   0x80});
    // A long, busy stretch: 160 events of every kind, in blocks of every size.
    Random random(14);
    std::vector<uint8_t> busy;
    int const statuses[8] = {0x90, 0x90, 0x90, 0x80, 0x80, 0xB0, 0xE0, 0xF9};
    for (int i = 0; i < 160; ++i)
    {
        int const status = statuses[random.NextUInt32() % 8];
        busy.push_back(static_cast<uint8_t>(status));
        busy.push_back(static_cast<uint8_t>(36 + random.NextUInt32() % 48));
        busy.push_back(static_cast<uint8_t>(random.NextUInt32() % 128));
        busy.push_back(static_cast<uint8_t>(random.NextUInt32() & (i % 3 == 2 ? 0xFF : 0x7F)));
    }
    Seed("plugin_midi", "long", busy);
    Seed("plugin_midi", "automation",
         {0xF9, 0,    127,  0x00, 0xF9, 1,    0,    0x00, 0xF9, 2,    64,   0x00, 0x90, 60,
          100,  0x80, 0xF9, 39,   100,  0xC0, 0xF9, 12,   127,  0x90, 0x80, 60,   0,    0xB0});
}

// ---- framework and DSP streams ---------------------------------------------------------------

void ParameterFileSeeds()
{
    struct Kind
    {
        char const* name;
        char const* file;
    } const kinds[] = {{"TorvanePatch", "patch.trv"}, {"Waveform", "wave.wfm"}, {"Timeline", "lines.tvl"}};
    for (Kind const& k : kinds)
    {
        std::string const path = fuzz::ScratchFolder() + "/seeds/" + k.file;
        ParameterFileWriter w;
        w.format.formatName = k.name;
        w.format.version = 1.0f;
        fuzz::Check(w.Open(path.c_str(), true), "a parameter file can't be written");
        w.Write(42);
        w.Write(0.5f);
        w.Write(true);
        w.Write("payload");
        fuzz::Check(w.Close(), "a parameter file can't be closed");
        Seed("parameter_file", k.name, fuzz::ReadFile(path));
    }
}

std::vector<uint8_t> Saved(Envelope const& e)
{
    fuzz::ByteWriter w;
    e.Save(w);
    return w.bytes;
}

void EnvelopeSeeds()
{
    Envelope amplitude(1);
    amplitude.AddBreakpoint(0.0f, 0.0f);
    amplitude.AddBreakpoint(441.0f, 1.0f);
    amplitude.AddBreakpoint(22050.0f, 0.4f);
    amplitude.AddBreakpoint(44100.0f, 0.0f);
    Seed("envelope", "amplitude", Saved(amplitude));

    Envelope modulation(23);
    float values[23];
    for (int i = 0; i < 23; ++i)
        values[i] = 0.05f * static_cast<float>(i);
    modulation.GetBreakpoints().Add(0.0f, values);
    values[7] = -1.0f;
    modulation.GetBreakpoints().Add(3000.0f, values);
    Seed("envelope", "modulation", Saved(modulation));

    Envelope empty(4);
    Seed("envelope", "empty", Saved(empty));
}

void WaveTableSeeds()
{
    VectorMipOscWaveDef t;
    t.InitArray(64, 4);
    t.CreateSaw(0, 64);
    t.CreateSilence(1, 64);
    float cycle[64];
    for (int i = 0; i < 64; ++i)
        cycle[i] = static_cast<float>(std::sin(6.283185307179586 * i / 64.0) +
                                      0.3 * std::sin(6.283185307179586 * 3 * i / 64.0));
    t.CreateWithSamples(2, cycle, -1);
    t.CreateSquare(3, 64);
    char const* names[4] = {"saw", "silence", "custom", "square"};
    for (int slot = 0; slot < 4; ++slot)
    {
        fuzz::ByteWriter w;
        t.Save(slot, w, 1.0f);
        Seed("wavetable", names[slot], w.bytes);
    }
    // The instrument's own shape.
    VectorMipOscWaveDef big;
    big.InitArray(4096, 128);
    big.CreateSine(0, 4096);
    fuzz::ByteWriter w;
    big.Save(0, w, 1.0f);
    Seed("wavetable", "sine-4096", w.bytes);
}

// ---- the instrument's files -------------------------------------------------------------------

std::vector<uint8_t> State(Torvane& t)
{
    int size = 0;
    void* data = t.SavePluginState(size);
    auto const* p = static_cast<uint8_t const*>(data);
    return std::vector<uint8_t>(p, p + size);
}

void InstrumentSeeds()
{
    Torvane t(nullptr);
    t.getAeffect()->dispatcher(t.getAeffect(), effSetSampleRate, 0, 0, nullptr, 44100.0f);

    // The default patch.
    Seed("state_chunk", "default", State(t));
    fuzz::Check(t.SavePatch("Seeds", "Default") == 1, "the default patch can't be saved");
    std::vector<bool> const all(6, true);
    fuzz::Check(t.SaveTimelinePreset("Seeds", "DefaultAll", all), "a timeline preset can't be saved");

    // An edited patch: everything on.
    fuzz::MakeBusyPatch(t, true);
    Seed("state_chunk", "busy", State(t));
    fuzz::Check(t.SavePatch("Seeds", "Busy") == 1, "the busy patch can't be saved");
    fuzz::Check(t.SaveTimelinePreset("Seeds", "BusyAll", all), "a timeline preset can't be saved");
    fuzz::Check(t.SaveTimelinePreset("Seeds", "BusyAmpFilter", {true, false, false, true, false, false}),
                "a timeline preset can't be saved");
    t.SetCurrentVoice(2);
    fuzz::Check(t.SaveTimelinePreset("Seeds", "BusyModulation", {false, false, false, false, true, true}),
                "a timeline preset can't be saved");
    t.SetCurrentVoice(0);
    VectorMipOscWaveDef* waves = &t.GetVoiceDef(0)->waveDef;
    fuzz::Check(t.SaveWaveform(waves, 0, "Seeds", "Standard"), "a waveform can't be saved");
    fuzz::Check(t.SaveWaveform(waves, 3, "Seeds", "Custom"), "a waveform can't be saved");

    // Another edit: legato with a glide, one layer, time freeze.
    t.keyMode = 2.0f;
    t.portamentoTime = 0.5f;
    t.timeFreeze.SetBool(true);
    t.GetVoiceDef(1)->parameters[VoiceDef::kLayerOn].SetBool(false);
    t.GetDelayEffect()->enabled.SetBool(false);
    Seed("state_chunk", "legato", State(t));
    fuzz::Check(t.SavePatch("Seeds", "Legato") == 1, "a patch can't be saved");

    SeedFolder("patch_file", static_cast<char const*>(t.GetPatchPresetManager()->GetRoot()));
    SeedFolder("waveform_file", static_cast<char const*>(t.GetWaveformPresetManager()->GetRoot()));
    SeedFolder("timeline_preset", static_cast<char const*>(t.GetTimelinePresetManager()->GetRoot()));

    // MIDI learn: three controllers learned by the instrument, written to its mappings file.
    MidiLearnManager& learn = *t.GetMidiLearnManager();
    Parameter* learned[3] = {&t.GetPerformMods()->GetSource(0)->X, &t.GetPerformMods()->GetSource(1)->Y,
                             &t.freezePosition};
    int const controllers[3] = {74, 1, 20};
    for (int i = 0; i < 3; ++i)
    {
        learn.StartListen(learned[i]);
        t.HandleMidiEvent(0, 0xB0, controllers[i], 64, 0);
    }
    fuzz::Check(learn.DoPendingAutoSave(), "the mappings can't be saved");
    Seed("midi_learn", "three", fuzz::ReadFile(std::string(GetDataPath()) + "/MidiLearnMappings.dat"));

    // A file that names a parameter this instrument doesn't have, between two it has.
    MidiLearnManager other;
    Parameter stray;
    stray.Create("Stray", nullptr, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    stray.SetInstanceName("Elsewhere");
    Parameter* mixed[3] = {learned[0], &stray, learned[2]};
    for (int i = 0; i < 3; ++i)
    {
        other.RegisterGlobalParameter(mixed[i]);
        other.StartListen(mixed[i]);
        other.ControlChangeMidiEvent(0, 10 + i, 0, 0);
    }
    std::string const path = fuzz::ScratchFolder() + "/seeds/mixed.dat";
    FileWriter w;
    fuzz::Check(w.Create(path.c_str()), "a mappings file can't be written");
    other.Save(w);
    fuzz::Check(w.Close(), "a mappings file can't be closed");
    Seed("midi_learn", "mixed", fuzz::ReadFile(path));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: make_corpus <corpus folder>\n");
        return 2;
    }
    outRoot = argv[1];
    fuzz::ScratchFolder();
    fuzz::SilenceMessages();
    WavSeeds();
    MidiSeeds();
    ParameterFileSeeds();
    EnvelopeSeeds();
    WaveTableSeeds();
    InstrumentSeeds();
    std::printf("%d seeds written below %s\n", written, outRoot.c_str());
    return 0;
}
