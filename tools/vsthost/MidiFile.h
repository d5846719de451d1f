#pragma once

#include <string>
#include <vector>

#include "vsthost/VstHost.h"

// Reads a standard MIDI file (formats 0, 1 and 2, tracks merged; tempo changes and SMPTE
// time division honoured) into events at frames of the given sample rate, in time order.
// Meta events are dropped; system-exclusive events are kept as such. False, with the reason
// in `error`, for a file that cannot be read or is malformed.
bool ReadMidiFile(std::string const& path, double sampleRate, std::vector<TimedMidi>& events,
                  std::string& error);
bool ParseMidiFile(std::vector<unsigned char> const& bytes, double sampleRate, std::vector<TimedMidi>& events,
                   std::string& error);

// The built-in demo phrase at the tempo given: four bars of chords under a melody, with the
// sustain pedal held over each chord. Ends with every note released.
std::vector<TimedMidi> DemoPhrase(double sampleRate, double bpm);
