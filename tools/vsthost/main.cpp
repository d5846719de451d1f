// vsthost: plays a VST 2.4 instrument without a DAW. Loads the plug-in library, plays the
// built-in demo phrase (or a standard MIDI file) through it and writes the audio to a WAV
// file.

#include <cstdio>
#include <string>
#include <vector>

#include "vsthost/Cli.h"

int main(int argc, char** argv)
{
    std::vector<std::string> const args(argv + 1, argv + argc);
    return RunVstHost(args, stdout, stderr);
}
