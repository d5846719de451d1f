// A small sine instrument on the VST instrument base, built as a plug-in library of its
// own. It exercises the adapter the way the product does (automatable parameters made in
// the constructor, MIDI at frame offsets, a state chunk, rendering under the plug-in mutex)
// and reports what reached it through the vendor-specific opcode (TestSynthProbe.h).

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "framework/Locks.h"
#include "framework/Parameter.h"
#include "framework/PluginBase.h"
#include "testsynth/TestSynthEditor.h"
#include "testsynth/TestSynthProbe.h"
#include "vst/VstEntry.h"
#include "vst/VstInstrumentBase.h"
#include "vst/editor/VstGUILoader.h"

namespace
{

constexpr int kNumVoices = 16;
constexpr int kMaxPending = 512;
constexpr char kStateMagic[4] = {'T', 'S', 'y', '1'};

struct ParamDef
{
    char const* instance;
    char const* name;
    float min;
    float max;
    float start;
    Parameter::Type type;
};

// Host index order.
constexpr ParamDef kParams[] = {
    {"", "Gain", 0.0f, 1.0f, 0.8f, Parameter::Continuous},
    {"", "Tune", -12.0f, 12.0f, 0.0f, Parameter::Continuous},
    {"Osc", "Level", 0.0f, 1.0f, 1.0f, Parameter::Continuous},
    {"Osc", "Mode", 0.0f, 3.0f, 0.0f, Parameter::Discrete},
    {"", "A parameter whose name is longer than any host shows", 0.0f, 1.0f, 0.25f, Parameter::Continuous},
    {"", "Pan", -1.0f, 1.0f, 0.0f, Parameter::Continuous},
};
constexpr int kNumParams = static_cast<int>(sizeof kParams / sizeof kParams[0]);

class TestSynth : public VstInstrumentBase, public TestSynthParameters
{
public:
    explicit TestSynth(audioMasterCallback audioMaster)
        : VstInstrumentBase(audioMaster, kNumParams, 0, 1, FourCharCode("TsT1"), "TestSynth", "Torvane Tests",
                            "TestSynth", nullptr)
    {
        char failOnRequest[] = "testSynthFailConstruction";
        if (canHostDo(failOnRequest)) throw std::runtime_error("construction refused on request");
        for (int i = 0; i < kNumParams; ++i)
        {
            params[i].Create(kParams[i].name, this, Parameter::Global, kParams[i].min, kParams[i].max,
                             kParams[i].type);
            params[i].SetInstanceName(kParams[i].instance);
            params[i] = kParams[i].start;
            AddAutomatableParameter(&params[i]);
        }
        SetNumParameters(kNumParams);
        state.reserve(8 + 4 * kNumParams);
    }

    // An open editor goes before the parameters it is bound to.
    ~TestSynth() override { closeEditor(); }

    Parameter* GetTestParameter(int index) override
    {
        return index >= 0 && index < kNumParams ? &params[index] : nullptr;
    }

    void HandleMidiEvent(int channel, int status, int data1, int data2, long offset) override
    {
        ++probe.midiEvents;
        probe.lastChannel = channel;
        probe.lastStatus = status;
        probe.lastData1 = data1;
        probe.lastData2 = data2;
        probe.lastOffset = offset;
        VstInstrumentBase::HandleMidiEvent(channel, status, data1, data2, offset);
    }

    void NoteOnMidiEvent(int, int note, int velocity, long offset) override
    {
        ++probe.noteOns;
        Queue(Pending{Pending::On, note, velocity, offset});
    }

    void NoteOffMidiEvent(int, int note, long offset) override
    {
        ++probe.noteOffs;
        Queue(Pending{Pending::Off, note, 0, offset});
    }

    void AllNotesOffMidiEvent(int) override
    {
        ++probe.allNotesOff;
        Queue(Pending{Pending::AllOff, 0, 0, 0});
    }

    void SustainOnMidiEvent(int, long offset) override
    {
        ++probe.sustainOn;
        Queue(Pending{Pending::SustainOn, 0, 0, offset});
    }

    void SustainOffMidiEvent(int, long offset) override
    {
        ++probe.sustainOff;
        Queue(Pending{Pending::SustainOff, 0, 0, offset});
    }

    void PitchBendMidiEvent(int, float bend, long) override { probe.pitchBend = bend; }
    void UnhandledMidiEvent(int, int, int, int, long) override { ++probe.unhandled; }

    void NextBuffer() override { ++probe.nextBuffers; }
    void PostRender() override { ++probe.postRenders; }
    void OnTransportPlay() override { ++probe.transportPlays; }
    void OnTransportStop() override { ++probe.transportStops; }

    void Render(float* outL, float* outR, long frames, int) override
    {
        AudioAPI::Lock hold(GetMutex());
        ++probe.renders;
        probe.largestRender = std::max(probe.largestRender, frames);
        probe.renderedFrames += frames;
        if (throwInRender)
        {
            throwInRender = false;
            throw std::runtime_error("render failure on request");
        }

        float const rate = GetSampleRate();
        float const gain = params[0] * params[2] * 0.2f;
        float const pan = params[5];
        float const gainL = gain * (1.0f - std::max(0.0f, pan));
        float const gainR = gain * (1.0f + std::min(0.0f, pan));
        float const tune = params[1] + 2.0f * probe.pitchBend;

        int next = 0;
        for (long i = 0; i < frames; ++i)
        {
            while (next < numPending && (pending[next].offset <= i || i == frames - 1))
                Apply(pending[next++]);
            for (Voice& v : voices)
            {
                if (!v.on) continue;
                float const frequency =
                    440.0f * std::exp2((static_cast<float>(v.note) - 69.0f + tune) / 12.0f);
                float const s = std::sin(v.phase) * v.amplitude;
                outL[i] += s * gainL;
                outR[i] += s * gainR;
                v.phase += 6.2831853f * frequency / rate;
                if (v.phase > 6.2831853f) v.phase -= 6.2831853f;
            }
        }
        // Events of a block of no frames wait for the next one.
        std::copy(pending + next, pending + numPending, pending);
        numPending -= next;
    }

