#include "editor/EventsDisplay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "editor/Layout.h"
#include "editor/SynthGUI.h"
#include "framework/PluginBase.h"
#include "framework/StandardMaths.h"
#include "platform/CascadeList.h"
#include "platform/gfx/Text.h"
#include "toolkit/GraphicsContext.h"

namespace
{
constexpr float kUnit = 44100.0f;
// The ruler's labels: the drawing context's text size, and the least space between two.
constexpr double kRulerTextSize = 8.0;
constexpr int kMarkerTextSize = 10;
constexpr double kRulerLabelGap = 4.0;
// The rectangle inside which a drag does not scroll the view.
constexpr long kInnerLeft = 7;
constexpr long kInnerTop = 38;
constexpr long kInnerRight = 7 + 403;
constexpr long kInnerBottom = 38 + 160;

bool Inside(long x, long y, GRectangle const& r)
{
    return x >= r.x && x <= r.x + r.width && y >= r.y && y <= r.y + r.height;
}

float Truncated(float t)
{
    return std::trunc(t);
}
} // namespace

EventsDisplay::EventsDisplay() : ParameterHost(0)
{
    Mode.Create("Mode", this, Parameter::Private, 0.0f, 1.0f, Parameter::Discrete);
    Mode.SetTransient(true);
    Mode.Set(0.0f, nullptr);
    Rescale.CreateBool("Rescale", this, Parameter::Private);
    Rescale.SetTransient(true);
    Rescale.SetBool(false);
    pendingEditTime = -1.0f;
    StartTimer(kEditTimeTimer, kEditTimePeriodMs);
}

EventsDisplay::~EventsDisplay()
{
    StopTimer(kEditTimeTimer);
    StopTimer(kScrollTimer);
    // The instrument keeps the selection's address: take it back before the vector goes.
    if (torvane != nullptr && torvane->GetMultipleSelection() == &selection)
        torvane->SetMultipleSelection(nullptr);
}

void EventsDisplay::Create(SynthGUI* page, Torvane* instrument, long x, long y)
{
    synthGUI = page;
    torvane = instrument;
    CreateChildWindow(static_cast<Window*>(page), kWidth, kHeight, x, y);
    x0 = layout::timeline::kX0;
    width = layout::timeline::kWidth;
    right = x0 + width;
    Colour const kColours[5] = {Colour(255, 0, 0, 255), Colour(0, 130, 255, 255), Colour(0, 255, 0, 255),
                                Colour(0, 200, 210, 255), Colour(240, 225, 0, 255)};
    for (int i = 0; i < 5; ++i)
    {
        layout::Rect const r = layout::timeline::Row(i);
        lines[i].rect.Set(r.x, r.y, r.w, r.h);
        lines[i].colour = kColours[i];
    }
    amplitude.colour = Colour(255, 255, 255, 255);
    amplitude.rect.Set(x0, 40, width, 57);
    layout::Rect const z = layout::timeline::kRubberBand;
    rubberBand.SetArea(z.x, z.y, z.w, z.h);
    Update(true);
}

// ---------------------------------------------------------------------------------------------
// Instrument state

bool EventsDisplay::TempoOn() const
{
    return torvane != nullptr && torvane->tempoBridge.GetBool();
}

bool EventsDisplay::FreezeOn() const
{
    return torvane != nullptr && torvane->timeFreeze.GetBool();
}

bool EventsDisplay::Following() const
{
    return synthGUI != nullptr && synthGUI->ShowingAnimation();
}

float EventsDisplay::EditTime() const
{
    return torvane != nullptr ? torvane->GetEditTime() : 0.0f;
}

void EventsDisplay::SetEditTime(float t)
{
    if (torvane != nullptr) torvane->SetEditTime(t);
}

// ---------------------------------------------------------------------------------------------
// Mapping

// Both directions scale by the view's length over the width in double precision, so whole
// pixels of a round view land on whole samples (x 90 of the first five seconds is 44100).
float EventsDisplay::TimeToX(float t) const
{
    return static_cast<float>(static_cast<double>(x0) + (t - viewStart) * width / (viewEnd - viewStart));
}

float EventsDisplay::XToTime(float x) const
{
    return static_cast<float>(
        std::trunc(viewStart + (x - static_cast<double>(x0)) * (viewEnd - viewStart) / width));
}

GRectangle EventsDisplay::GetTimeSliderRect() const
{
    return GRectangle(static_cast<long>(TimeToX(EditTime())) - 5, 20, 10, 10);
}

GRectangle EventsDisplay::GetTimeBarRect() const
{
    return GRectangle(x0, 20, width, 10);
}

GRectangle EventsDisplay::GetAmplitudeRect() const
{
    return GRectangle(x0, 40, width, 57);
}

void EventsDisplay::ClampView()
{
    double length = viewEnd - viewStart;
    if (!(length >= kMinLength)) length = kMinLength;
    if (length > kMaxTime) length = kMaxTime;
    if (!(viewStart >= 0.0)) viewStart = 0.0;
    if (viewStart > kMaxTime - length) viewStart = kMaxTime - length;
    viewEnd = viewStart + length;
}

