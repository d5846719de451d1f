#include "vst/VstBase.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

VstBase::VstBase(audioMasterCallback audioMaster, long numParams, long inputPairs, long outputPairs,
                 bool isSynth, int uniqueID, char const* product, char const* vendor, char const* pluginArg1,
                 char const* pluginArg2)
    : AudioEffectX(audioMaster, 0, static_cast<VstInt32>(numParams)),
      PluginBase(static_cast<int>(numParams), pluginArg1, pluginArg2), numInputPairs(inputPairs),
      numOutputPairs(outputPairs), product(product), vendor(vendor)
{
    AddSampleRateListener(this);
    if (audioMaster != nullptr)
    {
        cEffect.numInputs = static_cast<VstInt32>(2 * inputPairs);
        cEffect.numOutputs = static_cast<VstInt32>(2 * outputPairs);
        programsAreChunks(true);
        if (isSynth) this->isSynth(true);
        cEffect.uniqueID = uniqueID;
    }
    // The editor's holds on the instance count on its life.
    BindInstanceLife(&life());
    // Always there: blocks without inputs read it as silence.
    inputScratch.Init(kScratchFrames);
    AddTransportListener(this);
}

VstBase::~VstBase() = default;

void VstBase::setSampleRate(float rate)
{
    if (!std::isfinite(rate) || rate <= 0.0f) return;
    AudioEffectX::setSampleRate(rate);
    SetSourceSampleRate(rate);
}

void VstBase::ApplyTimeInfo(VstTimeInfo const* info)
{
    // A missing, zero or nonsensical tempo counts as none.
    bool const haveTempo = info != nullptr && std::isfinite(info->tempo) && info->tempo > 0.0;
    SetSourceTempo(haveTempo ? static_cast<float>(info->tempo) : kDefaultTempo);

    if (info == nullptr) return;
    // The host flags a change; hosts that never flag one are followed by the playing bit.
    bool const playing = (info->flags & kVstTransportPlaying) != 0;
    if ((info->flags & kVstTransportChanged) != 0 || playing != transportPlaying)
    {
        transportPlaying = playing;
        if (playing)
            TransportPlay();
        else
            TransportStop();
    }
}

void VstBase::BeginRenderPiece(long, long, bool) {}

void VstBase::processReplacing(float** inputs, float** outputs, VstInt32 frames)
{
    if (outputs == nullptr || frames < 0) return;
    long const outputChannels = 2 * numOutputPairs;
    for (long c = 0; c < outputChannels; ++c)
    {
        if (outputs[c] == nullptr) return;
    }

    ApplyTimeInfo(getTimeInfo(kVstTempoValid | kVstTransportPlaying | kVstTransportChanged));

    // The host's inputs, when the plug-in has a pair and the host passed it; the scratch's
    // silence otherwise (an instrument's input array has no entries to read).
    bool const hostInputs =
        numInputPairs > 0 && inputs != nullptr && inputs[0] != nullptr && inputs[1] != nullptr;
    if (!hostInputs && scratchHoldsInput)
    {
        inputScratch.ClearStereo(inputScratch.frames);
        scratchHoldsInput = false;
    }

    long offset = 0;
    do
    {
        long const n = std::min<long>(frames - offset, kMaxRenderFrames);
        BeginRenderPiece(offset, n, offset + n >= frames);
        _HandleNextBufferNotification();

        float* inL = inputScratch.left;
        float* inR = inputScratch.right;
        if (hostInputs)
        {
            inL = inputs[0] + offset;
            inR = inputs[1] + offset;
            bool inPlace = false;
            for (long c = 0; c < outputChannels; ++c)
                inPlace = inPlace || outputs[c] + offset == inL || outputs[c] + offset == inR;
            // Clearing the outputs would clear the input: render from a copy.
            if (inPlace)
            {
                std::memcpy(inputScratch.left, inL, sizeof(float) * static_cast<std::size_t>(n));
                std::memcpy(inputScratch.right, inR, sizeof(float) * static_cast<std::size_t>(n));
                scratchHoldsInput = true;
                inL = inputScratch.left;
                inR = inputScratch.right;
            }
        }

        for (long pair = 0; pair < numOutputPairs; ++pair)
        {
            float* outL = outputs[2 * pair] + offset;
            float* outR = outputs[2 * pair + 1] + offset;
            std::fill_n(outL, n, 0.0f);
            std::fill_n(outR, n, 0.0f);
            CallGenericRender(inL, inR, outL, outR, n, static_cast<int>(pair));
        }

        _HandlePostRenderNotification();
        offset += n;
    } while (offset < frames);
}

