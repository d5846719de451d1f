#pragma once

#include <cfloat>
#include <memory>
#include <vector>

#include "dsp/DelayEffect.h"
#include "dsp/DistortionEffect.h"
#include "dsp/Envelope.h"
#include "dsp/ReverbEffect.h"
#include "dsp/StereoFilter.h"
#include "engine/InstrumentBase.h"
#include "engine/MidiModSources.h"
#include "engine/PerformMod.h"
#include "engine/TMod.h"
#include "engine/TParam.h"
#include "engine/Voice.h"
#include "engine/VoiceDef.h"
#include "framework/Events.h"
#include "framework/MidiLearn.h"
#include "framework/Parameter.h"
#include "framework/ParameterController.h"
#include "framework/PresetManager.h"
#include "framework/SoundBuffer.h"
#include "framework/String.h"
#include "framework/SustainPedalEmulator.h"

class GUI;
class TNote;
class TClipboard;
class Window;
class Writer;
class Reader;

// One selected breakpoint as the timeline editor keeps it: a copy of the point, found again in
// the line by comparing contents.
struct MultipleSelectionBreakpoint
{
    int line = 0;
    float time = 0.0f;
    std::vector<float> values;
};

// The instrument: the one object the host adapter creates per plug-in instance. It owns the note
// pool (through InstrumentBase), the four layer definitions, the shared effects and global
// filters, its own parameters, the MIDI modulation sources, the performance pads, the preset
// managers, the MIDI-learn manager and the editing state the editors read and write.
//
// Locking: Render holds the plug-in mutex (PluginBase::GetMutex) for the whole block; patch
// loading, host-state save and restore, the layer switch and every timeline edit take it.
// Parameter changes and the plain accessors take no lock.
class Torvane : public InstrumentBase, public EventHandler, public TModRowSetter
{
public:
    static constexpr int kNumHostParameters = 40;
    static constexpr int kNumLayers = 4;
    // The version of the patch stream this build writes.
    static constexpr float kPatchVersion = 0.012f;
    // The size of a large host-state block (the buffer grows to what a state needs).
    static constexpr long kStateBufferSize = 2000000;
    // A free-running LFO slot that holds no phase.
    static constexpr float kNoPhase = FLT_MAX;

    // The held keys, newest at the back.
    class NoteStack
    {
    public:
        struct NoteInfo
        {
            int key = -1;
            int velocity = -1;
            TNote* note = nullptr;
        };

        NoteStack();

        void Push(int key, int velocity, TNote* note);
        // The newest entry, removed (its note becomes the last released note); an empty
        // NoteInfo on an empty stack.
        NoteInfo Pop();
        // The newest entry with that key, removed; an empty NoteInfo when none has it.
        NoteInfo Remove(int key);
        // The newest entry, null when empty.
        NoteInfo* PeekLast();
        int Size() const;
        // Empties the stack; the last released note stays.
        void Clear();
        // The held key nearest to key (first of equal distances); key when empty or when only
        // key itself is held.
        int NearestPitch(int key);
        // The glide pitch of the newest entry's note, else of the last released note, else -1.
        float GetCurrentPortamentoPitch();
        TNote* GetLastReleasedNote() const { return lastReleased; }

    private:
        std::vector<NoteInfo> entries;
        TNote* lastReleased = nullptr;
    };

    explicit Torvane(PlatformHostHandle audioMaster);
    ~Torvane() override;

