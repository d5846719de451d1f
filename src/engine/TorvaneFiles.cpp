// The instrument's own files: patches, single waves and timeline presets, each in the folder of
// its preset manager.
//
// Saving never leaves a half-written file: the parameter-file writer writes a temporary file
// and puts it in place only when everything was written; a failure is returned (patches and
// waves: the editor shows it) or shown (timeline presets).
// What is saved is taken under the plug-in mutex and written to disk after it is released, and
// what is loaded is read and checked first and put in place under the mutex in one step.

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "engine/Torvane.h"
#include "framework/ParameterFile.h"
#include "framework/SaveReport.h"
#include "framework/Streams.h"
#include "platform/MessagePopup.h"

namespace
{

constexpr int kStandardWaveLength = 4096;
constexpr int kNumTimelineLines = VoiceDef::kNumLines;

// The bytes a file writer would write (texts as carriage-return-ended lines), kept in memory so
// that a stream taken under the mutex reaches the disk after the mutex is released.
class FileImage : public Writer
{
public:
    void WriteBytes(void const* data, std::size_t n) override
    {
        char const* bytes = static_cast<char const*>(data);
        image.insert(image.end(), bytes, bytes + n);
    }
    void WriteString(char const* s) override
    {
        s = s != nullptr ? s : "";
        WriteBytes(s, std::strlen(s));
        char const cr = '\r';
        WriteBytes(&cr, 1);
    }
    void CopyTo(Writer& w) const
    {
        if (!image.empty()) w.WriteBytes(image.data(), image.size());
    }

private:
    std::vector<char> image;
};

// Closes the writer; false (and the old file left alone) when anything failed. The writer's
// Outcome tells what became of the save.
bool Finish(ParameterFileWriter& writer, bool payloadWritten)
{
    bool const saved = payloadWritten && writer.Close();
    if (!saved) writer.Discard();
    return saved;
}

// Puts a one-wave table into a slot of the layer's waves. The caller holds the plug-in mutex.
// Same shape: only the slot's samples are copied. Another shape: the waves take it first
// (rebuilding their standard slots), as loading into the slot would.
// The slot holds the standard wave `kind` at that shape: its bytes follow from the kind and shape.
bool HoldsStandard(VectorMipOscWaveDef const& waves, int slot, int kind, long length, int levels)
{
    bool const standard =
        kind == kWaveSine || kind == kWaveSaw || kind == kWaveSquare || kind == kWaveSilence;
    return standard && waves.HasStorage() && waves.GetKind(slot) == kind && waves.length == length &&
           waves.numLevels == levels;
}

bool ValidSlot(int slot)
{
    return slot >= 0 && slot < MipWaveTable::kMaxWaves;
}

// A line as a timeline preset may give it: the line's value count, times from 0 upwards.
bool AcceptableLine(Envelope const& line, int index)
{
    if (line.numValues != NUM_EVENTS_IN_EVENTTYPE[index]) return false;
    float previous = 0.0f;
    for (long i = 0; i < line.Size(); ++i)
    {
        if (line[i].time < previous) return false;
        previous = line[i].time;
    }
    return true;
}

bool Flag(std::vector<bool> const& flags, int i)
{
    return static_cast<std::size_t>(i) < flags.size() && flags[static_cast<std::size_t>(i)];
}

} // namespace

bool Torvane::ReplaceWaves(VectorMipOscWaveDef& live, WaveEdit const& edit)
{
    // A few tries: another thread may replace the waves while this one builds.
    constexpr int kAttempts = 4;
    for (int attempt = 0; attempt < kAttempts; ++attempt)
    {
        // Declared before the lock below: what they hold goes after it.
        auto next = std::make_unique<VectorMipOscWaveDef>();
        MipWaveTable::Held held;
        {
            AudioAPI::Lock hold(GetMutex());
            held = live.Hold();
        }
        if (held.Empty()) break;
        bool const edited = next->Adopt(held) && edit(*next);
        AudioAPI::Lock hold(GetMutex());
        if (!live.StillHolds(held)) continue;
        if (edited)
        {
            live.Swap(*next);
            MarkEditedByEditor();
        }
        // The held bytes stay with `live` or `next`: dropping the hold frees nothing here.
        held = MipWaveTable::Held();
        return edited;
    }
    // Waves that are not shared (memory ran out when they were built) are edited in place.
    AudioAPI::Lock hold(GetMutex());
    if (!edit(live)) return false;
    MarkEditedByEditor();
    return true;
}

