#pragma once

// Numbers shared by the modulation rows of the layer definitions and the voices: the row
// layout, the source and target ids stored in a layer's rows, and the size of one block's
// modulation curves.

#include "framework/RenderLimits.h"

// LFO curves have a point every 32 samples plus the block end: 257 points for 8192 frames.
constexpr long kModPointSpacing = 32;
constexpr long kModBlockPoints = kMaxRenderFrames / kModPointSpacing + 1;

// Rows of a layer definition's stored matrix and of a voice's bound matrix.
constexpr int kLayerModRows = 16;
constexpr int kVoiceModRows = 18;
constexpr int kNumUserModRows = 5;     // rows 0-4, edited in the matrix page
constexpr int kFirstPerformModRow = 5; // row 5 + 2 x pad + axis
constexpr int kPitchBendModRow = 17;   // voice only
// Pads whose rows and ids fit a layer definition's rows (see PerformModSource::SetMapping).
constexpr int kNumRoutedPerformPads = 4;

// Source ids, as stored in a layer definition's rows (the row's `output` field).
enum TModSourceId : int
{
    kModSourceNone = -1,
    kModSourceLFO1 = 0,
    kModSourceLFO2 = 1,
    kModSourcePadX = 2, // pads 0-3: ids 2-5, output 0
    kModSourcePadY = 6, // pads 0-3: ids 6-9, output 1
    kModSourceModWheel = 10,
    kModSourcePressure = 11,
    kModSourceVelocity = 12,
    kModSourceNoteNumber = 13,
};

// Target ids, as stored in a layer definition's rows (the row's `input` field).
enum TModTargetId : int
{
    kModTargetNone = -1,
    kModTargetAmplitude = 0, // ids 0-6 are the voice's inputs 0-6
    kModTargetPitch = 1,
    kModTargetPan = 2,
    kModTargetVectorX = 3,
    kModTargetVectorY = 4,
    kModTargetFilterFreq = 5,
    kModTargetFilterRes = 6,
    kModTargetLFO1Rate = 7,
    kModTargetLFO1Depth = 8,
    kModTargetLFO2Rate = 9,
    kModTargetLFO2Depth = 10,
};

// The voice's modulation inputs and outputs.
enum VoiceModInput : int
{
    kVoiceInputAmplitude = 0,
    kVoiceInputPitch = 1,
    kVoiceInputPan = 2,
    kVoiceInputVectorX = 3,
    kVoiceInputVectorY = 4,
    kVoiceInputFilterFreq = 5,
    kVoiceInputFilterRes = 6,
    kNumVoiceModInputs = 7,
};
enum VoiceModOutput : int
{
    kVoiceOutputVelocity = 0,
    kVoiceOutputNoteNumber = 1,
    kNumVoiceModOutputs = 2,
};

// The LFO's inputs (input 2 is present but not read).
enum LFOModInput : int
{
    kLFOInputDepth = 0,
    kLFOInputRate = 1,
    kNumLFOModInputs = 3,
};
