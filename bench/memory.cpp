// Resident memory of instruments with the heavy patch: the process before any instrument, with
// one, and with eight (each with 16 held notes, rendered for a while at 512-frame blocks so
// every buffer a block uses has been touched). Counters, in MiB: "first" (one instrument
// against none), "each_added" (the mean cost of instruments 2 to 8), and the process totals.

#include "engine/Torvane.h"
#include "support/TemporaryDataHome.h"
#include "support/engine/BusyPatch.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace
{

// The instrument keeps its folders below $XDG_DATA_HOME: a scratch folder, removed at exit.
void UseScratchDataHome()
{
    static TemporaryDataHome home("torvane-bench-");
}

double ResidentMiB()
{
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r"))
    {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

std::unique_ptr<Torvane> OpenInstrument()
{
    auto t = std::make_unique<Torvane>(nullptr);
    t->setSampleRate(44100.0f);
    t->setBlockSize(512);
    MakeBusyPatch(*t, BusyPatch::kHeld);
    for (int i = 0; i < 16; ++i)
        t->NoteOnMidiEvent(0, 36 + 3 * i, 100, 0);
    std::vector<float> left(512);
    std::vector<float> right(512);
    for (int b = 0; b < 100; ++b)
        t->Render(left.data(), right.data(), 512, 0);
    return t;
}

void BM_Memory(benchmark::State& state)
{
    UseScratchDataHome();
    for (auto _ : state)
    {
        const double none = ResidentMiB();
        std::vector<std::unique_ptr<Torvane>> open;
        open.push_back(OpenInstrument());
        const double one = ResidentMiB();
        while (open.size() < 8)
            open.push_back(OpenInstrument());
        const double eight = ResidentMiB();
        state.counters["rss_none_MiB"] = none;
        state.counters["rss_1_MiB"] = one;
        state.counters["rss_8_MiB"] = eight;
        state.counters["first_MiB"] = one - none;
        state.counters["each_added_MiB"] = (eight - one) / 7.0;
    }
}

} // namespace

BENCHMARK(BM_Memory)->Iterations(1)->Unit(benchmark::kMillisecond);
