// The patch stream: one format for patch files and for the host's state block.
//
//   float version (0.012), text "TORVANE_STATE", bool reserved, text patch name,
//   Time Freeze, "KeyMode", "Polyphony", "PortamentoTime" (one float each),
//   performance pads, layers 0-3, delay, reverb, distortion, low filter, high filter,
//   "MasterVolume", "PitchBendRange", text category.
//
// Readers turn the version into n = Round(1000 v) and skip or default what older streams lack.

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/Torvane.h"
#include "framework/StandardMaths.h"
#include "framework/Streams.h"
#include "platform/MessagePopup.h"

namespace
{
constexpr char const* kStateKey = "TORVANE_STATE";
constexpr char const* kUntitled = "<untitled>";
constexpr char const* kLoadErrorText = "Error while loading patch. Aborting";
constexpr char const* kRestoreErrorText = "Torvane Error: Could not restore plug-in state";
// A patch holds at most 16 waves of 16384 samples and its lines: a longer stream is not one.
constexpr std::size_t kMaxPatchStreamBytes = 64u * 1024u * 1024u;
} // namespace

String Torvane::BoundedText(char const* text)
{
    if (text == nullptr) return String("");
    return String(std::string(text, strnlen(text, kMaxPatchTextLength)));
}

String Torvane::GetPatchName() const
{
    std::lock_guard<std::mutex> lock(patchTextMutex);
    return patchName;
}

String Torvane::GetPatchCategory() const
{
    std::lock_guard<std::mutex> lock(patchTextMutex);
    return patchCategory;
}

void Torvane::SetPatchName(char const* name)
{
    String bounded = BoundedText(name);
    {
        std::lock_guard<std::mutex> lock(patchTextMutex);
        patchName.Swap(bounded);
    }
    PostEditorRequests(kEditorPatchName);
}

bool Torvane::SavePreset(Writer& w, float version)
{
    // The editor may be changing the lines; the stream is read whole.
    AudioAPI::Lock hold(GetMutex());
    w.Write(version);
    w.Write(kStateKey);
    w.Write(false);
    w.Write(static_cast<char const*>(GetPatchName()));
    timeFreeze.Save(w);
    keyMode.Save(w);
    polyphony.Save(w);
    portamentoTime.Save(w);
    performMods.Save(w);
    for (int layer = 0; layer < kNumLayers; ++layer)
        voiceDefs[layer].Save(w, version);
    delay.Save(w);
    reverb.ParameterHost::Save(w);
    distortion.ParameterHost::Save(w);
    globalLowFilter.ParameterHost::Save(w);
    globalHighFilter.ParameterHost::Save(w);
    masterVolume.Save(w);
    pitchBendRange.Save(w);
    w.Write(static_cast<char const*>(GetPatchCategory()));
    return !w.Failed();
}

// A patch stream read and checked, and everything built that can be built without the plug-in
// mutex; the swap then reads the same bytes again into the live objects.
struct Torvane::PatchStage
{
    std::vector<char> bytes;
    // The bytes came from a file: texts are carriage-return-ended lines.
    bool fileText = false;
    VoiceDef::Staged layers[kNumLayers];
    std::size_t layerSizes[kNumLayers] = {};
};