    // ---- object and accessors -------------------------------------------------------------
    float GetEditTime() const { return editTime; }
    int GetCurrentVoice() const { return currentVoice; }
    // -1 means the current layer; null outside 0-3.
    VoiceDef* GetVoiceDef(int layer);
    PerformMods* GetPerformMods() { return &performMods; }
    DelayEffect* GetDelayEffect() { return &delay; }
    ReverbEffect* GetReverbEffect() { return &reverb; }
    TDistortionEffect* GetDistortionEffect() { return &distortion; }
    StereoFilter* GetGlobalLowFilter() { return &globalLowFilter; }
    StereoFilter* GetGlobalHighFilter() { return &globalHighFilter; }
    SoundBuffer* GetDelayBuffer() { return &delaySend; }
    SoundBuffer* GetReverbBuffer() { return &reverbSend; }
    SoundBuffer* GetDistortionBuffer() { return &distortionSend; }
    SoundBuffer* GetEffectWorkBuffer() { return &effectWork; }
    bool DelayEnabled() { return delay.enabled.GetBool(); }
    bool ReverbEnabled() { return reverb.enabled.GetBool(); }
    bool DistortionEnabled() { return distortion.enabled.GetBool(); }
    Parameter* GetPitchBendRangeParam() { return &pitchBendRange; }
    MidiLearnManager* GetMidiLearnManager() { return &midiLearn; }
    bool GetSustainState() const { return sustain; }
    TMidiEventModSource* GetChannelPressureSource() { return &channelPressureSource; }
    TMidiEventModSource* GetModWheelSource() { return &modWheelSource; }
    TMidiEventModSource* GetPitchBendSource() { return &pitchBendSource; }
    PresetManager* GetWaveformPresetManager() { return &waveformPresets; }
    PresetManager* GetPatchPresetManager() { return &patchPresets; }
    PresetManager* GetTimelinePresetManager() { return &timelinePresets; }
    NoteStack& GetNoteStack() { return noteStack; }
    bool GetRefreshGuard() const { return refreshGuard; }
    void SetRefreshGuard(bool on) { refreshGuard = on; }
    // The editor's redraw of the timeline lines, when an editor is attached.
    void UpdateEventLines();
    // Every internal parameter tells its listeners its value again.
    void UpdateGUI();
    // The attached editor root, or null.
    GUI* GetEditor();

    // ---- note handling (MIDI, audio thread, between blocks) ------------------------------
    Note* CreateNote(int index) override;
    void NoteOnMidiEvent(int channel, int key, int velocity, long offset) override;
    void NoteOffMidiEvent(int channel, int key, long offset) override;
    void AllNotesOffMidiEvent(int channel) override;
    void ControlChangeMidiEvent(int channel, int controller, int value, long offset) override;
    void SustainOnMidiEvent(int channel, long offset) override;
    void SustainOffMidiEvent(int channel, long offset) override;
    // A stolen note's slot, or -1.
    int FindFreeNote();
    int GetOldestNote();
    int GetOldestReleasingNote();
    int GetOldestNoteExcludeQuickReleasing();

    // ---- render and parameter reactions ------------------------------------------------
    void Render(float* left, float* right, long frames, int offset) override;
    void KillAllNotes();
    void ParameterUpdated(float value, Parameter* changed) override;

    // ---- timeline parameters and layer switch ------------------------------------------
    // Whole units, never below 0; mirrored into "Freeze Position" and the editor.
    void SetEditTime(float t);
    // Under the plug-in mutex: rebinds the bridges to that layer and refreshes the editor.
    void SetCurrentVoice(int layer);
    // -1 means the current layer.
    void ResetVoice(int layer);

    // ---- free-running LFO state, animation time, timing tools --------------------------
    void FreeRunningLFOResetState()
    {
        for (float& slot : freeRunningLFOState)
            slot = kNoPhase;
    }
    void FreeRunningLFOSaveState(TNote* note);
    bool HaveLFO1FreeRunningPhase();
    bool HaveLFO2FreeRunningPhase();
    float GetLFO1FreeRunningPhase(int layer);
    float GetLFO2FreeRunningPhase(int layer);
    float GetAnimationTime();
    void AnimationEnded();
    long Performance_MeasureEffects(int notes, long blocks, int frames);
    long Performance_Measure(int notes, long blocks, int frames);
    long Performance_MeasureFilter(int notes, long blocks, int frames);
    long Performance_MeasurePatch(char const* category, char const* name, int notes, long blocks, int frames);
    void Performance_ChoosePresetAndMeasure(Window* parent);
    void Performance_ShowTime(long time);
    void Performance_OpenMenu();

