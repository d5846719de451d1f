#include "testsynth/TestSynthEditor.h"

#include <algorithm>
#include <atomic>

#include "framework/Parameter.h"
#include "framework/ParameterController.h"
#include "framework/PluginBase.h"
#include "toolkit/GraphicsContext.h"
#include "vst/editor/VstGUILoader.h"

// A horizontal slider: a press or a drag puts the thumb's centre under the pointer and writes
// the position through the controller binding; a change from elsewhere moves the thumb.
class TestSynthEditor::Slider : public Window, public ParameterController
{
public:
    void ParameterUpdated(float, Parameter*) override
    {
        position.store(ControllerGet());
        ForceRepaint();
    }
    void Repaint(GraphicsContext& gc) override
    {
        float const p = position.load();
        gc.SetPenColour(60, 64, 72, 1, 255);
        gc.DrawFilledRect(0, 8, width - 1, 7);
        long const thumbX = static_cast<long>(p * static_cast<float>(width - kThumbWidth) + 0.5f);
        gc.SetPenColour(70, 150, 230, 1, 255);
        gc.DrawFilledRect(0, 8, thumbX, 7);
        gc.SetPenColour(240, 240, 240, 1, 255);
        gc.DrawFilledRect(thumbX, 0, kThumbWidth - 1, height - 1);
    }
    void LButtonDown(long px, long) override { Follow(px); }
    void MouseMoved(long px, long) override { Follow(px); }

    std::atomic<float> position{0.0f};

private:
    void Follow(long px)
    {
        float const p = std::clamp(
            static_cast<float>(px - kThumbWidth / 2) / static_cast<float>(width - kThumbWidth), 0.0f, 1.0f);
        {
            EditedPluginLock lock(this);
            position.store(ControllerSetAll(p));
        }
        ForceRepaint();
    }
};

// A square toggle: each click flips it between the parameter's two ends.
class TestSynthEditor::Toggle : public Window, public ParameterController
{
public:
    void ParameterUpdated(float, Parameter*) override
    {
        on.store(ControllerGet() >= 0.5f);
        ForceRepaint();
    }
    void Repaint(GraphicsContext& gc) override
    {
        bool const lit = on.load();
        gc.SetPenColour(lit ? 250 : 60, lit ? 190 : 64, lit ? 40 : 72, 1, 255);
        gc.DrawFilledRect(0, 0, width - 1, height - 1);
    }
    void LButtonDown(long, long) override
    {
        bool const next = !on.load();
        {
            EditedPluginLock lock(this);
            on.store(ControllerSetAll(next ? 1.0f : 0.0f) >= 0.5f);
        }
        ForceRepaint();
    }

    std::atomic<bool> on{false};
};

TestSynthEditor::TestSynthEditor(void* effect) : EffectGUIBase(effect, EditedVstPlugin(effect)) {}

TestSynthEditor::~TestSynthEditor()
{
    {
        // The host and the audio thread walk the listener lists under the plug-in mutex.
        EditedPluginLock lock(GetPlugin());
        delete slider;
        delete toggle;
    }
}

void TestSynthEditor::CreateContent()
{
    auto* params = dynamic_cast<TestSynthParameters*>(GetPlugin());
    slider = new Slider;
    slider->CreateChildWindow(this, kSliderWidth, kSliderHeight, kSliderX, kSliderY);
    toggle = new Toggle;
    toggle->CreateChildWindow(this, kToggleSize, kToggleSize, kToggleX, kToggleY);
    if (params == nullptr) return;
    EditedPluginLock lock(GetPlugin());
    slider->BindParameter(params->GetTestParameter(kSliderParameter));
    toggle->BindParameter(params->GetTestParameter(kToggleParameter));
}

void TestSynthEditor::Repaint(GraphicsContext& gc)
{
    gc.SetPenColour(28, 30, 36, 1, 255);
    gc.DrawFilledRect(0, 0, width - 1, height - 1);
    gc.SetPenColour(220, 220, 220, 1, 255);
    gc.SetFont(12, "Arial", false, false);
    gc.DrawString("Gain", kSliderX - 2, kSliderY - 20);
    gc.DrawString("Mode", kToggleX + kToggleSize + 6, kToggleY + 4);
}
