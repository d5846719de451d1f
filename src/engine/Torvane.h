#pragma once

#include <atomic>
#include <cfloat>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
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

class InstrumentEditor;
class TNote;
class TClipboard;
class Window;
class Writer;
class Reader;
class StringReader;

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
// Locking: Render holds the plug-in mutex (PluginBase::GetMutex) for the whole block; host-state
// save, the layer switch and every timeline edit take it. Patch loading and host-state restore
// prepare the patch while the old one plays (claiming the mutex only for constant-time looks),
// then switch "TORVANE_ENABLED" off (blocks then pass without the mutex) only around the swap.
// Parameter changes and the plain accessors take no lock; automation reports raised under the
// mutex reach the host once it is released.
//
// The editor: the instrument never calls it directly. Whatever changes what the editor shows
// posts a request bit (PostEditorRequests: any thread, audio thread included, no lock, no
// allocation); the editor's thread applies them when it drains (ProcessGUINotifications,
// ApplyEditorRequests), outside the plug-in mutex. So every operation below may run on any
// thread as far as the editor is concerned.
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

    // The unit's identity where the deliverable asks for one: version 1.0.0, subtype 'Trv1',
    // manufacturer 'CvlA'.
    std::uint32_t GetVersion() TORVANE_PLATFORM_OVERRIDE { return 0x00010000; }
    std::uint32_t GetSubType() TORVANE_PLATFORM_OVERRIDE { return 0x54727631; }
    std::uint32_t GetManufacturer() TORVANE_PLATFORM_OVERRIDE { return 0x43766C41; }

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
    // The editor's sustain button binds its "Sustain" parameter; a change of it reaches this
    // instrument as sustain-pedal MIDI on the changing thread (the button changes it under the
    // plug-in mutex).
    SustainPedalEmulator* GetSustainPedalEmulator() { return &sustainPedal; }
    TMidiEventModSource* GetChannelPressureSource() { return &channelPressureSource; }
    TMidiEventModSource* GetModWheelSource() { return &modWheelSource; }
    TMidiEventModSource* GetPitchBendSource() { return &pitchBendSource; }
    PresetManager* GetWaveformPresetManager() { return &waveformPresets; }
    PresetManager* GetPatchPresetManager() { return &patchPresets; }
    PresetManager* GetTimelinePresetManager() { return &timelinePresets; }
    NoteStack& GetNoteStack() { return noteStack; }
    // While one lives, the calling thread is refreshing this instrument's controls: the
    // instrument's own reactions to the values the refresh reports again (key mode, freeze
    // position, selection mode) are skipped on that thread. Guards nest; other threads, and
    // other instruments on the same thread, are not affected.
    class RefreshGuard
    {
    public:
        explicit RefreshGuard(Torvane const& instrument);
        ~RefreshGuard();
        RefreshGuard(RefreshGuard const&) = delete;
        RefreshGuard& operator=(RefreshGuard const&) = delete;

    private:
        friend class Torvane;
        Torvane const* owner;
        RefreshGuard* previous;
    };
    // Any thread: true while a RefreshGuard of this instrument lives on the calling thread.
    bool IsRefreshing() const;

    // Requests of the instrument to its editor (PluginBase::PostEditorRequests), applied on the
    // editor's thread in this order by ApplyEditorRequests. kEditorUpdateAll is the base's.
    static constexpr std::uint32_t kEditorPatchLoaded = kFirstDerivedEditorRequest << 0;
    static constexpr std::uint32_t kEditorPatchName = kFirstDerivedEditorRequest << 1;
    // Every internal parameter tells its controls its value again (UpdateGUI).
    static constexpr std::uint32_t kEditorRefreshParameters = kFirstDerivedEditorRequest << 2;
    static constexpr std::uint32_t kEditorDeselectBreakpoints = kFirstDerivedEditorRequest << 3;
    static constexpr std::uint32_t kEditorEditTime = kFirstDerivedEditorRequest << 4;
    static constexpr std::uint32_t kEditorSnapLabel = kFirstDerivedEditorRequest << 5;
    static constexpr std::uint32_t kEditorEventLines = kFirstDerivedEditorRequest << 6;

    // Any thread, no lock: asks the editor to redraw the timeline lines.
    void UpdateEventLines();
    // Editor's thread (the drain): every internal parameter tells its listeners its value
    // again. Any other thread posts kEditorRefreshParameters instead.
    void UpdateGUI();
    // The attached editor when called on the editor's thread outside the plug-in mutex, else
    // null (so nothing on another thread or under the mutex can call the editor).
    InstrumentEditor* GetEditor();

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
    // The latest edit time: 2^31 timeline samples, the end of what the timeline display shows.
    static constexpr float kMaxEditTime = 2147483648.0f;
    // Any thread. Whole units, held within 0..kMaxEditTime; mirrored into "Freeze Position" at
    // once and into the editor at its next drain. The time the user or the host puts there.
    void SetEditTime(float t);
    // The same without "Freeze Position": the editor following playback shows where the note is,
    // and no host parameter moves with it. Switching Time Freeze on while the time followed
    // gives "Freeze Position" the frozen time.
    void FollowEditTime(float t);
    // The edit time is where following put it ("Freeze Position" stands for an earlier one).
    bool EditTimeFollowed() const { return editTimeFollowed; }
    // Any thread. Under the plug-in mutex: rebinds the bridges to that layer; the editor
    // refreshes and drops its selection at its next drain.
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
    // Reads a patch stream of at most maxVersion: the rest of the reader is read, checked and
    // built while the old patch plays, and the engine is off and the plug-in mutex held only for
    // the swap. False for a newer stream or another key (nothing changes), and for a stream that
    // can't be read whole or holds a refused field: the patch and the notes sound on as they
    // were and "Error while loading patch. Aborting" is shown once the mutex is free.
    bool LoadPreset(Reader& r, float maxVersion);
    // The host-state block (the patch stream), valid until the next call; size = its bytes.
    void* SavePluginState(int& size) override;
    // Restores a host-state block; see RestorePatchState.
    bool RestorePluginState(void* data, int size) override;
    // Reads only the size bytes given. An empty block (size 0) changes nothing and is no
    // failure: true, no message. On any failure (missing block, refused or broken stream) the
    // patch stays exactly as it was, no PatchLoaded is sent, "Torvane Error: Could not restore
    // plug-in state" is shown after the mutex is released, and the result is false.
    bool RestorePatchState(void const* data, int size);
    void DefaultPatch();
    void SetPatchName(char const* name);
    void SetPatchCategory(char const* category);
    // Any thread: copies taken under the texts' own lock (a restore on the host's thread may be
    // writing them).
    String GetPatchName() const;
    String GetPatchCategory() const;

    // ---- patch, waveform and timeline-preset files ----------------------------------------
    // 1 when saved, 0 when not (the old file stays); shows no message: the editor does, from
    // what `outcome` (when given) tells of the save.
    int SavePatch(char const* category, char const* name, SaveOutcome* outcome = nullptr);
    // A patch file that is there but refused (not a regular file, unreadable, another header
    // or version, a refused or broken stream) shows "Error: Could not load patch: NAME" once;
    // a missing file shows nothing. 1 when loaded, else 0 and the patch stays.
    int LoadPatch(char const* category, char const* name);
    // Editor's thread. The patch after (before) the current one in the patch list. A step
    // passes over refused files to the next one that loads (at most once round the list) and
    // names the refused ones in one message; when none loads, the patch stays.
    void NextPatch();
    void PreviousPatch();
    // True when the file was written; otherwise the old file stays. Shows no message: the
    // editor does, from what `outcome` (when given) tells of the save.
    bool SaveWaveform(VectorMipOscWaveDef* waves, int slot, char const* category, char const* name,
                      SaveOutcome* outcome = nullptr);
    // The layer's waves (null for a bad layer); *loaded, when given, tells whether the slot
    // took the stream (a refused stream leaves it unchanged).
    VectorMipOscWaveDef* LoadWaveform(int voice, int slot, Reader& r, bool* loaded = nullptr);
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
    // a breakpoint was created. Refused (false) while the editor follows a playing note,
    // unless Time Freeze is on.
    bool SetEvent(int voice, int line, int valueIndex, float value);
    // One value of breakpoint `index`; refused as the form above is. Returns 0.
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
    // Written and read only under patchTextMutex, a leaf lock (taken inside the plug-in mutex,
    // never the other way round).
    String patchName;
    String patchCategory;
    mutable std::mutex patchTextMutex;
    enum class PatchFileLoad
    {
        Loaded,
        Missing, // nothing at the path
        Refused,
    };
    // LoadPatch without a message; exceptions pass.
    PatchFileLoad LoadPatchFile(char const* category, char const* name);
    // One message naming the refused patch files (none: nothing shown).
    static void ReportRefusedPatches(std::vector<String> const& names);
    void StepPatch(bool forward);
    // 18 is voiceDefs (above). 19-20. Written under the plug-in mutex; atomics, because the
    // editor and the host's threads read them without it.
    std::atomic<int> currentVoice{0};
    std::atomic<float> editTime{0.0f};
    // The edit time was last moved by following, and "Freeze Position" does not stand for it.
    std::atomic<bool> editTimeFollowed{false};
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
    std::atomic<std::vector<MultipleSelectionBreakpoint>*> multipleSelection{nullptr};
    std::vector<std::shared_ptr<Breakpoint>> selectionReference;
    // 27: LFO 1 phase of layers 0-3, then LFO 2 phase of layers 0-3.
    float freeRunningLFOState[8] = {};
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
    struct PatchStage;
    // The stream into the patch; no messages. The stream is read, checked and its waves built
    // while the engine plays the old patch (the mutex claimed only for constant-time looks);
    // then "TORVANE_ENABLED" goes off (the sounding notes end, blocks pass without waiting), the
    // mutex is taken, the patch swapped in, the engine switched on and the mutex released. A
    // refused or broken stream changes nothing at all.
    LoadResult LoadPatchStream(Reader& r, float maxVersion);
    // The off window of a staged load: off, mutex, snapshot and swap, on, release. The snapshot
    // is written into `snapshot`, made ready by the caller.
    LoadResult SwapStaged(PatchStage& stage, float maxVersion, String& snapshot);
    // "TORVANE_ENABLED" off, counted: overlapping loads keep the engine off until the last of
    // them has swapped. SwitchOn runs under the mutex.
    void SwitchOff();
    void SwitchOn();
    std::atomic<int> switchedOff{0};
    // Drops, under a brief claim of the mutex, the holds on the live waves a stage still keeps.
    void DropWaveHolds(PatchStage& stage);
    // The layers whose live waves changed since staging (a wave command meanwhile) get waves of
    // their own, built from the stream here, outside the mutex; their holds go too.
    void BuildChangedWaves(PatchStage& stage);
    // The field sequence of the stream, in two modes: staging (apply false: reads and checks
    // only, stages the layers) and applying (the caller holds the mutex; the staged layers go in
    // place). May throw. pushAmounts: write the amounts of rows that don't take them from the
    // line into the modulation line (not when rolling back: the snapshot's lines already hold
    // what they held).
    LoadResult ReadPatchStream(StringReader& r, float maxVersion, PatchStage& stage, bool apply,
                               bool pushAmounts);
    // Staging of a whole block, with the new wave tables built. No mutex but a brief look at
    // the live waves (holds on them, taken in constant time).
    LoadResult StagePatch(float maxVersion, PatchStage& stage);
    // Applying a staged block; the caller holds the mutex.
    void SwapInPatch(PatchStage& stage, float maxVersion, bool pushAmounts);
    // Puts a snapshot back after a failed swap; the caller holds the mutex.
    void RollBack(String const& snapshot);
    // The size of the last snapshot: the next one is written into memory readied for about as much.
    std::atomic<std::size_t> lastPatchBytes{0};

