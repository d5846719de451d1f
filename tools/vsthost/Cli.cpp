// The command-line host's program: options, plug-in, MIDI or demo phrase in, WAV file out.
// Every bad input ends with a message on the error stream and a non-zero exit code; nothing
// aborts. Long renders stream to the file block by block.

#include "vsthost/Cli.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "vsthost/EditorMode.h"
#include "vsthost/MidiFile.h"
#include "vsthost/RenderOptions.h"
#include "vsthost/VstHost.h"
#include "vsthost/WavFile.h"

namespace
{

// The largest state file read (a plug-in's chunk is far smaller).
constexpr std::uintmax_t kMaxStateFileBytes = 256u * 1024u * 1024u;

void Usage(std::FILE* out)
{
    std::fputs("usage: vsthost [options] PLUGIN.so\n"
               "Plays the built-in demo phrase (or a MIDI file) through a VST 2.4 instrument and\n"
               "writes a stereo WAV file.\n"
               "  -o, --out FILE          WAV file to write (default demo.wav)\n"
               "  -m, --midi FILE         play a standard MIDI file instead of the demo phrase\n"
               "  -r, --rate HZ           sample rate (default 44100)\n"
               "  -b, --block FRAMES      host block size (default 512)\n"
               "  -t, --tempo BPM         host tempo (default 120)\n"
               "  -f, --float             32-bit float samples (default 16-bit)\n"
               "  -g, --gain DB           gain applied to the output before writing (default 0)\n"
               "      --tail SECONDS      time rendered after the last event (default 2)\n"
               "  -p, --param INDEX=VALUE set parameter INDEX (a whole number) to VALUE (0..1) before\n"
               "                          playing; repeatable\n"
               "      --load-state FILE   restore the plug-in state from a file\n"
               "      --save-state FILE   save the plug-in state after playing\n"
               "  -i, --info              print the plug-in's facts and parameters, render nothing\n"
               "  -e, --editor            open the plug-in's editor in a window on DISPLAY while an\n"
               "                          audio thread renders, instead of writing a WAV file:\n"
               "      --run SECONDS       how long the editor stays open (default 2)\n"
               "      --click X,Y@T       a left click at editor point X,Y, T seconds after the\n"
               "                          editor's first frame is shown (XTest); repeatable\n"
               "      --double-click X,Y@T  the same, two clicks\n"
               "      --drag X,Y:X2,Y2@T  a left-button drag from X,Y to X2,Y2\n"
               "      --screenshot FILE   a PNG of the window before the editor closes\n"
               "      --print-automation  print the automation reports the host received\n"
               "      --print-parameters  print every parameter's final value\n"
               "      --editor-thread     open, idle and close the editor on a thread that is not\n"
               "                          the main one\n"
               "      --reopen            open, close and open the editor again before the run\n"
               "  -h, --help              this text\n",
               out);
}

// A whole decimal number (no sign, fraction or exponent) in 0..LONG_MAX.
bool ParseWhole(std::string const& text, long& value)
{
    if (text.empty() || text.size() > 18) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = std::strtol(text.c_str(), nullptr, 10);
    return true;
}

void Fail(std::FILE* err, char const* format, ...) __attribute__((format(printf, 2, 3)));
void Fail(std::FILE* err, char const* format, ...)
{
    std::fputs("vsthost: ", err);
    va_list args;
    va_start(args, format);
    std::vfprintf(err, format, args);
    va_end(args);
    std::fputc('\n', err);
}

// A file that can be read as a whole: it exists, is a regular file and is not beyond `limit`.
bool CheckInputFile(std::string const& path, char const* what, std::uintmax_t limit, std::FILE* err)
{
    std::error_code error;
    std::filesystem::file_status const status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status))
    {
        Fail(err, "cannot open the %s %s: no such file", what, path.c_str());
        return false;
    }
    if (!std::filesystem::is_regular_file(status))
    {
        Fail(err, "the %s %s is not a file", what, path.c_str());
        return false;
    }
    std::uintmax_t const size = std::filesystem::file_size(path, error);
    if (error || size > limit)
    {
        Fail(err, "the %s %s is larger than %ju bytes", what, path.c_str(), limit);
        return false;
    }
    return true;
}

