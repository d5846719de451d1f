#pragma once

#include <atomic>

#include "toolkit/BoundParameterController.h"
#include "toolkit/Geometry.h"
#include "toolkit/Image.h"
#include "toolkit/Window.h"

// The rotary knob: dragged up and down, it draws its value as an arc (continuous parameters)
// or a ring of dots (discrete ones) round the knob image, with a pointer at the value's angle:
// 135 degrees for 0 to 405 for 1, clockwise on screen. A knob bound to a parameter shows and
// writes the parameter's normalised value.
//
// Threads: ParameterUpdated runs on the thread that changed the parameter; it only stores the
// value and marks the knob. Everything else runs on the editor thread; binding, unbinding and
// writes hold the plug-in mutex of the editor root above the knob (BoundParameterController).
class TPot : public Window, public BoundParameterController
{
public:
    // Window diameters of the sizes 0, 1 and 2 (any other size: 0).
    static int Diameter(int size);

    TPot() = default;
    ~TPot() override;

    // At (x - 3, y - 4), bound to the parameter (which may be null: an unbound knob 0 to 1).
    void Create(Window* parent, long x, long y, Parameter* parameter, int size, int id);
    void Create(Window* parent, int id, long x, long y, float value, float minimum, float maximum, int size);

    // Clamped into the range (a value that is not a number counts as the minimum); a change
    // repaints. Any thread.
    void SetVal(float v);
    float GetVal() const { return value.load(std::memory_order_relaxed); }
    int GetId() const { return id; }

    void SetDiscreteMarkerStep(int step) { markerStep = step < 1 ? 1 : step; }
    int GetDiscreteMarkerStep() const { return markerStep; }
    void SetWipeColour(Colour c) { wipeColour = c; }

    void ParameterUpdated(float, Parameter* p) override;
    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void LButtonUp(long x, long y) override;
    void MouseMoved(long x, long y) override;

    // The value's angle in degrees (135 at the minimum, 405 at the maximum).
    float ValueAngle() const;

private:
    void LoadImages();
    void DrawMark(GraphicsContext& gc, Parameter* p);

    int id = 0;
    float minimum = 0.0f;
    float maximum = 1.0f;
    std::atomic<float> value{0.0f};
    bool dragging = false;
    long dragStartY = 0;
    float dragStartValue = 0.0f;
    Image knobImage;
    Image pointerImage;
    Colour wipeColour{110, 140, 255, 255};
    Colour trackColour{50, 50, 50, 180};
    int markerStep = 1;
    Parameter* parameter = nullptr;
};
