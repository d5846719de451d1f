#pragma once

#include "framework/Parameter.h"
#include "toolkit/BoundParameterController.h"
#include "toolkit/Window.h"

class SustainPedalEmulator;

// A window that shows parameters and redraws whenever one of them changes (from any thread:
// it only marks itself for drawing). Its controller part is its parameter listener (one
// ParameterUpdated for bound parameters and for any it is added to by hand).
class ParameterControllerWindow : public Window, public BoundParameterController
{
public:
    ParameterControllerWindow() = default;
    ~ParameterControllerWindow() override;

    void ParameterUpdated(float value, Parameter* changed) override;
};

// A 100 x 70 button that shows and toggles the instrument's sustain-pedal emulation. A press
// flips the bound "Sustain" parameter under the plug-in mutex, so the pedal message reaches the
// instrument's MIDI listeners there, as host MIDI does.
class SustainPedalEmulatorButton : public ParameterControllerWindow
{
public:
    SustainPedalEmulatorButton() = default;
    ~SustainPedalEmulatorButton() override;

    void Create(Window* parent, long x, long y, SustainPedalEmulator* emulator);

    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void LButtonUp(long x, long y) override;
};