void EventsDisplay::ClampEditTimeIntoView()
{
    float const e = EditTime();
    if (e < viewStart)
        SetEditTime(static_cast<float>(viewStart));
    else if (e > viewEnd)
        SetEditTime(static_cast<float>(viewEnd));
}

void EventsDisplay::Update(bool repaint)
{
    ClampView();
    if (torvane != nullptr && torvane->CopyTimeline(-1, snapshot))
    {
        for (int i = 0; i < 5; ++i)
        {
            lines[i].points.clear();
            Envelope const& env = snapshot.lines[static_cast<std::size_t>(i + 1)];
            for (long p = 0; p < env.Size(); ++p)
            {
                float const t = env[p].time;
                if (t < viewStart) continue;
                if (t > viewEnd) break;
                lines[i].points.emplace_back(t, env[p].numValues > 0 ? env[p].values[0] : 0.0f, p);
            }
        }
        amplitude.points.clear();
        Envelope const& env = snapshot.lines[0];
        for (long p = 0; p < env.Size(); ++p)
        {
            amplitude.points.emplace_back(env[p].time, env[p].numValues > 0 ? env[p].values[0] : 0.0f, p);
            if (env[p].time > viewEnd) break;
        }
    }
    pixelsPerSample = static_cast<float>(static_cast<double>(lines[0].rect.width) / (viewEnd - viewStart));
    if (repaint) ForceRepaint();
}

void EventsDisplay::ChangeLoopState()
{
    if (torvane == nullptr) return;
    torvane->SetLoopFlag(-1, !torvane->GetLoopFlag(-1));
    Update(true);
}

// ---------------------------------------------------------------------------------------------
// Drawing

void EventsDisplay::DrawGrid(GraphicsContext& gc)
{
    gc.SetPenColour(200, 200, 200, 1, 30);
    double const g = snapTiming;
    double const base = std::floor(viewStart / kUnit);
    double const last = std::ceil(viewEnd / kUnit);
    // Grid positions counted by index from a whole unit, thinned so no two come closer than a
    // pixel: the number visited stays near the width however far the view is zoomed out.
    double const spacing = kUnit * g * Scale();
    long stride = 1;
    while (spacing * static_cast<double>(stride) < 1.0)
        stride *= 2;
    long const perUnit = std::max<long>(1, std::lround(1.0 / g));
    bool const wholeSteps = std::fabs(perUnit * g - 1.0) < 1e-6;
    long first = static_cast<long>(std::floor((viewStart / kUnit - base) / g));
    first = std::max<long>(0, first - first % stride);
    long const end = static_cast<long>(std::ceil((last - base) / g));
    for (long k = first; k <= end; k += stride)
    {
        ++gridSteps;
        double const u = base + static_cast<double>(k) * g;
        double const x = static_cast<double>(x0) + (u * kUnit - viewStart) * Scale();
        if (x < x0 || x > right) continue;
        long const xi = static_cast<long>(x);
        double const frac = wholeSteps ? static_cast<double>(k % perUnit) / perUnit : u - std::floor(u);
        bool const whole = wholeSteps ? (k % perUnit) == 0 : frac == 0.0;
        if (whole)
        {
            gc.SetPenColour(255, 255, 255, 1, 100);
            gc.DrawLine(xi, 30, xi, 200);
            gc.SetPenColour(200, 200, 200, 1, 20);
        }
        else if (frac == 0.25 || frac == 0.5 || frac == 0.75)
        {
            gc.SetPenColour(255, 255, 255, 1, 50);
            gc.DrawLine(xi, 30, xi, 200);
            gc.SetPenColour(200, 200, 200, 1, 20);
        }
        else
        {
            gc.DrawLine(xi, 30, xi, 200);
        }
    }
}

void EventsDisplay::DrawRuler(GraphicsContext& gc)
{
    gc.SetPenColour(layout::timeline::kRulerFace.r, layout::timeline::kRulerFace.g,
                    layout::timeline::kRulerFace.b, 1, 255);
    gc.DrawFilledRect(GetTimeBarRect());
    double const unitPixels = kUnit * Scale();
    long stride = 1;
    while (unitPixels * static_cast<double>(stride) < 1.0)
        stride *= 2;
    long long const first = static_cast<long long>(std::ceil(viewStart / kUnit));
    long long const last = static_cast<long long>(std::floor(viewEnd / kUnit));
    bool const tempo = TempoOn();
    auto xAt = [&](long long s)
    { return static_cast<long>(x0 + (static_cast<double>(s) * kUnit - viewStart) * Scale()); };
    auto label = [tempo](char(&text)[32], long long s)
    { std::snprintf(text, sizeof text, "%lld", tempo ? s + 1 : s); };

    long long s = first + (stride - first % stride) % stride;
    for (; s <= last; s += stride)
    {
        ++gridSteps;
        long const x = xAt(s);
        gc.DrawLine(x, 20, x, 30);
    }

    // Labels on every unit while they fit; otherwise on every 2nd, 5th, 10th, 20th ... second
    // (every 2nd, 4th, 8th ... bar), the first step that leaves the widest label room to end
    // before the next begins.
    char text[32];
    label(text, std::max(first, last));
    double const room = gfx::TextAdvance(text, kRulerTextSize) + kRulerLabelGap;
    long long step = 1;
    for (int i = 0; static_cast<double>(step) * unitPixels < room && step < (1LL << 40); ++i)
        step = tempo || i % 3 != 1 ? step * 2 : step * 5 / 2;
    for (s = first + (step - first % step) % step; s <= last; s += step)
    {
        ++gridSteps;
        long const x = xAt(s);
        // A labelled unit has its mark even where the thinned marks pass it by.
        gc.SetPenColour(150, 150, 150, 1, 255);
        gc.DrawLine(x, 20, x, 30);
        label(text, s);
        gc.SetPenColour(255, 255, 255, 1, 255);
        if (x < right - 8) gc.DrawString(text, x, 20);
    }
}

