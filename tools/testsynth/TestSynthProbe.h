#pragma once

// What the test synth tells a host about its inner state, through the vendor-specific
// opcode (effVendorSpecific with index kTestSynthProbe): the host passes a TestSynthProbe
// in ptr and value = the action. Tests use it to see what reached the framework.

#include <cstdint>

#include "vst/VstAbi.h"

constexpr VstInt32 kTestSynthProbe = FourCharCode("TSyn");

enum TestSynthAction : VstIntPtr
{
    kProbeRead = 0,           // fill the probe
    kProbeResetCounters,      // zero the counters, then fill the probe
    kProbeSetParameterInside, // set parameter probe.index to probe.value as the editor would
    kProbeThrowNow,           // throw from this call
    kProbeThrowInRender,      // the next render throws
};

struct TestSynthProbe
{
    // In, for kProbeSetParameterInside.
    int index = 0;
    float value = 0.0f;

    // Out.
    int soundingNotes = 0;
    int midiEvents = 0;
    int lastChannel = -1;
    int lastStatus = -1;
    int lastData1 = -1;
    int lastData2 = -1;
    long lastOffset = -1;
    int noteOns = 0;
    int noteOffs = 0;
    int allNotesOff = 0;
    int sustainOn = 0;
    int sustainOff = 0;
    float pitchBend = 0.0f;
    int unhandled = 0;
    int nextBuffers = 0;
    int postRenders = 0;
    int renders = 0;
    long largestRender = 0;
    long renderedFrames = 0;
    int transportPlays = 0;
    int transportStops = 0;
    float tempo = 0.0f;
    float sampleRate = 0.0f;
    int restoreCalls = 0;
    int restoresRefused = 0;
};
