#include "toolkit/ParameterControllerWindow.h"

#include "framework/SustainPedalEmulator.h"
#include "toolkit/GraphicsContext.h"

ParameterControllerWindow::~ParameterControllerWindow()
{
    UnbindAllParameters();
}

void ParameterControllerWindow::ParameterUpdated(float, Parameter*)
{
    ForceRepaint();
}

SustainPedalEmulatorButton::~SustainPedalEmulatorButton()
{
    UnbindAllParameters();
}

void SustainPedalEmulatorButton::Create(Window* parent, long x, long y, SustainPedalEmulator* emulator)
{
    CreateChildWindow(parent, 100, 70, x, y);
    if (emulator != nullptr) BindUnderPluginMutex(this, &emulator->GetSustainParameter());
}

void SustainPedalEmulatorButton::LButtonDown(long, long)
{
    // ControllerGet already undoes an inverted binding: the parameter goes from g to 1 - g.
    SetAllUnderPluginMutex(HasBoundParameters() ? 1.0f - ControllerGet() : 1.0f);
    ForceRepaint();
}

void SustainPedalEmulatorButton::LButtonUp(long, long) {}

void SustainPedalEmulatorButton::Repaint(GraphicsContext& gc)
{
    if (!HasBoundParameters()) return;
    bool const on = bound.front()->GetBool();
    FillBackground(gc, on ? Colour(0, 100, 0, 255) : Colour(100, 0, 0, 255));
    gc.SetPenColour(255, 255, 255, 1, 255);
    gc.DrawString(on ? "Sustain ON" : "Sustain OFF", 5, 15);
}