namespace
{
// Counts what a saver writes: how many bytes a block of the stream takes.
class CountingWriter : public Writer
{
public:
    void WriteBytes(void const*, std::size_t n) override { size += n; }
    std::size_t size = 0;
};

// The bytes of a file, read from memory as the file reader reads them: a text is a line up to a
// carriage return, leading spaces skipped, cut to the caller's buffer.
class FileBytesReader : public StringReader
{
public:
    bool ReadString(char* buffer, std::size_t capacity) override
    {
        if (Failed()) return false;
        if (buffer == nullptr || capacity == 0 || Remaining() == 0)
        {
            SetFailed();
            return false;
        }
        std::size_t length = 0;
        bool leading = true;
        while (Remaining() > 0)
        {
            char c = 0;
            ReadBytes(&c, 1);
            if (c == '\r') break;
            if (leading && c == ' ') continue;
            leading = false;
            if (length < capacity - 1) buffer[length++] = c;
        }
        buffer[length] = 0;
        return true;
    }
};

// A reader over the stage's bytes that reads texts as they were written.
std::unique_ptr<StringReader> OpenStage(std::vector<char> const& bytes, bool fileText)
{
    std::unique_ptr<StringReader> r =
        fileText ? std::make_unique<FileBytesReader>() : std::make_unique<StringReader>();
    r->Open(bytes.data(), bytes.size());
    return r;
}

// Passes over a block laid out as `save` writes it.
template <class Save> void SkipBlock(StringReader& r, Save save)
{
    CountingWriter counter;
    save(counter);
    r.Skip(counter.size);
}
} // namespace

Torvane::LoadResult Torvane::ReadPatchStream(StringReader& r, float maxVersion, PatchStage& stage, bool apply,
                                             bool pushAmounts)
{
    // Staging (apply false) reads and checks every field and changes nothing; applying reads the
    // same fields into the patch and puts the staged layers in place.
    auto param = [&](Parameter& p)
    {
        if (apply)
            p.Load(r);
        else
        {
            float f = 0.0f;
            r.Read(&f);
        }
    };

    float v = 0.0f;
    if (!r.Read(&v)) return LoadResult::Broken;
    // Negative or huge versions were never written.
    if (!(v >= 0.0f && v <= maxVersion)) return LoadResult::Refused;
    int const n = static_cast<int>(Round(1000.0f * v));

    char key[32];
    if (!r.Read(key)) return LoadResult::Broken;
    if (std::strcmp(key, kStateKey) != 0) return LoadResult::Refused;

    if (n > 11)
    {
        bool reserved = false;
        r.Read(&reserved);
    }

    char name[kMaxPatchTextLength + 1];
    if (!r.Read(name)) return LoadResult::Broken;
    if (apply) SetPatchName(name);

    param(timeFreeze);
    if (n <= 9)
    {
        float tempo = 0.0f;
        if (!r.Read(&tempo)) return LoadResult::Broken;
        if (apply)
            for (int layer = 0; layer < kNumLayers; ++layer)
                voiceDefs[layer].parameters[VoiceDef::kTimelineInTempo].SetBool(tempo >= 0.5f);
    }

    param(keyMode);
    param(polyphony);
    param(portamentoTime);
    if (!performMods.Load(r, apply)) return LoadResult::Broken;

    for (int layer = 0; layer < kNumLayers; ++layer)
    {
        if (!apply)
        {
            std::size_t const before = r.Remaining();
            if (!VoiceDef::Stage(r, stage.layers[layer])) return LoadResult::Broken;
            stage.layerSizes[layer] = before - r.Remaining();
            continue;
        }
        r.Skip(stage.layerSizes[layer]);
        VoiceDef& def = voiceDefs[layer];
        def.Apply(stage.layers[layer]);
        // The sounding voices take the layer's rows.
        for (int row = 0; row < def.modMatrix.GetNumMaps(); ++row)
        {
            TModMap const stored = *def.modMatrix.GetMap(row);
            SetModulationEnabled(row, stored.enabled, layer);
            if (pushAmounts && !stored.amountFromLine) SetModulationAmount(row, stored.amount, layer);
            SetModulationSource(row, stored.output, layer);
            SetModulationTarget(row, stored.input, layer);
        }
    }

    if (v >= 0.002f)
    {
        if (n <= 10)
        {
            for (Parameter* p :
                 {&delay.bypass, &delay.enabled, &delay.time, &delay.feedback, &delay.mix, &delay.amplitude})
                param(*p);
            if (n < 5)
            {
                if (apply) delay.stereo.SetBool(true);
            }
            else
            {
                param(delay.stereo);
                if (apply) delay.syncToHost.SetBool(true);
            }
        }
        else if (apply)
            delay.Load(r);
        else
            SkipBlock(r, [&](Writer& w) { delay.Save(w); });

        if (apply)
            reverb.ParameterHost::Load(r);
        else
            SkipBlock(r, [&](Writer& w) { reverb.ParameterHost::Save(w); });
        if (n <= 6)
        {
            float discarded[6];
            for (float& f : discarded)
                r.Read(&f);
        }

        if (n < 5)
        {
            if (apply)
            {
                distortion.Reset();
                SetGlobalFiltersToDefaults();
            }
        }
        else
        {
            if (apply)
                distortion.ParameterHost::Load(r);
            else
                SkipBlock(r, [&](Writer& w) { distortion.ParameterHost::Save(w); });
            if (n == 8 && apply) distortion.crunch = 0.7f;
            if (n <= 6)
            {
                if (apply) SetGlobalFiltersToDefaults();
            }
            else if (apply)
            {
                globalLowFilter.ParameterHost::Load(r);
                globalHighFilter.ParameterHost::Load(r);
            }
            else
            {
                SkipBlock(r, [&](Writer& w) { globalLowFilter.ParameterHost::Save(w); });
                SkipBlock(r, [&](Writer& w) { globalHighFilter.ParameterHost::Save(w); });
            }
        }
    }

    if (n > 4)
        param(masterVolume);
    else if (apply)
        masterVolume = 1.0f;
    if (n > 7)
        param(pitchBendRange);
    else if (apply)
        pitchBendRange = 2.0f;
    if (n > 5)
    {
        char category[kMaxPatchTextLength + 1];
        if (!r.Read(category)) return LoadResult::Broken;
        if (apply) SetPatchCategory(category);
    }
    else if (apply)
        SetPatchCategory(kUntitled);

    // Parameter loads keep the old value on a short read: only the reader knows.
    return r.Failed() ? LoadResult::Broken : LoadResult::Loaded;
}