protected:
    // The steps of a load that succeeds in reading its stream, each reached without the mutex
    // and with the engine on: the stream is staged (the old patch still playing), the swap is
    // done. Nothing by default.
    enum class LoadStep
    {
        Staged,
        Swapped,
    };
    virtual void LoadStepReached(LoadStep step);

private:
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

protected:
    // Editor's thread, outside the plug-in mutex: the posted requests, in the order of their
    // bits above; the editor is looked up again before each call.
    void ApplyEditorRequests(std::uint32_t bits) override;

public:
    // Saves the chosen lines of the current layer as a timeline preset file. False, with a
    // message that says why, when the file could not be written (an old file of that name
    // stays); a file saved whose folder could not be synced is told too.
    bool SaveTimelinePreset(char const* category, char const* name, std::vector<bool> const& lines);

private:
    // With an editor attached: asks the editor's thread to have every editing parameter tell
    // its controls its value again, under the refresh guard (so the reactions to a refresh
    // don't kill the sounding notes).
    void RefreshEditingParameters();

    // ---- editor operations: a copy or a swap under the plug-in mutex --------------------------
    // Voice arguments are layers 0-3, -1 for the current layer; anything else is ignored (false,
    // 0 or nothing changed). None of these runs on the audio thread: what costs time (building
    // a wave) happens before the mutex is taken, and only the result is put in place under it.
