#include "editor/PerformGUI.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "editor/Layout.h"
#include "engine/PerformMod.h"
#include "engine/TMod.h"
#include "engine/Torvane.h"
#include "framework/Paths.h"
#include "platform/MessagePopup.h"
#include "toolkit/EffectGUIBase.h"
#include "toolkit/GraphicsContext.h"
#include "toolkit/PopupMenu.h"

namespace
{
namespace lp = layout::perform;

constexpr long kNoneId = -2;

bool Inside(GRectangle const& r, long x, long y)
{
    return x >= r.x && x <= r.x + r.width && y >= r.y && y <= r.y + r.height;
}

// A pad value as drawn: inside -1..1 (values from stored files may lie outside).
float Shown(float v)
{
    return std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// PerformBlock

PerformBlock::~PerformBlock()
{
    // The pads outlive the page: automation after a page switch must not reach this block.
    if (!source) return;
    EditedPluginLock lock(bindingPlugin);
    source->X.RemoveUpdateListener(this);
    source->Y.RemoveUpdateListener(this);
}

void PerformBlock::Create(Window* parent, PerformModSource* newSource, long x, long y, String* error)
{
    source = newSource;
    CreateChildWindow(parent, lp::kBlock.w, lp::kBlock.h, x, y);
    pad.Set(lp::kPad.x, lp::kPad.y, lp::kPad.w, lp::kPad.h);
    try
    {
        assignXUp.LoadFromFile(MakeImagePath("AssignXUp.png"));
        assignXDown.LoadFromFile(MakeImagePath("AssignXDown.png"));
        assignYUp.LoadFromFile(MakeImagePath("AssignYUp.png"));
        assignYDown.LoadFromFile(MakeImagePath("AssignYDown.png"));
        learnImage.LoadFromFile(MakeImagePath("MIDILearnImg.png"));
    }
    catch (String const& e)
    {
        if (error)
            *error = e;
        else
            MessagePopup(e, "Torvane error in PerformBlock::Create");
    }
    hot[kAssignX].Set(lp::kAssignX.x, lp::kAssignX.y, assignXUp.GetWidth(), assignXUp.GetHeight());
    hot[kAssignY].Set(lp::kAssignY.x, lp::kAssignY.y, assignYUp.GetWidth(), assignYUp.GetHeight());
    hot[kLearnX].Set(lp::kLearnX.x, lp::kLearnX.y, lp::kLearnX.w, lp::kLearnX.h);
    hot[kLearnY].Set(lp::kLearnY.x, lp::kLearnY.y, lp::kLearnY.w, lp::kLearnY.h);

    assignMenu.Clear();
    assignMenu.AddItem("<None>", kNoneId, nullptr, false);
    assignMenu.AddSeparator();
    char const* const voices[] = {"Voice1", "Voice2", "Voice3", "Voice4", "All voices"};
    for (int v = 0; v < 5; ++v)
        TCreateModTargetList(assignMenu.AddSubList(voices[v], v, nullptr, false)->subList);

    if (source)
    {
        // Other threads walk the pad's listener lists under the plug-in mutex.
        bindingPlugin = FindEditedPlugin(this);
        EditedPluginLock lock(bindingPlugin);
        source->X.AddUpdateListener(this);
        source->Y.AddUpdateListener(this);
    }
    needsRepaint = true;
}

float PerformBlock::XToValue(float x) const
{
    float const half = static_cast<float>(pad.width / 2);
    return std::clamp((x - (static_cast<float>(pad.x) + 0.5f * static_cast<float>(pad.width))) / half, -1.0f,
                      1.0f);
}

float PerformBlock::YToValue(float y) const
{
    float const half = static_cast<float>(pad.height / 2);
    return -std::clamp((y - (static_cast<float>(pad.y) + 0.5f * static_cast<float>(pad.height))) / half,
                       -1.0f, 1.0f);
}

float PerformBlock::ValueToX(float v) const
{
    return static_cast<float>(pad.width / 2) * v + static_cast<float>(pad.x) +
           0.5f * static_cast<float>(pad.width);
}

float PerformBlock::ValueToY(float v) const
{
    return -v * static_cast<float>(pad.height / 2) + static_cast<float>(pad.y) +
           0.5f * static_cast<float>(pad.height);
}

char const* PerformBlock::VoiceLabel(int voice)
{
    static char const* const labels[] = {"Voice 1", "Voice 2", "Voice 3", "Voice 4", "All voices"};
    return voice >= 0 && voice < 5 ? labels[voice] : "";
}

void PerformBlock::UpdateTimerTick()
{
    if (needsRepaint.exchange(false)) ForceRepaint();
}

void PerformBlock::ParameterUpdated(float, Parameter*)
{
    needsRepaint = true;
}

void PerformBlock::Assign(int axis, long x, long y)
{
    if (!source) return;
    CascadeList::Item* chosen = RunPopupMenu(assignMenu, this, x, y);
    if (!chosen) return;
    if (chosen->id == kNoneId && !chosen->parent->IsSubList())
        source->SetMapping(false, axis, 0, -1);
    else if (CascadeList::Item* voice = chosen->parent->GetParentItem())
        source->SetMapping(true, axis, static_cast<int>(voice->id), static_cast<int>(chosen->id));
    else
        return;
    ForceRepaint();
}

void PerformBlock::ButtonPressed(int id)
{
    if (!source) return;
    switch (id)
    {
    case kAssignX:
        Assign(0, lp::kAssignMenuX.x, lp::kAssignMenuX.y);
        break;
    case kAssignY:
        Assign(1, lp::kAssignMenuY.x, lp::kAssignMenuY.y);
        break;
    case kLearnX:
        source->ShowMidiLearnPopup(true, this, 50, lp::kLearnX.y - 3);
        break;
    case kLearnY:
        source->ShowMidiLearnPopup(false, this, 50, lp::kLearnY.y - 3);
        break;
    default:
        break;
    }
}

void PerformBlock::Repaint(GraphicsContext& gc)
{
    if (!source) return;
    float const x = Shown(static_cast<float>(source->X));
    float const y = Shown(static_cast<float>(source->Y));
    gc.SetPenColour(230, 230, 255, 2, 200);
    gc.DrawRectOutline(static_cast<long>(ValueToX(x) - 5.0f), static_cast<long>(ValueToY(y) - 5.0f), 10, 10);
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(x));
    gc.DrawString(text, lp::kXValue.x, lp::kXValue.y);
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(y));
    gc.DrawString(text, lp::kYValue.x, lp::kYValue.y);

