#include "editor/NamePopup.h"

#include "editor/Layout.h"
#include "framework/Paths.h"
#include "platform/MessagePopup.h"
#include "platform/gfx/Types.h"
#include "toolkit/GraphicsContext.h"
#include "toolkit/Image.h"

namespace
{
char const* const kImages[] = {"Ok But Up.png", "Ok But Down.png", "Cancel But Up.png",
                               "Cancel But Down.png"};
}

bool NamePopup::Create(Window* parent, long x, long y, char const* newPrompt, String* result,
                       char const* initialText)
{
    namespace np = layout::namepopup;
    confirmed = false;
    // Every picture first: without them the dialog could not be closed but by other means.
    try
    {
        for (char const* name : kImages)
        {
            Image probe;
            probe.LoadFromFile(MakeImagePath(name));
        }
    }
    catch (String const& error)
    {
        MessagePopup(error, "");
        return false;
    }
    prompt = newPrompt ? newPrompt : "";
    CreateFrame(parent, x, y, np::kSize.w, np::kSize.h);
    EnableDragging(true);
    field.Create(this, GRectangle(np::kField.x, np::kField.y, np::kField.w, np::kField.h), true, initialText);
    field.GiveFocus();
    ok.Create(this, kOk, this, np::kOk.x, np::kOk.y, kImages[0], kImages[1]);
    cancel.Create(this, kCancel, this, np::kCancel.x, np::kCancel.y, kImages[2], kImages[3]);
    RunModal();
    if (confirmed && result) *result = field.GetText();
    return confirmed;
}

void NamePopup::Finish(bool confirm)
{
    confirmed = confirm;
    QuitModal();
}

void NamePopup::ButtonPressed(int id)
{
    if (id == kOk || id == kCancel) Finish(id == kOk);
}

void NamePopup::Repaint(GraphicsContext& gc)
{
    FillBackground(gc, Colour(80, 80, 80, 255));
    gc.SetPenColour(255, 255, 255, 1, 255);
    gc.DrawString(prompt, layout::namepopup::kPrompt.x, layout::namepopup::kPrompt.y);
}
