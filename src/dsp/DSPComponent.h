#pragma once

#include "framework/Notifications.h"
#include "framework/Parameter.h"
#include "framework/ParameterHost.h"

// The base of every audio-processing unit: a parameter host (its parameters are registered,
// saved and loaded with it), a listener of the sample rate, of the tempo and of the per-block
// notifications, and one stereo processing entry point.
//
// Every component starts with one internal parameter, "BYPASS" (value 1.0). Units switch
// themselves on and off with their own enable parameters; none consults BYPASS while rendering.
// Rendering runs on the audio thread inside the instrument's locked render; the base takes no
// lock of its own.
class DSPComponent : public ParameterHost,
                     public SampleRateListener,
                     public TempoListener,
                     public NextBufferListener
{
public:
    // Names hold at most this many characters; longer ones are cut.
    static constexpr int kMaxNameLength = 127;

    DSPComponent(long id, const char* name);
    DSPComponent(DSPComponent const&) = delete;
    DSPComponent& operator=(DSPComponent const&) = delete;
    ~DSPComponent() override;

    // inputs[0] / outputs[0] are the left channel, [1] the right.
    virtual void Render(float** inputs, float** outputs, long n);
    // Processes n frames from the inputs into the outputs; inputs and outputs may be the same
    // buffers (in-place processing).
    virtual void RenderStereo(float* inL, float* inR, float* outL, float* outR, long n) = 0;

    // Copies n frames of the inputs to the outputs, nothing when they are the same buffers.
    void Bypass(float* inL, float* inR, float* outL, float* outR, long n);

    void SetComponentName(const char* name);
    const char* GetComponentName() const { return name; }

    Parameter bypass;

protected:
    char name[kMaxNameLength + 1];
};
