#include "editor/WaveEditor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "dsp/FFT.h"
#include "editor/Layout.h"
#include "editor/TSaveDialog.h"
#include "engine/Torvane.h"
#include "framework/Paths.h"
#include "framework/SaveReport.h"
#include "platform/MessagePopup.h"
#include "toolkit/GraphicsContext.h"

namespace
{
constexpr float kTwoPi = 6.2831855f;

void Load(Image& image, char const* name)
{
    image.LoadFromFile(MakeImagePath(name));
}

// The row of value v in a graph whose middle line is at `middle` (positive values above it).
long Row(long middle, float v)
{
    if (!std::isfinite(v)) v = 0.0f;
    float const row = static_cast<float>(middle) - v * static_cast<float>(middle);
    return static_cast<long>(std::clamp(row, -100000.0f, 100000.0f));
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Editor

WaveEditor::~WaveEditor()
{
    StopTimer(kRebuildTimer);
}

void WaveEditor::Create(Window* parent, Torvane* torvane, long px, long py, VectorMipOscWaveDef* waves,
                        int waveSlot)
{
    if (torvane == nullptr) return;
    instrument = torvane;
    wave = waves;
    slot = waveSlot;
    layer = instrument->GetCurrentVoice();
    for (int l = 0; l < Torvane::kNumLayers; ++l)
    {
        VoiceDef* def = instrument->GetVoiceDef(l);
        if (def != nullptr && &def->waveDef == waves) layer = l;
    }
    if (wave == nullptr) wave = &instrument->GetVoiceDef(layer)->waveDef;
    try
    {
        Load(background, "WaveEditorBackground.png");
        namespace we = layout::waveeditor;
        CreateFrame(parent, px, py, we::kSize.w, we::kSize.h);
        EnableDragging(true);
        Refresh();
        ForceRepaint();
        Build();
    }
    catch (String const& error)
    {
        MessagePopup(error, "Torvane Error in WaveEditor::Create");
        return;
    }
    partialsChanged = false;
    StartTimer(kRebuildTimer, kRebuildPeriodMs);
    RunModal();
    StopTimer(kRebuildTimer);
    // However the run ended, the last amplitude drag is not lost.
    ApplyPendingPartials();
}

void WaveEditor::Build()
{
    namespace we = layout::waveeditor;
    waveGraph.Create(this, we::kWaveGraph.x, we::kWaveGraph.y);
    partialGraph.Create(this, we::kPartialGraph.x, we::kPartialGraph.y);
    Load(closeUp, "CloseUp.png");
    Load(closeDown, "CloseDown.png");
    closeButton.Create(this, kCloseId, this, we::kClose.x, we::kClose.y, &closeUp, &closeDown);
    closeBox.Create(this, we::kCloseBox.x, we::kCloseBox.y, kCloseId, this);
    Load(saveUp, "SaveUpBut.png");
    Load(saveDown, "SaveDownBut.png");
    saveButton.Create(this, kSaveId, this, we::kSave.x, we::kSave.y, &saveUp, &saveDown);
}

void WaveEditor::Refresh()
{
    amplitudes.fill(0.0f);
    phases.fill(0.0f);
    if (instrument == nullptr) return;
    long const n = instrument->CopyWaveCycle(layer, slot, cycle);
    if (n < 4) return;
    FFT fft;
    try
    {
        fft.Init(n);
    }
    catch (std::exception const&)
    {
        return;
    }
    std::copy(cycle.begin(), cycle.end(), fft.GetSamples());
    fft.ForwardFFT(true);
    long const last = std::min<long>(kNumPartials, n / 2 - 1);
    for (long h = 1; h <= last; ++h)
    {
        float const a = fft.GetAmps()[h];
        float const p = fft.GetPhases()[h];
        amplitudes[static_cast<std::size_t>(h - 1)] = std::isfinite(a) ? a : 0.0f;
        phases[static_cast<std::size_t>(h - 1)] = std::isfinite(p) ? p : 0.0f;
    }
}

void WaveEditor::SetPartialAmp(int index, float a)
{
    if (index < 0 || index >= kNumPartials) return;
    amplitudes[static_cast<std::size_t>(index)] = a;
    partialsChanged = true;
}

void WaveEditor::SetPhase(int index, float p)
{
    if (index < 0 || index >= kNumPartials) return;
    phases[static_cast<std::size_t>(index)] = p;
    instrument->SetWaveFromPartials(layer, slot, kNumPartials, amplitudes.data(), phases.data());
    partialsChanged = false;
    instrument->CopyWaveCycle(layer, slot, cycle);
    waveGraph.Refresh();
}

void WaveEditor::GraphUpdated(std::vector<float> const& samples)
{
    // A cycle of another length (the slot was reshaped meanwhile) is refused; the views then
    // show the slot as it is.
    instrument->SetWaveFromCycle(layer, slot, samples.data(), static_cast<long>(samples.size()),
                                 kNumPartials);
    partialsChanged = false;
    Refresh();
    waveGraph.Refresh();
    partialGraph.Refresh(true);
}

void WaveEditor::ApplyPendingPartials()
{
    if (!partialsChanged || instrument == nullptr) return;
    partialsChanged = false;
    instrument->SetWaveFromPartials(layer, slot, kNumPartials, amplitudes.data(), phases.data());
    instrument->CopyWaveCycle(layer, slot, cycle);
    waveGraph.Refresh();
}

void WaveEditor::TimerEvent(int id)
{
    if (id == kRebuildTimer) ApplyPendingPartials();
}

void WaveEditor::ButtonPressed(int id)
{
    if (id == kCloseId)
    {
        ApplyPendingPartials();
        QuitModal();
    }
    else if (id == kSaveId)
    {
        Save();
    }
}

void WaveEditor::Save()
{
    ApplyPendingPartials();
    long px = 50;
    long py = 50;
    ConvertLocalToScreen(px, py);
    String category;
    String chosen;
    TSaveDialog dialog;
    if (!dialog.Create(this, px, py, instrument->GetWaveformPresetManager(), category, chosen,
                       "Save waveform", -1, ""))
        return;
    SaveOutcome outcome;
    instrument->SaveWaveform(wave, slot, category, chosen, &outcome);
    ReportSave(outcome, "Error: Could not save waveform", "The waveform was saved", "File error");
}

void WaveEditor::Repaint(GraphicsContext& gc)
{
    background.Draw(&gc, 0, 0);
}

// ---------------------------------------------------------------------------------------------
// Freehand graph

void WaveGraph::Create(WaveEditor* owner, long px, long py)
{
    editor = owner;
    name = "WaveGraph";
    CreateChildWindow(editor, layout::waveeditor::kWaveGraph.w, layout::waveeditor::kWaveGraph.h, px, py);
    middle = height / 2;
    Refresh();
}

void WaveGraph::Refresh()
{
    if (editor != nullptr) samples = editor->Cycle();
    ForceRepaint();
}

void WaveGraph::Repaint(GraphicsContext& gc)
{
    std::size_t const n = samples.size();
    if (n < 2) return;
    gc.SetPenColour(150, 150, 205, 1, 255);
    float const step = static_cast<float>(width) / static_cast<float>(n);
    gc.MoveTo(0, Row(middle, samples[0]));
    for (std::size_t i = 1; i < n; ++i)
        gc.LineTo(static_cast<long>(static_cast<float>(i) * step), Row(middle, samples[i]));
    gc.EndLine();
}

int WaveGraph::Index(long px) const
{
    long const n = static_cast<long>(samples.size());
    float const step = static_cast<float>(width) / static_cast<float>(n);
    float const i = std::trunc(static_cast<float>(px) / step);
    return static_cast<int>(std::clamp(i, 0.0f, static_cast<float>(n - 1)));
}

void WaveGraph::LButtonDown(long px, long py)
{
    CaptureMouse();
    last = GPoint(px, py);
    MouseMoved(px, py);
}

void WaveGraph::MouseMoved(long px, long py)
{
    if (!IsMouseCaptured() || samples.empty() || middle == 0) return;
    int const i = Index(px);
    int const j = Index(last.x < 0 ? px : last.x);
    // The stroke writes only what the graph shows, -1..1, however far past its edges the
    // captured pointer goes (the line joins it to a value the stroke wrote, held the same way).
    float const v = std::clamp(static_cast<float>(py - middle) / static_cast<float>(-middle), -1.0f, 1.0f);
    float const vj = std::clamp(samples[static_cast<std::size_t>(j)], -1.0f, 1.0f);
    samples[static_cast<std::size_t>(i)] = v;
    if (i != j)
    {
        int const lo = std::min(i, j);
        int const hi = std::max(i, j);
        float const from = i < j ? v : vj;
        float const to = i < j ? vj : v;
        for (int k = lo; k <= hi; ++k)
            samples[static_cast<std::size_t>(k)] =
                from + (to - from) * static_cast<float>(k - lo) / static_cast<float>(hi - lo);
    }
    last = GPoint(px, py);
    ForceRepaint();
}

void WaveGraph::LButtonUp(long, long)
{
    bool const drawing = IsMouseCaptured();
    ReleaseMouse();
    last.x = -1;
    if (drawing && editor != nullptr) editor->GraphUpdated(samples);
}

// ---------------------------------------------------------------------------------------------
// Partial graph

namespace
{
struct ZoomStep
{
    int bar;
    int gap;
    int shown;
    char const* label;
    long panBar;
};
constexpr ZoomStep kZoomSteps[4] = {
    {1, 1, 255, "1x", 512}, {2, 2, 127, "2x", 256}, {4, 4, 64, "4x", 128}, {12, 4, 32, "8x", 64}};
} // namespace

void PartialGraph::Create(WaveEditor* owner, long px, long py)
{
    namespace we = layout::waveeditor;
    editor = owner;
    name = "PartialGraph";
    CreateChildWindow(editor, we::kPartialGraph.w, we::kPartialGraph.h, px, py);
    Refresh(false);
    Load(plus, "Plus.png");
    Load(plusPressed, "PlusPressed.png");
    Load(minus, "Minus.png");
    Load(minusPressed, "MinusPressed.png");
    Load(zoomImage, "ZoomLabel.png");
    Load(panTrack, "PartialScrollBar.png");
    zoomOut.Create(this, kZoomOutId, this, we::kZoomOut.x, we::kZoomOut.y, &minus, &minusPressed);
    zoomIn.Create(this, kZoomInId, this, we::kZoomIn.x, we::kZoomIn.y, &plus, &plusPressed);
    zoomLabel.Create(this, "1x", we::kZoomText.w, we::kZoomText.h, we::kZoomText.x, we::kZoomText.y);
    zoomLabel.SetTextColour(Colour(255, 255, 255, 255), false);
    partialLabel.Create(this, "", we::kPartialText.w, we::kPartialText.h, we::kPartialText.x,
                        we::kPartialText.y);
    partialLabel.SetTextColour(Colour(255, 255, 255, 255), false);
    SetPartialLabel();
    SetZoom(1);
    ForceRepaint();
}

void PartialGraph::Refresh(bool redraw)
{
    if (editor == nullptr) return;
    for (std::size_t i = 0; i < amps.size(); ++i)
    {
        amps[i] = editor->Amplitudes()[i];
        phases[i] = editor->Phases()[i];
        if (amps[i] < 0.001f || phases[i] > 6.28318f) phases[i] = 0.0f;
    }
    if (redraw) ForceRepaint();
}

void PartialGraph::SetZoom(int z)
{
    zoom = std::clamp(z, 1, 4);
    ZoomStep const& s = kZoomSteps[zoom - 1];
    barWidth = s.bar;
    gap = s.gap;
    shown = s.shown;
    panBarWidth = s.panBar;
    travel = static_cast<float>(kTrackWidth - panBarWidth);
    travelReciprocal = travel > 0.0f ? 1.0f / travel : 0.0f;
    zoomLabel.SetLabel(s.label, true);
    SetPanPos(panPos);
    ForceRepaint();
}

void PartialGraph::ButtonPressed(int id)
{
    SetZoom(id == kZoomInId ? zoom + 1 : zoom - 1);
}

void PartialGraph::SetPanPos(float p)
{
    if (!std::isfinite(p)) p = 0.0f;
    panPos = std::clamp(p, 0.0f, 1.0f);
    firstShown = static_cast<int>(panPos * travel / 2.0f);
}

bool PartialGraph::PanBarHittest(long px, long py) const
{
    long const left = static_cast<long>(panPos * travel);
    return px >= left && px <= left + panBarWidth && py >= 217 && py <= 217 + 7;
}

bool PartialGraph::SetAmp(int index, float a)
{
    if (index < 0 || index >= kNumPartials) return false;
    a = std::clamp(a, 0.0f, 1.0f);
    bool const changed = amps[static_cast<std::size_t>(index)] != a;
    amps[static_cast<std::size_t>(index)] = a;
    return changed;
}

bool PartialGraph::SetPhase(int index, float p)
{
    if (index < 0 || index >= kNumPartials) return false;
    p = std::clamp(p, 0.0f, kTwoPi);
    bool const changed = phases[static_cast<std::size_t>(index)] != p;
    phases[static_cast<std::size_t>(index)] = p;
    return changed;
}

void PartialGraph::SetPartialLabel()
{
    char text[32];
    if (hover)
        std::snprintf(text, sizeof text, "Partial: %i", hoverPartial);
    else
        std::snprintf(text, sizeof text, "Partial: ---");
    partialLabel.SetLabel(text, true);
}

void PartialGraph::Repaint(GraphicsContext& gc)
{
    long const pitch = barWidth + gap;
    long right = 0;
    for (int q = 0; q < shown; ++q)
    {
        int const index = firstShown + q;
        if (index >= kNumPartials) break;
        float const a = amps[static_cast<std::size_t>(index)];
        long const x0 = pitch * q;
        long const h = static_cast<long>(kAreaHeight * a);
        gc.SetPenColour(255, 255 - static_cast<int>(255.0f * a), 0, 1, 255);
        if (h > 0) gc.DrawFilledRect(x0, kAmpBase - h, barWidth, h);
        right = x0 + barWidth;
    }
    gc.SetPenColour(255, 255, 255, 1, 255);
    gc.DrawLine(0, kPhaseTop, right, kPhaseTop);
    gc.SetPenColour(150, 150, 160, 1, 255);
    for (int q = 0; q < shown; ++q)
    {
        int const index = firstShown + q;
        if (index >= kNumPartials) break;
        long const h = static_cast<long>(kAreaHeight * phases[static_cast<std::size_t>(index)] / kTwoPi);
        if (h > 0) gc.DrawFilledRect(pitch * q, kPhaseTop, barWidth, h);
    }
    namespace we = layout::waveeditor;
    zoomImage.Draw(&gc, we::kZoomLabel.x, we::kZoomLabel.y);
    panTrack.Draw(&gc, we::kPanTrack.x, we::kPanTrack.y);
    gc.SetPenColour(160, 150, 150, 1, 255);
    gc.DrawFilledRect(static_cast<long>(panPos * travel), 217, panBarWidth, 7);
}

void PartialGraph::LButtonDown(long px, long py)
{
    if (py <= kAmpBase)
    {
        ampDrag = true;
        CaptureMouse();
        MouseMoved(px, py);
    }
    else if (PanBarHittest(px, py))
    {
        panDrag = true;
        panStartX = px;
        panStartPos = panPos;
        CaptureMouse();
    }
    else if (py >= kPhaseTop && py <= kPhaseTop + kAreaHeight)
    {
        phaseDrag = true;
        CaptureMouse();
        MouseMoved(px, py);
    }
}

void PartialGraph::MouseMoved(long px, long py)
{
    long const pitch = barWidth + gap;
    long const index = (px + gap / 2) / pitch + firstShown;
    bool const wasHover = hover;
    int const wasPartial = hoverPartial;
    hover = index >= 0 && index < firstShown + shown && px + gap / 2 >= 0;
    hoverPartial = hover ? static_cast<int>(index) + 1 : 0;
    if (hover != wasHover || hoverPartial != wasPartial) SetPartialLabel();
    bool const inRange = px + gap / 2 >= 0 && index >= 0 && index < kNumPartials;
    if (ampDrag)
    {
        if (!inRange) return;
        int const i = static_cast<int>(index);
        float const a = 1.0f - static_cast<float>(py) / static_cast<float>(kAreaHeight);
        if (SetAmp(i, a))
        {
            editor->SetPartialAmp(i, amps[static_cast<std::size_t>(i)]);
            ForceRepaint();
        }
    }
    else if (phaseDrag)
    {
        if (!inRange) return;
        int const i = static_cast<int>(index);
        float const p = static_cast<float>(py - kPhaseTop) * kTwoPi / static_cast<float>(kAreaHeight);
        if (SetPhase(i, p))
        {
            editor->SetPhase(i, phases[static_cast<std::size_t>(i)]);
            ForceRepaint();
        }
    }
    else if (panDrag)
    {
        // At zoom 1 the bar fills the track: there is nowhere to pan.
        if (travel <= 0.0f) return;
        SetPanPos(panStartPos + static_cast<float>(px - panStartX) * travelReciprocal);
        ForceRepaint();
    }
}

void PartialGraph::LButtonUp(long, long)
{
    ampDrag = false;
    phaseDrag = false;
    panDrag = false;
    ReleaseMouse();
}