Torvane::LoadResult Torvane::StagePatch(float maxVersion, PatchStage& stage)
{
    std::unique_ptr<StringReader> r = OpenStage(stage.bytes, stage.fileText);
    LoadResult const result = ReadPatchStream(*r, maxVersion, stage, false, true);
    if (result != LoadResult::Loaded) return result;
    // The editor changes the live waves under the mutex: holds on them are taken under it, in
    // constant time, and compared without it. The layers whose waves change get a table of their
    // own, built here.
    {
        AudioAPI::Lock hold(GetMutex());
        for (int layer = 0; layer < kNumLayers; ++layer)
            stage.layers[layer].held = voiceDefs[layer].waveDef.Hold();
    }
    for (int layer = 0; layer < kNumLayers; ++layer)
        if (stage.layers[layer].WavesChange()) stage.layers[layer].BuildWaves();
    return LoadResult::Loaded;
}

void Torvane::SwapInPatch(PatchStage& stage, float maxVersion, bool pushAmounts)
{
    std::unique_ptr<StringReader> r = OpenStage(stage.bytes, stage.fileText);
    ReadPatchStream(*r, maxVersion, stage, true, pushAmounts);
    // A patch the user loads in the editor (a host's restore is no edit of the user's).
    MarkEditedByEditor();
}

void Torvane::SwitchOff()
{
    switchedOff.fetch_add(1);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    // Kills the sounding notes; from here on a block passes without waiting for the mutex.
    enabled.SetBool(false);
}

void Torvane::SwitchOn()
{
    // Another load between its own switch-off and the end of its swap keeps the engine off.
    if (switchedOff.fetch_sub(1) != 1) return;
    enabled.SetBool(true);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    // A load that counted itself in meanwhile may have switched off before this switched on:
    // its switch-off stands.
    if (switchedOff.load() != 0) enabled.SetBool(false);
}

