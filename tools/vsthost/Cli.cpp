// The command-line host's program: options, plug-in, MIDI or demo phrase in, WAV file out, on
// the command-line core both headless hosts share (hostcli/HostCli.h). Every bad input ends with a
// message on the error stream and a non-zero exit code; nothing aborts.

#include "vsthost/Cli.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "hostcli/HostCli.h"
#include "vsthost/EditorMode.h"
#include "vsthost/VstHost.h"

namespace
{

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

class VstProgram : public HostProgram
{
public:
    char const* Name() const override { return "vsthost"; }
    char const* UsageSubject() const override { return "PLUGIN.so"; }
    char const* UsageDescription() const override
    {
        return "Plays the built-in demo phrase (or a MIDI file) through a VST 2.4 instrument and\n"
               "writes a stereo WAV file.\n";
    }
    char const* UsageOwnOptions() const override
    {
        return "  -e, --editor            open the plug-in's editor in a window on DISPLAY while an\n"
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
               "      --reopen            open, close and open the editor again before the run\n";
    }
    int ParseOwnOption(std::vector<std::string> const& args, std::size_t& i, std::FILE* err) override
    {
        if (args[i] == "-e" || args[i] == "--editor")
        {
            editor = true;
            return 1;
        }
        return ParseEditorOption(args, i, editorOptions, err);
    }

    bool Open(RenderOptions const& options, std::string& error) override
    {
        host = std::make_unique<VstHost>(options.rate, static_cast<int>(options.block));
        host->SetTempo(options.tempo);
        if (host->Open(options.plugin)) return true;
        error = host->GetError();
        return false;
    }
    int ParameterCount() override { return host->GetEffect()->numParams; }
    void SetParameter(int index, float value) override { host->SetParameter(index, value); }
    bool LoadState(std::vector<std::uint8_t> const& bytes) override { return host->SetChunk(bytes) != 0; }
    std::vector<std::uint8_t> SaveState() override { return host->GetChunk(); }
    void PrintInfo(std::FILE* out) override { ::PrintInfo(*host, out); }
    bool WantsOwnMode() const override { return editor; }
    std::vector<OwnOutput> OwnOutputs() override
    {
        if (editorOptions.screenshot.empty()) return {};
        editorOptions.screenshotFile = &screenshotFile;
        return {{"screenshot", editorOptions.screenshot, &screenshotFile}};
    }
    int RunOwnMode(std::FILE* out, std::FILE* err) override
    {
        return RunEditorMode(*host, editorOptions, out, err);
    }
    bool Render(std::vector<TimedMidi> const& events, long totalFrames, BlockSink const& sink,
                std::string&) override
    {
        // processReplacing has no status: only the file can fail, and the core reports that.
        host->Render(events, totalFrames, sink);
        return true;
    }
    void SetPlaying(bool playing) override { host->SetPlaying(playing); }
    void Close() override
    {
        if (host) host->Close();
    }

private:
    std::unique_ptr<VstHost> host;
    bool editor = false;
    EditorOptions editorOptions;
    OutputFile screenshotFile;
};

} // namespace

int RunVstHost(std::vector<std::string> const& args, std::FILE* out, std::FILE* err)
{
    VstProgram program;
    return RunHostProgram(program, args, out, err);
}