public:
    // The "to" layer that stands for every layer but the source.
    static constexpr int kAllOtherLayers = kNumLayers;

    // A value copy of one layer's six timeline lines and its loop region, for drawing and for
    // selecting without holding the mutex. Kept and refilled, its lines reuse their points.
    struct TimelineSnapshot
    {
        TimelineSnapshot();
        int layer = -1;
        std::vector<Envelope> lines; // VoiceDef::kNumLines lines with their value counts
        bool looping = false;
        float loopStart = 0.0f;
        float loopEnd = 0.0f;
    };

    // Fills `out` with the layer's lines and loop region, all taken in one lock.
    bool CopyTimeline(int voice, TimelineSnapshot& out);

    // The layer's loop switch (the voices stop looping when it goes off).
    bool GetLoopFlag(int voice);
    void SetLoopFlag(int voice, bool looping);
    // Loop markers in whole timeline units, never below 0. Each marker stops at the other; the
    // result is the marker's time as set (the old one for a time that is not finite).
    float SetLoopStart(int voice, float time);
    float SetLoopEnd(int voice, float time);
    // Both markers at once; refused (false, nothing changed) when either is not finite or
    // end comes before start.
    bool SetLoopRegion(int voice, float start, float end);

    // The breakpoint of the line at exactly `time` (whole units, at least 0), inserted with
    // values interpolated from its neighbours when there is none; `firstValue`, when given,
    // becomes its value 0. The result is the point's index in the line, -1 when refused.
    long CreateBreakpoint(int voice, int line, float time, std::optional<float> firstValue = std::nullopt);

    // Slot s's cycle of the first level into `out` (resized to it); the result is its length,
    // 0 (out emptied) for a bad layer or slot.
    long CopyWaveCycle(int voice, int slot, std::vector<float>& out);
    // Rebuild a slot as a custom wave at the layer's table length: from partials (amplitude and
    // phase of harmonic j + 1 at entry j; phases may be null), from one drawn cycle of exactly
    // the table's length (at most maxHarmonic harmonics kept, -1 for no limit of the caller's),
    // or from a WAV file, normalised to a peak of 1. False, the slot unchanged, for bad
    // arguments, a value that is not finite, a cycle of another length or a file that can't be
    // read.
    bool SetWaveFromPartials(int voice, int slot, long count, float const* amps, float const* phases);
    bool SetWaveFromCycle(int voice, int slot, float const* samples, long count, long maxHarmonic);
    // Builds the slot from a WAV file's harmonics. False, with the slot as it was and the reason
    // in `whyNot` (when given) in words for the user, when the file can't be read, is not
    // one or two channels of 8, 16 or 24-bit integer PCM, or holds sound but no cycle the
    // import finds (a silent file gives a silent wave).
    bool ImportWave(int voice, int slot, char const* path, std::string* whyNot = nullptr);

    // Line `line` of layer `toVoice` (kAllOtherLayers: of every other layer) becomes a copy of
    // the same line of `fromVoice`. False when nothing was copied.
    bool CopyLine(int fromVoice, int line, int toVoice);
    // The layer's line back to its default breakpoints.
    bool ClearLine(int voice, int line);
    // VoiceDef::CopyFrom from `fromVoice` onto `toVoice` (kAllOtherLayers: every other layer):
    // lines, matrix and loop region under the mutex, sounding notes rebound to the copied rows,
    // then the copied settings (their listeners are told with the mutex free).
    bool CopyLayer(int fromVoice, int toVoice);