Torvane::LoadResult Torvane::SwapStaged(PatchStage& stage, float maxVersion, String& snapshot)
{
    LoadResult result = LoadResult::Loaded;
    SwitchOff();
    {
        AudioAPI::Lock hold(GetMutex());
        try
        {
            // What the patch was, to put back should the swap break off half way (out of
            // memory). Written into memory made ready before: no allocation or first touch of a
            // page lengthens the hold.
            StringWriter keep;
            keep.Open(&snapshot);
            bool const haveSnapshot = SavePreset(keep, kPatchVersion);
            keep.Close();
            KillAllNotes();
            try
            {
                SwapInPatch(stage, maxVersion, true);
            }
            catch (...)
            {
                result = LoadResult::Broken;
                if (haveSnapshot) RollBack(snapshot);
            }
        }
        catch (...)
        {
            // No snapshot: nothing was swapped.
            result = LoadResult::Broken;
        }
        // On again before the mutex goes: the reports the swap raised reach the host after it.
        SwitchOn();
    }
    lastPatchBytes.store(static_cast<std::size_t>(snapshot.GetLength()));
    return result;
}

void Torvane::BuildChangedWaves(PatchStage& stage)
{
    MipWaveTable::Held dropped[kNumLayers];
    bool changed[kNumLayers] = {};
    {
        AudioAPI::Lock hold(GetMutex());
        for (int layer = 0; layer < kNumLayers; ++layer)
        {
            VoiceDef::Staged& staged = stage.layers[layer];
            changed[layer] = !staged.waves && !voiceDefs[layer].waveDef.StillHolds(staged.held);
            if (changed[layer]) std::swap(dropped[layer], staged.held);
        }
    }
    for (int layer = 0; layer < kNumLayers; ++layer)
        if (changed[layer]) stage.layers[layer].BuildWaves();
}

void Torvane::DropWaveHolds(PatchStage& stage)
{
    bool any = false;
    for (VoiceDef::Staged const& layer : stage.layers)
        any = any || !layer.held.Empty();
    if (!any) return;
    AudioAPI::Lock hold(GetMutex());
    for (VoiceDef::Staged& layer : stage.layers)
        layer.held = MipWaveTable::Held();
}

Torvane::LoadResult Torvane::LoadPatchStream(Reader& r, float maxVersion)
{
    LoadResult result = LoadResult::Broken;
    auto stage = std::make_unique<PatchStage>();
    try
    {
        // Read, checked and built while the engine plays the old patch: notes sound and start,
        // and the mutex is claimed only for constant-time looks.
        std::size_t const size = r.Remaining();
        if (size > kMaxPatchStreamBytes) throw std::length_error("patch stream too long");
        stage->bytes.resize(size);
        stage->fileText = dynamic_cast<FileReader*>(&r) != nullptr;
        if (size == 0 || r.ReadBytes(stage->bytes.data(), size)) result = StagePatch(maxVersion, *stage);
        if (result == LoadResult::Loaded)
        {
            LoadStepReached(LoadStep::Staged);
            String snapshot;
            std::size_t const guess = std::max(stage->bytes.size(), lastPatchBytes.load()) * 5 / 4 + 16384;
            snapshot.Resize(static_cast<long>(guess), false);
            snapshot = "";
            BuildChangedWaves(*stage);
            result = SwapStaged(*stage, maxVersion, snapshot);
            LoadStepReached(LoadStep::Swapped);
        }
    }
    catch (...)
    {
        result = LoadResult::Broken;
    }
    // A load that stopped before its swap still holds the live waves it looked at.
    DropWaveHolds(*stage);
    // The replaced waves go with the stage, outside the mutex.
    stage.reset();
    return result;
}

void Torvane::RollBack(String const& snapshot)
{
    // The caller holds the mutex; this runs only after the swap itself failed.
    try
    {
        auto back = std::make_unique<PatchStage>();
        back->bytes.assign(static_cast<char const*>(snapshot),
                           static_cast<char const*>(snapshot) + snapshot.GetLength());
        if (StagePatch(kPatchVersion, *back) == LoadResult::Loaded) SwapInPatch(*back, kPatchVersion, false);
        DropWaveHolds(*back);
    }
    catch (...)
    {
        // Out of memory twice: what was put back so far stays.
    }
    KillAllNotes();
}