void EventsDisplay::Repaint(GraphicsContext& gc)
{
    gridSteps = 0;
    PanToShowTime(EditTime(), false);
    float const editTime = EditTime();

    if (TempoOn()) DrawGrid(gc);
    DrawRuler(gc);

    // Loop region.
    float const loopStart = snapshot.loopStart;
    float const loopEnd = snapshot.loopEnd;
    bool const looping = snapshot.looping;
    if (looping && loopStart < viewEnd && loopEnd > viewStart)
    {
        gc.SetPenColour(80, 80, 255, 1, 30);
        long const a = static_cast<long>(TimeToX(static_cast<float>(std::max<double>(loopStart, viewStart))));
        long const b = static_cast<long>(TimeToX(static_cast<float>(std::min<double>(loopEnd, viewEnd))));
        gc.DrawFilledRect(a, 20, b - a, 200);
    }

    // Row base lines.
    for (EventLine const& line : lines)
    {
        gc.SetPenColour(line.colour.R() / 2, line.colour.G() / 2, line.colour.B() / 2, 3, 255);
        long const cy = line.rect.y + line.rect.height / 2;
        gc.DrawLine(line.rect.x, cy, line.rect.x + line.rect.width, cy);
    }

    // Edit-time handle.
    GRectangle const handle = GetTimeSliderRect();
    if (!Following())
    {
        if (FreezeOn())
            gc.SetPenColour(0, 0, 255, 3, 180);
        else
            gc.SetPenColour(255, 255, 255, 3, 180);
        gc.DrawFilledRect(handle);
        long const cx = handle.x + handle.width / 2;
        gc.DrawLine(cx, handle.y + handle.height, cx, 200);
    }
    else
    {
        gc.SetPenColour(200, 255, 200, 3, 255);
        long const cx = handle.x + handle.width / 2;
        gc.DrawLine(cx, 20, cx, 200);
    }

    // Row points.
    for (int i = 0; i < 5; ++i)
    {
        EventLine const& line = lines[i];
        Colour const& c = line.colour;
        gc.SetPenColour(c.R(), c.G(), c.B(), 1, 255);
        long const cy = line.rect.y + line.rect.height / 2;
        for (EventLine::BP const& bp : line.points)
        {
            long const x = static_cast<long>(line.rect.x + Scale() * (bp.time - viewStart));
            if (BreakpointIsInMultipleSelection(i + 1, bp))
            {
                gc.SetPenColour(255, 255, 255, 1, 255);
                gc.DrawFilledRect(x - 3, cy - 3, 6, 6);
                gc.SetPenColour(c.R(), c.G(), c.B(), 1, 255);
            }
            else if (bp.time == editTime)
                gc.DrawFilledRect(x - 3, cy - 3, 6, 6);
            else
                gc.DrawRectOutline(x - 3, cy - 3, 6, 6);
        }
    }

    // Amplitude graph, cut at the area's edges.
    GRectangle const area = GetAmplitudeRect();
    long const areaLeft = area.x;
    long const areaRight = area.x + area.width;
    gc.SetPenColour(static_cast<int>(255 * 0.7f), static_cast<int>(255 * 0.7f), static_cast<int>(255 * 0.7f),
                    1, 255);
    for (std::size_t p = 1; p < amplitude.points.size(); ++p)
    {
        EventLine::BP const& a = amplitude.points[p - 1];
        EventLine::BP const& b = amplitude.points[p];
        double xa = std::trunc(TimeToX(a.time));
        double ya = std::trunc(AmplitudeToY(a.value));
        double xb = std::trunc(TimeToX(b.time));
        double yb = std::trunc(AmplitudeToY(b.value));
        if (xa < areaLeft && xb < areaLeft) continue;
        double const dy = yb - ya;
        double const slope = (dy == 0.0 || xb == xa) ? 0.0 : dy / (xb - xa);
        if (xa < areaLeft)
        {
            ya += slope * (areaLeft - xa);
            xa = areaLeft;
        }
        if (xb > areaRight)
        {
            yb -= slope * (xb - areaRight);
            xb = areaRight;
        }
        gc.DrawLine(static_cast<long>(xa), static_cast<long>(ya), static_cast<long>(xb),
                    static_cast<long>(yb));
    }

    // Amplitude points.
    gc.SetPenColour(255, 255, 255, 1, 255);
    for (EventLine::BP const& bp : amplitude.points)
    {
        float const xf = TimeToX(bp.time);
        if (xf < areaLeft || xf > areaRight) continue;
        long const x = static_cast<long>(xf);
        long const y = static_cast<long>(area.y + area.height - bp.value * 57.0f);
        if (BreakpointIsInMultipleSelection(0, bp))
        {
            gc.SetPenColour(0, 0, 255, 1, 255);
            gc.DrawFilledRect(x - 3, y - 3, 6, 6);
            gc.SetPenColour(255, 255, 255, 1, 255);
        }
        else
            gc.DrawRectOutline(x - 3, y - 3, 6, 6);
    }

    // Loop markers: translucent boxes, their letters opaque and in a 10-pixel face so they read
    // on them.
    if (looping)
        gc.SetPenColour(0, 255, 0, 1, 110);
    else
        gc.SetPenColour(150, 150, 150, 1, 80);
    if (viewStart <= loopStart && loopStart <= viewEnd)
    {
        long const x = static_cast<long>(TimeToX(loopStart));
        gc.DrawLine(x, 218, x, 20);
        gc.DrawFilledRect(x - 10, 204, 10, 14);
        gc.SetPenColour(255, 255, 255, 1, 255);
        gc.SetFont(kMarkerTextSize, nullptr, false, false);
        gc.DrawString("L", x - 9, 205);
    }
    if (looping)
        gc.SetPenColour(255, 0, 0, 1, 110);
    else
        gc.SetPenColour(150, 150, 150, 1, 80);
    if (viewStart <= loopEnd && loopEnd <= viewEnd)
    {
        long const x = static_cast<long>(TimeToX(loopEnd));
        gc.DrawLine(x, 218, x, 20);
        gc.DrawFilledRect(x, 204, 10, 14);
        gc.SetPenColour(255, 255, 255, 1, 255);
        gc.SetFont(kMarkerTextSize, nullptr, false, false);
        gc.DrawString("R", x + 1, 205);
    }

    // Rubber band.
    if (rubberBand.IsDragging())
    {
        GRectangle const zone = rubberBand.GetArea();
        long x1 = static_cast<long>(TimeToX(band.left));
        long x2 = static_cast<long>(TimeToX(band.right));
        long y1 = static_cast<long>(band.top);
        long y2 = static_cast<long>(band.bottom);
        if (x1 > x2) std::swap(x1, x2);
        if (y1 > y2) std::swap(y1, y2);
        x1 = std::max(x1, x0);
        x2 = std::min(x2, right);
        y1 = std::max<long>(y1, zone.y);
        y2 = std::min<long>(y2, zone.y + zone.height);
        gc.SetPenColour(255, 0, 0, 1, 80);
        gc.DrawFilledRect(x1, y1, x2 - x1, y2 - y1);
    }
}

