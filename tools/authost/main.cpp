// authost: plays an Audio Unit music device without a DAW. Reads the component's registration
// file, loads its library, plays the built-in demo phrase (or a standard MIDI file) through it
// and writes the audio to a WAV file.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "authost/AUHost.h"
#include "authost/ViewMode.h"
#include "vsthost/MidiFile.h"
#include "vsthost/RenderOptions.h"
#include "vsthost/WavFile.h"

namespace
{

void Usage(std::FILE* out)
{
    std::fputs("usage: authost [options] COMPONENT.so\n"
               "Plays the built-in demo phrase (or a MIDI file) through an Audio Unit music device\n"
               "(registered in COMPONENT.auinfo beside the library) and writes a stereo WAV file.\n"
               "  -o, --out FILE          WAV file to write (default demo.wav)\n"
               "  -m, --midi FILE         play a standard MIDI file instead of the demo phrase\n"
               "  -r, --rate HZ           sample rate (default 44100)\n"
               "  -b, --block FRAMES      host block size (default 512)\n"
               "  -t, --tempo BPM         host tempo (default 120)\n"
               "  -f, --float             32-bit float samples (default 16-bit)\n"
               "  -g, --gain DB           gain applied to the output before writing (default 0)\n"
               "      --tail SECONDS      time rendered after the last event (default 2)\n"
               "  -p, --param INDEX=VALUE set a parameter (0..1) before playing; repeatable\n"
               "      --load-state FILE   restore the plug-in state (class-info block) from a file\n"
               "      --save-state FILE   save the plug-in state after playing\n"
               "  -i, --info              print the component's facts and parameters, render nothing\n"
               "View mode (opens the unit's view instead of playing):\n"
               "      --view KIND         headless (a window of pixels in this process) or x11 (DISPLAY)\n"
               "      --window WxH        the host window's size (default 800x700)\n"
               "      --title-bar N       a headless window's title-bar height (default 22)\n"
               "      --location X,Y      where the host places the view (default 0,0)\n"
               "      --idle N            idle calls after opening and after each click (default 10)\n"
               "      --click X,Y         a click at window coordinates (headless); repeatable\n"
               "      --snapshot FILE     PNG of the window before the view closes\n"
               "      --reopen            open, run and close the view twice\n"
               "  -h, --help              this text\n",
               out);
}

std::string Code(std::uint32_t code)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text += static_cast<char>((code >> shift) & 0xFF);
    return text;
}

void PrintInfo(AUHost& host)
{
    AURegistration const& r = host.GetLibrary()->GetRegistration();
    std::printf("name: %s\ntype: %s\nsubtype: %s\nmanufacturer: %s\nversion: 0x%08x\n", r.name.c_str(),
                Code(r.description.componentType).c_str(), Code(r.description.componentSubType).c_str(),
                Code(r.description.componentManufacturer).c_str(), static_cast<unsigned>(r.version));
    std::printf("component version: 0x%08x\n", static_cast<unsigned>(GetComponentVersion(host.GetUnit())));
    std::vector<UInt32> const ids = host.GetParameterList();
    std::printf("parameters: %zu\n", ids.size());
    for (UInt32 id : ids)
    {
        AUParameterFacts const facts = host.DescribeParameter(id);
        std::printf("  %2u %-32s %.4f\n", static_cast<unsigned>(id), facts.name.c_str(),
                    host.GetParameter(id));
    }
}

} // namespace

