#include "engine/Torvane.h"

#include <string>

#include "engine/InstrumentEditor.h"
#include "engine/TNote.h"
#include "framework/Paths.h"
#include "platform/Strand.h"

namespace
{

constexpr int kUniqueID = ('C' << 24) | ('v' << 16) | ('T' << 8) | '1';
constexpr char const* kIdentity = "TorvaneWinVst";
constexpr char const* kProductName = "Torvane";
constexpr char const* kVendorName = "Corvella Audio";
// Below the application-support folder.
constexpr char const* kRootBelowAppData = "/Corvella Audio/Torvane/";

// The send buffers, the effect work buffer and the largest block the effects are given.

std::string AppDataFolder(char const* tail)
{
    return PathManager::GetApplicationDataPath().ToStdString() + tail;
}

// folder + "/" + name, with no doubled separator when the folder already ends with one.
String JoinFolder(char const* folder, char const* name)
{
    std::string path = folder != nullptr ? folder : "";
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    path += '/';
    path += name;
    return String(path);
}

} // namespace

Torvane::Torvane(PlatformHostHandle audioMaster)
    : InstrumentBase(audioMaster, kNumHostParameters, this, kIdentity,
                     AppDataFolder(kRootBelowAppData).c_str(), kUniqueID, kProductName, kVendorName),
      channelPressureSource(this, -1, TMidiEventModSource::kChannelPressure, -1, -1.0f),
      modWheelSource(this, -1, TMidiEventModSource::kControlChange, 1, -1.0f),
      pitchBendSource(this, -1, TMidiEventModSource::kPitchBend, -1, 0.0f)
{
    try
    {
        Build();
    }
    catch (...)
    {
        // The members go next; nothing may still point at them.
        Unhook();
        throw;
    }
}

Torvane::~Torvane()
{
    // An open editor points into the members: it is closed and deleted first.
    ClosePlatformEditor(this);
    Unhook();
    copyBuffer.reset();
}

void Torvane::Unhook()
{
    RemoveMidiEventListener(&midiLearn);
    // The voices read the instrument's members: they go first.
    FreeNotes();
}

