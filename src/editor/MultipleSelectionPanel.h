#pragma once

#include "editor/TButton.h"
#include "framework/Parameter.h"
#include "toolkit/CustomButton.h"
#include "toolkit/Image.h"
#include "toolkit/ParameterControls.h"
#include "toolkit/Window.h"

class EventsDisplay;

// The bar that slides in at the bottom of the synthesizer page while timeline points are
// selected: copy, paste, delete and deselect of the selection, the timeline's rescale switch and
// the instrument's three multiple selection modes. The page owns it and releases it only after
// its closing slide, never inside one of its handlers.
class MultipleSelectionPanel : public Window, public ButtonListener
{
public:
    enum ButtonId
    {
        kCopy = 0,
        kPaste = 1,
        kDelete = 2,
        kDeselect = 3,
    };

    MultipleSelectionPanel() = default;

    // A missing picture is shown ("Image load error"); the panel then stops building.
    void Create(Window* parent, EventsDisplay* display, long x, long y);
    void ButtonPressed(int id) override;
    void Repaint(GraphicsContext& gc) override;

    ToggleBox& RescaleToggle() { return rescale; }
    RadioButton& ModeRadio(int i) { return radios[i]; }
    TButton& Button(int id) { return buttons[id]; }

private:
    EventsDisplay* display = nullptr;
    Image bar;
    TButton buttons[4];
    Image rescaleOff;
    Image rescaleOn;
    ToggleBox rescale;
    Image radioOff;
    Image radioOn;
    RadioButton radios[3];
};

// A 15 x 15 switch that flips a two-state parameter and shows "P" or "M".
class PointerModeToggle : public Window, public ParamUpdateListener
{
public:
    PointerModeToggle() = default;
    ~PointerModeToggle() override;

    void Create(Window* parent, Parameter* parameter, long x, long y);
    void ParameterUpdated(float value, Parameter* changed) override;
    void LButtonDown(long x, long y) override;
    void LDoubleClick(long x, long y) override;
    void Repaint(GraphicsContext& gc) override;

private:
    Parameter* parameter = nullptr;
};