int main(int argc, char** argv)
{
    RenderOptions o;
    std::vector<std::pair<int, float>> params;
    ViewOptions view;
    std::vector<std::string> const args(argv, argv + argc);

    for (int i = 1; i < argc; ++i)
    {
        std::size_t at = static_cast<std::size_t>(i);
        int const taken = ParseViewOption(args, at, view, stderr);
        if (taken < 0) return 2;
        if (taken > 0)
        {
            i = static_cast<int>(at);
            continue;
        }
        std::string const arg = argv[i];
        auto value = [&](char const*& out)
        {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        char const* v = nullptr;
        double number = 0.0;
        if (arg == "-h" || arg == "--help")
        {
            Usage(stdout);
            return 0;
        }
        else if (arg == "-f" || arg == "--float")
            o.floatSamples = true;
        else if (arg == "-i" || arg == "--info")
            o.info = true;
        else if ((arg == "-o" || arg == "--out") && value(v))
            o.outPath = v;
        else if ((arg == "-m" || arg == "--midi") && value(v))
            o.midiPath = v;
        else if (arg == "--load-state" && value(v))
            o.loadState = v;
        else if (arg == "--save-state" && value(v))
            o.saveState = v;
        else if ((arg == "-r" || arg == "--rate") && value(v) && ParseNumber(v, number) && number >= 8000 &&
                 number <= 384000)
            o.rate = number;
        else if ((arg == "-b" || arg == "--block") && value(v) && ParseNumber(v, number) && number >= 1 &&
                 number <= 65536)
            o.block = number;
        else if ((arg == "-t" || arg == "--tempo") && value(v) && ParseNumber(v, number) && number > 0 &&
                 number <= 999)
            o.tempo = number;
        else if (arg == "--tail" && value(v) && ParseNumber(v, number) && number >= 0 && number <= 600)
            o.tail = number;
        else if ((arg == "-g" || arg == "--gain") && value(v) && ParseNumber(v, number) && number >= -120 &&
                 number <= 40)
            o.gainDb = number;
        else if ((arg == "-p" || arg == "--param") && value(v))
        {
            std::string const text = v;
            std::size_t const eq = text.find('=');
            double index = 0.0;
            double normalised = 0.0;
            if (eq == std::string::npos || !ParseNumber(text.substr(0, eq).c_str(), index) ||
                !ParseNumber(text.substr(eq + 1).c_str(), normalised) || index < 0 || normalised < 0 ||
                normalised > 1)
            {
                std::fprintf(stderr, "authost: bad parameter setting '%s' (want INDEX=VALUE, VALUE 0..1)\n",
                             v);
                return 2;
            }
            params.emplace_back(static_cast<int>(index), static_cast<float>(normalised));
        }
        else if (!arg.empty() && arg[0] != '-' && o.plugin.empty())
            o.plugin = arg;
        else
        {
            std::fprintf(stderr, "authost: bad or incomplete option '%s'\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }
    if (o.plugin.empty())
    {
        Usage(stderr);
        return 2;
    }

    AUHost host(o.rate, static_cast<UInt32>(o.block));
    host.SetTempo(o.tempo);
    if (!host.Open(o.plugin))
    {
        std::fprintf(stderr, "authost: %s\n", host.GetError().c_str());
        return 1;
    }
    if (o.info)
    {
        PrintInfo(host);
        return 0;
    }

    if (!o.loadState.empty())
    {
        std::ifstream in(o.loadState, std::ios::binary);
        std::vector<std::uint8_t> chunk((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof())
        {
            std::fprintf(stderr, "authost: cannot read %s\n", o.loadState.c_str());
            return 1;
        }
        if (host.SetState(chunk) != noErr)
        {
            std::fprintf(stderr, "authost: the plug-in refused the state in %s\n", o.loadState.c_str());
            return 1;
        }
    }
    for (auto const& [index, normalised] : params)
    {
        if (static_cast<std::size_t>(index) >= host.GetParameterList().size())
        {
            std::fprintf(stderr, "authost: the plug-in has no parameter %d\n", index);
            return 2;
        }
        host.SetParameter(index, normalised);
    }
    if (view.kind != ViewOptions::None)
    {
        int const code = RunViewMode(host, view, stdout, stderr);
        host.Close();
        if (code == 0) std::printf("unit: closed\n");
        return code;
    }

    std::vector<TimedMidi> events;
    if (o.midiPath.empty())
        events = DemoPhrase(o.rate, o.tempo);
    else
    {
        std::string error;
        if (!ReadMidiFile(o.midiPath, o.rate, events, error))
        {
            std::fprintf(stderr, "authost: %s\n", error.c_str());
            return 1;
        }
    }
    long const lastFrame = events.empty() ? 0 : events.back().frame;
    long const totalFrames = lastFrame + std::lround(o.tail * o.rate);

    std::vector<float> left;
    std::vector<float> right;
    left.reserve(static_cast<std::size_t>(totalFrames));
    right.reserve(static_cast<std::size_t>(totalFrames));
    OSStatus const status = host.Render(events, totalFrames, left, right);
    if (status != noErr)
    {
        std::fprintf(stderr, "authost: the component failed to render (status %d)\n",
                     static_cast<int>(status));
        return 1;
    }

    float const gain = static_cast<float>(std::pow(10.0, o.gainDb / 20.0));
    float peak = 0.0f;
    long nonFinite = 0;
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

    if (!o.saveState.empty())
    {
        std::vector<std::uint8_t> const chunk = host.GetState();
        std::ofstream out(o.saveState, std::ios::binary);
        out.write(reinterpret_cast<char const*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
        if (!out.flush())
        {
            std::fprintf(stderr, "authost: cannot write %s\n", o.saveState.c_str());
            return 1;
        }
    }
    host.Close();

    if (!WriteWavFile(o.outPath, left, right, static_cast<int>(o.rate), o.floatSamples))
    {
        std::fprintf(stderr, "authost: cannot write %s\n", o.outPath.c_str());
        return 1;
    }
    std::printf("%s: %ld frames (%.2f s) at %.0f Hz, peak %.1f dBFS -> %s\n", o.plugin.c_str(), totalFrames,
                static_cast<double>(totalFrames) / o.rate, o.rate,
                peak > 0.0f ? 20.0 * std::log10(peak) : -INFINITY, o.outPath.c_str());
    if (peak > 1.0f && !o.floatSamples)
        std::fprintf(stderr,
                     "authost: the output clips in a 16-bit file: lower it with --gain or use --float\n");
    if (nonFinite > 0)
    {
        std::fprintf(stderr, "authost: the plug-in produced %ld samples that are not finite\n", nonFinite);
        return 1;
    }
    return 0;
}