// ---------------------------------------------------------------------------------------------
// Hit tests

bool EventsDisplay::LineHitTest(long x, long y, int& row)
{
    for (int i = 0; i < 5; ++i)
    {
        GRectangle const& r = lines[i].rect;
        long const cy = r.y + r.height / 2;
        if (std::labs(y - cy) <= 5 && x >= r.x && x <= r.x + r.width)
        {
            row = i;
            return true;
        }
    }
    return false;
}

bool EventsDisplay::AmplitudeHitTest(long x, long y)
{
    return Inside(x, y, GetAmplitudeRect());
}

void EventsDisplay::CalculateBreakpointDistances(float x, float y, float maxDx, float maxDy)
{
    for (EventLine& line : lines)
    {
        float const cy = static_cast<float>(line.rect.y + line.rect.height / 2);
        for (EventLine::BP& bp : line.points)
        {
            bp.dx = std::fabs(x - TimeToX(bp.time));
            bp.dy = std::fabs(y - cy);
            if (maxDx != -1.0f && bp.dx > maxDx) bp.dx = -1.0f;
            if (maxDy != -1.0f && bp.dy > maxDy) bp.dy = -1.0f;
        }
    }
}

namespace
{
bool Nearest(EventsDisplay::EventLine const (&lines)[5], int& row, int& position)
{
    row = -1;
    position = -1;
    float best = 0.0f;
    for (int r = 0; r < 5; ++r)
    {
        for (std::size_t p = 0; p < lines[r].points.size(); ++p)
        {
            EventsDisplay::EventLine::BP const& bp = lines[r].points[p];
            if (bp.dx < 0.0f || bp.dy < 0.0f) continue;
            if (row < 0 || bp.dx < best)
            {
                best = bp.dx;
                row = r;
                position = static_cast<int>(p);
            }
        }
    }
    return row >= 0;
}
} // namespace

bool EventsDisplay::BreakpointHitTest(long x, long y, int& row, int& position)
{
    CalculateBreakpointDistances(static_cast<float>(x), static_cast<float>(y), 5.0f, 5.0f);
    return Nearest(lines, row, position);
}

bool EventsDisplay::BreakpointHitTestX(long x, int& row, int& position)
{
    CalculateBreakpointDistances(static_cast<float>(x), 0.0f, 5.0f, -1.0f);
    return Nearest(lines, row, position);
}

bool EventsDisplay::AmplitudeBreakpointHitTest(long x, long y, int& position)
{
    position = -1;
    long best = 0;
    for (std::size_t p = 0; p < amplitude.points.size(); ++p)
    {
        EventLine::BP const& bp = amplitude.points[p];
        long const dx = static_cast<long>(std::fabs(static_cast<float>(x) - TimeToX(bp.time)));
        long const dy = static_cast<long>(std::fabs(static_cast<float>(y) - AmplitudeToY(bp.value)));
        if (dx > 5 || dy > 5) continue;
        if (position < 0 || dx + dy <= best)
        {
            best = dx + dy;
            position = static_cast<int>(p);
        }
    }
    return position >= 0;
}

