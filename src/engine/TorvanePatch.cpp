// The patch stream: one format for patch files and for the host's state block.
//
//   float version (0.012), text "TORVANE_STATE", bool reserved, text patch name,
//   Time Freeze, "KeyMode", "Polyphony", "PortamentoTime" (one float each),
//   performance pads, layers 0-3, delay, reverb, distortion, low filter, high filter,
//   "MasterVolume", "PitchBendRange", text category.
//
// Readers turn the version into n = Round(1000 v) and skip or default what older streams lack.

#include <cstring>
#include <limits>
#include <string>

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
} // namespace

String Torvane::BoundedText(char const* text)
{
    if (text == nullptr) return String("");
    return String(std::string(text, strnlen(text, kMaxPatchTextLength)));
}

void Torvane::SetPatchName(char const* name)
{
    patchName = BoundedText(name);
    PostEditorRequests(kEditorPatchName);
}

bool Torvane::SavePreset(Writer& w, float version)
{
    // The editor may be changing the lines; the stream is read whole.
    AudioAPI::Lock hold(GetMutex());
    w.Write(version);
    w.Write(kStateKey);
    w.Write(false);
    w.Write(static_cast<char const*>(patchName));
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
    w.Write(static_cast<char const*>(patchCategory));
    return !w.Failed();
}

Torvane::LoadResult Torvane::ReadPatchStream(Reader& r, float maxVersion, bool pushAmounts)
{
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
    SetPatchName(name);

    timeFreeze.Load(r);
    if (n <= 9)
    {
        float tempo = 0.0f;
        if (!r.Read(&tempo)) return LoadResult::Broken;
        for (int layer = 0; layer < kNumLayers; ++layer)
            voiceDefs[layer].parameters[VoiceDef::kTimelineInTempo].SetBool(tempo >= 0.5f);
    }

    keyMode.Load(r);
    polyphony.Load(r);
    portamentoTime.Load(r);
    if (!performMods.Load(r)) return LoadResult::Broken;

    for (int layer = 0; layer < kNumLayers; ++layer)
    {
        VoiceDef& def = voiceDefs[layer];
        if (!def.Load(r, v)) return LoadResult::Broken;
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
            delay.bypass.Load(r);
            delay.enabled.Load(r);
            delay.time.Load(r);
            delay.feedback.Load(r);
            delay.mix.Load(r);
            delay.amplitude.Load(r);
            if (n < 5)
                delay.stereo.SetBool(true);
            else
            {
                delay.stereo.Load(r);
                delay.syncToHost.SetBool(true);
            }
        }
        else
            delay.Load(r);

        reverb.ParameterHost::Load(r);
        if (n <= 6)
        {
            float discarded[6];
            for (float& f : discarded)
                r.Read(&f);
        }

        if (n < 5)
        {
            distortion.Reset();
            SetGlobalFiltersToDefaults();
        }
        else
        {
            distortion.ParameterHost::Load(r);
            if (n == 8) distortion.crunch = 0.7f;
            if (n <= 6)
                SetGlobalFiltersToDefaults();
            else
            {
                globalLowFilter.ParameterHost::Load(r);
                globalHighFilter.ParameterHost::Load(r);
            }
        }
    }

    if (n > 4)
        masterVolume.Load(r);
    else
        masterVolume = 1.0f;
    if (n > 7)
        pitchBendRange.Load(r);
    else
        pitchBendRange = 2.0f;
    if (n > 5)
    {
        char category[kMaxPatchTextLength + 1];
        if (!r.Read(category)) return LoadResult::Broken;
        SetPatchCategory(category);
    }
    else
        SetPatchCategory(kUntitled);

    // Parameter loads keep the old value on a short read: only the reader knows.
    return r.Failed() ? LoadResult::Broken : LoadResult::Loaded;
}

Torvane::LoadResult Torvane::LoadPatchStream(Reader& r, float maxVersion)
{
    AudioAPI::Lock hold(GetMutex());
    // What the patch was, to put back if the stream breaks off half way.
    String snapshot;
    StringWriter keep;
    keep.Open(&snapshot);
    bool const haveSnapshot = SavePreset(keep, kPatchVersion);
    keep.Close();

    // No note sounds and none starts while the layers change.
    enabled.SetBool(false);
    KillAllNotes();

    LoadResult result = LoadResult::Broken;
    try
    {
        result = ReadPatchStream(r, maxVersion, true);
    }
    catch (...)
    {
        result = LoadResult::Broken;
    }

    if (result == LoadResult::Broken && haveSnapshot)
    {
        StringReader back;
        back.Open(snapshot, static_cast<std::size_t>(snapshot.GetLength()));
        try
        {
            ReadPatchStream(back, kPatchVersion, false);
        }
        catch (...)
        {
            // Out of memory twice: what was put back so far stays.
        }
        KillAllNotes();
    }

    enabled.SetBool(true);
    return result;
}

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
    {
        // The layers' waves and lines are rebuilt while blocks may be rendering.
        AudioAPI::Lock hold(GetMutex());
        patchName = kUntitled;
        patchCategory = "";

        for (int layer = 0; layer < kNumLayers; ++layer)
        {
            voiceDefs[layer].CreateDefault();
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
    }

    PostEditorRequests(kEditorUpdateAll | kEditorRefreshParameters);
}
