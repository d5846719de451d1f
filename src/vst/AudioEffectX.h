#pragma once

#include "vst/AudioEffect.h"

// The VST 2.x half of the effect object: the dispatcher for opcodes 25 to 79, default
// answers to the 2.x queries, the 2.x host callbacks (time information among them), the
// synth and tail flags, and the speaker-arrangement helpers. Every host callback answers
// 0 (false, null) without a host.
class AudioEffectX : public AudioEffect
{
public:
    AudioEffectX(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
        : AudioEffect(audioMaster, numPrograms, numParams)
    {
    }

    VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) override;
    // Asks the host for MIDI when this is a synth or takes MIDI events.
    void resume() override;

    virtual bool canParameterBeAutomated(VstInt32) { return true; }
    virtual bool string2parameter(VstInt32, char*) { return false; }
    virtual bool getParameterProperties(VstInt32, VstParameterProperties*) { return false; }
    virtual bool beginEdit(VstInt32 index) { return callHost(audioMasterBeginEdit, index) != 0; }
    virtual bool endEdit(VstInt32 index) { return callHost(audioMasterEndEdit, index) != 0; }
    virtual bool getProgramNameIndexed(VstInt32, VstInt32, char*) { return false; }
    virtual bool beginSetProgram() { return false; }
    virtual bool endSetProgram() { return false; }
    virtual VstInt32 beginLoadBank(VstPatchChunkInfo*) { return 0; }
    virtual VstInt32 beginLoadProgram(VstPatchChunkInfo*) { return 0; }
    virtual bool ioChanged() { return callHost(audioMasterIOChanged) != 0; }
    // The host's rate or block size when it gives a positive one; the stored one otherwise.
    virtual double updateSampleRate();
    virtual VstInt32 updateBlockSize();
    virtual VstInt32 getInputLatency() { return static_cast<VstInt32>(callHost(audioMasterGetInputLatency)); }
    virtual VstInt32 getOutputLatency()
    {
        return static_cast<VstInt32>(callHost(audioMasterGetOutputLatency));
    }
    virtual bool getInputProperties(VstInt32, VstPinProperties*) { return false; }
    virtual bool getOutputProperties(VstInt32, VstPinProperties*) { return false; }
    virtual bool setSpeakerArrangement(VstSpeakerArrangement*, VstSpeakerArrangement*) { return false; }
    // Answers no arrangement: both host pointers null.
    virtual bool getSpeakerArrangement(VstSpeakerArrangement** input, VstSpeakerArrangement** output);
    virtual bool setBypass(bool) { return false; }
    virtual bool setPanLaw(VstInt32, float) { return false; }
    virtual bool setProcessPrecision(VstInt32) { return false; }
    virtual VstInt32 getNumMidiInputChannels() { return 0; }
    virtual VstInt32 getNumMidiOutputChannels() { return 0; }
    // The host's time information for the flags asked (kVst...Valid); may be null.
    virtual VstTimeInfo* getTimeInfo(VstInt32 filter);
    virtual VstInt32 getCurrentProcessLevel()
    {
        return static_cast<VstInt32>(callHost(audioMasterGetCurrentProcessLevel));
    }
    virtual VstInt32 getAutomationState()
    {
        return static_cast<VstInt32>(callHost(audioMasterGetAutomationState));
    }
    virtual VstInt32 processEvents(VstEvents*) { return 0; }
    virtual VstInt32 startProcess() { return 0; }
    virtual VstInt32 stopProcess() { return 0; }
    virtual bool processVariableIo(VstVariableIo*) { return false; }
    virtual VstInt32 setTotalSampleToProcess(VstInt32 value) { return value; }
    virtual bool getHostVendorString(char* text)
    {
        return callHost(audioMasterGetVendorString, 0, 0, text) != 0;
    }
    virtual bool getHostProductString(char* text)
    {
        return callHost(audioMasterGetProductString, 0, 0, text) != 0;
    }
    virtual VstInt32 getHostVendorVersion()
    {
        return static_cast<VstInt32>(callHost(audioMasterGetVendorVersion));
    }
    virtual VstIntPtr hostVendorSpecific(VstInt32 index, VstIntPtr value, void* ptr, float opt)
    {
        return callHost(audioMasterVendorSpecific, index, value, ptr, opt);
    }
    virtual bool canHostDo(char* text) { return callHost(audioMasterCanDo, 0, 0, text) != 0; }
    virtual VstInt32 getHostLanguage() { return static_cast<VstInt32>(callHost(audioMasterGetLanguage)); }
    virtual void isSynth(bool state = true) { setFlag(effFlagsIsSynth, state); }
    virtual void noTail(bool state = true) { setFlag(effFlagsNoSoundInStop, state); }
    virtual VstInt32 getGetTailSize() { return 0; }
    virtual void* getDirectory() { return reinterpret_cast<void*>(callHost(audioMasterGetDirectory)); }
    virtual bool getEffectName(char*) { return false; }
    virtual bool getVendorString(char*) { return false; }
    virtual bool getProductString(char*) { return false; }
    virtual VstInt32 getVendorVersion() { return 0; }
    virtual VstIntPtr vendorSpecific(VstInt32, VstIntPtr, void*, float) { return 0; }
    // 1 yes, -1 no, 0 don't know.
    virtual VstInt32 canDo(char*) { return 0; }
    virtual VstInt32 getVstVersion() { return kVstVersion; }
    virtual VstPlugCategory getPlugCategory()
    {
        return hasFlag(effFlagsIsSynth) ? kPlugCategSynth : kPlugCategUnknown;
    }
    virtual VstInt32 getMidiProgramName(VstInt32, VstMidiProgramName*) { return 0; }
    virtual VstInt32 getCurrentMidiProgram(VstInt32, VstMidiProgramName*) { return -1; }
    virtual VstInt32 getMidiProgramCategory(VstInt32, VstMidiProgramCategory*) { return 0; }
    virtual bool hasMidiProgramsChanged(VstInt32) { return false; }
    virtual bool getMidiKeyName(VstInt32, MidiKeyName*) { return false; }
    virtual bool updateDisplay() { return callHost(audioMasterUpdateDisplay) != 0; }
    virtual bool sizeWindow(VstInt32 width, VstInt32 height)
    {
        return callHost(audioMasterSizeWindow, width, height) != 0;
    }
    virtual bool openFileSelector(VstFileSelect* select)
    {
        return callHost(audioMasterOpenFileSelector, 0, 0, select) != 0;
    }
    virtual bool closeFileSelector(VstFileSelect* select)
    {
        return callHost(audioMasterCloseFileSelector, 0, 0, select) != 0;
    }
    virtual VstInt32 getNextShellPlugin(char*) { return 0; }
    // Speaker arrangements are blocks from the C heap, zeroed, with room for `channels`.
    virtual bool allocateArrangement(VstSpeakerArrangement** arrangement, VstInt32 channels);
    virtual bool deallocateArrangement(VstSpeakerArrangement** arrangement);
    virtual bool copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from);
    virtual bool matchArrangement(VstSpeakerArrangement** to, VstSpeakerArrangement* from);
    virtual bool offlineRead(VstOfflineTask* task, VstInt32 option, bool readSource = true)
    {
        return callHost(audioMasterOfflineRead, readSource ? 1 : 0, option, task) != 0;
    }
    virtual bool offlineWrite(VstOfflineTask* task, VstInt32 option)
    {
        return callHost(audioMasterOfflineWrite, 0, option, task) != 0;
    }
    virtual bool offlineStart(VstAudioFile* files, VstInt32 numFiles, VstInt32 numNewFiles)
    {
        return callHost(audioMasterOfflineStart, numNewFiles, numFiles, files) != 0;
    }
    virtual VstInt32 offlineGetCurrentPass()
    {
        return callHost(audioMasterOfflineGetCurrentPass) != 0 ? 1 : 0;
    }
    virtual VstInt32 offlineGetCurrentMetaPass()
    {
        return callHost(audioMasterOfflineGetCurrentMetaPass) != 0 ? 1 : 0;
    }
    virtual bool offlineNotify(VstAudioFile*, VstInt32, bool) { return false; }
    virtual bool offlinePrepare(VstOfflineTask*, VstInt32) { return false; }
    virtual bool offlineRun(VstOfflineTask*, VstInt32) { return false; }
    virtual VstInt32 offlineGetNumPasses() { return 0; }
    virtual VstInt32 offlineGetNumMetaPasses() { return 0; }

    virtual void __wantEventsDeprecated(VstInt32 filter = 1) { callHost(audioMasterWantMidi, 0, filter); }
    virtual VstInt32 __tempoAtDeprecated(VstInt32 pos)
    {
        return static_cast<VstInt32>(callHost(audioMasterTempoAt, 0, pos));
    }
    virtual VstInt32 __getNumAutomatableParametersDeprecated()
    {
        return static_cast<VstInt32>(callHost(audioMasterGetNumAutomatableParameters));
    }
    virtual VstInt32 __getParameterQuantizationDeprecated()
    {
        return static_cast<VstInt32>(callHost(audioMasterGetParameterQuantization));
    }
    virtual VstInt32 __getNumCategoriesDeprecated() { return 1; }
    virtual bool __copyProgramDeprecated(VstInt32) { return false; }
    virtual bool __needIdleDeprecated() { return callHost(audioMasterNeedIdle) != 0; }
    virtual AEffect* __getPreviousPlugDeprecated(VstInt32 input)
    {
        return reinterpret_cast<AEffect*>(callHost(audioMasterGetPreviousPlug, 0, input));
    }
    virtual AEffect* __getNextPlugDeprecated(VstInt32 output)
    {
        return reinterpret_cast<AEffect*>(callHost(audioMasterGetNextPlug, 0, output));
    }
    virtual void __inputConnectedDeprecated(VstInt32, bool) {}
    virtual void __outputConnectedDeprecated(VstInt32, bool) {}
    virtual VstInt32 __willProcessReplacingDeprecated()
    {
        return static_cast<VstInt32>(callHost(audioMasterWillReplaceOrAccumulate));
    }
    virtual void __wantAsyncOperationDeprecated(bool state = true) { setFlag(effFlagsExtIsAsync, state); }
    virtual void __hasExternalBufferDeprecated(bool state = true) { setFlag(effFlagsExtHasBuffer, state); }
    virtual VstInt32 __reportCurrentPositionDeprecated() { return 0; }
    virtual float* __reportDestinationBufferDeprecated() { return nullptr; }
    virtual void __setOutputSamplerateDeprecated(float rate)
    {
        callHost(audioMasterSetOutputSampleRate, 0, 0, nullptr, rate);
    }
    virtual VstSpeakerArrangement* __getInputSpeakerArrangementDeprecated()
    {
        return reinterpret_cast<VstSpeakerArrangement*>(callHost(audioMasterGetInputSpeakerArrangement));
    }
    virtual VstSpeakerArrangement* __getOutputSpeakerArrangementDeprecated()
    {
        return reinterpret_cast<VstSpeakerArrangement*>(callHost(audioMasterGetOutputSpeakerArrangement));
    }
    virtual void* __openWindowDeprecated(void* window)
    {
        return reinterpret_cast<void*>(callHost(audioMasterOpenWindow, 0, 0, window));
    }
    virtual bool __closeWindowDeprecated(void* window)
    {
        return callHost(audioMasterCloseWindow, 0, 0, window) != 0;
    }
    virtual void __setBlockSizeAndSampleRateDeprecated(VstInt32 size, float rate)
    {
        blockSize = size;
        sampleRate = rate;
    }
    virtual bool __getErrorTextDeprecated(char*) { return false; }
    virtual void* __getIconDeprecated() { return nullptr; }
    virtual bool __setViewPositionDeprecated(VstInt32, VstInt32) { return false; }
    virtual VstInt32 __fxIdleDeprecated() { return 0; }
    virtual bool __keysRequiredDeprecated() { return false; }
    virtual bool __getChunkFileDeprecated(void* path)
    {
        return callHost(audioMasterGetChunkFile, 0, 0, path) != 0;
    }

    // Sends events to the host; true when it took them.
    bool sendVstEventsToHost(VstEvents* events)
    {
        return callHost(audioMasterProcessEvents, 0, 0, events) == 1;
    }
};