bool EventsDisplay::LeftLoopHitTest(long x, long y)
{
    float const t = snapshot.loopStart;
    if (t < viewStart || t > viewEnd) return false;
    long const mx = static_cast<long>(TimeToX(t));
    return Inside(x, y, GRectangle(mx - 10, 204, 10, 14));
}

bool EventsDisplay::RightLoopHitTest(long x, long y)
{
    float const t = snapshot.loopEnd;
    if (t < viewStart || t > viewEnd) return false;
    long const mx = static_cast<long>(TimeToX(t));
    return Inside(x, y, GRectangle(mx, 204, 10, 14));
}

bool EventsDisplay::BreakpointIsInMultipleSelection(int line, EventLine::BP const& bp) const
{
    for (MultipleSelectionBreakpoint const& s : selection)
        if (s.line == line && s.time == bp.time && !s.values.empty() && s.values[0] == bp.value) return true;
    return false;
}

float EventsDisplay::EarliestSelectedTime() const
{
    float best = 0.0f;
    for (MultipleSelectionBreakpoint const& s : selection)
        if (s.time > 0.0f && (best == 0.0f || s.time < best)) best = s.time;
    return best;
}

void EventsDisplay::FindBreakpointsInSelectionArea(float left, float top, float rightTime, float bottom,
                                                   std::vector<MultipleSelectionBreakpoint>& out)
{
    float x1 = TimeToX(left);
    float x2 = TimeToX(rightTime);
    if (x1 > x2) std::swap(x1, x2);
    if (top > bottom) std::swap(top, bottom);
    auto record = [&](int line, EventLine::BP const& bp)
    {
        MultipleSelectionBreakpoint m;
        m.line = line;
        m.time = bp.time;
        Envelope const& env = snapshot.lines[static_cast<std::size_t>(line)];
        if (bp.index >= 0 && bp.index < env.Size())
            m.values.assign(env[bp.index].values, env[bp.index].values + env[bp.index].numValues);
        out.push_back(std::move(m));
    };
    for (EventLine::BP const& bp : amplitude.points)
    {
        float const x = TimeToX(bp.time);
        float const y = AmplitudeToY(bp.value);
        if (x >= x1 && x <= x2 && y >= top && y <= bottom) record(0, bp);
    }
    for (int i = 0; i < 5; ++i)
    {
        float const y = static_cast<float>(lines[i].rect.y + lines[i].rect.height / 2);
        for (EventLine::BP const& bp : lines[i].points)
        {
            float const x = TimeToX(bp.time);
            if (x >= x1 && x <= x2 && y >= top && y <= bottom) record(i + 1, bp);
        }
    }
}

void EventsDisplay::FindSelectedBreakpoints(float left, float top, float rightTime, float bottom)
{
    selection.clear();
    FindBreakpointsInSelectionArea(left, top, rightTime, bottom, selection);
}

// ---------------------------------------------------------------------------------------------
// Mouse

void EventsDisplay::LButtonDown(long x, long y)
{
    if (torvane == nullptr || Following()) return;
    // What a drag changes (the edit time, "Freeze Position" with it) is one gesture for the host,
    // from the press to the release; a press that starts none (a click that moves the edit time)
    // ends it at once.
    gesture.Begin(torvane);
    Press(x, y);
    if (drag == Drag::None && !rubberBand.IsDragging() && !selectionDrag.IsDragging() &&
        !rescaleDrag.IsDragging())
        gesture.End();
}

