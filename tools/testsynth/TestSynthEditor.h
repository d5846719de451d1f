#pragma once

#include "toolkit/EffectGUIBase.h"

class Parameter;

// What the test synth's editor needs of the instrument: its parameters by host index.
class TestSynthParameters
{
public:
    virtual Parameter* GetTestParameter(int index) = 0;

protected:
    ~TestSynthParameters() = default;
};

// The test synth's small editor: a slider bound to the gain (parameter 0) and a toggle bound to
// the oscillator mode (parameter 3), on a dark background. The end-to-end tests click it in a
// real window.
class TestSynthEditor : public EffectGUIBase
{
public:
    static constexpr long kWidth = 320;
    static constexpr long kHeight = 120;
    // The slider's track and the toggle, in editor coordinates.
    static constexpr long kSliderX = 20, kSliderY = 30, kSliderWidth = 280, kSliderHeight = 24;
    static constexpr long kThumbWidth = 16;
    static constexpr long kToggleX = 20, kToggleY = 76, kToggleSize = 24;
    static constexpr int kSliderParameter = 0;
    static constexpr int kToggleParameter = 3;

    explicit TestSynthEditor(void* effect);
    ~TestSynthEditor() override;

    void GetDimensions(long& w, long& h) override
    {
        w = kWidth;
        h = kHeight;
    }
    void CreateContent() override;
    void Repaint(GraphicsContext& gc) override;

private:
    class Slider;
    class Toggle;
    Slider* slider = nullptr;
    Toggle* toggle = nullptr;
};
