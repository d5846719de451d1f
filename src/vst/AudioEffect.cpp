#include "vst/AudioEffect.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/Strand.h"
#include "vst/AEffEditor.h"

namespace
{

// The C entry points of the record. Each finds its instance through `object`; no exception
// leaves them. The host's calls are counted on the instance's life as they enter (the audio
// processing is not: hosts stop it before they close); a call that meets a closing instance
// does nothing. Each runs as the host's own code (Strand::HostCall): one the host makes from
// inside a call of ours to it on an editor's strand (an effSetChunk from inside
// audioMasterAutomate, say) never finds that strand current, so nothing it does yields with the
// host's frames on the strand. Off every strand (the audio thread's calls) that costs one read
// of a thread-local word.

VstIntPtr dispatchEffectClass(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                              float opt)
{
    Strand::HostCall const hostCode;
    AudioEffect* effect = AudioEffect::fromAEffect(e);
    if (effect == nullptr) return 0;
    InstanceLife::Call call(effect->life());
    if (!call) return 0;
    try
    {
        if (opcode == effClose)
        {
            // The instance goes with the last call to leave it, this one when it is the only one.
            effect->beginClose();
            return 1;
        }
        return effect->dispatcher(opcode, index, value, ptr, opt);
    }
    catch (...)
    {
        return opcode == effClose ? 1 : 0;
    }
}

void processDeprecatedClass(AEffect* e, float** inputs, float** outputs, VstInt32 frames)
{
    Strand::HostCall const hostCode;
    if (AudioEffect* effect = AudioEffect::fromAEffect(e))
    {
        try
        {
            effect->__processDeprecated(inputs, outputs, frames);
        }
        catch (...)
        {
        }
    }
}

void setParameterClass(AEffect* e, VstInt32 index, float value)
{
    Strand::HostCall const hostCode;
    if (AudioEffect* effect = AudioEffect::fromAEffect(e))
    {
        InstanceLife::Call call(effect->life());
        if (!call) return;
        try
        {
            effect->setParameter(index, value);
        }
        catch (...)
        {
        }
    }
}

float getParameterClass(AEffect* e, VstInt32 index)
{
    Strand::HostCall const hostCode;
    if (AudioEffect* effect = AudioEffect::fromAEffect(e))
    {
        InstanceLife::Call call(effect->life());
        if (!call) return 0.0f;
        try
        {
            return effect->getParameter(index);
        }
        catch (...)
        {
        }
    }
    return 0.0f;
}

template <typename Sample> void silence(AEffect* e, Sample** outputs, VstInt32 frames)
{
    if (e == nullptr || outputs == nullptr || frames <= 0) return;
    for (VstInt32 c = 0; c < e->numOutputs; ++c)
    {
        if (outputs[c] != nullptr)
            std::memset(outputs[c], 0, sizeof(Sample) * static_cast<std::size_t>(frames));
    }
}

void processClassReplacing(AEffect* e, float** inputs, float** outputs, VstInt32 frames)
{
    Strand::HostCall const hostCode;
    AudioEffect* effect = AudioEffect::fromAEffect(e);
    if (effect == nullptr) return;
    try
    {
        effect->processReplacing(inputs, outputs, frames);
    }
    catch (...)
    {
        silence(e, outputs, frames);
    }
}

void processClassDoubleReplacing(AEffect* e, double** inputs, double** outputs, VstInt32 frames)
{
    Strand::HostCall const hostCode;
    AudioEffect* effect = AudioEffect::fromAEffect(e);
    if (effect == nullptr) return;
    try
    {
        effect->processDoubleReplacing(inputs, outputs, frames);
    }
    catch (...)
    {
        silence(e, outputs, frames);
    }
}

} // namespace

void vst_strncpy(char* dst, char const* src, VstInt32 size)
{
    if (dst == nullptr || size <= 0) return;
    if (src == nullptr) src = "";
    std::size_t const n = strnlen(src, static_cast<std::size_t>(size) - 1);
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

AudioEffect::AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
    : audioMaster(audioMaster), numPrograms(numPrograms), numParams(numParams)
{
    std::memset(&cEffect, 0, sizeof cEffect);
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = dispatchEffectClass;
    cEffect.process = processDeprecatedClass;
    cEffect.setParameter = setParameterClass;
    cEffect.getParameter = getParameterClass;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = FourCharCode("NoEf");
    cEffect.version = 1;
    cEffect.processReplacing = processClassReplacing;
    cEffect.processDoubleReplacing = processClassDoubleReplacing;
    cEffect.flags = effFlagsCanReplacing;
}

// The most-derived class closed the editor already (closeEditor). What is left is deleted
// without a close: closing here would reach into a plug-in whose members are gone.
AudioEffect::~AudioEffect() = default;

AudioEffect* AudioEffect::fromAEffect(AEffect* e)
{
    return e != nullptr ? static_cast<AudioEffect*>(e->object) : nullptr;
}

void AudioEffect::setEditor(AEffEditor* newEditor)
{
    if (newEditor != editor.get())
    {
        closeEditor();
        editor.reset(newEditor);
    }
    setFlag(effFlagsHasEditor, newEditor != nullptr);
}

void AudioEffect::closeEditor()
{
    std::unique_ptr<AEffEditor> gone = std::move(editor);
    if (gone == nullptr) return;
    try
    {
        gone->close();
    }
    catch (...)
    {
        // The editor goes anyway; the instance is on its way out.
    }
}

void AudioEffect::setFlag(VstInt32 flag, bool state)
{
    if (state)
        cEffect.flags |= flag;
    else
        cEffect.flags &= ~flag;
}

VstIntPtr AudioEffect::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    if (audioMaster == nullptr) return 0;
    InstanceLife::Callback callback(lifetime);
    if (!callback) return 0;
    return audioMaster(&cEffect, opcode, index, value, ptr, opt);
}

