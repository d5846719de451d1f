#include "editor/MiniWaveDisplay.h"

#include <algorithm>
#include <cmath>

#include "engine/Torvane.h"
#include "toolkit/GraphicsContext.h"

namespace
{
long Row(float v)
{
    if (!std::isfinite(v)) v = 0.0f;
    return static_cast<long>(17.0f - 10.0f * std::clamp(v, -1.0f, 1.0f));
}
} // namespace

void MiniWaveDisplay::Create(Window* parent, long x, long y)
{
    CreateChildWindow(parent, kWidth, kHeight, x, y);
}

void MiniWaveDisplay::SetWave(Torvane* newInstrument, int newVoice, int newWave)
{
    instrument = newInstrument;
    voice = newVoice;
    wave = newWave;
    ForceRepaint();
}

void MiniWaveDisplay::Repaint(GraphicsContext& gc)
{
    if (!instrument) return;
    long const n = instrument->CopyWaveCycle(voice, wave, points);
    if (n < 2 || points.size() < 2) return;
    float const step = static_cast<float>(kWidth) / static_cast<float>(n);
    gc.SetPenColour(205, 210, 220, 1, 255);
    gc.MoveTo(0, Row(points[0]));
    for (long i = 1; i < n; ++i)
        gc.LineTo(static_cast<long>(static_cast<float>(i) * step), Row(points[static_cast<std::size_t>(i)]));
    gc.EndLine();
}
