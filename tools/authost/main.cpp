// authost: plays an Audio Unit music device without a DAW. Reads the component's registration
// file, loads its library, plays the built-in demo phrase (or a standard MIDI file) through it
// and writes the audio to a WAV file.

#include <cstdio>
#include <string>
#include <vector>

#include "authost/Cli.h"

int main(int argc, char** argv)
{
    std::vector<std::string> const args(argv + 1, argv + argc);
    return RunAUHost(args, stdout, stderr);
}
