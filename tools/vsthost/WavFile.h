#pragma once

#include <string>
#include <vector>

// Writes a stereo WAV file: 16-bit PCM (samples clipped to -1..1 and rounded) or 32-bit
// float. False when the file cannot be written completely.
bool WriteWavFile(std::string const& path, std::vector<float> const& left, std::vector<float> const& right,
                  int sampleRate, bool floatSamples);