    void* SavePluginState(int& size) override
    {
        AudioAPI::Lock hold(GetMutex());
        state.assign(kStateMagic, kStateMagic + 4);
        AppendInt(kNumParams);
        for (Parameter& p : params)
        {
            float const v = p;
            unsigned char bytes[4];
            std::memcpy(bytes, &v, 4);
            state.insert(state.end(), bytes, bytes + 4);
        }
        size = static_cast<int>(state.size());
        return state.data();
    }

    // The whole block is checked before anything changes: a refused block keeps the state.
    bool RestorePluginState(void* data, int size) override
    {
        AudioAPI::Lock hold(GetMutex());
        ++probe.restoreCalls;
        auto const* bytes = static_cast<unsigned char const*>(data);
        float values[kNumParams];
        bool ok = data != nullptr && size == 8 + 4 * kNumParams && std::memcmp(bytes, kStateMagic, 4) == 0;
        if (ok)
        {
            std::int32_t count = 0;
            std::memcpy(&count, bytes + 4, 4);
            ok = count == kNumParams;
        }
        for (int i = 0; ok && i < kNumParams; ++i)
        {
            std::memcpy(&values[i], bytes + 8 + 4 * i, 4);
            ok = std::isfinite(values[i]) && values[i] >= kParams[i].min && values[i] <= kParams[i].max;
        }
        if (!ok)
        {
            ++probe.restoresRefused;
            return false;
        }
        for (int i = 0; i < kNumParams; ++i)
            params[i] = values[i];
        return true;
    }

    VstIntPtr vendorSpecific(VstInt32 index, VstIntPtr value, void* ptr, float) override
    {
        if (index != kTestSynthProbe || ptr == nullptr) return 0;
        auto* out = static_cast<TestSynthProbe*>(ptr);
        switch (value)
        {
        case kProbeResetCounters:
            probe = TestSynthProbe{};
            break;
        case kProbeSetParameterInside:
            if (out->index >= 0 && out->index < kNumParams)
            {
                // As the user's input in the editor sets it.
                EditorInput::Scope user(this);
                params[out->index].ControllerSet(out->value, nullptr);
            }
            break;
        case kProbeThrowNow:
            throw std::runtime_error("dispatcher failure on request");
        case kProbeThrowInRender:
            throwInRender = true;
            break;
        default:
            break;
        }
        int const index0 = out->index;
        float const value0 = out->value;
        *out = probe;
        out->index = index0;
        out->value = value0;
        out->tempo = GetSourceTempo();
        out->sampleRate = GetSampleRate();
        out->soundingNotes =
            static_cast<int>(std::count_if(voices, voices + kNumVoices, [](Voice const& v) { return v.on; }));
        return 1;
    }

private:
    struct Voice
    {
        bool on = false;
        bool sustained = false;
        int note = 0;
        float amplitude = 0.0f;
        float phase = 0.0f;
    };

    struct Pending
    {
        enum Kind
        {
            On,
            Off,
            AllOff,
            SustainOn,
            SustainOff
        } kind;
        int note;
        int velocity;
        long offset;
    };

    // In offset order; events of equal offset keep their order.
    void Queue(Pending const& e)
    {
        if (numPending == kMaxPending) return;
        int i = numPending++;
        while (i > 0 && pending[i - 1].offset > e.offset)
        {
            pending[i] = pending[i - 1];
            --i;
        }
        pending[i] = e;
    }

    void Apply(Pending const& e)
    {
        switch (e.kind)
        {
        case Pending::On:
            for (Voice& v : voices)
            {
                if (!v.on)
                {
                    v = Voice{true, false, e.note, static_cast<float>(e.velocity) / 127.0f, 0.0f};
                    return;
                }
            }
            return;
        case Pending::Off:
            for (Voice& v : voices)
            {
                if (v.on && v.note == e.note)
                {
                    if (sustain)
                        v.sustained = true;
                    else
                        v.on = false;
                }
            }
            return;
        case Pending::AllOff:
            for (Voice& v : voices)
                v.on = false;
            return;
        case Pending::SustainOn:
            sustain = true;
            return;
        case Pending::SustainOff:
            sustain = false;
            for (Voice& v : voices)
            {
                if (v.sustained) v = Voice{};
            }
            return;
        }
    }

    void AppendInt(std::int32_t v)
    {
        unsigned char bytes[4];
        std::memcpy(bytes, &v, 4);
        state.insert(state.end(), bytes, bytes + 4);
    }

    Parameter params[kNumParams];
    Voice voices[kNumVoices];
    Pending pending[kMaxPending];
    int numPending = 0;
    bool sustain = false;
    bool throwInRender = false;
    TestSynthProbe probe;
    std::vector<unsigned char> state;
};

} // namespace

DEFINE_VST_PLUGIN_ENTRY(VSTFactory<TestSynth, TestSynthEditor>)
