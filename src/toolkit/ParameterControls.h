#pragma once

#include <atomic>
#include <memory>

#include "framework/String.h"
#include "toolkit/BoundParameterController.h"
#include "toolkit/CustomButton.h"
#include "toolkit/Geometry.h"
#include "toolkit/Image.h"
#include "toolkit/Window.h"

// Controls that show and edit framework parameters. Each binds its parameter when created and
// writes the user's input to every bound parameter in normalised units; later changes come back
// through ParameterUpdated, from any thread (see BoundParameterController). No control owns its
// parameter or its plain image pointers.

// An image thumb dragged along a straight track. The window leaves half a thumb at each end of
// the track; a press sets the value under the pointer at once and drags until release. The
// slider neither clamps nor rounds what it hands the parameter (the parameter does).
class Slider : public Window, public BoundParameterController
{
public:
    Slider() = default;
    ~Slider() override;

    // The track runs from (x, y) along `length` pixels (below 1 counts as 1). The thumb's
    // extent along the track and across it come from its image (18 x 18 without one).
    // Binds `param` when it is not null.
    void Create(Window* parent, long x, long y, bool vertical, long length, Parameter* param, Image* thumb);
    // A flipped vertical slider has 1 at its top end, a flipped horizontal one at its left end.
    void Flip(bool on) { flipped = on; }

    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void LButtonUp(long x, long y) override;
    void MouseMoved(long x, long y) override;
    void ParameterUpdated(float value, Parameter* changed) override;

    // The position last shown or set (unclamped while dragging).
    float GetLastPosition() const { return lastPosition.load(std::memory_order_relaxed); }
    long GetHalfThumb() const { return half; }

private:
    float Position();

    bool vertical = false;
    Image* thumb = nullptr;
    long half = 9;
    long thickness = 18;
    long x0 = 0;
    long y0 = 0;
    long length = 1;
    bool dragging = false;
    bool flipped = false;
    std::atomic<float> lastPosition{0.0f};
};

// Two images for on and off. A press toggles; bound, the box then shows what the parameter
// accepted. The listener, when set, hears (id, new state) after every press, bound or not; the
// second press of a double click toggles again.
class ToggleBox : public Window, public BoundParameterController
{
public:
    ToggleBox() = default;
    ~ToggleBox() override;

    // Bound to `param`; the window takes the on image's size.
    void Create(Window* parent, Parameter* param, long x, long y, Image* on, Image* off);
    // Unbound, reporting presses by id.
    void Create(Window* parent, int id, long x, long y, Image* on, Image* off, bool initial);
    void Create(Window* parent, Parameter* param, long x, long y, std::shared_ptr<Image> on,
                std::shared_ptr<Image> off);
    // Loads both images from the paths as given; a load failure throws before the window exists.
    void Create(Window* parent, Parameter* param, long x, long y, char const* onFile, char const* offFile);

    // Shows the state; tells no listener, writes no parameter.
    void SetOn(bool on);
    bool IsOn() const { return on.load(std::memory_order_relaxed); }
    void SetListener(ToggleListener* l) { listener = l; }

    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void LDoubleClick(long x, long y) override;
    void ParameterUpdated(float value, Parameter* changed) override;
    virtual void DrawOn(GraphicsContext& gc);
    virtual void DrawOff(GraphicsContext& gc);

protected:
    void CreateWindow(Window* parent, long x, long y, long w, long h);

    int id = 0;
    Image* onImage = nullptr;
    Image* offImage = nullptr;
    std::shared_ptr<Image> sharedOn;
    std::shared_ptr<Image> sharedOff;
    std::atomic<bool> on{false};
    ToggleListener* listener = nullptr;
};

// A drawn 30 x 15 toggle: green with the on text, red with the off text.
class SimpleToggleBox : public ToggleBox
{
public:
    SimpleToggleBox() = default;
    ~SimpleToggleBox() override;

    void Create(Window* parent, Parameter* param, long x, long y, String onText, String offText);

    void DrawOn(GraphicsContext& gc) override;
    void DrawOff(GraphicsContext& gc) override;

private:
    String onText;
    String offText;
};

// One of a group of buttons that set the same parameter, each to a value of its own (in the
// parameter's units). It shows selected while the parameter lies within half a unit of its
// value, both ends included; unbound it shows off and a press does nothing.
class RadioButton : public Window, public BoundParameterController
{
public:
    RadioButton() = default;
    ~RadioButton() override;

    void Create(Window* parent, Parameter* param, float value, long x, long y, Image* on, Image* off);

    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void ParameterUpdated(float value, Parameter* changed) override;
    bool IsSelected();

private:
    Image* onImage = nullptr;
    Image* offImage = nullptr;
    float value = 0.0f;
};

// The value of the first bound parameter as text, in the text colour (white), at (0, 0).
// Unbound it shows an empty text.
class NumericDisplay : public Window, public BoundParameterController
{
public:
    // 0: "%i" of the value truncated toward zero; 1: the normalised value with the decimals;
    // 2: the value with the decimals; 3 (Create only): 0 for a discrete parameter, else 2;
    // anything else: an empty text.
    using DisplayMode = int;
    static constexpr DisplayMode kInteger = 0;
    static constexpr DisplayMode kNormalised = 1;
    static constexpr DisplayMode kDecimal = 2;
    static constexpr DisplayMode kByType = 3;

    NumericDisplay() = default;
    ~NumericDisplay() override;

    void Create(Window* parent, GRectangle const& rect, Parameter* param, DisplayMode mode);

    void Repaint(GraphicsContext& gc) override;
    void ParameterUpdated(float value, Parameter* changed) override;
    virtual String GetValueString();
    // A hook on the value before it is formatted; unchanged here.
    virtual float TransformValue(float v) { return v; }

    DisplayMode GetDisplayMode() const { return mode; }

private:
    DisplayMode mode = kInteger;
    Colour textColour{255, 255, 255, 255};
    int decimals = 1;
};