    // ---- patch stream and host state -----------------------------------------------------
    // Writes the patch stream under the plug-in mutex; false when the writer failed.
    bool SavePreset(Writer& w, float version);
    // Reads a patch stream of at most maxVersion under the plug-in mutex. False for a newer
    // stream or another key (nothing changes but the killed notes), and for a stream that
    // can't be read whole: the patch is then put back as it was and "Error while loading
    // patch. Aborting" is shown once the mutex is free.
    bool LoadPreset(Reader& r, float maxVersion);
    // The host-state block (the patch stream), valid until the next call; size = its bytes.
    void* SavePluginState(int& size) override;
    // Restores a host-state block; see RestorePatchState.
    bool RestorePluginState(void* data, int size) override;
    // Reads only the size bytes given. On any failure (empty block, refused or broken
    // stream) the patch stays exactly as it was, no PatchLoaded is sent, "Torvane Error: Could
    // not restore plug-in state" is shown after the mutex is released, and the result is false.
    bool RestorePatchState(void const* data, int size);
    void DefaultPatch();
    void SetPatchName(char const* name);
    void SetPatchCategory(char const* category);
    String GetPatchName() const { return patchName; }
    String GetPatchCategory() const { return patchCategory; }

    // ---- patch, waveform and timeline-preset files ----------------------------------------
    int SavePatch(char const* category, char const* name);
    int LoadPatch(char const* category, char const* name);
    void NextPatch();
    void PreviousPatch();
    // True when the file was written; otherwise a message is shown and the old file stays.
    bool SaveWaveform(VectorMipOscWaveDef* waves, int slot, char const* category, char const* name);
    VectorMipOscWaveDef* LoadWaveform(int voice, int slot, Reader& r);
    VectorMipOscWaveDef* LoadStandardWaveform(int voice, int slot, int shape);
    // The flags vectors hold one flag per line 0-5; missing flags count as false.
    // False when the writer failed.
    bool SaveTimelinePreset(std::vector<bool> const& lines, Writer& w);
    // Every wanted line that the stream holds, all under one lock, or none (false) when the
    // stream is short or a line is refused.
    bool LoadTimelinePreset(std::vector<bool> const& wanted, Reader& r);
    // Six flags (all false, result false, when they can't be read).
    bool TimelineLoadAvailableEnvelopes(std::vector<bool>& out, Reader& r);

    // ---- timeline editing of single breakpoints (voice: layer 0-3 unless stated) --------
    // Value valueIndex of the line at the edit time, under the mutex.
    float GetEvent(int voice, int line, int valueIndex);
    // Writes one value at the edit time (creating a breakpoint there when needed); true when
    // a breakpoint was created. Refused (false) while the editor follows a playing note.
    bool SetEvent(int voice, int line, int valueIndex, float value);
    int SetEvent(int voice, int line, int valueIndex, int index, float value);
    float SetEventTime(int voice, int line, int index, float time);
    void DeleteEvent(int voice, int line, long index);
    // The breakpoint at exactly `time`, or a new one inserted there (always when forced).
    // Null for a layer or line out of range. The caller holds the mutex.
    Breakpoint* CreateEventBreakpoint(float time, int voice, int line, bool* created, bool force);
    void NextBreakpoint(int line);
    void PrevBreakpoint(int line);
    void CopyAll(int voice);
    void Paste(int voice, int line);
    void PasteAll(int voice);

    // ---- multiple selection (current layer) ---------------------------------------------
    void SetMultipleSelection(std::vector<MultipleSelectionBreakpoint>* sel);
    std::vector<MultipleSelectionBreakpoint>* GetMultipleSelection() const { return multipleSelection; }
    float MultipleSelectionStartTime(std::vector<MultipleSelectionBreakpoint> const& sel);
    float MultipleSelectionStartAtZero(std::vector<MultipleSelectionBreakpoint>& sel);
    float MultipleSelectionGetRelativeChange(int line, int valueIndex);
    std::vector<Breakpoint*> FindEventBreakpoints(MultipleSelectionBreakpoint* record);
    void DragSelection(std::vector<MultipleSelectionBreakpoint>& sel, float dt);
    void TimeStretchSelection(std::vector<MultipleSelectionBreakpoint>& sel, float factor);
    void ChangeAmplitudeOfSelection(std::vector<MultipleSelectionBreakpoint>& sel, float delta);
    void DeleteSelection(std::vector<MultipleSelectionBreakpoint>& sel);
    void MultipleSelectionParameterChange(int line, int valueIndex, float value, Parameter* control);

    // ---- clipboard ------------------------------------------------------------------------
    void CopySelectionToClipboard(std::vector<MultipleSelectionBreakpoint> const& sel);
    std::shared_ptr<std::vector<MultipleSelectionBreakpoint>> PasteSelectionFromClipboard();

