// The Audio Unit command-line host's program: reads the component's registration file, loads its
// library, plays the built-in demo phrase (or a standard MIDI file) through it and writes the
// audio to a WAV file, or opens the unit's view; on the command-line core both headless hosts
// share (hostcli/HostCli.h).

#include "authost/Cli.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "authost/AUHost.h"
#include "authost/ViewMode.h"
#include "hostcli/HostCli.h"

namespace
{

std::string Code(std::uint32_t code)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text += static_cast<char>((code >> shift) & 0xFF);
    return text;
}

void PrintInfo(AUHost& host, std::FILE* out)
{
    AURegistration const& r = host.GetLibrary()->GetRegistration();
    std::fprintf(out, "name: %s\ntype: %s\nsubtype: %s\nmanufacturer: %s\nversion: 0x%08x\n", r.name.c_str(),
                 Code(r.description.componentType).c_str(), Code(r.description.componentSubType).c_str(),
                 Code(r.description.componentManufacturer).c_str(), static_cast<unsigned>(r.version));
    std::fprintf(out, "component version: 0x%08x\n",
                 static_cast<unsigned>(GetComponentVersion(host.GetUnit())));
    std::vector<UInt32> const ids = host.GetParameterList();
    std::fprintf(out, "parameters: %zu\n", ids.size());
    for (UInt32 id : ids)
    {
        AUParameterFacts const facts = host.DescribeParameter(id);
        std::fprintf(out, "  %2u %-32s %.4f\n", static_cast<unsigned>(id), facts.name.c_str(),
                     host.GetParameter(id));
    }
}

class AUProgram : public HostProgram
{
public:
    char const* Name() const override { return "authost"; }
    char const* UsageSubject() const override { return "COMPONENT.so"; }
    char const* UsageDescription() const override
    {
        return "Plays the built-in demo phrase (or a MIDI file) through an Audio Unit music device\n"
               "(registered in COMPONENT.auinfo beside the library) and writes a stereo WAV file.\n"
               "The state is the unit's class-info state block.\n";
    }
    char const* UsageOwnOptions() const override
    {
        return "View mode (opens the unit's view instead of playing):\n"
               "      --view KIND         headless (a window of pixels in this process) or x11 (DISPLAY)\n"
               "      --window WxH        the host window's size (default 800x700)\n"
               "      --title-bar N       a headless window's title-bar height (default 22)\n"
               "      --location X,Y      where the host places the view (default 0,0)\n"
               "      --idle N            idle calls after opening and after each input (default 10)\n"
               "      --click X,Y         a click at window coordinates (headless); repeatable, and\n"
               "      --press X,Y         so are the other inputs, played in order: a press,\n"
               "      --move X,Y          a move of the pointer,\n"
               "      --release X,Y       a release,\n"
               "      --type TEXT         keys typed into the focused window\n"
               "      --snapshot FILE     PNG of the window before the view closes\n"
               "      --reopen            open, run and close the view twice\n";
    }
    int ParseOwnOption(std::vector<std::string> const& args, std::size_t& i, std::FILE* err) override
    {
        return ParseViewOption(args, i, view, err);
    }

    bool Open(RenderOptions const& options, std::string& error) override
    {
        block = static_cast<UInt32>(options.block);
        host = std::make_unique<AUHost>(options.rate, block);
        host->SetTempo(options.tempo);
        if (host->Open(options.plugin)) return true;
        error = host->GetError();
        return false;
    }
    int ParameterCount() override { return static_cast<int>(host->GetParameterList().size()); }
    void SetParameter(int index, float value) override
    {
        host->SetParameter(static_cast<UInt32>(index), value);
        parametersPending = true;
    }
    bool LoadState(std::vector<std::uint8_t> const& bytes) override { return host->SetState(bytes) == noErr; }
    std::vector<std::uint8_t> SaveState() override
    {
        TakeParameters();
        return host->GetState();
    }
    void PrintInfo(std::FILE* out) override
    {
        TakeParameters();
        ::PrintInfo(*host, out);
    }
    bool WantsOwnMode() const override { return view.kind != ViewOptions::None; }
    std::vector<OwnOutput> OwnOutputs() override
    {
        if (view.snapshot.empty()) return {};
        view.snapshotFile = &snapshotFile;
        return {{"snapshot", view.snapshot, &snapshotFile}};
    }
    int RunOwnMode(std::FILE* out, std::FILE* err) override
    {
        TakeParameters();
        int const code = RunViewMode(*host, view, out, err);
        viewOut = code == 0 ? out : nullptr;
        return code;
    }
    bool Render(std::vector<TimedMidi> const& events, long totalFrames, BlockSink const& sink,
                std::string& error) override
    {
        parametersPending = false; // the first block takes them
        OSStatus const status = host->Render(events, totalFrames, sink);
        if (status == noErr) return true;
        error = "the component failed to render (status " + std::to_string(status) + ")";
        return false;
    }
    void Close() override
    {
        if (!host || !host->IsOpen()) return;
        host->Close();
        if (viewOut != nullptr) std::fprintf(viewOut, "unit: closed\n");
    }

private:
    // The unit takes the host's parameter values at its render calls. A run that renders nothing
    // (facts, view) gives it one silent block first, so its view and its saved state have them.
    void TakeParameters()
    {
        if (!parametersPending) return;
        parametersPending = false;
        std::vector<float> left(block), right(block);
        host->RenderBlock(block, left.data(), right.data());
    }

    std::unique_ptr<AUHost> host;
    UInt32 block = 512;
    bool parametersPending = false;
    ViewOptions view;
    OutputFile snapshotFile;
    std::FILE* viewOut = nullptr;
};

} // namespace

int RunAUHost(std::vector<std::string> const& args, std::FILE* out, std::FILE* err)
{
    AUProgram program;
    return RunHostProgram(program, args, out, err);
}