void AudioEffect::beginClose()
{
    if (!lifetime.BeginClose()) return;
    if (editor != nullptr) editor->close();
    if (!lifetime.WaitForCallbacks(std::chrono::milliseconds(kCallbackWaitMs)))
    {
        static std::atomic<bool> logged{false};
        if (!logged.exchange(true))
            std::fprintf(stderr, "Torvane: a call to the host was still in flight when the host closed the "
                                 "instance; the instance goes once it returns\n");
    }
}

void AudioEffect::finishClose(void* object)
{
    auto* effect = static_cast<AudioEffect*>(object);
    try
    {
        // The editor goes first (it points into the instance), then the instance's close.
        effect->dispatcher(effClose, 0, 0, nullptr, 0.0f);
    }
    catch (...)
    {
        effect->closeEditor();
    }
    delete effect;
}

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    char* const text = static_cast<char*>(ptr);
    switch (opcode)
    {
    case effOpen:
        open();
        return 0;
    case effClose:
        // The editor goes first: it points into the instance.
        closeEditor();
        close();
        return 0;
    case effSetProgram:
        if (value >= 0 && value < numPrograms) setProgram(static_cast<VstInt32>(value));
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName:
        if (text != nullptr) setProgramName(text);
        return 0;
    case effGetProgramName:
        if (text != nullptr) getProgramName(text);
        return 0;
    case effGetParamLabel:
        if (text != nullptr) getParameterLabel(index, text);
        return 0;
    case effGetParamDisplay:
        if (text != nullptr) getParameterDisplay(index, text);
        return 0;
    case effGetParamName:
        if (text != nullptr) getParameterName(index, text);
        return 0;
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(static_cast<VstInt32>(value));
        return 0;
    case effMainsChanged:
        if (value == 0)
            suspend();
        else
            resume();
        return 0;
    case effEditGetRect:
        if (editor == nullptr || ptr == nullptr) return 0;
        return editor->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
    case effEditOpen:
        return editor != nullptr && editor->open(ptr) ? 1 : 0;
    case effEditClose:
        if (editor != nullptr) editor->close();
        return 0;
    case effEditIdle:
        if (editor != nullptr) editor->idle();
        return 0;
    case effIdentify:
        return FourCharCode("NvEf");
    case effGetChunk:
        // A null place for the block pointer gets nothing.
        if (ptr == nullptr) return 0;
        return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk:
        // The block must exist (an empty one may be null) and its size fit the interface's 32-bit
        // count.
        if ((ptr == nullptr && value != 0) || value < 0 || value > 0x7FFFFFFF) return 0;
        return setChunk(ptr, static_cast<VstInt32>(value), index != 0);
    default:
        return 0;
    }
}

void AudioEffect::setParameterAutomated(VstInt32 index, float value)
{
    setParameter(index, value);
    if (isHostConnected()) callHost(audioMasterAutomate, index, 0, nullptr, value);
}

VstInt32 AudioEffect::getMasterVersion()
{
    VstIntPtr const version = callHost(audioMasterVersion);
    return version != 0 ? static_cast<VstInt32>(version) : 1;
}

VstInt32 AudioEffect::getCurrentUniqueId()
{
    return static_cast<VstInt32>(callHost(audioMasterCurrentId));
}

void AudioEffect::masterIdle()
{
    callHost(audioMasterIdle);
}

bool AudioEffect::__isInputConnectedDeprecated(VstInt32 index)
{
    return callHost(audioMasterPinConnected, index, 0) == 0;
}

bool AudioEffect::__isOutputConnectedDeprecated(VstInt32 index)
{
    return callHost(audioMasterPinConnected, index, 1) == 0;
}

void AudioEffect::dB2string(float value, char* text, VstInt32 maxLen)
{
    if (value <= 0.0f)
        vst_strncpy(text, "-oo", maxLen + 1);
    else
        float2string(20.0f * std::log10(value), text, maxLen);
}

void AudioEffect::Hz2string(float samples, char* text, VstInt32 maxLen)
{
    float2string(samples != 0.0f ? sampleRate / samples : 0.0f, text, maxLen);
}

void AudioEffect::ms2string(float samples, char* text, VstInt32 maxLen)
{
    float2string(samples * 1000.0f / sampleRate, text, maxLen);
}

void AudioEffect::float2string(float value, char* text, VstInt32 maxLen)
{
    if (text == nullptr || maxLen < 0) return;
    char buffer[64];
    double const v = value;
    int const integerDigits =
        std::fabs(v) < 1.0 ? 1 : static_cast<int>(std::floor(std::log10(std::fabs(v)))) + 1;
    int const width = integerDigits + (v < 0.0 ? 1 : 0);
    if (!std::isfinite(v) || width > maxLen || width > 40)
    {
        vst_strncpy(text, "Huge!", maxLen + 1);
        return;
    }
    // The decimals that still fit after the point.
    int decimals = maxLen - width - 1;
    decimals = decimals < 0 ? 0 : (decimals > 6 ? 6 : decimals);
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
    vst_strncpy(text, buffer, maxLen + 1);
}

void AudioEffect::int2string(VstInt32 value, char* text, VstInt32 maxLen)
{
    if (value > 99999999)
    {
        vst_strncpy(text, "Huge!", maxLen + 1);
        return;
    }
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(value));
    vst_strncpy(text, buffer, maxLen + 1);
}
