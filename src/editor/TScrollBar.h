#pragma once

#include <atomic>

#include "toolkit/BoundParameterController.h"
#include "toolkit/Geometry.h"
#include "toolkit/Window.h"

// Told of a scroll bar's moves, in this order of operations.
class TScrollBarListener
{
public:
    virtual ~TScrollBarListener() = default;
    virtual void ThumbMoved(int id, float value) = 0;
    virtual void StepDown(int id) = 0;
    virtual void StepUp(int id) = 0;
};

// A thin scroll bar: arrow zones of 15 at either end, a track between them and an 18-long white
// thumb, the only thing it draws. Its value runs 0 to 1 over the travel (length - 30 - 18). A
// bar too short for its zones has no travel: its thumb stays at the start and drags do nothing.
//
// Threads: ParameterUpdated runs on the thread that changed the parameter; it only stores the
// value and marks the bar. Everything else runs on the editor thread; binding, unbinding and
// writes (thumb and arrows) hold the plug-in mutex of the editor root above the bar.
class TScrollBar : public Window, public BoundParameterController
{
public:
    static constexpr long kArrow = 15;
    static constexpr long kThickness = 10;
    static constexpr long kThumbLength = 18;

    TScrollBar() = default;
    ~TScrollBar() override;

    void Create(Window* parent, Parameter* parameter, long x, long y, bool vertical, long length);
    void Create(Window* parent, long x, long y, bool vertical, long length, int id,
                TScrollBarListener* listener);

    // Clamped to 0..1 (not a number: 0); the thumb follows. Any thread.
    void SetValue(float value, bool repaint);
    float GetValue() const { return value.load(std::memory_order_relaxed); }
    long GetTravel() const { return travel; }
    // The thumb's rectangle for the current value, in the bar's coordinates.
    GRectangle GetThumbRect() const;
    GRectangle GetUpArrowRect() const { return upArrow; }
    GRectangle GetDownArrowRect() const { return downArrow; }
    GRectangle GetTrackRect() const { return track; }

    void ParameterUpdated(float, Parameter* p) override;
    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void LButtonUp(long x, long y) override;
    void MouseMoved(long x, long y) override;

private:
    static bool Inside(GRectangle const& r, long x, long y);
    void StepBound(float by);

    bool vertical = true;
    long length = 0;
    int id = -1;
    TScrollBarListener* listener = nullptr;
    GRectangle upArrow;
    GRectangle downArrow;
    GRectangle track;
    long travel = 0;
    std::atomic<float> value{0.0f};
    bool dragging = false;
    long dragStart = 0;
    float dragStartValue = 0.0f;
    Parameter* parameter = nullptr;
};
