#pragma once

#include <cmath>
#include <cstdlib>
#include <string>

// What both headless hosts (VST and Audio Unit) take from the command line to render a plug-in
// to a WAV file, with their defaults.
struct RenderOptions
{
    std::string plugin;
    std::string outPath = "demo.wav";
    std::string midiPath;
    std::string loadState;
    std::string saveState;
    double rate = 44100.0;
    double block = 512.0;
    double tempo = 120.0;
    double tail = 2.0;
    double gainDb = 0.0;
    bool floatSamples = false;
    bool info = false;
};

// An option value read whole as a finite number (in strtod's forms); false when it is not one.
inline bool ParseNumber(char const* text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}