void Torvane::Build()
{
    voiceDefs.reset(new VoiceDef[kNumLayers]);

    // The notes: the base's pool of 16, filled through CreateNote.
    SetActiveNoteCount(1);
    InitNotes();
    SetMultipleSelection(nullptr);

    delay.enabled = 0.0f;
    delay.time = 2.0f;
    delay.feedback = 0.5f;
    delay.mix = 1.0f;
    delaySend.Init(kMaxRenderFrames, true);
    AddTempoListener(&delay);
    AddSampleRateListener(&delay);

    reverb.enabled = 0.0f;
    reverb.timeParam = 1.0f;
    reverb.sizeParam = 1.0f;
    reverb.mixParam = 1.0f;
    reverbSend.Init(kMaxRenderFrames, true);
    AddSampleRateListener(&reverb);

    distortion.enabled = 0.0f;
    distortion.crunch = 0.7f;
    distortion.drive = 1.0f;
    distortion.output = 1.0f;
    distortionSend.Init(kMaxRenderFrames, true);
    AddSampleRateListener(&distortion);

    globalLowFilter.enabled = 0.0f;
    globalLowFilter.type = 2.0f;
    globalLowFilter.cutoff = 0.0f;
    globalLowFilter.resonance = 7.0f;
    globalLowFilter.SetAdjustResonanceAtLowCutoffs(false);
    AddSampleRateListener(&globalLowFilter);
    globalLowFilter.cutoff.AddUpdateListener(this);

    globalHighFilter.enabled = 0.0f;
    globalHighFilter.type = 0.0f;
    globalHighFilter.cutoff = 22000.0f;
    globalHighFilter.resonance = 7.0f;
    AddSampleRateListener(&globalHighFilter);
    globalHighFilter.cutoff.AddUpdateListener(this);
    effectWork.Init(kMaxRenderFrames, true);
    currentVoice = 0;
    editTime = 0.0f;

    multipleSelectionMode.Create("Multiple selection mode", this, Parameter::Internal, 0.0f, 2.0f,
                                 Parameter::Discrete);
    // The editing state, the running switch and the edit time's mirror are not kept.
    multipleSelectionMode.SetTransient(true);
    multipleSelectionMode = 0.0f;

    using L = VoiceDef::Line;
    pitchParam.Create(this, L::kVoiceLine, 0, -36.0f, 36.0f, Parameter::Discrete);
    finePitchParam.Create(this, L::kVoiceLine, 1, -1.0f, 1.0f, Parameter::Continuous);
    panParam.Create(this, L::kVoiceLine, 2, -1.0f, 1.0f, Parameter::Continuous);
    unisonDetuneParam.Create(this, L::kVoiceLine, 3, 0.0f, 2.0f, Parameter::Continuous);
    unisonSpreadParam.Create(this, L::kVoiceLine, 4, 0.0f, 1.0f, Parameter::Continuous);
    filterCutoffParam.Create(this, L::kFilterLine, 0, 0.0f, 1.0f, Parameter::Continuous);
    filterTypeParam.Create(this, L::kFilterLine, 1, 0.0f, 2.0f, Parameter::Discrete);
    filterResonanceParam.Create(this, L::kFilterLine, 2, 1.0f, 50.0f, Parameter::Continuous);
    vectorXParam.Create(this, L::kWaveLine, 0, -1.0f, 1.0f, Parameter::Continuous);
    vectorYParam.Create(this, L::kWaveLine, 1, -1.0f, 1.0f, Parameter::Continuous);
    oscNoiseBalanceParam.Create(this, L::kWaveLine, 2, 0.0f, 1.0f, Parameter::Continuous);
    effectsValue0Param.Create(this, L::kEffectsLine, 0, 0.0f, 1.0f, Parameter::Continuous);
    reverbSendParam.Create(this, L::kEffectsLine, 1, 0.0f, 1.0f, Parameter::Continuous);
    delaySendParam.Create(this, L::kEffectsLine, 2, 0.0f, 1.0f, Parameter::Continuous);
    distortionSendParam.Create(this, L::kEffectsLine, 3, 0.0f, 1.0f, Parameter::Continuous);
    distortionSendParam.SetCurveType(Parameter::CubeLaw);
    lfo1DepthParam.Create(this, L::kModulationLine, 0, 0.0f, 1.0f, Parameter::Continuous);
    lfo1RateParam.Create(this, L::kModulationLine, 1, 0.0f, 5.0f, Parameter::Continuous);
    lfo1ShapeParam.Create(this, L::kModulationLine, 2, 0.0f, 3.0f, Parameter::Discrete);
    lfo2DepthParam.Create(this, L::kModulationLine, 3, 0.0f, 1.0f, Parameter::Continuous);
    lfo2RateParam.Create(this, L::kModulationLine, 4, 0.0f, 5.0f, Parameter::Continuous);
    lfo2ShapeParam.Create(this, L::kModulationLine, 5, 0.0f, 3.0f, Parameter::Discrete);

    lfo1SyncBridge.AddUpdateListener(this);
    lfo2SyncBridge.AddUpdateListener(this);
    tempoBridge.AddUpdateListener(this);
    timeFreeze.CreateBool("", this, Parameter::Internal);
    timeFreeze.SetBool(false);

    patchName = "<untitled>";
    patchCategory = "<untitled>";
    // The host-state buffer grows with the first state written, to the size the patch needs.
    stateBuffer = "";

    BuildFolders();

    copyBuffer = std::make_unique<Breakpoint[]>(VoiceDef::kNumLines);
    for (int line = 0; line < VoiceDef::kNumLines; ++line)
        copyBuffer[line].Init(NUM_EVENTS_IN_EVENTTYPE[line]);
    copyBufferFull = false;

    keyMode.Create("KeyMode", this, Parameter::Internal, 0.0f, 2.0f, Parameter::Discrete);
    keyMode = 2.0f;
    polyphony.Create("Polyphony", this, Parameter::Internal, 2.0f, 16.0f, Parameter::Discrete);
    polyphony = 8.0f;
    portamentoTime.Create("PortamentoTime", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    portamentoTime.SetCurveType(Parameter::CubeLaw);
    portamentoTime = 1.0f;

    performMods.Create(this, &midiLearn, &GetMutex());
    for (int pad = 0; pad < PerformMods::kNumPads; ++pad)
    {
        AddAutomatableParameter(&performMods.GetSource(pad)->X);
        AddAutomatableParameter(&performMods.GetSource(pad)->Y);
    }

    freezePosition.Create("Freeze Position", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    freezePosition.SetTransient(true);
    freezePosition.SetMidiLearnManager(&midiLearn);
    midiLearn.RegisterGlobalParameter(&freezePosition);
    AddAutomatableParameter(&freezePosition);

    SetCurrentVoice(0);
    followedNote = nullptr;

    enabled.CreateBool("TORVANE_ENABLED", this, Parameter::Internal);
    enabled.SetTransient(true);
    enabled.SetBool(true);
    AddMidiEventListener(&midiLearn);
    midiLearn.AutoLoadAndSave(JoinFolder(GetDataPath(), "MidiLearnMappings.dat"));

    FreeRunningLFOResetState();

    masterVolume.Create("MasterVolume", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    masterVolume.SetCurveType(Parameter::CubeLaw);
    AddAutomatableParameter(&masterVolume);
    pitchBendRange.Create("PitchBendRange", this, Parameter::Internal, 1.0f, 12.0f, Parameter::Discrete);
    pitchBendRange = 1.0f;
    AddAutomatableParameter(&pitchBendRange);
    AddAutomatableParameters();

    DefaultPatch();

    sustain = false;
    sustainPedal.Init(this);
    animationEnabled.CreateBool("AnimationEnabled", this, Parameter::Internal);
    animationEnabled.SetTransient(true);
    animationEnabled.SetBool(true);
}

void Torvane::BuildFolders()
{
    // A folder that is missing or can't be written only leaves its lists empty.
    SetRootPath(AppDataFolder(kRootBelowAppData).c_str());
    SetImagePath(AppDataFolder("/Corvella Audio/Torvane/Data/Images/").c_str());
    SetPresetsPath(AppDataFolder("/Corvella Audio/Torvane/Patches").c_str());

    ParameterFileFormat format;
    format.version = 1.0f;
    format.SetAcceptVersion(1.0f, 1.0f);

    format.extension = "wfm";
    format.formatName = "Waveform";
    waveformPresets.Init(JoinFolder(GetRootPath(), "Waveforms"), format);

    format.extension = "trv";
    format.formatName = "TorvanePatch";
    patchPresets.Init(JoinFolder(GetRootPath(), "Patches"), format);

    format.extension = "tvl";
    format.formatName = "Timeline";
    timelinePresets.Init(JoinFolder(GetRootPath(), "Timeline"), format);
}

// Entries 15-39 of the host's list; its index is the host's parameter number.
void Torvane::AddAutomatableParameters()
{
    Parameter* const entries[] = {
        &delay.enabled,
        &delay.time,
        &delay.feedback,
        &delay.mix,
        &delay.stereo,
        &reverb.enabled,
        &reverb.timeParam,
        &reverb.sizeParam,
        &reverb.mixParam,
        &distortion.enabled,
        &distortion.crunch,
        &distortion.drive,
        &distortion.output,
        &distortion.highCut,
        &globalLowFilter.enabled,
        &globalLowFilter.cutoff,
        &globalHighFilter.enabled,
        &globalHighFilter.cutoff,
        &voiceDefs[0].parameters[VoiceDef::kLevel],
        &voiceDefs[1].parameters[VoiceDef::kLevel],
        &voiceDefs[2].parameters[VoiceDef::kLevel],
        &voiceDefs[3].parameters[VoiceDef::kLevel],
        &keyMode,
        &polyphony,
        &portamentoTime,
    };
    for (Parameter* p : entries)
        AddAutomatableParameter(p);
}

Note* Torvane::CreateNote(int)
{
    return new TNote();
}

int Torvane::ResolveLayer(int voice) const
{
    if (voice == -1) voice = currentVoice;
    return voice >= 0 && voice < kNumLayers ? voice : -1;
}

VoiceDef* Torvane::GetVoiceDef(int layer)
{
    int const l = ResolveLayer(layer);
    return l >= 0 && voiceDefs ? &voiceDefs[l] : nullptr;
}

InstrumentEditor* Torvane::GetEditor()
{
    return dynamic_cast<InstrumentEditor*>(EditorOnThisThread());
}

namespace
{
// The innermost refresh guard of the calling thread (of its strand, on a strand); each guard links
// to the one it covers.
thread_local Torvane::RefreshGuard* refreshGuards = nullptr;
StrandLocalOf<Torvane::RefreshGuard*> const refreshGuardsLocal([]() -> Torvane::RefreshGuard*&
                                                               { return refreshGuards; });
} // namespace

Torvane::RefreshGuard::RefreshGuard(Torvane const& instrument) : owner(&instrument), previous(refreshGuards)
{
    refreshGuards = this;
}

Torvane::RefreshGuard::~RefreshGuard()
{
    refreshGuards = previous;
}

bool Torvane::IsRefreshing() const
{
    for (RefreshGuard const* g = refreshGuards; g != nullptr; g = g->previous)
        if (g->owner == this) return true;
    return false;
}

void Torvane::ApplyEditorRequests(std::uint32_t bits)
{
    if (bits & kEditorPatchLoaded)
        if (InstrumentEditor* e = GetEditor()) e->PatchLoaded();
    if (bits & kEditorPatchName)
        if (InstrumentEditor* e = GetEditor()) e->UpdatePatchName();
    if (bits & (kEditorUpdateAll | kEditorRefreshParameters | kEditorEditTime))
    {
        // The controls report their values again; the instrument must not act on them.
        RefreshGuard guard(*this);
        if (bits & kEditorUpdateAll)
            if (InstrumentEditor* e = GetEditor()) e->UpdateAll();
        if (bits & kEditorEditTime)
            if (InstrumentEditor* e = GetEditor()) e->UpdatedEditTime();
        if ((bits & (kEditorRefreshParameters | kEditorEditTime)) && GetEditor() != nullptr) UpdateGUI();
    }
    if (bits & kEditorDeselectBreakpoints)
        if (InstrumentEditor* e = GetEditor()) e->DeselectBreakpoints();
    if (bits & kEditorSnapLabel)
        if (InstrumentEditor* e = GetEditor()) e->UpdateSnapLabel();
    if (bits & kEditorEventLines)
        if (InstrumentEditor* e = GetEditor()) e->UpdateEventLines();
}

void Torvane::SetPatchCategory(char const* category)
{
    String bounded = BoundedText(category);
    std::lock_guard<std::mutex> lock(patchTextMutex);
    patchCategory.Swap(bounded);
}

void Torvane::UpdateEventLines()
{
    PostEditorRequests(kEditorEventLines);
}

void Torvane::UpdateGUI()
{
    RefreshAllParameterListeners(1, false);
}
