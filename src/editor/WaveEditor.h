#pragma once

#include <array>
#include <vector>

#include "editor/CloseBut.h"
#include "framework/Timers.h"
#include "toolkit/CustomButton.h"
#include "toolkit/Frame.h"
#include "toolkit/Geometry.h"
#include "toolkit/Image.h"
#include "toolkit/Label.h"

class Torvane;
class VectorMipOscWaveDef;
class WaveEditor;

// The drawn cycle of the edited slot: a copy of the slot's first-level cycle, drawn freehand
// and handed to the editor on release.
class WaveGraph : public Window
{
public:
    void Create(WaveEditor* editor, long x, long y);
    // Takes the editor's copy of the slot's cycle (its length may have changed) and redraws.
    void Refresh();
    std::vector<float> const& Samples() const { return samples; }

    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void MouseMoved(long x, long y) override;
    void LButtonUp(long x, long y) override;

private:
    int Index(long x) const;

    WaveEditor* editor = nullptr;
    long middle = 0;
    std::vector<float> samples;
    GPoint last{-1, 0};
};

// The first 256 partials of the slot as amplitude bars over phase bars, with zoom and pan.
class PartialGraph : public Window, public ButtonListener
{
public:
    static constexpr int kNumPartials = 256;
    static constexpr long kAmpBase = 105;
    static constexpr long kPhaseTop = 106;
    static constexpr long kAreaHeight = 105;
    static constexpr long kTrackWidth = 512;
    static constexpr int kZoomInId = 0;
    static constexpr int kZoomOutId = 1;

    void Create(WaveEditor* editor, long x, long y);
    // Copies the editor's amplitudes and phases (a phase shown only where it means something).
    void Refresh(bool redraw);
    void SetZoom(int zoom);
    int GetZoom() const { return zoom; }
    void SetPanPos(float p);
    float GetPanPos() const { return panPos; }
    int FirstShown() const { return firstShown; }
    int ShownCount() const { return shown; }
    bool PanBarHittest(long x, long y) const;
    // Clamp and store; true when the stored value changed.
    virtual bool SetAmp(int index, float a);
    virtual bool SetPhase(int index, float p);
    virtual void SetPartialLabel();
    void ButtonPressed(int id) override;
    char const* ZoomText() const { return zoomLabel.GetLabel(); }
    char const* PartialText() const { return partialLabel.GetLabel(); }

    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void MouseMoved(long x, long y) override;
    void LButtonUp(long x, long y) override;

private:
    WaveEditor* editor = nullptr;
    Image plus, plusPressed, minus, minusPressed;
    std::array<float, kNumPartials> amps{};
    std::array<float, kNumPartials> phases{};
    int barWidth = 1;
    int gap = 1;
    bool ampDrag = false;
    bool phaseDrag = false;
    bool panDrag = false;
    bool hover = false;
    int hoverPartial = 0;
    Image zoomImage;
    Image panTrack;
    CustomButton zoomIn;
    CustomButton zoomOut;
    int zoom = 1;
    int shown = 255;
    Label zoomLabel;
    Label partialLabel;
    long panBarWidth = kTrackWidth;
    float panPos = 0.0f;
    float travel = 0.0f;
    float travelReciprocal = 0.0f;
    long panStartX = 0;
    float panStartPos = 0.0f;
    int firstShown = 0;
};

// The modal editor of one wave slot of a layer: a cycle drawn freehand, or the amplitudes and
// phases of its first 256 partials. The views work on a copy of the slot's cycle taken under
// the plug-in mutex; every change is built outside the mutex and swapped into the slot by the
// instrument. Amplitude drags are applied at most every 200 ms, and always before the editor
// closes or saves. Built on the opener's stack, used for one run. Editor thread only.
class WaveEditor : public Frame, public ButtonListener, public TimerListener
{
public:
    static constexpr int kNumPartials = PartialGraph::kNumPartials;
    static constexpr int kCloseId = 0;
    static constexpr int kSaveId = 1;
    static constexpr int kRebuildTimer = 0;
    static constexpr unsigned kRebuildPeriodMs = 200;

    WaveEditor() = default;
    ~WaveEditor() override;

    // Edits slot `slot` of `wave`, which is one of the instrument's layers' waves (else the
    // current layer's), at (x, y) on the screen; returns when closed. A missing picture is shown
    // ("Torvane Error in WaveEditor::Create") and nothing runs.
    void Create(Window* parent, Torvane* instrument, long x, long y, VectorMipOscWaveDef* wave, int slot);

    // Copies the slot's cycle and reads its partials from the copy.
    void Refresh();
    void SetPartialAmp(int index, float a);
    void SetPhase(int index, float p);
    void GraphUpdated(std::vector<float> const& samples);
    // Rebuilds the slot from the partials when an amplitude changed since the last rebuild.
    void ApplyPendingPartials();
    void TimerEvent(int id) override;
    void ButtonPressed(int id) override;
    void Repaint(GraphicsContext& gc) override;

    std::vector<float> const& Cycle() const { return cycle; }
    float const* Amplitudes() const { return amplitudes.data(); }
    float const* Phases() const { return phases.data(); }
    bool PartialsChanged() const { return partialsChanged; }
    int Layer() const { return layer; }
    WaveGraph& GetWaveGraph() { return waveGraph; }
    PartialGraph& GetPartialGraph() { return partialGraph; }

protected:
    // The editor has no Cancel: Escape and Return both close it as its Close button does (the
    // edits made stay, as they are applied as they are made).
    bool CancelByKey() override
    {
        ButtonPressed(kCloseId);
        return true;
    }
    bool DefaultByKey() override { return CancelByKey(); }

private:
    void Build();
    void Save();

    Torvane* instrument = nullptr;
    VectorMipOscWaveDef* wave = nullptr;
    int slot = 0;
    int layer = -1;
    bool partialsChanged = false;
    std::vector<float> cycle;
    PartialGraph partialGraph;
    Image background;
    WaveGraph waveGraph;
    std::array<float, kNumPartials> amplitudes{};
    std::array<float, kNumPartials> phases{};
    Image closeUp, closeDown;
    CustomButton closeButton;
    CloseBut closeBox;
    Image saveUp, saveDown;
    CustomButton saveButton;
};
