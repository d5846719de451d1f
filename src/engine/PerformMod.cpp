#include "engine/PerformMod.h"

#include "framework/MidiLearn.h"
#include "framework/PluginBase.h"
#include "framework/Streams.h"

#include <cmath>
#include <cstdio>
#include <optional>

PerformModSource::PerformModSource() : TModSource(2, 2)
{
    X.Create("X", this, Parameter::Internal, -1.0f, 1.0f, Parameter::Continuous);
    Y.Create("Y", this, Parameter::Internal, -1.0f, 1.0f, Parameter::Continuous);
    X = 0.0f;
    Y = 0.0f;
}

void PerformModSource::Init(TModRowSetter* owner, MidiLearnManager* learn, AudioAPI::Mutex* pluginMutex,
                            int i)
{
    instrument = owner;
    mutex = pluginMutex;
    index = i;
    char name[16];
    std::snprintf(name, sizeof name, "%i", i + 1);
    X.SetInstanceName(name);
    Y.SetInstanceName(name);
    if (learn)
    {
        for (Parameter* p : {&X, &Y})
        {
            p->SetMidiLearnManager(learn);
            learn->RegisterGlobalParameter(p);
        }
    }
}

void PerformModSource::Reset()
{
    xMapping = Mapping{};
    yMapping = Mapping{};
    X = 0.0f;
    Y = 0.0f;
    currentX = currentY = 0.0f;
    previousX = previousY = 0.0f;
    xScale = yScale = 1.0f;
}

void PerformModSource::NextBuffer()
{
    previousX = currentX;
    previousY = currentY;
    currentX += 0.5f * (static_cast<float>(X) * xScale - currentX);
    currentY += 0.5f * (static_cast<float>(Y) * yScale - currentY);
}

void PerformModSource::CreateModEnvelope(Envelope* out, long length, int output)
{
    out->AddBreakpoint(0.0f, output == 0 ? previousX : previousY);
    out->AddBreakpoint(static_cast<float>(length), output == 0 ? currentX : currentY);
}

PerformModSource::Mapping PerformModSource::GetMapping(int axis) const
{
    std::optional<AudioAPI::Lock> lock;
    if (mutex) lock.emplace(*mutex);
    return axis == 0 ? xMapping : yMapping;
}

void PerformModSource::SetMapping(bool enabled, int axis, int voice, int target)
{
    if ((axis != 0 && axis != 1) || voice < 0 || voice > 4) return;
    std::optional<AudioAPI::Lock> lock;
    if (mutex) lock.emplace(*mutex);

    Mapping& mapping = axis == 0 ? xMapping : yMapping;
    const Mapping old = mapping;
    mapping = Mapping{enabled, voice, target};
    EditorInput::MarkEdited();
    if (!instrument || index >= kNumRoutedPerformPads) return;

    const int row = kFirstPerformModRow + 2 * index + axis;
    const int source = (axis == 0 ? kModSourcePadX : kModSourcePadY) + index;
    auto layers = [](int v, auto f)
    {
        for (int layer = v == 4 ? 0 : v; layer <= (v == 4 ? 3 : v); ++layer)
            f(layer);
    };
    if (old.enabled)
        layers(old.voice, [&](int layer) { instrument->SetModulationEnabled(row, false, layer); });
    if (enabled)
        layers(voice,
               [&](int layer)
               {
                   instrument->SetModulationEnabled(row, true, layer);
                   instrument->SetModulationSource(row, source, layer);
                   instrument->SetModulationTarget(row, target, layer);
               });
}

void PerformModSource::ShowMidiLearnPopup(bool x, Window* w, long px, long py)
{
    (x ? X : Y).MidiLearnShowPopup(w, px, py);
}

PerformMods::PerformMods() : pads(std::make_unique<PerformModSource[]>(kNumPads)) {}

void PerformMods::Create(TModRowSetter* instrument, MidiLearnManager* learn, AudioAPI::Mutex* mutex)
{
    for (int i = 0; i < kNumPads; ++i)
        pads[i].Init(instrument, learn, mutex, i);
}

void PerformMods::Reset()
{
    for (int i = 0; i < kNumPads; ++i)
        pads[i].Reset();
}

void PerformMods::NextBuffer()
{
    for (int i = 0; i < kNumPads; ++i)
        pads[i].NextBuffer();
}

void PerformMods::Save(Writer& w)
{
    w.Write(1.0f);
    for (int i = 0; i < kNumPads; ++i)
    {
        PerformModSource& pad = pads[i];
        w.Write(pad.xScale);
        w.Write(pad.yScale);
        pad.X.Save(w);
        pad.Y.Save(w);
        for (PerformModSource::Mapping const* m : {&pad.xMapping, &pad.yMapping})
        {
            w.Write(m->enabled);
            w.Write(m->voice);
            w.Write(m->target);
        }
    }
}

bool PerformMods::Load(Reader& r, bool apply)
{
    struct Stored
    {
        float xScale, yScale, x, y;
        PerformModSource::Mapping mappings[2];
    };
    Stored stored[kNumPads];
    float version = 0.0f;
    if (!r.Read(&version)) return false;
    for (Stored& s : stored)
    {
        if (!r.Read(&s.xScale) || !r.Read(&s.yScale) || !r.Read(&s.x) || !r.Read(&s.y)) return false;
        if (!std::isfinite(s.xScale) || !std::isfinite(s.yScale) || !std::isfinite(s.x) ||
            !std::isfinite(s.y))
            return false;
        for (PerformModSource::Mapping& m : s.mappings)
            if (!r.Read(&m.enabled) || !r.Read(&m.voice) || !r.Read(&m.target) || m.voice < 0 || m.voice > 4)
                return false;
    }
    if (!apply) return true;
    for (int i = 0; i < kNumPads; ++i)
    {
        PerformModSource& pad = pads[i];
        Stored const& s = stored[i];
        pad.xScale = s.xScale;
        pad.yScale = s.yScale;
        pad.X = s.x;
        pad.X.RefreshListeners();
        pad.Y = s.y;
        pad.Y.RefreshListeners();
        pad.xMapping = s.mappings[0];
        pad.yMapping = s.mappings[1];
    }
    return true;
}