private:
    // The layers a copy from layer `source` to `to` writes (to may be kAllOtherLayers or -1);
    // empty when either is bad. The caller holds the mutex (-1 reads the current layer).
    std::vector<int> CopyTargets(int source, int to) const;
    // Shapes a one-wave table as the layer's waves are, fills it with `build(table)` outside the
    // mutex, and puts it into the slot under it. When the layer's shape changed meanwhile, the
    // build runs again at the new one (unless `sameLengthOnly` and the length changed: refused).
    template <class Builder> bool RebuildSlot(int voice, int slot, bool sameLengthOnly, Builder build);

public:
    // What a command makes of a layer's waves: it changes `next`, a second holder of the waves
    // as they are, and answers false to change nothing.
    using WaveEdit = std::function<bool(VectorMipOscWaveDef& next)>;

private:
    // Replaces `live` (a layer's waves) by what `edit` makes of them: the edit runs on a table of
    // its own outside the mutex (building, copying and sharing its bytes there), which goes in
    // under the mutex by a swap, in constant time, when `live` still holds what the edit started
    // from; otherwise the edit runs again on the waves as they are now. The waves replaced go
    // after the mutex is left. Marks an edit of the user's. False when the edit refused.
    bool ReplaceWaves(VectorMipOscWaveDef& live, WaveEdit const& edit);
    // Default waves for the layers first..last of a reset, built outside the mutex; the layers
    // holding them already keep theirs, the others share one table per number of levels.
    struct DefaultWaves
    {
        MipWaveTable::Held held[kNumLayers];
        int levels[kNumLayers] = {};
        std::unique_ptr<VectorMipOscWaveDef> tables[kNumLayers];
    };
    void StageDefaultWaves(DefaultWaves& staged, int first, int last);
    // Under the mutex: whether the staged waves of `layer` still fit its table.
    bool DefaultWavesFit(DefaultWaves const& staged, int layer) const;
    // A swap when they fit; else the layer's waves are built in place.
    void InstallDefaultWaves(DefaultWaves& staged, int layer);
    // Stages, then runs `install` under the mutex once every staged layer fits (staging again
    // when one changed meanwhile); the waves replaced go after the mutex is left.
    void ResetLayers(int first, int last, std::function<void(DefaultWaves&)> const& install);
};