void Torvane::StageDefaultWaves(DefaultWaves& staged, int first, int last)
{
    // What an earlier staging held or built goes here, before the mutex is taken.
    for (int layer = first; layer <= last; ++layer)
    {
        staged.held[layer] = MipWaveTable::Held();
        staged.tables[layer].reset();
    }
    {
        AudioAPI::Lock hold(GetMutex());
        for (int layer = first; layer <= last; ++layer)
        {
            staged.held[layer] = voiceDefs[layer].waveDef.Hold();
            staged.levels[layer] = voiceDefs[layer].waveDef.numLevels;
        }
    }
    for (int layer = first; layer <= last; ++layer)
    {
        // Waves that are the default ones already stay as they are.
        if (VoiceDef::HoldsDefaultWaves(staged.held[layer])) continue;
        auto table = std::make_unique<VectorMipOscWaveDef>();
        // The default waves at these levels, held by another layer or built for it, are shared.
        bool shared = false;
        for (int other = first; other <= last && !shared; ++other)
        {
            if (other == layer || staged.levels[other] != staged.levels[layer]) continue;
            if (staged.tables[other])
                shared = table->Adopt(staged.tables[other]->Hold());
            else if (VoiceDef::HoldsDefaultWaves(staged.held[other]))
                shared = table->Adopt(staged.held[other]);
        }
        if (!shared)
        {
            table->InitArray(VoiceDef::kDefaultWaveLength, staged.levels[layer]);
            VoiceDef::CreateDefaultWaves(*table);
        }
        staged.tables[layer] = std::move(table);
    }
}

bool Torvane::DefaultWavesFit(DefaultWaves const& staged, int layer) const
{
    // Default waves depend on the number of levels of the table they replace, and on nothing else.
    VectorMipOscWaveDef const& live = voiceDefs[layer].waveDef;
    return staged.tables[layer] ? live.numLevels == staged.levels[layer]
                                : live.StillHolds(staged.held[layer]);
}

void Torvane::InstallDefaultWaves(DefaultWaves& staged, int layer)
{
    VectorMipOscWaveDef& live = voiceDefs[layer].waveDef;
    bool const fits = DefaultWavesFit(staged, layer);
    if (fits && staged.tables[layer])
        live.Swap(*staged.tables[layer]);
    else if (!fits)
        // Changed again and again while staging: built here.
        VoiceDef::CreateDefaultWaves(live);
    // The held bytes stay with a table (when the waves fitted): dropping the hold frees nothing.
    staged.held[layer] = MipWaveTable::Held();
}

void Torvane::ResetLayers(int first, int last, std::function<void(DefaultWaves&)> const& install)
{
    // Declared before the lock: the waves replaced go after it.
    DefaultWaves staged;
    constexpr int kAttempts = 4;
    for (int attempt = 1;; ++attempt)
    {
        StageDefaultWaves(staged, first, last);
        AudioAPI::Lock hold(GetMutex());
        bool fit = true;
        for (int layer = first; layer <= last; ++layer)
            fit = fit && DefaultWavesFit(staged, layer);
        if (!fit && attempt < kAttempts) continue;
        install(staged);
        return;
    }
}

// ---------------------------------------------------------------------------------------------
// Patches

int Torvane::SavePatch(char const* category, char const* name, SaveOutcome* outcome)
{
    String fileName(name != nullptr ? name : "");
    if (!PresetManager::IsUserPresetName(fileName)) fileName += "(User)";

    bool saved = false;
    ParameterFileWriter writer;
    if (patchPresets.SaveStart(category, fileName, writer))
    {
        // The stream holds the name and category it is saved under.
        String const oldName = GetPatchName();
        String const oldCategory = GetPatchCategory();
        SetPatchName(fileName);
        SetPatchCategory(category);
        FileImage image;
        bool const written = SavePreset(image, kPatchVersion);
        image.CopyTo(writer);
        saved = Finish(writer, written);
        if (!saved)
        {
            SetPatchName(oldName);
            SetPatchCategory(oldCategory);
        }
        patchPresets.SaveEnd();
    }
    if (outcome != nullptr) *outcome = writer.Outcome();
    if (saved) MarkEditedByEditor();
    return saved ? 1 : 0;
}

Torvane::PatchFileLoad Torvane::LoadPatchFile(char const* category, char const* name)
{
    ParameterFileReader reader;
    if (!patchPresets.LoadStart(category, name, reader))
    {
        // Nothing at all at the path (or no path for these names) is no refused file.
        String const path = patchPresets.MakePresetPath(category, name);
        std::error_code error;
        bool const missing = path.GetLength() == 0 ||
                             std::filesystem::symlink_status(static_cast<char const*>(path), error).type() ==
                                 std::filesystem::file_type::not_found;
        return missing ? PatchFileLoad::Missing : PatchFileLoad::Refused;
    }
    LoadResult const result = LoadPatchStream(reader, kPatchVersion);
    reader.Close();
    if (result != LoadResult::Loaded) return PatchFileLoad::Refused;
    // The file's name and folder replace the texts stored inside.
    SetPatchName(name);
    SetPatchCategory(category);
    RefreshAllParameterListeners(3, true);
    PostEditorRequests(kEditorPatchLoaded);
    return PatchFileLoad::Loaded;
}

