#pragma once

#include "toolkit/BoundParameterController.h"
#include "toolkit/Image.h"
#include "toolkit/Window.h"

// The round X/Y pad of the vector oscillator: a dot dragged inside a circle of radius 53 sets
// two parameters at once (normalised, Y growing downwards); a change made elsewhere moves the
// dot. The circle itself belongs to the page's background.
//
// Threads: the controllers' ParameterUpdated runs on the thread that changed the parameter; it
// only marks the bowl. Drawing reads the parameters on the editor thread; binding, unbinding
// and writes hold the plug-in mutex of the editor root above the bowl.
class TBowl : public Window
{
public:
    class Controller : public BoundParameterController
    {
    public:
        explicit Controller(TBowl& owner) : bowl(owner) {}
        void ParameterUpdated(float, Parameter*) override;

    private:
        TBowl& bowl;
    };

    TBowl() = default;
    ~TBowl() override;

    void Create(Window* parent, long x, long y, Parameter* xParameter, Parameter* yParameter);

    float PosToValue(float p) const;
    float ValueToPos(float v) const;
    float GetXValue() { return xController.ControllerGet(); }
    float GetYValue() { return yController.ControllerGet(); }
    long GetDotWidth() const { return dotWidth; }

    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void LButtonUp(long x, long y) override;
    void MouseMoved(long x, long y) override;

private:
    Image dot;
    float radius = 53.0f;
    float size = 106.0f;
    long dotWidth = 0;
    long dotHeight = 0;
    Controller xController{*this};
    Controller yController{*this};
    bool dragging = false;
};
