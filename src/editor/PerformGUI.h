#pragma once

#include <atomic>
#include <memory>

#include "editor/TSubEditor.h"
#include "framework/AutomatableParameterServer.h"
#include "framework/Parameter.h"
#include "framework/String.h"
#include "framework/Timers.h"
#include "platform/CascadeList.h"
#include "toolkit/CustomButton.h"
#include "toolkit/Geometry.h"
#include "toolkit/Image.h"

class PerformModSource;
class PluginBase;
class Torvane;

// One X/Y performance pad of the perform page: dragging the cursor sets the source's X and Y
// (-1 to 1, up positive), each axis can be assigned to a modulation target of one voice or of
// all voices, and each axis can be MIDI-learned.
//
// Threads: the pad's parameters change on any thread (host automation, MIDI learn); the
// block's ParameterUpdated only raises its needs-repaint flag, and the page's timer draws. The
// block leaves the X and Y listener lists when it goes (the parameters outlive the page). It
// joins and leaves them, and writes X and Y, under the plug-in mutex of its editor root.
class PerformBlock : public Window, public ParamUpdateListener, public ButtonListener
{
public:
    enum
    {
        kAssignX = 0,
        kAssignY = 1,
        kLearnX = 2,
        kLearnY = 3
    };

    PerformBlock() = default;
    ~PerformBlock() override;

    // A 205 x 200 block at (x, y) for the source. A missing picture leaves a pad that works
    // without it: the error goes to *error when given (the page reports once), else it is shown.
    void Create(Window* parent, PerformModSource* source, long x, long y, String* error = nullptr);

    float XToValue(float x) const;
    float YToValue(float y) const;
    float ValueToX(float v) const;
    float ValueToY(float v) const;
    static char const* VoiceLabel(int voice);

    // Repaints when marked; the page's timer calls it.
    void UpdateTimerTick();
    bool NeedsRepaint() const { return needsRepaint.load(); }
    PerformModSource* GetSource() const { return source; }
    GRectangle const& GetHotRect(int id) const { return hot[id]; }

    void ParameterUpdated(float value, Parameter* changed) override;
    void ButtonPressed(int id) override;
    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void LButtonUp(long x, long y) override;
    void MouseMoved(long x, long y) override;

private:
    void Assign(int axis, long x, long y);

    PerformModSource* source = nullptr;
    GRectangle pad{5, 5, 100, 100};
    CascadeList assignMenu;
    Image assignXUp, assignXDown, assignYUp, assignYDown, learnImage;
    GRectangle hot[4];
    bool dragging = false;
    std::atomic<bool> needsRepaint{false};
    PluginBase* bindingPlugin = nullptr;         // whose mutex guards the listener lists and writes
    AutomatableParameterServer::Gesture gesture; // a drag's, from press to release
};

// The perform page (edit mode 1): the six pads of the instrument, redrawn on a 50 ms timer
// when something changed them. Its background belongs to the editor root.
class PerformGUI : public TSubEditor, public TimerListener
{
public:
    static constexpr int kNumBlocks = 6;
    static constexpr unsigned kTickMs = 50;

    PerformGUI() = default;
    ~PerformGUI() override;

    // A 770 x 430 child at (0, 110) with the six blocks; starts the timer. A missing picture is
    // reported once.
    void Create(Window* parent, Torvane* instrument);

    PerformBlock* GetBlock(int i) { return i >= 0 && i < kNumBlocks ? &blocks[i] : nullptr; }

    void UpdateAll() override {}
    void Repaint(GraphicsContext&) override {}
    void TimerEvent(int id) override;

private:
    std::unique_ptr<PerformBlock[]> blocks;
};
