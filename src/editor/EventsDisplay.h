#pragma once

#include <vector>

#include "engine/Torvane.h"
#include "framework/AutomatableParameterServer.h"
#include "framework/Parameter.h"
#include "framework/ParameterHost.h"
#include "framework/Timers.h"
#include "toolkit/DragZone.h"
#include "toolkit/Geometry.h"
#include "toolkit/Window.h"

class SynthGUI;

// The timeline of the edited voice on the synthesizer page: the amplitude line as a graph, the
// other five lines as rows of points, the loop region and its markers, a ruler, the snap grid,
// the edit-time handle and the rubber band of a multiple selection. Every edit goes through the
// instrument; the points drawn are copies that Update takes again.
//
// The view is kept between 0 and 2^31 timeline samples and at least 64 samples long, so the
// mapping never divides by zero however far it is zoomed. Editor thread only.
class EventsDisplay : public Window, public TimerListener, public ParameterHost
{
public:
    static constexpr int kWidth = 420;
    static constexpr int kHeight = 240;
    static constexpr double kMaxTime = Torvane::kMaxEditTime; // 2^31
    static constexpr double kMinLength = 64.0;
    static constexpr int kEditTimeTimer = 0;
    static constexpr int kScrollTimer = 1;
    static constexpr unsigned kEditTimePeriodMs = 20;
    static constexpr unsigned kScrollPeriodMs = 100;

    struct EventLine
    {
        struct BP
        {
            BP(float t, float v, long i) : time(t), value(v), index(i) {}
            float time = 0.0f;
            float value = 0.0f;
            float dx = -1.0f;
            float dy = -1.0f;
            long index = 0;
        };
        Colour colour;
        GRectangle rect;
        std::vector<BP> points;
    };

    EventsDisplay();
    ~EventsDisplay() override;

    void Create(SynthGUI* page, Torvane* instrument, long x, long y);

    // ---- mapping ---------------------------------------------------------------------------
    float TimeToX(float t) const;
    float XToTime(float x) const;
    static float AmplitudeToY(float v) { return 97.0f - 57.0f * v; }
    static float YToAmplitude(float y) { return (y - 97.0f) / -57.0f; }
    GRectangle GetTimeSliderRect() const;
    GRectangle GetTimeBarRect() const;
    GRectangle GetAmplitudeRect() const;

    void Update(bool repaint);
    void Repaint(GraphicsContext& gc) override;
    void ChangeLoopState();

    // ---- hit tests (display pixels) ----------------------------------------------------------
    bool LineHitTest(long x, long y, int& row);
    bool AmplitudeHitTest(long x, long y);
    void CalculateBreakpointDistances(float x, float y, float maxDx, float maxDy);
    bool BreakpointHitTest(long x, long y, int& row, int& position);
    bool BreakpointHitTestX(long x, int& row, int& position);
    bool AmplitudeBreakpointHitTest(long x, long y, int& position);
    bool LeftLoopHitTest(long x, long y);
    bool RightLoopHitTest(long x, long y);
    bool BreakpointIsInMultipleSelection(int line, EventLine::BP const& bp) const;
    float EarliestSelectedTime() const;
    // area: times in x (left, right), pixels in y (top, bottom), in any order.
    void FindBreakpointsInSelectionArea(float left, float top, float right, float bottom,
                                        std::vector<MultipleSelectionBreakpoint>& out);
    void FindSelectedBreakpoints(float left, float top, float right, float bottom);

    // ---- mouse -------------------------------------------------------------------------------
    void LButtonDown(long x, long y) override;
    void MouseMoved(long x, long y) override;
    void LButtonUp(long x, long y) override;
    void RButtonUp(long x, long y) override;
    void LDoubleClick(long x, long y) override;
    void OpenCopyPasteContextMenu(long x, long y);

    // ---- commands ----------------------------------------------------------------------------
    void SetSelection(std::vector<MultipleSelectionBreakpoint>& points);
    void Deselect();
    void Delete();
    void Copy();
    void Paste();
    void MoveTimeToEndOfSelection();
    void PanToShowTime(float t, bool repaint);
    void ZoomIn();
    void ZoomOut();
    float Snap(float t);
    // Ignored unless finite and above 0.
    void SetSnapTiming(float g);
    float GetSnapTiming() const { return snapTiming; }
    void OpenMultipleSelectionPanel();
    void CloseMultipleSelectionPanel();
    void TimerEvent(int id) override;

    // ---- state, for the page and the tests -------------------------------------------------
    Torvane* GetInstrument() const { return torvane; }
    float GetViewStart() const { return static_cast<float>(viewStart); }
    float GetViewEnd() const { return static_cast<float>(viewEnd); }
    float GetPixelsPerSample() const { return pixelsPerSample; }
    float GetPendingEditTime() const { return pendingEditTime; }
    bool IsAutoScrolling() const { return autoScrolling; }
    std::vector<MultipleSelectionBreakpoint>& GetSelection() { return selection; }
    EventLine const& Amplitude() const { return amplitude; }
    EventLine const& Row(int i) const { return lines[i]; }
    // How many grid lines and ruler marks the last repaint visited.
    long LastGridSteps() const { return gridSteps; }

    Parameter Mode;
    Parameter Rescale;

private:
    enum class Drag
    {
        None,
        TimeHandle,
        Ruler,
        LineBreakpoint,
        AmplitudeBreakpoint,
        LeftMarker,
        RightMarker,
    };
    struct Band
    {
        float left = 0.0f; // times
        float top = 0.0f;  // pixels
        float right = 0.0f;
        float bottom = 0.0f;
    };

    bool TempoOn() const;
    bool FreezeOn() const;
    bool Following() const;
    float EditTime() const;
    void SetEditTime(float t);
    // Pixels per timeline sample, in double precision.
    double Scale() const { return static_cast<double>(width) / (viewEnd - viewStart); }
    void ClampView();
    void ClampEditTimeIntoView();
    // Hands a waiting edit time to the instrument when it differs from the edit time; none
    // waits afterwards either way.
    void ApplyPendingEditTime();
    // The press and release of the left button, inside the host's gesture.
    void Press(long x, long y);
    void Release(long x, long y);
    void AutoScrollRule(long x, long y);
    void StopAutoScroll();
    void DrawGrid(GraphicsContext& gc);
    void DrawRuler(GraphicsContext& gc);

    SynthGUI* synthGUI = nullptr;
    Torvane* torvane = nullptr;
    EventLine amplitude;
    EventLine lines[5];
    Torvane::TimelineSnapshot snapshot;
    double viewStart = 0.0;
    double viewEnd = 220500.0;
    float pixelsPerSample = 400.0f / 220500.0f;
    long x0 = 10;
    long right = 410;
    long width = 400;

    Drag drag = Drag::None;
    long dragStartX = 0;
    float dragStartValue = 0.0f;
    double savedViewStart = 0.0;
    double savedViewEnd = 0.0;
    int dragPosition = -1;
    long dragIndex = -1;
    int dragRow = -1;

    float snapTiming = 0.25f;
    float pendingEditTime = -1.0f;
    DragZone rubberBand;
    Band band;
    std::vector<MultipleSelectionBreakpoint> selection;
    bool autoScrolling = false;
    bool autoScrollLeft = false;
    float autoScrollSpeed = 0.0f;
    DragZone selectionDrag;
    DragZone rescaleDrag;
    long gridSteps = 0;
    AutomatableParameterServer::Gesture gesture;
};