    layout::Point const targets[2] = {lp::kXTarget, lp::kYTarget};
    layout::Point const voices[2] = {lp::kXVoice, lp::kYVoice};
    for (int axis = 0; axis < 2; ++axis)
    {
        PerformModSource::Mapping const m = source->GetMapping(axis);
        bool const assigned = m.target != -1;
        layout::Rgb const ink = assigned ? layout::Rgb{255, 255, 255} : lp::kUnassignedInk;
        gc.SetPenColour(ink.r, ink.g, ink.b, 1, 255);
        gc.DrawString(TGetModTargetName(m.target), targets[axis].x, targets[axis].y);
        gc.DrawString(assigned ? VoiceLabel(m.voice) : "<not assigned>", voices[axis].x, voices[axis].y);
    }
    assignXUp.Draw(&gc, hot[kAssignX].x, hot[kAssignX].y);
    assignYUp.Draw(&gc, hot[kAssignY].x, hot[kAssignY].y);
    learnImage.Draw(&gc, hot[kLearnX].x, hot[kLearnX].y);
    learnImage.Draw(&gc, hot[kLearnY].x, hot[kLearnY].y);
}

void PerformBlock::LButtonDown(long x, long y)
{
    dragging = false;
    GRectangle const grown(pad.x - 5, pad.y - 5, pad.width + 10, pad.height + 10);
    if (Inside(grown, x, y))
    {
        CaptureMouse();
        dragging = true;
        // The press sets both values.
        if (source) gesture.Begin(bindingPlugin, {&source->X, &source->Y});
        MouseMoved(x, y);
        return;
    }
    // A menu or popup opened here takes the rest of the press.
    for (int id = kAssignX; id <= kLearnY; ++id)
        if (hot[id].width > 0 && hot[id].height > 0 && Inside(hot[id], x, y))
        {
            ButtonPressed(id);
            return;
        }
}

void PerformBlock::LButtonUp(long, long)
{
    if (!dragging) return;
    dragging = false;
    ReleaseMouse();
    gesture.End();
}

void PerformBlock::MouseMoved(long x, long y)
{
    if (!dragging || !source) return;
    {
        EditedPluginLock lock(bindingPlugin);
        source->X.Set(XToValue(static_cast<float>(x)), this);
        source->Y.Set(YToValue(static_cast<float>(y)), this);
    }
    needsRepaint = true;
}

// ---------------------------------------------------------------------------------------------
// PerformGUI

PerformGUI::~PerformGUI()
{
    StopTimer(0);
}

void PerformGUI::Create(Window* parent, Torvane* instrument)
{
    CreateChildWindow(parent, lp::kSize.w, lp::kSize.h, layout::root::kPerformPage.x,
                      layout::root::kPerformPage.y);
    blocks = std::make_unique<PerformBlock[]>(kNumBlocks);
    String firstError;
    for (int i = 0; i < kNumBlocks; ++i)
    {
        PerformModSource* source = instrument ? instrument->GetPerformMods()->GetSource(i) : nullptr;
        String error;
        blocks[i].Create(this, source, lp::kBlocks[i].x, lp::kBlocks[i].y, &error);
        if (firstError.GetLength() == 0 && error.GetLength() != 0) firstError = error;
    }
    if (firstError.GetLength() != 0) MessagePopup(firstError, "Torvane error in PerformGUI::Create");
    StartTimer(0, kTickMs);
}

void PerformGUI::TimerEvent(int)
{
    if (!blocks) return;
    for (int i = 0; i < kNumBlocks; ++i)
        blocks[i].UpdateTimerTick();
}
