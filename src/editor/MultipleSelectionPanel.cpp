#include "editor/MultipleSelectionPanel.h"

#include "editor/EventsDisplay.h"
#include "editor/Layout.h"
#include "engine/Torvane.h"
#include "framework/Paths.h"
#include "framework/String.h"
#include "platform/MessagePopup.h"
#include "toolkit/GraphicsContext.h"

void MultipleSelectionPanel::Create(Window* parent, EventsDisplay* owner, long x, long y)
{
    namespace s = layout::selection;
    display = owner;
    CreateChildWindow(parent, s::kSize.w, s::kSize.h, x, y);
    try
    {
        bar.LoadFromFile(MakeImagePath("MultipleSelection Bar.png"));
        buttons[kCopy].Create(this, kCopy, this, s::kCopy.x, s::kCopy.y, "CopyBut Up.png",
                              "CopyBut Down.png");
        buttons[kPaste].Create(this, kPaste, this, s::kPaste.x, s::kPaste.y, "PasteBut Up.png",
                               "PasteBut Down.png");
        // The picture named Down is the raised one.
        buttons[kDelete].Create(this, kDelete, this, s::kDelete.x, s::kDelete.y, "DeleteMulti Down.png",
                                "DeleteMulti Up.png");
        buttons[kDeselect].Create(this, kDeselect, this, s::kDeselect.x, s::kDeselect.y, "UnselectBut Up.png",
                                  "UnselectBut Down.png");
        if (display != nullptr) display->Rescale.SetBool(false);
        rescaleOff.LoadFromFile(MakeImagePath("RescaleBut Up.png"));
        rescaleOn.LoadFromFile(MakeImagePath("RescaleBut Down.png"));
        if (display != nullptr)
            rescale.Create(this, &display->Rescale, s::kRescale.x, s::kRescale.y, &rescaleOn, &rescaleOff);
        radioOff.LoadFromFile(MakeImagePath("GroupToggle Up.png"));
        radioOn.LoadFromFile(MakeImagePath("GroupToggle Down.png"));
        Torvane* const t = display != nullptr ? display->GetInstrument() : nullptr;
        if (t != nullptr)
        {
            for (int i = 0; i < 3; ++i)
                radios[i].Create(this, &t->multipleSelectionMode, static_cast<float>(i), s::kModeRadios[i].x,
                                 s::kModeRadios[i].y, &radioOn, &radioOff);
            t->UpdateGUI();
        }
    }
    catch (String const& error)
    {
        MessagePopup(error, "Image load error");
    }
}

void MultipleSelectionPanel::ButtonPressed(int id)
{
    if (display == nullptr) return;
    switch (id)
    {
    case kCopy:
        display->Copy();
        break;
    case kPaste:
        display->Paste();
        break;
    case kDelete:
        display->Delete();
        break;
    case kDeselect:
        display->Deselect();
        break;
    default:
        break;
    }
}

void MultipleSelectionPanel::Repaint(GraphicsContext& gc)
{
    if (bar.IsLoaded()) bar.Draw(&gc, 0, 0);
}

// ---------------------------------------------------------------------------------------------

PointerModeToggle::~PointerModeToggle()
{
    if (parameter != nullptr) parameter->RemoveUpdateListener(this);
}

void PointerModeToggle::Create(Window* parent, Parameter* p, long x, long y)
{
    CreateChildWindow(parent, 15, 15, x, y);
    parameter = p;
    if (parameter != nullptr) parameter->AddUpdateListener(this);
}

void PointerModeToggle::ParameterUpdated(float, Parameter*)
{
    ForceRepaint();
}

void PointerModeToggle::LButtonDown(long, long)
{
    if (parameter != nullptr) parameter->Set(1.0f - static_cast<float>(*parameter), nullptr);
}

void PointerModeToggle::LDoubleClick(long, long)
{
    MessagePopup("Double click", "");
}

void PointerModeToggle::Repaint(GraphicsContext& gc)
{
    gc.SetPenColour(163, 195, 220, 1, 255);
    gc.DrawFilledRect(0, 0, width, height);
    if (parameter == nullptr) return;
    int const v = static_cast<int>(static_cast<float>(*parameter));
    gc.SetPenColour(0, 0, 0, 1, 255);
    if (v == 0)
        gc.DrawString("P", 0, 0);
    else if (v == 1)
        gc.DrawString("M", 0, 0);
}