void PrintInfo(VstHost& host, std::FILE* out)
{
    AEffect const* e = host.GetEffect();
    std::fprintf(out, "name: %s\nvendor: %s\nproduct: %s\n", host.GetEffectName().c_str(),
                 host.GetVendorString().c_str(), host.GetProductString().c_str());
    char const id[5] = {
        static_cast<char>((e->uniqueID >> 24) & 0xFF), static_cast<char>((e->uniqueID >> 16) & 0xFF),
        static_cast<char>((e->uniqueID >> 8) & 0xFF), static_cast<char>(e->uniqueID & 0xFF), '\0'};
    std::fprintf(out, "unique id: %s\nversion: %d\nVST version: %ld\ncategory: %ld\n", id, e->version,
                 static_cast<long>(host.Dispatch(effGetVstVersion)),
                 static_cast<long>(host.Dispatch(effGetPlugCategory)));
    std::fprintf(out, "inputs: %d\noutputs: %d\nprograms: %d\nflags: %d\n", e->numInputs, e->numOutputs,
                 e->numPrograms, e->flags);
    std::fprintf(out, "receiveVstMidiEvent: %ld\n", static_cast<long>(host.CanDo("receiveVstMidiEvent")));
    std::fprintf(out, "parameters: %d\n", e->numParams);
    for (int i = 0; i < e->numParams; ++i)
        std::fprintf(out, "  %2d %-32s %.4f\n", i, host.GetParameterName(i).c_str(), host.GetParameter(i));
}

struct Options : RenderOptions
{
    bool help = false;
    bool editor = false;
    EditorOptions editorOptions;
    std::vector<std::pair<long, float>> params;
};

