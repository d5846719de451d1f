#pragma once

#include <atomic>
#include <vector>

#include "toolkit/BoundParameterController.h"
#include "toolkit/CustomButton.h"
#include "toolkit/Image.h"
#include "toolkit/Window.h"

// A small selector of a discrete parameter: a background, the picture of the current choice at
// (14, 0) and left and right arrow buttons that step through the choices, wrapping at either
// end. The wave selector and the filter selector are its two forms.
//
// The selection is the bound parameter's value rounded and clamped to the pictures there are.
// The selector repaints whenever the selection differs from the one it last drew: changes that
// arrive by refresh (the edit time moved onto a breakpoint with another value) show too.
//
// Threads: ParameterUpdated runs on the thread that changed the parameter; it only stores the
// selection and marks the view. Everything else runs on the editor thread; binding, unbinding
// and writes hold the plug-in mutex of the editor root above the selector.
class ChoiceSelector : public Window, public ButtonListener, public BoundParameterController
{
public:
    ~ChoiceSelector() override;

    // Loads the pictures and creates the window in the background's size at (x, y) with its two
    // buttons, then binds the parameter. A missing picture is shown with the selector's caption
    // and the creation ends there.
    void Create(Window* parent, long x, long y, Parameter* parameter);

    int GetSelection() const { return selection.load(std::memory_order_relaxed); }
    // The selection drawn last (-1 before the first drawing) and the number of drawings.
    int GetDrawnSelection() const { return drawn.load(std::memory_order_relaxed); }
    int GetRepaintCount() const { return repaints; }
    int NumChoices() const { return static_cast<int>(choiceNames.size()); }

    void ButtonPressed(int id) override;
    void ParameterUpdated(float value, Parameter* p) override;
    void Repaint(GraphicsContext& gc) override;

protected:
    ChoiceSelector(std::vector<char const*> choices, char const* errorCaption);

private:
    int Clamp(float value) const;

    std::vector<char const*> choiceNames;
    char const* caption;
    Image background;
    std::vector<Image> choices;
    Image leftUp, leftDown, rightUp, rightDown;
    CustomButton left;
    CustomButton right;
    std::atomic<int> selection{0};
    std::atomic<int> drawn{-1};
    int repaints = 0;
    bool binding = false;
    Parameter* parameter = nullptr;
};

// Steps an LFO shape through sine, square, ramp and random (0 to 3).
class WaveSelector : public ChoiceSelector
{
public:
    WaveSelector();
};

// Steps a filter type through low-pass, band-pass and high-pass (0 to 2).
class FilterSelector : public ChoiceSelector
{
public:
    FilterSelector();
};