void EventsDisplay::Press(long x, long y)
{
    int row = -1;
    int position = -1;
    if (Inside(x, y, GetTimeSliderRect()))
    {
        drag = Drag::TimeHandle;
        gesture.Begin(torvane, {&torvane->freezePosition});
        CaptureMouse();
        dragStartValue = EditTime();
        dragStartX = x;
        return;
    }
    if (BreakpointHitTest(x, y, row, position))
    {
        EventLine::BP const bp = lines[row].points[static_cast<std::size_t>(position)];
        if (Rescale.GetBool())
        {
            rescaleDrag.StartDragState(x, y);
            CaptureMouse();
        }
        else if (BreakpointIsInMultipleSelection(row + 1, bp))
        {
            selectionDrag.SetUserValue1(XToTime(static_cast<float>(x)) - EarliestSelectedTime());
            selectionDrag.StartDragState(x, y);
            CaptureMouse();
        }
        else if (EditTime() != bp.time)
        {
            SetEditTime(bp.time);
            Update(true);
        }
        else
        {
            CaptureMouse();
            drag = Drag::LineBreakpoint;
            dragRow = row;
            dragPosition = position;
            dragIndex = bp.index;
        }
        return;
    }
    if (AmplitudeBreakpointHitTest(x, y, position))
    {
        EventLine::BP const bp = amplitude.points[static_cast<std::size_t>(position)];
        if (Rescale.GetBool())
        {
            rescaleDrag.StartDragState(x, y);
            CaptureMouse();
        }
        else if (BreakpointIsInMultipleSelection(0, bp))
        {
            selectionDrag.SetUserValue1(XToTime(static_cast<float>(x)) - EarliestSelectedTime());
            selectionDrag.StartDragState(x, y);
            CaptureMouse();
        }
        else
        {
            if (EditTime() != bp.time)
            {
                SetEditTime(bp.time);
                Update(true);
            }
            CaptureMouse();
            drag = Drag::AmplitudeBreakpoint;
            dragPosition = position;
            dragIndex = bp.index;
        }
        return;
    }
    if (Inside(x, y, GetTimeBarRect()))
    {
        drag = Drag::Ruler;
        CaptureMouse();
        dragStartX = x;
        savedViewStart = viewStart;
        savedViewEnd = viewEnd;
        return;
    }
    if (LeftLoopHitTest(x, y))
    {
        drag = Drag::LeftMarker;
        dragStartX = x;
        dragStartValue = snapshot.loopStart;
        CaptureMouse();
        return;
    }
    if (RightLoopHitTest(x, y))
    {
        drag = Drag::RightMarker;
        dragStartX = x;
        dragStartValue = snapshot.loopEnd;
        CaptureMouse();
        return;
    }
    if (rubberBand.MouseDown(x, y))
    {
        float const t = XToTime(static_cast<float>(x));
        band = Band{t, static_cast<float>(y), t, static_cast<float>(y)};
        rubberBand.SetUserObject1(std::make_shared<Band>(band));
        CaptureMouse();
        MouseMoved(x, y);
    }
}

void EventsDisplay::StopAutoScroll()
{
    if (!autoScrolling) return;
    StopTimer(kScrollTimer);
    autoScrolling = false;
}

void EventsDisplay::AutoScrollRule(long x, long y)
{
    (void)y;
    // Only a pointer past the left or right edge scrolls, toward that side; above or below the
    // rows the view stays.
    if (x >= kInnerLeft && x <= kInnerRight)
    {
        StopAutoScroll();
        return;
    }
    autoScrollLeft = x < kInnerLeft;
    autoScrollSpeed = static_cast<float>(autoScrollLeft ? kInnerLeft - x : x - kInnerRight) / 6.0f;
    if (!autoScrolling)
    {
        autoScrolling = true;
        StartTimer(kScrollTimer, kScrollPeriodMs);
    }
}

void EventsDisplay::MouseMoved(long x, long y)
{
    if (torvane == nullptr) return;
    int const voice = torvane->GetCurrentVoice();
    if (Rescale.GetBool() && rescaleDrag.IsDragging())
    {
        rescaleDrag.UpdateDragState(x, y);
        float const d = static_cast<float>(rescaleDrag.GetOffsetFromLastPosition().x);
        float const factor = d >= 0.0f ? std::fabs(0.02f * d) + 1.0f : 1.0f / (std::fabs(0.02f * d) + 1.0f);
        torvane->TimeStretchSelection(selection, factor);
        Update(true);
        return;
    }
    if (selectionDrag.IsDragging())
    {
        selectionDrag.UpdateDragState(x, y);
        if (GetKeyModifiers().shift)
        {
            float const dy = static_cast<float>(selectionDrag.GetOffsetFromLastPosition().y);
            torvane->ChangeAmplitudeOfSelection(selection, dy / -57.0f);
            Update(true);
            return;
        }
        float const t = Snap(XToTime(static_cast<float>(x)) - selectionDrag.GetUserValue1());
        torvane->DragSelection(selection, t - EarliestSelectedTime());
        Update(true);
        AutoScrollRule(x, y);
        return;
    }
    if (rubberBand.IsDragging())
    {
        rubberBand.MouseMoved(x, y);
        band.right = XToTime(static_cast<float>(x));
        band.bottom = static_cast<float>(y);
        FindSelectedBreakpoints(band.left, band.top, band.right, band.bottom);
        AutoScrollRule(x, y);
        ForceRepaint();
        return;
    }
    switch (drag)
    {
    case Drag::TimeHandle:
    {
        // The handle stays on the time the view can reach.
        float t = Snap(static_cast<float>(dragStartValue + (x - dragStartX) / Scale()));
        t = std::min(t, static_cast<float>(kMaxTime));
        if (t < viewStart)
        {
            t = std::max(t, 0.0f);
            double const length = viewEnd - viewStart;
            viewStart = t;
            viewEnd = t + length;
            Update(true);
        }
        else if (t > viewEnd)
        {
            double const length = viewEnd - viewStart;
            viewEnd = t;
            viewStart = t - length;
            Update(true);
        }
        int row = -1;
        int position = -1;
        if (BreakpointHitTestX(static_cast<long>(TimeToX(t)), row, position))
            t = lines[row].points[static_cast<std::size_t>(position)].time;
        pendingEditTime = t;
        ForceRepaint();
        break;
    }
    case Drag::Ruler:
    {
        double const d = (dragStartX - x) / Scale();
        viewStart = savedViewStart + d;
        viewEnd = savedViewEnd + d;
        if (viewStart < 0.0)
        {
            viewEnd -= viewStart;
            viewStart = 0.0;
        }
        ClampView();
        ClampEditTimeIntoView();
        Update(true);
        break;
    }
    case Drag::LineBreakpoint:
    {
        float t = Snap(XToTime(static_cast<float>(x)));
        t = torvane->SetEventTime(voice, dragRow + 1, static_cast<int>(dragIndex), t);
        SetEditTime(t);
        PanToShowTime(t, true);
        Update(true);
        break;
    }
    case Drag::AmplitudeBreakpoint:
    {
        float t = Snap(XToTime(static_cast<float>(x)));
        float const v = std::clamp(YToAmplitude(static_cast<float>(y)), 0.0f, 1.0f);
        torvane->SetEvent(voice, 0, 0, static_cast<int>(dragIndex), v);
        t = torvane->SetEventTime(voice, 0, static_cast<int>(dragIndex), t);
        SetEditTime(t);
        PanToShowTime(t, true);
        Update(true);
        break;
    }
    case Drag::LeftMarker:
    case Drag::RightMarker:
    {
        float t = dragStartValue + static_cast<float>((x - dragStartX) / Scale());
        t = Snap(Truncated(std::max(t, 0.0f)));
        if (t < viewStart)
        {
            double const d = viewStart - t;
            viewStart -= d;
            viewEnd -= d;
        }
        else if (t > viewEnd)
        {
            double const d = t - viewEnd;
            viewStart += d;
            viewEnd += d;
        }
        ClampView();
        ClampEditTimeIntoView();
        if (drag == Drag::LeftMarker)
            torvane->SetLoopStart(voice, t);
        else
            torvane->SetLoopEnd(voice, t);
        Update(true);
        break;
    }
    case Drag::None:
        break;
    }
}

