#pragma once

#include <atomic>
#include <memory>

#include "platform/InstanceLife.h"
#include "vst/VstAbi.h"

class AEffEditor;

// The VST effect object at the bottom of every plug-in instance. It owns the AEffect record
// the host holds, routes the record's C entry points to the virtual operations below (no
// exception ever leaves one of them), answers the basic dispatcher opcodes 0 to 24 and wraps
// the oldest host callbacks.
//
// The host callback is always called with this instance's record. Automation reports are
// held back until the entry has handed the record to the host (markHostConnected): a host
// cannot place a callback for an effect it does not know yet.
class AudioEffect
{
public:
    // How long effClose waits for the instance's callbacks in flight on other threads.
    static constexpr int kCallbackWaitMs = 2000;

    AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams);
    virtual ~AudioEffect();
    AudioEffect(AudioEffect const&) = delete;
    AudioEffect& operator=(AudioEffect const&) = delete;

    // The instance behind a record, or null.
    static AudioEffect* fromAEffect(AEffect* e);

    virtual VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);
    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume() {}
    virtual void setSampleRate(float rate) { sampleRate = rate; }
    virtual void setBlockSize(VstInt32 size) { blockSize = size; }
    virtual void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) = 0;
    virtual void processDoubleReplacing(double**, double**, VstInt32) {}
    virtual void setParameter(VstInt32, float) {}
    virtual float getParameter(VstInt32) { return 0.0f; }
    // Sets the parameter, then reports it to the host.
    virtual void setParameterAutomated(VstInt32 index, float value);
    virtual VstInt32 getProgram() { return curProgram; }
    virtual void setProgram(VstInt32 program) { curProgram = program; }
    virtual void setProgramName(char*) {}
    // The text operations write into buffers of the published sizes (kVstMax...Len).
    virtual void getProgramName(char* name) { name[0] = '\0'; }
    virtual void getParameterLabel(VstInt32, char* label) { label[0] = '\0'; }
    virtual void getParameterDisplay(VstInt32, char* text) { text[0] = '\0'; }
    virtual void getParameterName(VstInt32, char* text) { text[0] = '\0'; }
    virtual VstInt32 getChunk(void**, bool) { return 0; }
    virtual VstInt32 setChunk(void*, VstInt32, bool) { return 0; }
    virtual void setUniqueID(VstInt32 id) { cEffect.uniqueID = id; }
    virtual void setNumInputs(VstInt32 inputs) { cEffect.numInputs = inputs; }
    virtual void setNumOutputs(VstInt32 outputs) { cEffect.numOutputs = outputs; }
    virtual void canProcessReplacing(bool state = true) { setFlag(effFlagsCanReplacing, state); }
    virtual void canDoubleReplacing(bool state = true) { setFlag(effFlagsCanDoubleReplacing, state); }
    virtual void programsAreChunks(bool state = true) { setFlag(effFlagsProgramChunks, state); }
    virtual void setInitialDelay(VstInt32 delay) { cEffect.initialDelay = delay; }
    virtual AEffEditor* getEditor() { return editor.get(); }
    virtual AEffect* getAeffect() { return &cEffect; }
    virtual float getSampleRate() { return sampleRate; }
    virtual VstInt32 getBlockSize() { return blockSize; }
    // The host's VST version; 1 when it answers 0 or there is no host.
    virtual VstInt32 getMasterVersion();
    virtual VstInt32 getCurrentUniqueId();
    virtual void masterIdle();
    // Value formatting for hosts' displays: at most maxLen characters, then a zero at
    // text[maxLen].
    virtual void dB2string(float value, char* text, VstInt32 maxLen);
    virtual void Hz2string(float samples, char* text, VstInt32 maxLen);
    virtual void ms2string(float samples, char* text, VstInt32 maxLen);
    virtual void float2string(float value, char* text, VstInt32 maxLen);
    virtual void int2string(VstInt32 value, char* text, VstInt32 maxLen);
    virtual void __processDeprecated(float**, float**, VstInt32) {}
    virtual float __getVuDeprecated() { return 0.0f; }
    virtual void __hasVuDeprecated(bool state = true) { setFlag(effFlagsHasVu, state); }
    virtual void __hasClipDeprecated(bool state = true) { setFlag(effFlagsHasClip, state); }
    virtual void __canMonoDeprecated(bool state = true) { setFlag(effFlagsCanMono, state); }
    virtual void __setRealtimeQualitiesDeprecated(VstInt32 q) { cEffect.realQualities = q; }
    virtual void __setOfflineQualitiesDeprecated(VstInt32 q) { cEffect.offQualities = q; }
    virtual bool __isInputConnectedDeprecated(VstInt32 index);
    virtual bool __isOutputConnectedDeprecated(VstInt32 index);

    // Registers the editor (owned from now on; the old one is closed and deleted) and sets or
    // clears the has-editor flag.
    void setEditor(AEffEditor* newEditor);
    // The host's main thread: closes the editor (an open editor root is deleted and detaches
    // from the plug-in) and deletes it, so that nothing of the editor outlives what it points
    // to. effClose does this, and so must the destructor of the most-derived class, before its
    // members go. Harmless when there is no editor.
    void closeEditor();

    // The host calls into this instance are counted here (platform/InstanceLife.h): the last one
    // to leave after effClose ends and deletes the instance.
    InstanceLife& life() { return lifetime; }
    // effClose's own part, inside its counted call: no host callback starts after it, the open
    // editor ends (at once, or on the editor's thread, which holds the instance until then), and
    // callbacks in flight on other threads are waited for a bounded while. The instance's
    // close() and deletion follow with the last call to leave.
    void beginClose();

    // The entry calls this once the record is on its way to the host.
    void markHostConnected() { hostConnected.store(true, std::memory_order_release); }
    bool isHostConnected() const { return hostConnected.load(std::memory_order_acquire); }

protected:
    // The host callback with this record; 0 without a host.
    VstIntPtr callHost(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f);
    void setFlag(VstInt32 flag, bool state);
    bool hasFlag(VstInt32 flag) const { return (cEffect.flags & flag) != 0; }

    audioMasterCallback audioMaster;
    std::unique_ptr<AEffEditor> editor;
    float sampleRate = 44100.0f;
    VstInt32 blockSize = 1024;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 curProgram = 0;
    AEffect cEffect;

private:
    // The last call out of a closed instance: the editor and the instance's close, then the
    // instance.
    static void finishClose(void* effect);

    std::atomic<bool> hostConnected{false};
    InstanceLife lifetime{&AudioEffect::finishClose, this};
};

// Copies text into a host buffer of `size` bytes (terminating zero included), cut to fit.
// Nothing is written when the buffer is null or size is not positive.
void vst_strncpy(char* dst, char const* src, VstInt32 size);