void VstBase::setParameter(VstInt32 index, float value)
{
    if (!std::isfinite(value)) return;
    // Under the plug-in mutex, as every parameter write off the editor's thread: the audio
    // thread and the editor's bound controls walk the listener lists there. Reports the change
    // raises are sent once the mutex is released.
    AudioAPI::Lock hold(GetMutex());
    SetAutomatableParameterValue(index, std::clamp(value, 0.0f, 1.0f));
}

float VstBase::getParameter(VstInt32 index)
{
    return GetAutomatableParameterValue(index);
}

void VstBase::getParameterName(VstInt32 index, char* text)
{
    GetAutomatableParameterName(index, text, kParameterNameSize);
}

VstInt32 VstBase::getChunk(void** data, bool)
{
    if (data == nullptr) return 0;
    int size = 0;
    void* block = SavePluginState(size);
    if (block == nullptr || size <= 0)
    {
        *data = nullptr;
        return 0;
    }
    *data = block;
    return size;
}

VstInt32 VstBase::setChunk(void* data, VstInt32 size, bool)
{
    // Hosts restore empty chunks as they stored them: nothing to take, nothing to report.
    if (size == 0) return 1;
    if (data == nullptr || size < 0) return 0;
    return RestorePluginState(data, size) ? 1 : 0;
}

bool VstBase::getEffectName(char* text)
{
    vst_strncpy(text, product, kVstMaxEffectNameLen);
    return true;
}

bool VstBase::getVendorString(char* text)
{
    vst_strncpy(text, vendor, kVstMaxVendorStrLen);
    return true;
}

bool VstBase::getProductString(char* text)
{
    vst_strncpy(text, product, kVstMaxProductStrLen);
    return true;
}

bool VstBase::getOutputProperties(VstInt32 index, VstPinProperties* properties)
{
    if (properties == nullptr || index < 0 || index >= cEffect.numOutputs) return false;
    std::snprintf(properties->label, sizeof properties->label, "Vst%1d", static_cast<int>(index) + 1);
    properties->flags = kVstPinIsActive | kVstPinIsStereo;
    return true;
}

void VstBase::AutomatableParameterChangeNotify(int index, float value)
{
    if (isHostConnected()) callHost(audioMasterAutomate, index, 0, nullptr, value);
}

bool VstBase::HostTakesEditBrackets(std::string_view program)
{
    // Ardour 7.0 to 7.3 crash on a begin edit that comes from a plug-in's own editor for a lane
    // that keeps musical time (every MIDI track's): the thread it runs plug-in editors on has no
    // tempo map. Without the bracket they record nothing in Touch and Latch, but keep running.
    std::string_view const name = program.substr(program.rfind('/') + 1);
    constexpr std::string_view ardour7 = "ardour-7.";
    if (name.substr(0, ardour7.size()) != ardour7 || name.size() < ardour7.size() + 2) return true;
    char const minor = name[ardour7.size()];
    char const after = name[ardour7.size() + 1];
    return !(minor >= '0' && minor <= '3' && (after == '.' || after == '~' || after == '-'));
}

namespace
{
bool ThisHostTakesEditBrackets()
{
    static bool const takes = []
    {
        char path[4096];
        ssize_t const n = readlink("/proc/self/exe", path, sizeof path - 1);
        return n <= 0 || VstBase::HostTakesEditBrackets(std::string_view(path, static_cast<std::size_t>(n)));
    }();
    return takes;
}
} // namespace

void VstBase::AutomatableParameterBeginEdit(int index)
{
    if (isHostConnected() && ThisHostTakesEditBrackets()) beginEdit(index);
}

void VstBase::AutomatableParameterEndEdit(int index)
{
    if (isHostConnected() && ThisHostTakesEditBrackets()) endEdit(index);
}
