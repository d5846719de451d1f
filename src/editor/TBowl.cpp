#include "editor/TBowl.h"

#include <algorithm>
#include <cmath>

#include "framework/Paths.h"
#include "platform/MessagePopup.h"

void TBowl::Controller::ParameterUpdated(float, Parameter*)
{
    bowl.ForceRepaint();
}

TBowl::~TBowl()
{
    xController.UnbindAllParameters();
    yController.UnbindAllParameters();
}

void TBowl::Create(Window* parent, long px, long py, Parameter* xp, Parameter* yp)
{
    try
    {
        dot.LoadFromFile(MakeImagePath("BowlDot.png"));
    }
    catch (String const& error)
    {
        MessagePopup(error, "Corvella Audio Torvane Exception");
    }
    dotWidth = dot.GetWidth();
    dotHeight = dot.GetHeight();
    radius = 53.0f;
    size = 2.0f * radius;
    CreateChildWindow(parent, static_cast<long>(size), static_cast<long>(size), px, py);
    xController.BindUnderPluginMutex(this, xp);
    yController.BindUnderPluginMutex(this, yp);
}

float TBowl::PosToValue(float p) const
{
    return (p - static_cast<float>(dotWidth / 2)) / (size - static_cast<float>(dotWidth));
}

float TBowl::ValueToPos(float v) const
{
    return static_cast<float>(dotWidth / 2) + (size - static_cast<float>(dotWidth)) * v;
}

void TBowl::Repaint(GraphicsContext& gc)
{
    // Values from stored files may lie outside the range: the dot stays inside the window.
    auto shown = [](float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.5f; };
    float const x = ValueToPos(shown(GetXValue())) - static_cast<float>(dotWidth) * 0.5f;
    float const y = ValueToPos(shown(GetYValue())) - static_cast<float>(dotHeight) * 0.5f;
    dot.Draw(&gc, static_cast<long>(x), static_cast<long>(y));
}

void TBowl::LButtonDown(long px, long py)
{
    dragging = true;
    MouseMoved(px, py);
    CaptureMouse();
}

void TBowl::LButtonUp(long, long)
{
    if (!dragging) return;
    dragging = false;
    ReleaseMouse();
}

void TBowl::MouseMoved(long px, long py)
{
    if (!dragging) return;
    float x = static_cast<float>(px);
    float y = static_cast<float>(py);
    float const dx = x - radius;
    float const dy = y - radius;
    float const d = std::sqrt(dx * dx + dy * dy);
    float const limit = radius - static_cast<float>(dotWidth / 2);
    if (d > limit)
    {
        x = radius + dx * limit / d;
        y = radius + dy * limit / d;
    }
    xController.SetAllUnderPluginMutex(PosToValue(x));
    yController.SetAllUnderPluginMutex(PosToValue(y));
    ForceRepaint();
}
