#include "editor/TPot.h"

#include <algorithm>
#include <cmath>

#include "framework/Parameter.h"
#include "framework/Paths.h"
#include "framework/StandardMaths.h"
#include "platform/MessagePopup.h"
#include "toolkit/GraphicsContext.h"

namespace
{
constexpr float kPi = 3.1415927f;
constexpr float kDragPerPixel = 0.008f;

float Radians(float degrees)
{
    return degrees * kPi / 180.0f;
}

float AngleOf(float normalised)
{
    return 135.0f + 270.0f * std::clamp(normalised, 0.0f, 1.0f);
}

// A parameter's value as a whole number inside its range (stored files may hold anything).
long WholeInRange(float v, float lo, float hi)
{
    if (!std::isfinite(v)) v = lo;
    return static_cast<long>(std::clamp(v, lo, hi));
}
} // namespace

int TPot::Diameter(int size)
{
    switch (size)
    {
    case 0:
        return 31;
    case 1:
        return 50;
    case 2:
        return 90;
    default:
        return 0;
    }
}

TPot::~TPot()
{
    UnbindAllParameters();
}

void TPot::LoadImages()
{
    try
    {
        knobImage.LoadFromFile(MakeImagePath("Knob.png"));
        pointerImage.LoadFromFile(MakeImagePath("KnobPointer.png"));
    }
    catch (String const& error)
    {
        MessagePopup(error, "Torvane error in TPot::Create");
    }
}

void TPot::Create(Window* parent, long x, long y, Parameter* p, int size, int newId)
{
    LoadImages();
    id = newId;
    minimum = 0.0f;
    maximum = 1.0f;
    value.store(p ? std::clamp(p->ControllerGet(), 0.0f, 1.0f) : 0.0f);
    int const d = Diameter(size);
    CreateChildWindow(parent, d, d + 1, x - 3, y - 4);
    parameter = p;
    BindUnderPluginMutex(this, p);
}

void TPot::Create(Window* parent, int newId, long x, long y, float v, float lo, float hi, int size)
{
    LoadImages();
    id = newId;
    minimum = std::min(lo, hi);
    maximum = std::max(lo, hi);
    value.store(std::isfinite(v) ? std::clamp(v, minimum, maximum) : minimum);
    int const d = Diameter(size);
    CreateChildWindow(parent, d, d + 1, x - 3, y - 4);
}

void TPot::SetVal(float v)
{
    float const clamped = std::isfinite(v) ? std::clamp(v, minimum, maximum) : minimum;
    if (value.exchange(clamped, std::memory_order_relaxed) != clamped) ForceRepaint();
}

void TPot::ParameterUpdated(float, Parameter* p)
{
    if (p) SetVal(p->ControllerGet());
}

float TPot::ValueAngle() const
{
    float const range = maximum - minimum;
    float const n = range > 0.0f ? (GetVal() - minimum) / range : 0.0f;
    return AngleOf(n);
}

void TPot::DrawMark(GraphicsContext& gc, Parameter* p)
{
    long const r = width / 2;
    float const angle = ValueAngle();
    float const lo = p->GetMinValue();
    float const hi = p->GetMaxValue();
    float const pv = static_cast<float>(*p);
    if (p->GetType() == Parameter::Continuous)
    {
        trackColour.A(50);
        wipeColour.A(180);
        if (lo >= 0.0f)
        {
            gc.SetPenColour(trackColour, 1);
            gc.DrawPie(0, 1, r, angle, 405.0f);
            gc.SetPenColour(wipeColour, 1);
            gc.DrawPie(0, 1, r, 135.0f, angle);
        }
        else
        {
            gc.SetPenColour(trackColour, 1);
            gc.DrawPie(0, 1, r, 135.0f, 405.0f);
            float const zero = AngleOf(p->Normalise(0.0f));
            gc.SetPenColour(wipeColour, 1);
            if (pv > 0.0f)
                gc.DrawPie(0, 1, r, zero, angle);
            else
                gc.DrawPie(0, 1, r, angle, zero);
        }
        return;
    }
    if (p->GetType() != Parameter::Discrete) return;
    long const step = std::max(markerStep, 1);
    long const first = WholeInRange(lo, lo, hi);
    long const last = WholeInRange(hi, lo, hi);
    long const current = WholeInRange(pv, lo, hi);
    auto dot = [&](long n, long size)
    {
        float const a = Radians(AngleOf(p->Normalise(static_cast<float>(n))));
        gc.DrawFilledRect(static_cast<long>(std::cos(a) * r + r),
                          static_cast<long>(std::sin(a) * r + height / 2), size, size);
    };
    if (lo >= 0.0f)
    {
        wipeColour.A(255);
        gc.SetPenColour(wipeColour, 1);
        for (long n = first; n <= current; n += step)
            dot(n, 2);
        trackColour.A(200);
        gc.SetPenColour(trackColour, 1);
        for (long n = current + 1; n <= last; n += step)
            dot(n, 2);
        return;
    }
    trackColour.A(200);
    gc.SetPenColour(trackColour, 1);
    for (long n = first; n <= last; n += step)
        dot(n, 1);
    long shown = current;
    if (step >= 2)
        shown = WholeInRange(
            Round(static_cast<float>(current) / static_cast<float>(step)) * static_cast<float>(step), lo, hi);
    wipeColour.A(255);
    gc.SetPenColour(wipeColour, 1);
    if (shown > 0)
        for (long n = 0; n <= shown; n += step)
            dot(n, 1);
    else
        for (long n = shown; n <= 0; n += step)
            dot(n, 1);
}

void TPot::Repaint(GraphicsContext& gc)
{
    if (parameter) DrawMark(gc, parameter);
    knobImage.Draw(&gc, 2, 3);
    float const a = Radians(ValueAngle());
    pointerImage.Draw(&gc, static_cast<long>(13.0f + 8.0f * std::cos(a)),
                      static_cast<long>(13.0f + 8.0f * std::sin(a)));
}

void TPot::LButtonDown(long, long py)
{
    dragging = true;
    dragStartY = py;
    dragStartValue = parameter ? ControllerGet() : GetVal();
    BeginGesture();
    CaptureMouse();
}

void TPot::LButtonUp(long, long)
{
    if (!dragging) return;
    dragging = false;
    ReleaseMouse();
    EndGesture();
}

void TPot::MouseMoved(long, long py)
{
    if (!dragging) return;
    float const v = dragStartValue + kDragPerPixel * static_cast<float>(dragStartY - py);
    if (parameter)
        SetVal(SetAllUnderPluginMutex(v));
    else
        SetVal(v);
}