void Torvane::ReportRefusedPatches(std::vector<String> const& names)
{
    if (names.empty()) return;
    // One message, however many files a step passed over; a long list is cut.
    constexpr std::size_t kNamed = 5;
    String text(names.size() == 1 ? "Error: Could not load patch: " : "Error: Could not load patches: ");
    for (std::size_t i = 0; i < names.size() && i < kNamed; ++i)
    {
        if (i > 0) text += ", ";
        text += names[i];
    }
    if (names.size() > kNamed)
        text += String::FormatString(" and %lu more", static_cast<unsigned long>(names.size() - kNamed));
    MessagePopup(text, "Patch Load Error");
}

int Torvane::LoadPatch(char const* category, char const* name)
{
    PatchFileLoad result = PatchFileLoad::Refused;
    try
    {
        result = LoadPatchFile(category, name);
    }
    catch (...)
    {
        MessagePopup("An exception occurred in Torvane::LoadPatch", "Patch Load Error");
        return 0;
    }
    // A file that is there but can't be loaded says so, with its name; a missing one doesn't.
    if (result == PatchFileLoad::Refused) ReportRefusedPatches({String(name != nullptr ? name : "")});
    return result == PatchFileLoad::Loaded ? 1 : 0;
}

void Torvane::NextPatch()
{
    StepPatch(true);
}

void Torvane::PreviousPatch()
{
    StepPatch(false);
}

void Torvane::StepPatch(bool forward)
{
    // Files that are refused (or gone) are passed over, up to once round the whole list; the
    // refused ones are named in one message at the end of the step.
    // Coming round to the current patch after a refused file ends the step without loading it
    // again (a one-patch list reloads it, as any first step would).
    String const currentCategory = GetPatchCategory();
    String const currentName = GetPatchName();
    String category = currentCategory;
    String name = currentName;
    std::vector<String> refused;
    std::size_t const count = patchPresets.NumEntries();
    for (std::size_t tried = 0; tried < count; ++tried)
    {
        PresetManager::PresetEntry const* entry =
            forward ? patchPresets.GetNext(category, name) : patchPresets.GetPrevious(category, name);
        if (entry == nullptr) break;
        category = entry->GetCategory();
        name = entry->GetPresetName();
        if (tried > 0 && category == currentCategory && name == currentName) break;
        PatchFileLoad result = PatchFileLoad::Refused;
        try
        {
            result = LoadPatchFile(category, name);
        }
        catch (...)
        {
            MessagePopup("An exception occurred in Torvane::LoadPatch", "Patch Load Error");
            return;
        }
        if (result == PatchFileLoad::Loaded) break;
        if (result == PatchFileLoad::Refused) refused.push_back(name);
    }
    ReportRefusedPatches(refused);
}

// ---------------------------------------------------------------------------------------------
// Waves

bool Torvane::SaveWaveform(VectorMipOscWaveDef* waves, int slot, char const* category, char const* name,
                           SaveOutcome* outcome)
{
    bool saved = false;
    ParameterFileWriter writer;
    if (waves == nullptr || !ValidSlot(slot))
        writer.Refuse(EINVAL);
    else
    {
        FileImage image;
        {
            // The waves may be a layer's, which a load on another thread may be changing.
            AudioAPI::Lock hold(GetMutex());
            waves->Save(slot, image, 1.0f);
        }
        if (waveformPresets.SaveStart(category, name, writer))
        {
            image.CopyTo(writer);
            saved = Finish(writer, !image.Failed());
            waveformPresets.SaveEnd();
        }
    }
    if (outcome != nullptr) *outcome = writer.Outcome();
    return saved;
}

VectorMipOscWaveDef* Torvane::LoadWaveform(int voice, int slot, Reader& r, bool* loaded)
{
    if (loaded != nullptr) *loaded = false;
    VoiceDef* def = GetVoiceDef(voice);
    if (def == nullptr) return nullptr;
    VectorMipOscWaveDef* waves = &def->waveDef;
    if (!ValidSlot(slot)) return waves;
    // The wave is built here, without the mutex (a custom wave costs an inverse FFT per
    // level); only the finished samples are put in place under it. A refused stream changes
    // nothing.
    MipOscWaveDef built;
    if (!built.Load(r)) return waves;
    // A standard wave the slot holds already is not built again.
    if (!ReplaceWaves(*waves,
                      [&](VectorMipOscWaveDef& next)
                      {
                          return !HoldsStandard(next, slot, built.GetKind(), built.length, built.numLevels) &&
                                 next.CopySlotFrom(slot, built);
                      }))
        MarkEditedByEditor();
    if (loaded != nullptr) *loaded = true;
    return waves;
}