void EventsDisplay::LButtonUp(long x, long y)
{
    Release(x, y);
    gesture.End();
}

void EventsDisplay::Release(long x, long y)
{
    if (rescaleDrag.IsDragging())
    {
        rescaleDrag.EndDragState(x, y);
        ReleaseMouse();
        return;
    }
    if (rubberBand.IsDragging())
    {
        rubberBand.MouseUp(x, y);
        StopAutoScroll();
        ForceRepaint();
        ReleaseMouse();
        if (torvane != nullptr) torvane->SetMultipleSelection(&selection);
        if (!selection.empty())
            OpenMultipleSelectionPanel();
        else
            CloseMultipleSelectionPanel();
        return;
    }
    if (selectionDrag.IsDragging())
    {
        selectionDrag.EndDragState(x, y);
        StopAutoScroll();
        ReleaseMouse();
    }
    if (drag != Drag::None)
    {
        // The time the handle was let go at is the drag's last word, applied now.
        if (drag == Drag::TimeHandle) ApplyPendingEditTime();
        drag = Drag::None;
        ReleaseMouse();
    }
}

void EventsDisplay::RButtonUp(long x, long y)
{
    if (torvane == nullptr) return;
    int const voice = torvane->GetCurrentVoice();
    int row = -1;
    int position = -1;
    if (BreakpointHitTest(x, y, row, position))
    {
        EventLine::BP const bp = lines[row].points[static_cast<std::size_t>(position)];
        if (BreakpointIsInMultipleSelection(row + 1, bp))
            OpenCopyPasteContextMenu(x, y);
        else
        {
            torvane->DeleteEvent(voice, row + 1, bp.index);
            Update(true);
        }
        return;
    }
    if (AmplitudeBreakpointHitTest(x, y, position))
    {
        EventLine::BP const bp = amplitude.points[static_cast<std::size_t>(position)];
        if (BreakpointIsInMultipleSelection(0, bp))
            OpenCopyPasteContextMenu(x, y);
        else
        {
            torvane->DeleteEvent(voice, 0, bp.index);
            Update(true);
        }
        return;
    }
    OpenCopyPasteContextMenu(x, y);
}

void EventsDisplay::OpenCopyPasteContextMenu(long x, long y)
{
    if (torvane == nullptr) return;
    CascadeList menu;
    menu.AddItem("Copy selected points", 0, nullptr, false);
    menu.AddItem("Paste points", 1, nullptr, false);
    menu.AddSeparator();
    menu.AddItem("Delete selection", 2, nullptr, false);
    std::weak_ptr<void const> const alive = Liveness();
    CascadeList::Item* chosen = menu.DoPopup(this, x, y);
    if (alive.expired() || chosen == nullptr) return;
    long const id = chosen->id;
    if (id == 1)
        torvane->PasteSelectionFromClipboard();
    else if (!selection.empty() && id == 0)
        torvane->CopySelectionToClipboard(selection);
    else if (!selection.empty() && id == 2)
    {
        torvane->DeleteSelection(selection);
        if (selection.empty()) CloseMultipleSelectionPanel();
    }
    // The lines changed under the point lists: take them again, or the next drag would move
    // the point that now holds a stale index.
    Update(true);
}

void EventsDisplay::LDoubleClick(long x, long y)
{
    if (torvane == nullptr) return;
    int const voice = torvane->GetCurrentVoice();
    int row = -1;
    if (LineHitTest(x, y, row))
    {
        float const t = Snap(XToTime(static_cast<float>(x)));
        torvane->CreateBreakpoint(voice, row + 1, t);
        SetEditTime(t);
        torvane->UpdateGUI();
        Update(true);
    }
    if (AmplitudeHitTest(x, y))
    {
        float const t = Snap(XToTime(static_cast<float>(x)));
        float const v = YToAmplitude(static_cast<float>(y));
        torvane->CreateBreakpoint(voice, 0, t, v);
        SetEditTime(t);
        torvane->UpdateGUI();
        Update(true);
    }
}