// 0 when the options are good, else the exit code (the message is out).
int ParseOptions(std::vector<std::string> const& args, Options& o, std::FILE* err)
{
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
        if (arg == "-e" || arg == "--editor")
        {
            o.editor = true;
            continue;
        }
        if (int const taken = ParseEditorOption(args, i, o.editorOptions, err))
        {
            if (taken < 0) return 2;
            continue;
        }
        if ((arg == "-o" || arg == "--out") && value(v))
        {
            o.outPath = v;
            continue;
        }
        if ((arg == "-m" || arg == "--midi") && value(v))
        {
            o.midiPath = v;
            continue;
        }
        if (arg == "--load-state" && value(v))
        {
            o.loadState = v;
            continue;
        }
        if (arg == "--save-state" && value(v))
        {
            o.saveState = v;
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
                Fail(err, "%s wants a number %s %g up to %g", r.longName, r.lowOpen ? "above" : "from", r.low,
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
                Fail(err, "--param wants INDEX=VALUE");
                return 2;
            }
            if (!ParseWhole(v.substr(0, eq), index))
            {
                Fail(err, "bad parameter index in '%s': a whole number from 0", v.c_str());
                return 2;
            }
            if (!ParseNumber(v.substr(eq + 1).c_str(), normalised) || normalised < 0 || normalised > 1)
            {
                Fail(err, "bad parameter value in '%s': a number from 0 up to 1", v.c_str());
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
        Fail(err, "bad or incomplete option '%s'", arg.c_str());
        Usage(err);
        return 2;
    }
    if (o.plugin.empty())
    {
        Usage(err);
        return 2;
    }
    return 0;
}

int Run(std::vector<std::string> const& args, std::FILE* out, std::FILE* err)
{
    Options o;
    if (int const code = ParseOptions(args, o, err)) return code;
    if (o.help)
    {
        Usage(out);
        return 0;
    }
    // Inputs are checked before the plug-in is loaded.
    if (!o.loadState.empty() && !CheckInputFile(o.loadState, "state file", kMaxStateFileBytes, err)) return 1;
    if (!o.midiPath.empty() && !CheckInputFile(o.midiPath, "MIDI file", kMaxStateFileBytes, err)) return 1;

    VstHost host(o.rate, static_cast<int>(o.block));
    host.SetTempo(o.tempo);
    if (!host.Open(o.plugin))
    {
        Fail(err, "%s", host.GetError().c_str());
        return 1;
    }
    if (o.info)
    {
        PrintInfo(host, out);
        return 0;
    }

    if (!o.loadState.empty())
    {
        std::ifstream in(o.loadState, std::ios::binary);
        std::vector<std::uint8_t> chunk((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        if (in.bad())
        {
            Fail(err, "cannot read %s", o.loadState.c_str());
            return 1;
        }
        if (host.SetChunk(chunk) == 0)
        {
            Fail(err, "the plug-in refused the state in %s", o.loadState.c_str());
            return 1;
        }
    }
    int const numParams = host.GetEffect()->numParams;
    for (auto const& [index, normalised] : o.params)
    {
        if (index >= numParams)
        {
            if (numParams > 0)
                Fail(err, "the plug-in has no parameter %ld: its parameters are 0 up to %d", index,
                     numParams - 1);
            else
                Fail(err, "the plug-in has no parameter %ld: it has no parameters", index);
            return 2;
        }
        host.SetParameter(static_cast<int>(index), normalised);
    }
    if (o.editor) return RunEditorMode(host, o.editorOptions, out, err);

    std::vector<TimedMidi> events;
    if (o.midiPath.empty())
        events = DemoPhrase(o.rate, o.tempo);
    else
    {
        std::string error;
        if (!ReadMidiFile(o.midiPath, o.rate, events, error))
        {
            Fail(err, "%s", error.c_str());
            return 1;
        }
    }
    long lastFrame = 0;
    for (TimedMidi const& e : events)
        lastFrame = std::max(lastFrame, e.frame);
    // The length is checked as a number of seconds first: a far event must not overflow it.
    std::uint64_t const limit = WavWriter::MaxFrames(o.floatSamples);
    double const frames = static_cast<double>(lastFrame) + std::round(o.tail * o.rate);
    if (!(frames <= static_cast<double>(limit)))
    {
        Fail(err, "the render would last %.0f s; the limit is %.0f s at %.0f Hz (the largest %s WAV file)",
             frames / o.rate, static_cast<double>(limit) / o.rate, o.rate,
             o.floatSamples ? "float" : "16-bit");
        return 1;
    }
    long const totalFrames = static_cast<long>(frames);

    WavWriter wav;
    if (!wav.Open(o.outPath, static_cast<int>(o.rate), o.floatSamples,
                  static_cast<std::uint64_t>(totalFrames)))
    {
        Fail(err, "cannot write %s", o.outPath.c_str());
        return 1;
    }
    float const gain = static_cast<float>(std::pow(10.0, o.gainDb / 20.0));
    float peak = 0.0f;
    long nonFinite = 0;
    std::vector<float> left;
    std::vector<float> right;
    host.SetPlaying(true);
    bool const rendered =
        host.Render(events, totalFrames,
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
                    });
    host.SetPlaying(false);
    bool const written = wav.Close() && rendered;

    if (!o.saveState.empty())
    {
        std::vector<std::uint8_t> const chunk = host.GetChunk();
        std::ofstream file(o.saveState, std::ios::binary);
        file.write(reinterpret_cast<char const*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
        if (!file.flush())
        {
            Fail(err, "cannot write %s", o.saveState.c_str());
            return 1;
        }
    }
    host.Close();

    if (!written)
    {
        Fail(err, "cannot write %s", o.outPath.c_str());
        return 1;
    }
    std::fprintf(out, "%s: %ld frames (%.2f s) at %.0f Hz, peak %.1f dBFS -> %s\n", o.plugin.c_str(),
                 totalFrames, static_cast<double>(totalFrames) / o.rate, o.rate,
                 peak > 0.0f ? 20.0 * std::log10(peak) : -INFINITY, o.outPath.c_str());
    if (peak > 1.0f && !o.floatSamples)
        Fail(err, "the output clips in a 16-bit file: lower it with --gain or use --float");
    if (nonFinite > 0)
    {
        Fail(err, "the plug-in produced %ld samples that are not finite", nonFinite);
        return 1;
    }
    return 0;
}

} // namespace

int RunVstHost(std::vector<std::string> const& args, std::FILE* out, std::FILE* err)
{
    try
    {
        return Run(args, out, err);
    }
    catch (std::bad_alloc const&)
    {
        Fail(err, "out of memory");
    }
    catch (std::exception const& e)
    {
        Fail(err, "%s", e.what());
    }
    catch (...)
    {
        Fail(err, "unexpected failure");
    }
    return 1;
}