void Torvane::LoadStepReached(LoadStep) {}

bool Torvane::LoadPreset(Reader& r, float maxVersion)
{
    LoadResult const result = LoadPatchStream(r, maxVersion);
    // Shown with the plug-in mutex free: the audio thread must not wait on the user.
    if (result == LoadResult::Broken) MessagePopup(kLoadErrorText, "");
    return result == LoadResult::Loaded;
}

void* Torvane::SavePluginState(int& size)
{
    AudioAPI::Lock hold(GetMutex());
    stateBuffer = "";
    StringWriter w;
    w.Open(&stateBuffer);
    bool const saved = SavePreset(w, kPatchVersion);
    w.Close();
    // The block is the bytes written; the String's own terminating zero is not part of it.
    if (!saved || stateBuffer.GetLength() > std::numeric_limits<int>::max())
    {
        size = 0;
        return nullptr;
    }
    size = static_cast<int>(stateBuffer.GetLength());
    return stateBuffer.Lock();
}

bool Torvane::RestorePluginState(void* data, int size)
{
    return RestorePatchState(data, size);
}

bool Torvane::RestorePatchState(void const* data, int size)
{
    // An empty block holds nothing to restore: hosts hand back the empty chunks they stored.
    if (size == 0) return true;
    LoadResult result = LoadResult::Refused;
    if (data != nullptr && size > 0)
    {
        StringReader r;
        r.Open(static_cast<char const*>(data), static_cast<std::size_t>(size));
        result = LoadPatchStream(r, kPatchVersion);
    }
    if (result != LoadResult::Loaded)
    {
        MessagePopup(kRestoreErrorText, "");
        return false;
    }
    PostEditorRequests(kEditorPatchLoaded);
    return true;
}

void Torvane::SetGlobalFiltersToDefaults()
{
    globalLowFilter.enabled = 0.0f;
    globalLowFilter.cutoff = 0.0f;
    globalHighFilter.enabled = 0.0f;
    globalHighFilter.cutoff = 22000.0f;
}

void Torvane::DefaultPatch()
{
    // The default waves are built (or found) outside the mutex; under it they go in by swaps,
    // with the layers' lines and settings, while blocks may be rendering.
    ResetLayers(0, kNumLayers - 1,
                [this](DefaultWaves& staged)
                {
                    std::lock_guard<std::mutex> lock(patchTextMutex);
                    patchName = kUntitled;
                    patchCategory = "";

                    for (int layer = 0; layer < kNumLayers; ++layer)
                    {
                        InstallDefaultWaves(staged, layer);
                        voiceDefs[layer].CreateDefaultSettings();
                        voiceDefs[layer].parameters[VoiceDef::kLayerOn].SetBool(layer == 0);
                    }

                    keyMode = 0.0f;
                    polyphony = 8.0f;
                    portamentoTime = 0.0f;
                    masterVolume = 1.0f;
                    pitchBendRange = 2.0f;

                    tempoBridge = 0.0f;
                    timeFreeze.SetBool(false);
                    // The release range makes this its shortest time.
                    releaseBridge = 0.2f;

                    for (int layer = 0; layer < kNumLayers; ++layer)
                        DefaultModulationMatrix(layer);

                    performMods.Reset();
                    delay.Reset();
                    reverb.Reset();
                    distortion.Reset();
                    SetGlobalFiltersToDefaults();
                    // As after a load: no selection outlives the points it was made of.
                    SetMultipleSelection(nullptr);
                    MarkEditedByEditor();
                });

    PostEditorRequests(kEditorUpdateAll | kEditorRefreshParameters | kEditorDeselectBreakpoints);
}