// ---------------------------------------------------------------------------------------------
// Commands

void EventsDisplay::SetSelection(std::vector<MultipleSelectionBreakpoint>& points)
{
    selection = points;
    if (torvane != nullptr) torvane->SetMultipleSelection(&selection);
    OpenMultipleSelectionPanel();
    ForceRepaint();
}

void EventsDisplay::Deselect()
{
    selection.clear();
    CloseMultipleSelectionPanel();
    ForceRepaint();
}

void EventsDisplay::Delete()
{
    if (torvane != nullptr) torvane->DeleteSelection(selection);
    if (selection.empty()) CloseMultipleSelectionPanel();
    Update(true);
}

void EventsDisplay::Copy()
{
    if (torvane != nullptr) torvane->CopySelectionToClipboard(selection);
    MoveTimeToEndOfSelection();
}

void EventsDisplay::Paste()
{
    if (torvane == nullptr) return;
    std::shared_ptr<std::vector<MultipleSelectionBreakpoint>> pasted = torvane->PasteSelectionFromClipboard();
    if (pasted) selection = *pasted;
    torvane->SetMultipleSelection(&selection);
    Update(false);
    MoveTimeToEndOfSelection();
    Update(true);
}

void EventsDisplay::MoveTimeToEndOfSelection()
{
    float last = 0.0f;
    for (MultipleSelectionBreakpoint const& s : selection)
        last = std::max(last, s.time);
    SetEditTime(last);
    PanToShowTime(EditTime(), true);
}

void EventsDisplay::PanToShowTime(float t, bool)
{
    if (t >= viewStart && t <= viewEnd) return;
    double const d = t < viewStart ? t - viewStart : t - viewEnd;
    viewStart += d;
    viewEnd += d;
    Update(false);
}

void EventsDisplay::ZoomIn()
{
    double const e = EditTime();
    viewStart = e - 0.5 * (e - viewStart);
    viewEnd = e + 0.5 * (viewEnd - e);
    Update(true);
}

void EventsDisplay::ZoomOut()
{
    double const e = EditTime();
    viewStart = e - 2.0 * (e - viewStart);
    viewEnd = e + 2.0 * (viewEnd - e);
    if (viewStart < 0.0)
    {
        viewEnd -= viewStart;
        viewStart = 0.0;
    }
    Update(true);
}

float EventsDisplay::Snap(float t)
{
    if (!TempoOn() || FreezeOn()) return t;
    float const g = snapTiming;
    return Truncated(kUnit * g * Round(t / kUnit / g));
}

void EventsDisplay::SetSnapTiming(float g)
{
    if (!std::isfinite(g) || !(g > 0.0f)) return;
    snapTiming = g;
    ForceRepaint();
}

void EventsDisplay::OpenMultipleSelectionPanel()
{
    if (synthGUI != nullptr) synthGUI->OpenMultipleSelectionPanel();
}

void EventsDisplay::CloseMultipleSelectionPanel()
{
    if (synthGUI != nullptr) synthGUI->CloseMultipleSelectionPanel();
}

void EventsDisplay::ApplyPendingEditTime()
{
    float const pending = pendingEditTime;
    if (pending == -1.0f) return;
    // Cleared first, whatever follows: a time equal to the edit time must not wait to undo the
    // next change made some other way.
    pendingEditTime = -1.0f;
    if (pending == EditTime()) return;
    // A time the user's hand put on the handle, also when the timer applies it during the drag:
    // the host hears of it as the user's.
    EditorInput::Scope user(torvane);
    SetEditTime(pending);
}

void EventsDisplay::TimerEvent(int id)
{
    if (torvane == nullptr) return;
    if (id == kEditTimeTimer)
    {
        ApplyPendingEditTime();
        return;
    }
    if (id != kScrollTimer || !autoScrolling) return;
    // The scroll of a drag held past the view's edge: what it moves (the edit time among it) the
    // user's hand moves.
    EditorInput::Scope user(torvane);
    double d = autoScrollSpeed / Scale();
    if (autoScrollLeft) d = -d;
    if (viewStart + d < 0.0) d = -viewStart;
    if (viewEnd + d > kMaxTime) d = kMaxTime - viewEnd;
    viewStart += d;
    viewEnd += d;
    ClampEditTimeIntoView();
    Update(false);
    if (rubberBand.IsDragging())
    {
        double const edge = autoScrollLeft ? viewStart : viewEnd;
        bool const leftNearer = std::fabs(band.left - edge) <= std::fabs(band.right - edge);
        float& moved = leftNearer ? band.left : band.right;
        moved = std::max(0.0f, Truncated(static_cast<float>(moved + d)));
        FindSelectedBreakpoints(band.left, band.top, band.right, band.bottom);
    }
    if (selectionDrag.IsDragging()) torvane->DragSelection(selection, static_cast<float>(d));
    Update(true);
}
