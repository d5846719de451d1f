#include "hostcli/HostCli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <utility>

#include "vsthost/MidiFile.h"
#include "vsthost/WavFile.h"

namespace
{

std::string Describe(char const* what, std::string const& path)
{
    return std::string("the ") + what + " " + path;
}

bool RegularFileFacts(struct stat const& facts, char const* what, std::string const& path,
                      std::uintmax_t limit, std::string& error)
{
    if (!S_ISREG(facts.st_mode))
    {
        error = Describe(what, path) + " is not a file";
        return false;
    }
    if (facts.st_size < 0 || static_cast<std::uintmax_t>(facts.st_size) > limit)
    {
        error = Describe(what, path) + " is larger than " + std::to_string(limit) + " bytes";
        return false;
    }
    return true;
}

std::string OpenFailure(char const* what, std::string const& path, int number)
{
    if (number == ENOENT || number == ENOTDIR)
        return std::string("cannot open the ") + what + " " + path + ": no such file";
    return std::string("cannot open the ") + what + " " + path + ": " + std::strerror(number);
}

class Descriptor
{
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(Descriptor const&) = delete;
    Descriptor& operator=(Descriptor const&) = delete;
    int const fd;
};

// A whole decimal number (no sign, fraction or exponent) in 0..LONG_MAX.
bool ParseWhole(std::string const& text, long& value)
{
    if (text.empty() || text.size() > 18) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = std::strtol(text.c_str(), nullptr, 10);
    return true;
}

class Messages
{
public:
    Messages(char const* name, std::FILE* err) : name(name), err(err) {}
    void operator()(char const* format, ...) const __attribute__((format(printf, 2, 3)))
    {
        std::fprintf(err, "%s: ", name);
        va_list args;
        va_start(args, format);
        std::vfprintf(err, format, args);
        va_end(args);
        std::fputc('\n', err);
    }

private:
    char const* name;
    std::FILE* err;
};

void Usage(HostProgram const& program, std::FILE* out)
{
    std::fprintf(out, "usage: %s [options] %s\n%s", program.Name(), program.UsageSubject(),
                 program.UsageDescription());
    std::fputs("  -o, --out FILE          WAV file to write (default demo.wav)\n"
               "  -m, --midi FILE         play a standard MIDI file instead of the demo phrase\n"
               "  -r, --rate HZ           sample rate (default 44100)\n"
               "  -b, --block FRAMES      host block size (default 512)\n"
               "  -t, --tempo BPM         host tempo (default 120)\n"
               "  -f, --float             32-bit float samples (default 16-bit)\n"
               "  -g, --gain DB           gain applied to the output before writing (default 0)\n"
               "      --tail SECONDS      time rendered after the last event (default 2)\n"
               "  -p, --param INDEX=VALUE set parameter INDEX (a whole number) to VALUE (0..1) after\n"
               "                          the state is restored; repeatable\n"
               "      --load-state FILE   restore the plug-in state from a file first\n"
               "      --save-state FILE   save the plug-in state as the run leaves it\n"
               "  -i, --info              print the plug-in's facts and parameters (after the state\n"
               "                          and the parameters are applied), render nothing\n",
               out);
    std::fputs(program.UsageOwnOptions(), out);
    std::fputs("  -h, --help              this text\n", out);
}

struct Options : RenderOptions
{
    bool help = false;
    std::vector<std::pair<long, float>> params;
};

// 0 when the options are good, else the exit code (the message is out).
int ParseOptions(HostProgram& program, std::vector<std::string> const& args, Options& o, std::FILE* err)
{
    Messages const fail(program.Name(), err);
    struct Range
    {
        char const* shortName;
        char const* longName;
        double low;
        double high;
        bool lowOpen;
        double* target;
    };
    Range const ranges[] = {
        {"-r", "--rate", 8000, 384000, false, &o.rate}, {"-b", "--block", 1, 65536, false, &o.block},
        {"-t", "--tempo", 0, 999, true, &o.tempo},      {"", "--tail", 0, 600, false, &o.tail},
        {"-g", "--gain", -120, 40, false, &o.gainDb},
    };

    for (std::size_t i = 0; i < args.size(); ++i)
    {
        std::string const& arg = args[i];
        auto value = [&](std::string& out)
        {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (arg == "-h" || arg == "--help")
        {
            o.help = true;
            return 0;
        }
        if (arg == "-f" || arg == "--float")
        {
            o.floatSamples = true;
            continue;
        }
        if (arg == "-i" || arg == "--info")
        {
            o.info = true;
            continue;
        }
        if (int const taken = program.ParseOwnOption(args, i, err))
        {
            if (taken < 0) return 2;
            continue;
        }
        std::string* const path = arg == "-o" || arg == "--out"    ? &o.outPath
                                  : arg == "-m" || arg == "--midi" ? &o.midiPath
                                  : arg == "--load-state"          ? &o.loadState
                                  : arg == "--save-state"          ? &o.saveState
                                                                   : nullptr;
        if (path != nullptr)
        {
            if (!value(v) || v.empty())
            {
                fail("%s wants a file name", arg.c_str());
                return 2;
            }
            *path = v;
            continue;
        }
        bool numeric = false;
        for (Range const& r : ranges)
        {
            if (arg != r.longName && (r.shortName[0] == '\0' || arg != r.shortName)) continue;
            numeric = true;
            double number = 0.0;
            if (!value(v) || !ParseNumber(v.c_str(), number) ||
                (r.lowOpen ? number <= r.low : number < r.low) || number > r.high)
            {
                fail("%s wants a number %s %g up to %g", r.longName, r.lowOpen ? "above" : "from", r.low,
                     r.high);
                return 2;
            }
            *r.target = number;
        }
        if (numeric) continue;
        if (arg == "-p" || arg == "--param")
        {
            std::size_t eq = std::string::npos;
            long index = 0;
            double normalised = 0.0;
            bool const have = value(v);
            if (have) eq = v.find('=');
            if (!have || eq == std::string::npos)
            {
                fail("--param wants INDEX=VALUE");
                return 2;
            }
            if (!ParseWhole(v.substr(0, eq), index))
            {
                fail("bad parameter index in '%s': a whole number from 0", v.c_str());
                return 2;
            }
            if (!ParseNumber(v.substr(eq + 1).c_str(), normalised) || normalised < 0 || normalised > 1)
            {
                fail("bad parameter value in '%s': a number from 0 up to 1", v.c_str());
                return 2;
            }
            o.params.emplace_back(index, static_cast<float>(normalised));
            continue;
        }
        if (!arg.empty() && arg[0] != '-' && o.plugin.empty())
        {
            o.plugin = arg;
            continue;
        }
        fail("bad or incomplete option '%s'", arg.c_str());
        Usage(program, err);
        return 2;
    }
    if (o.plugin.empty() && !o.help)
    {
        Usage(program, err);
        return 2;
    }
    return 0;
}

// Tells what the user should know of how an output is or was written (in place, or saved with
// its folder not synced).
void Tell(OutputFile& file, Messages const& fail)
{
    std::string const note = file.TakeNote();
    if (!note.empty()) fail("%s", note.c_str());
}

bool SaveState(HostProgram& program, OutputFile& file, Messages const& fail)
{
    std::vector<std::uint8_t> const state = program.SaveState();
    std::string error;
    if (!file.Reserve(state.size(), error))
    {
        fail("%s", error.c_str());
        return false;
    }
    file.Write(state.data(), state.size());
    if (!file.Commit(error))
    {
        fail("%s", error.c_str());
        return false;
    }
    Tell(file, fail);
    return true;
}

// Refuses, before anything is written, two outputs that are one file, an output that is an
// input (by device and inode where the file exists, else by folder and name) and an output that
// is where the messages go (the error stream, whatever name it is given): nothing of the
// program's own may join a file it writes. The state may be saved over the state file loaded:
// that is read whole first. A character device (/dev/null) may take any number of outputs, and
// the messages too.
bool OutputsAreTheirOwnFiles(Options const& o, std::vector<HostProgram::OwnOutput> const& outputs,
                             OutputFile const* stateFile, std::FILE* err, Messages const& fail)
{
    OutputFile::Identity messages;
    bool const messagesKnown = OutputFile::IdentifyDescriptor(::fileno(err), messages);
    struct Input
    {
        char const* what;
        std::string const& path;
    };
    Input const inputs[] = {{"plug-in", o.plugin}, {"MIDI file", o.midiPath}, {"state file", o.loadState}};
    std::vector<std::pair<bool, OutputFile::Identity>> seen; // known, and what
    for (HostProgram::OwnOutput const& output : outputs)
    {
        OutputFile::Identity identity;
        // A path that can't be looked at is reported when it is prepared.
        bool const known = OutputFile::Identify(output.path, identity);
        for (Input const& input : inputs)
        {
            OutputFile::Identity read;
            if (!known || input.path.empty() || !OutputFile::Identify(input.path, read) ||
                !(read == identity))
                continue;
            if (output.file == stateFile && &input.path == &o.loadState) continue;
            if (&input.path == &o.plugin)
                fail("the %s %s is the plug-in itself", output.what, output.path.c_str());
            else
                fail("the %s %s is the %s %s", output.what, output.path.c_str(), input.what,
                     input.path.c_str());
            return false;
        }
        if (known && messagesKnown && identity == messages && !identity.characterDevice)
        {
            fail("the %s %s is where this program's messages go (its error stream): name another file",
                 output.what, output.path.c_str());
            return false;
        }
        for (std::size_t i = 0; known && !identity.characterDevice && i < seen.size(); ++i)
        {
            if (!seen[i].first || !(seen[i].second == identity)) continue;
            fail("the %s %s and the %s %s are one file", outputs[i].what, outputs[i].path.c_str(),
                 output.what, output.path.c_str());
            return false;
        }
        seen.emplace_back(known, identity);
    }
    return true;
}

// The plug-in path dlopen takes as that file: a name without a folder would be looked for on
// the library search path.
std::string LoadablePath(std::string const& path)
{
    return path.find('/') == std::string::npos ? "./" + path : path;
}

int Run(HostProgram& program, std::vector<std::string> const& args, std::FILE* out, std::FILE* err)
{
    Messages const fail(program.Name(), err);
    Options o;
    if (int const code = ParseOptions(program, args, o, err)) return code;
    if (o.help)
    {
        Usage(program, out);
        return 0;
    }

    // Every input is read and checked before the plug-in is loaded.
    std::string error;
    std::vector<std::uint8_t> state;
    if (!o.loadState.empty() && !ReadRegularFile(o.loadState, "state file", kMaxStateFileBytes, state, error))
    {
        fail("%s", error.c_str());
        return 1;
    }
    std::vector<TimedMidi> events;
    if (!o.midiPath.empty())
    {
        std::vector<std::uint8_t> midi;
        if (!ReadRegularFile(o.midiPath, "MIDI file", kMaxMidiFileBytes, midi, error) ||
            !ParseMidiFile(midi, o.rate, events, error))
        {
            fail("%s", error.c_str());
            return 1;
        }
    }
    if (!CheckRegularFile(o.plugin, "plug-in", UINTMAX_MAX, error))
    {
        fail("%s", error.c_str());
        return 1;
    }

    // Every output is made ready before the plug-in is loaded; none may be the plug-in itself.
    bool const rendering = !o.info && !program.WantsOwnMode();
    OutputFile wavFile;
    OutputFile stateFile;
    std::vector<HostProgram::OwnOutput> outputs;
    if (rendering) outputs.push_back({"output", o.outPath, &wavFile});
    if (!o.saveState.empty()) outputs.push_back({"state file", o.saveState, &stateFile});
    if (program.WantsOwnMode())
        for (HostProgram::OwnOutput const& own : program.OwnOutputs())
            outputs.push_back(own);
    if (!OutputsAreTheirOwnFiles(o, outputs, &stateFile, err, fail)) return 1;
    for (HostProgram::OwnOutput const& output : outputs)
    {
        if (!output.file->Prepare(output.path, output.what, error))
        {
            fail("%s", error.c_str());
            return 1;
        }
        Tell(*output.file, fail);
    }
    // With an output on the standard output, what would be printed there goes to the error stream.
    for (HostProgram::OwnOutput const& output : outputs)
        if (output.file->IsStandardOutput()) out = err;

    RenderOptions loading = o;
    loading.plugin = LoadablePath(o.plugin);
    if (!program.Open(loading, error))
    {
        fail("%s", error.c_str());
        return 1;
    }
    if (!o.loadState.empty() && !program.LoadState(state))
    {
        fail("the plug-in refused the state in %s", o.loadState.c_str());
        return 1;
    }
    int const numParams = program.ParameterCount();
    for (auto const& [index, normalised] : o.params)
    {
        if (index >= numParams)
        {
            if (numParams > 0)
                fail("the plug-in has no parameter %ld: its parameters are 0 up to %d", index, numParams - 1);
            else
                fail("the plug-in has no parameter %ld: it has no parameters", index);
            return 2;
        }
        program.SetParameter(static_cast<int>(index), normalised);
    }

    if (o.info)
    {
        program.PrintInfo(out);
        if (!o.saveState.empty() && !SaveState(program, stateFile, fail)) return 1;
        program.Close();
        return 0;
    }
    if (program.WantsOwnMode())
    {
        int const code = program.RunOwnMode(out, err);
        for (HostProgram::OwnOutput const& output : outputs)
            Tell(*output.file, fail);
        if (code == 0 && !o.saveState.empty() && !SaveState(program, stateFile, fail)) return 1;
        program.Close();
        return code;
    }

    if (o.midiPath.empty()) events = DemoPhrase(o.rate, o.tempo);
    long lastFrame = 0;
    for (TimedMidi const& e : events)
        lastFrame = std::max(lastFrame, e.frame);
    // The length is checked as a number of seconds first: a far event must not overflow it.
    std::uint64_t const limit = WavWriter::MaxFrames(o.floatSamples);
    double const frames = static_cast<double>(lastFrame) + std::round(o.tail * o.rate);
    if (!(frames <= static_cast<double>(limit)))
    {
        fail("the render would last %.0f s; the limit is %.0f s at %.0f Hz (the largest %s WAV file)",
             frames / o.rate, static_cast<double>(limit) / o.rate, o.rate,
             o.floatSamples ? "float" : "16-bit");
        return 1;
    }
    long const totalFrames = static_cast<long>(frames);

    WavWriter wav;
    if (!wavFile.Reserve(WavWriter::FileBytes(o.floatSamples, static_cast<std::uint64_t>(totalFrames)),
                         error))
    {
        fail("%s", error.c_str());
        return 1;
    }
    if (!wav.Open(wavFile.Stream(), static_cast<int>(o.rate), o.floatSamples,
                  static_cast<std::uint64_t>(totalFrames)))
    {
        wavFile.Fail();
        wavFile.Commit(error);
        fail("%s", error.c_str());
        return 1;
    }
    float const gain = static_cast<float>(std::pow(10.0, o.gainDb / 20.0));
    float peak = 0.0f;
    long nonFinite = 0;
    std::vector<float> left;
    std::vector<float> right;
    program.SetPlaying(true);
    bool const rendered = program.Render(
        events, totalFrames,
        [&](float const* l, float const* r, int n)
        {
            left.assign(l, l + n);
            right.assign(r, r + n);
            for (std::vector<float>* channel : {&left, &right})
            {
                for (float& s : *channel)
                {
                    s *= gain;
                    if (!std::isfinite(s))
                        ++nonFinite;
                    else
                        peak = std::fmax(peak, std::fabs(s));
                }
            }
            return wav.Write(left.data(), right.data(), static_cast<std::size_t>(n));
        },
        error);
    program.SetPlaying(false);
    if (!rendered)
    {
        fail("%s", error.c_str());
        return 1;
    }
    if (!wav.Close()) wavFile.Fail();
    std::string writeError;
    bool const written = wavFile.Commit(writeError);
    // Each output that failed is told.
    if (written)
        Tell(wavFile, fail);
    else
        fail("%s", writeError.c_str());
    bool const stateSaved = o.saveState.empty() || SaveState(program, stateFile, fail);
    program.Close();
    if (!written || !stateSaved) return 1;
    std::fprintf(out, "%s: %ld frames (%.2f s) at %.0f Hz, peak %.1f dBFS -> %s\n", o.plugin.c_str(),
                 totalFrames, static_cast<double>(totalFrames) / o.rate, o.rate,
                 peak > 0.0f ? 20.0 * std::log10(peak) : -INFINITY, o.outPath.c_str());
    if (peak > 1.0f && !o.floatSamples)
        fail("the output clips in a 16-bit file: lower it with --gain or use --float");
    if (nonFinite > 0)
    {
        fail("the plug-in produced %ld samples that are not finite", nonFinite);
        return 1;
    }
    return 0;
}

} // namespace

bool CheckRegularFile(std::string const& path, char const* what, std::uintmax_t limit, std::string& error)
{
    struct stat facts;
    if (::stat(path.c_str(), &facts) != 0)
    {
        error = OpenFailure(what, path, errno);
        return false;
    }
    return RegularFileFacts(facts, what, path, limit, error);
}

bool ReadRegularFile(std::string const& path, char const* what, std::uintmax_t limit,
                     std::vector<std::uint8_t>& bytes, std::string& error)
{
    Descriptor const file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.fd < 0)
    {
        error = OpenFailure(what, path, errno);
        return false;
    }
    struct stat facts;
    if (::fstat(file.fd, &facts) != 0)
    {
        error = "cannot read " + Describe(what, path) + ": " + std::strerror(errno);
        return false;
    }
    if (!RegularFileFacts(facts, what, path, limit, error)) return false;
    bytes.assign(static_cast<std::size_t>(facts.st_size), 0);
    std::size_t got = 0;
    // A file that grows while it is read is cut at its size when opened.
    while (got < bytes.size())
    {
        ssize_t const n = ::read(file.fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
        {
            error = "cannot read " + Describe(what, path) + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return true;
}

int RunHostProgram(HostProgram& program, std::vector<std::string> const& args, std::FILE* out, std::FILE* err)
{
    Messages const fail(program.Name(), err);
    // Only a descriptor the program was given may be named as an output; a temporary file it
    // named goes when a signal ends it.
    OutputFile::NoteStartingDescriptors();
    struct SignalsHandled
    {
        SignalsHandled() { OutputFile::RemoveTemporariesOnSignals(true); }
        ~SignalsHandled() { OutputFile::RemoveTemporariesOnSignals(false); }
    } const handled;
    try
    {
        return Run(program, args, out, err);
    }
    catch (std::bad_alloc const&)
    {
        fail("out of memory");
    }
    catch (std::exception const& e)
    {
        fail("%s", e.what());
    }
    catch (...)
    {
        fail("unexpected failure");
    }
    return 1;
}