VectorMipOscWaveDef* Torvane::LoadStandardWaveform(int voice, int slot, int shape)
{
    VoiceDef* def = GetVoiceDef(voice);
    if (def == nullptr) return nullptr;
    VectorMipOscWaveDef* waves = &def->waveDef;
    if (!ValidSlot(slot) || shape < 0 || shape > 3) return waves;

    static constexpr int kShapeKinds[4] = {kWaveSaw, kWaveSquare, kWaveSine, kWaveSilence};
    int const kind = kShapeKinds[shape];
    bool const replaced =
        ReplaceWaves(*waves,
                     [&](VectorMipOscWaveDef& next)
                     {
                         // A slot that holds the shape already keeps it.
                         if (HoldsStandard(next, slot, kind, kStandardWaveLength, next.numLevels))
                             return false;
                         MipOscWaveDef built;
                         if (!built.InitArray(kStandardWaveLength, next.numLevels)) return false;
                         switch (kind)
                         {
                         case kWaveSaw:
                             built.CreateSaw(kStandardWaveLength);
                             break;
                         case kWaveSquare:
                             built.CreateSquare(kStandardWaveLength);
                             break;
                         case kWaveSine:
                             built.CreateSine(kStandardWaveLength);
                             break;
                         default:
                             built.CreateSilence(kStandardWaveLength);
                             break;
                         }
                         return next.CopySlotFrom(slot, built);
                     });
    if (!replaced) MarkEditedByEditor();
    return waves;
}

// ---------------------------------------------------------------------------------------------
// Timeline presets: six bools (lines 0-5 present), then each present line's envelope.

bool Torvane::SaveTimelinePreset(std::vector<bool> const& lines, Writer& w)
{
    std::optional<Envelope> copies[kNumTimelineLines];
    {
        // One consistent picture of the lines; the writing happens without the mutex.
        AudioAPI::Lock hold(GetMutex());
        for (int i = 0; i < kNumTimelineLines; ++i)
        {
            if (Flag(lines, i)) copies[i].emplace(voiceDefs[currentVoice].lines[i]);
        }
    }
    for (int i = 0; i < kNumTimelineLines; ++i)
        w.Write(Flag(lines, i));
    for (std::optional<Envelope> const& line : copies)
    {
        if (line) line->Save(w);
    }
    if (w.Failed()) return false;
    // Saving a preset counts as an edit of the instance's timeline set.
    MarkEditedByEditor();
    return true;
}

bool Torvane::SaveTimelinePreset(char const* category, char const* name, std::vector<bool> const& lines)
{
    ParameterFileWriter writer;
    if (timelinePresets.SaveStart(category, name, writer))
    {
        bool const written = SaveTimelinePreset(lines, writer);
        Finish(writer, written);
        timelinePresets.SaveEnd();
    }
    char const* const shown = name != nullptr ? name : "";
    return ReportSave(
        writer.Outcome(), String::FormatString("Could not save the timeline preset \"%s\"", shown),
        String::FormatString("The timeline preset \"%s\" was saved", shown), "Timeline Preset Save Error");
}

bool Torvane::LoadTimelinePreset(std::vector<bool> const& wanted, Reader& r)
{
    bool stored[kNumTimelineLines] = {};
    for (bool& flag : stored)
    {
        if (!r.Read(&flag)) return false;
    }
    // Every stored line is read (the next one follows it), every wanted one is checked; only
    // then does anything change.
    std::optional<Envelope> loaded[kNumTimelineLines];
    for (int i = 0; i < kNumTimelineLines; ++i)
    {
        if (!stored[i]) continue;
        if (Flag(wanted, i))
        {
            loaded[i].emplace(true);
            if (!loaded[i]->Load(r) || !AcceptableLine(*loaded[i], i)) return false;
        }
        else
        {
            Envelope skipped(true);
            if (!skipped.Load(r)) return false;
        }
    }
    {
        AudioAPI::Lock hold(GetMutex());
        for (int i = 0; i < kNumTimelineLines; ++i)
        {
            if (loaded[i]) voiceDefs[currentVoice].lines[i] = *loaded[i];
        }
        MarkEditedByEditor();
    }
    PostEditorRequests(kEditorUpdateAll);
    return true;
}

bool Torvane::TimelineLoadAvailableEnvelopes(std::vector<bool>& out, Reader& r)
{
    out.clear();
    for (int i = 0; i < kNumTimelineLines; ++i)
    {
        bool flag = false;
        if (!r.Read(&flag))
        {
            out.assign(kNumTimelineLines, false);
            return false;
        }
        out.push_back(flag);
    }
    return true;
}
