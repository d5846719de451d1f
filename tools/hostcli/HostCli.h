#pragma once

// The command-line core both headless hosts share (vsthost for VST 2.4 instruments, authost for
// Audio Unit music devices): the options they have in common, the checks of every file they read
// and the order of a run. A run:
//  1. reads the options; a bad or incomplete one ends it with exit code 2;
//  2. reads and checks every input file before the plug-in is loaded: the state file and the MIDI
//     file must be regular files (not a folder, FIFO or device) of at most their size limit and
//     readable, and the MIDI file well formed; the plug-in must be a regular file. Any other ends
//     it with a message and exit code 1;
//     Then every output (the WAV file when rendering, --save-state, and the program's own, such as a
//     screenshot) is prepared (OutputFile): one that is an input (the plug-in, the MIDI file, the
//     state file loaded, which --save-state may replace) or another output (by device and inode,
//     or folder and name for a file still to be made; a character device such as /dev/null may
//     take any number), the error stream (which carries the messages, by whatever name), a
//     folder, a missing folder, a file the user may not write or a FIFO nothing reads ends it
//     with a message and exit code 1. With an output on the standard output, what would be
//     printed there goes to the error stream;
//  3. loads the plug-in (exactly the file checked: a bare name is taken in the current folder,
//     never from the library search path), restores the state, then sets the parameters (an index
//     the plug-in does not have is a bad option: exit code 2);
//  4. prints the facts (--info), or runs the program's own mode (an editor or view), or renders to
//     the WAV file, streaming block by block (a render longer than the largest WAV file is
//     refused);
//  5. saves the state (--save-state) as the plug-in is left then, and closes the plug-in.
// An output is put in place only once complete: a failed run leaves the old file as it was, and
// a run ended by SIGINT, SIGTERM or SIGHUP leaves no temporary file and ends by that signal.
// Every failure (each output that failed among them) gives a message on the error stream and
// exit code 1; nothing aborts.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "hostcli/OutputFile.h"
#include "vsthost/RenderOptions.h"
#include "vsthost/VstHost.h" // TimedMidi

// The largest state file read (a plug-in's state is far smaller) and the largest MIDI file.
inline constexpr std::uintmax_t kMaxStateFileBytes = 256u * 1024u * 1024u;
inline constexpr std::uintmax_t kMaxMidiFileBytes = 16u * 1024u * 1024u;

// Reads a whole regular file of at most `limit` bytes. Opens without blocking (a FIFO never
// waits for a writer) and checks the opened file itself. False with the reason in `error`
// ("cannot open the <what> <path>: no such file", "the <what> <path> is not a file", "the <what>
// <path> is larger than <limit> bytes", "cannot read the <what> <path>: ...").
bool ReadRegularFile(std::string const& path, char const* what, std::uintmax_t limit,
                     std::vector<std::uint8_t>& bytes, std::string& error);
// The same check without reading: an existing regular file of at most `limit` bytes.
bool CheckRegularFile(std::string const& path, char const* what, std::uintmax_t limit, std::string& error);

// What a host program does with its plug-in; the core calls it in the order above.
class HostProgram
{
public:
    // One block of rendered frames (left, right, count); false stops the render.
    using BlockSink = std::function<bool(float const*, float const*, int)>;

    virtual ~HostProgram() = default;

    // The program's name, which starts its messages.
    virtual char const* Name() const = 0;
    // What the program plays (after "usage: NAME [options] "), then its description lines.
    virtual char const* UsageSubject() const = 0;
    virtual char const* UsageDescription() const = 0;
    // The lines of its own options.
    virtual char const* UsageOwnOptions() const = 0;
    // One option of its own at args[i] (moving i past its value): 1 when taken, 0 when not one of
    // its own, -1 on a bad value (the message is out).
    virtual int ParseOwnOption(std::vector<std::string> const& args, std::size_t& i, std::FILE* err) = 0;

    // Loads the plug-in at options.plugin and opens an instance at the options' rate, block size
    // and tempo. False with the reason in `error`.
    virtual bool Open(RenderOptions const& options, std::string& error) = 0;
    virtual int ParameterCount() = 0;
    virtual void SetParameter(int index, float value) = 0;
    // False when the plug-in refuses the state.
    virtual bool LoadState(std::vector<std::uint8_t> const& bytes) = 0;
    virtual std::vector<std::uint8_t> SaveState() = 0;
    virtual void PrintInfo(std::FILE* out) = 0;
    // True when its own options ask for its own mode instead of a render.
    virtual bool WantsOwnMode() const = 0;
    // The files its own mode writes (what each is, its path, and the file the core prepares for
    // it and the mode writes and commits); asked once the options are read.
    struct OwnOutput
    {
        char const* what;
        std::string path;
        OutputFile* file;
    };
    virtual std::vector<OwnOutput> OwnOutputs() { return {}; }
    // Runs that mode; returns the exit code.
    virtual int RunOwnMode(std::FILE* out, std::FILE* err) = 0;
    // Renders totalFrames frames, sending the events in time, handing each block to `sink`. False
    // with the reason in `error` when the plug-in fails (not when the sink stops it).
    virtual bool Render(std::vector<TimedMidi> const& events, long totalFrames, BlockSink const& sink,
                        std::string& error) = 0;
    // Starts or stops the host's transport around a render.
    virtual void SetPlaying(bool) {}
    virtual void Close() = 0;
};

// Runs the program on its arguments (without the program name): output to `out`, messages to
// `err`. Returns the exit code: 0 done, 1 a file or the plug-in failed, 2 bad options.
int RunHostProgram(HostProgram& program, std::vector<std::string> const& args, std::FILE* out,
                   std::FILE* err);