    // ---- modulation rows (voice: layer 0-3 or -1 for the current layer) ----------------
    int GetModulationSource(int row, int voice);
    int GetModulationTarget(int row, int voice);
    bool GetModulationEnabled(int row, int voice);
    void SetModulationEnabled(int row, bool enabled, int voice) override;
    void SetModulationSource(int row, int id, int voice) override;
    void SetModulationTarget(int row, int id, int voice) override;
    // Writes the amount into the modulation line at the edit time; true when a breakpoint was
    // created there.
    bool SetModulationAmount(int row, float amount, int voice);
    float GetModulationAmount(int row, int voice);
    void EnableModulationMatrix(bool enabled, int voice);
    bool GetModulationMatrixEnabled(int voice);
    // Rows 0-4: no source, no target, enabled.
    void DefaultModulationMatrix(int voice);

    // The clipboard shared by every instrument of the process.
    static TClipboard clipboard;

    // ---- members, in construction order ---------------------------------------------------
private:
    // Declared first so that it outlives the bridges pointing into it; the constructor fills
    // it after the effects and filters (member 17), its place in the building order.
    std::unique_ptr<VoiceDef[]> voiceDefs;

public:
    // 1-3: MIDI modulation sources.
    TMidiEventModSource channelPressureSource;
    TMidiEventModSource modWheelSource;
    TMidiEventModSource pitchBendSource;

    // 4: editing parameters. Bridges follow the current layer's definition parameters;
    // TParams stand for one value of one line of the current layer at the edit time.
    BridgeParameter layerOnBridge;
    TParam pitchParam;
    TParam finePitchParam;
    TParam panParam;
    BridgeParameter unisonBridge;
    TParam unisonDetuneParam;
    TParam unisonSpreadParam;
    BridgeParameter filterOnBridge;
    TParam filterCutoffParam;
    TParam filterTypeParam;
    TParam filterResonanceParam;
    BridgeParameter keyFollowBridge;
    TParam vectorXParam;
    TParam vectorYParam;
    TParam oscNoiseBalanceParam;
    TParam effectsValue0Param;
    TParam reverbSendParam;
    TParam delaySendParam;
    TParam distortionSendParam;
    TParam lfo1DepthParam;
    TParam lfo1RateParam;
    TParam lfo1ShapeParam;
    TParam lfo2DepthParam;
    TParam lfo2RateParam;
    TParam lfo2ShapeParam;
    BridgeParameter lfo1SyncBridge;
    BridgeParameter lfo2SyncBridge;
    BridgeParameter lfo1FreeRunningBridge;
    BridgeParameter lfo2FreeRunningBridge;
    BridgeParameter lfo1PositiveOnlyBridge;
    BridgeParameter lfo2PositiveOnlyBridge;
    BridgeParameter releaseBridge;
    BridgeParameter loopAfterReleaseBridge;

    // 5: the unnamed Time Freeze switch.
    Parameter timeFreeze;
    // 6: follows the current layer's timeline-in-tempo switch.
    BridgeParameter tempoBridge;
    // 7
    Parameter portamentoTime;
    Parameter masterVolume;
    Parameter pitchBendRange;
    Parameter keyMode;
    Parameter polyphony;

private:
    // 8-10
    NoteStack noteStack;
    SustainPedalEmulator sustainPedal;
    TNote* followedNote = nullptr;

public:
    // 11
    Parameter animationEnabled;
    Parameter freezePosition;
    Parameter multipleSelectionMode;
    Parameter enabled; // "TORVANE_ENABLED"

private:
    // 12-16: shared effects with their send buffers, the effect work buffer, global filters.
    DelayEffect delay;
    SoundBuffer delaySend;
    ReverbEffect reverb;
    SoundBuffer reverbSend;
    TDistortionEffect distortion;
    SoundBuffer distortionSend;
    SoundBuffer effectWork;
    StereoFilter globalLowFilter;
    StereoFilter globalHighFilter;
    // 17
    String patchName;
    String patchCategory;
    // 18 is voiceDefs (above). 19-20
    int currentVoice = 0;
    float editTime = 0.0f;
    // 21-22
    PerformMods performMods;
    PresetManager waveformPresets;
    PresetManager patchPresets;
    PresetManager timelinePresets;
    // 23: values of lines 1-5 at the edit time (entry 0 unused).
    std::unique_ptr<Breakpoint[]> copyBuffer;
    bool copyBufferFull = false;
    // 24-26
    MidiLearnManager midiLearn;
    std::vector<MultipleSelectionBreakpoint>* multipleSelection = nullptr;
    std::vector<std::shared_ptr<Breakpoint>> selectionReference;
    // 27: LFO 1 phase of layers 0-3, then LFO 2 phase of layers 0-3.
    float freeRunningLFOState[8] = {};
    // 28
    bool refreshGuard = false;
    // 29: the host-state block.
    String stateBuffer;
    // 30
    bool sustain = false;

    // ---- helpers ---------------------------------------------------------------------------
    // Patch names and categories hold at most this many characters; longer ones are cut.
    static constexpr int kMaxPatchTextLength = 255;
    static String BoundedText(char const* text);
    // The construction steps after the members; Unhook undoes what would outlive them.
    void Build();
    void Unhook();
    enum class LoadResult
    {
        Loaded,
        Refused, // newer version or another key: nothing read into the patch
        Broken,  // the stream could not be read whole
    };
    // The stream into the patch under the plug-in mutex; no messages. A broken stream puts
    // the patch back as it was (from a SavePreset taken first).
    LoadResult LoadPatchStream(Reader& r, float maxVersion);
    // The body of LoadPatchStream; the caller holds the mutex. May throw. pushAmounts: write
    // the amounts of rows that don't take them from the line into the modulation line (not
    // when rolling back: the snapshot's lines already hold what they held).
    LoadResult ReadPatchStream(Reader& r, float maxVersion, bool pushAmounts);
    void SetGlobalFiltersToDefaults();
    // The layer index of `voice` (-1: current), or -1 outside 0-3.
    int ResolveLayer(int voice) const;
    // Under the plug-in mutex: store(map) on the row of the layer's matrix, then
    // rebind(note, layer) for every note. Nothing for a bad layer or row.
    template <class Store, class Rebind>
    void ChangeModulationRow(int row, int voice, Store store, Rebind rebind);
    void AddAutomatableParameters();
    void BuildFolders();

    // ---- note handling and render ----------------------------------------------------------
    // Declarations that the note handling and render code adds go here.
public:
    // The largest piece Render hands to the notes and effects; longer blocks are cut.
    // Held keys the note stack keeps without allocating; beyond it the oldest entry goes.
    static constexpr int kNoteStackCapacity = 256;

    // Pool slot i as the instrument's note (null outside the pool).
    TNote* GetTNote(int i) const;
    // The scratch curves and buffer the voices render with (one voice at a time).
    VoiceWorkspace* GetVoiceWorkspace() { return &voiceWorkspace; }
    // The effect sends of the block being rendered (read once per block).
    VoiceSends const& GetBlockSends() const { return blockSends; }

private:
    // One piece of at most kMaxRenderFrames frames; the caller holds the mutex.
    void RenderPiece(float* left, float* right, long frames, int offset);
    // Polyphonic, retrigger and legato note-on.
    void NoteOnPolyphonic(int channel, int key, int velocity, long offset);
    void NoteOnSingle(int channel, int key, int velocity, long offset);
    void NoteOnLegato(int channel, int key, int velocity, long offset);
    // Quick-releases up to two sounding notes and kills every other busy note.
    void ClearForSingleVoice(long offset);
    // Starts a glide on a new note from p (when there is a portamento time and p is not -1).
    void GlideFrom(TNote* note, float p, long offset, int key);
    // The first note that is on and sounds key, or null.
    TNote* FindMatchingNote(int key);
    // Saves the LFO phases when exactly one key is held.
    void SaveLFOStateIfLastKey();

    VoiceWorkspace voiceWorkspace;
    VoiceSends blockSends;

    // ---- timeline editing, selection, clipboard, files ---------------------------------------
public:
    // The editor is leaving: the remembered selection points into its memory and goes, and
    // no note is followed any more.
    void GUIClosed() override;
    // Saves the chosen lines of the current layer as a timeline preset file. False, with a
    // message, when the file could not be written (an old file of that name stays).
    bool SaveTimelinePreset(char const* category, char const* name, std::vector<bool> const& lines);

private:
    // With an editor attached: every editing parameter tells its controls its value again,
    // under the refresh guard (so the reactions to a refresh don't kill the sounding notes).
    void RefreshEditingParameters();
};
