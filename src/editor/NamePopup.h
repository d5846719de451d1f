#pragma once

#include "editor/TButton.h"
#include "framework/String.h"
#include "toolkit/CustomButton.h"
#include "toolkit/Frame.h"
#include "toolkit/TextControl.h"

// The small modal dialog in which the user types a name: a prompt, a one-line field and Ok and
// Cancel. Built on the opener's stack: Create runs the dialog and returns once it is closed.
// Ok (or Return) confirms; Cancel, Escape and any other end of the run cancel. Editor thread.
class NamePopup : public Frame, public ButtonListener
{
public:
    static constexpr int kOk = 0;
    static constexpr int kCancel = 1;

    NamePopup() = default;

    // Shows the popup at (x, y) on the screen for the editor of `parent`, runs it and returns
    // true when confirmed; the field's text is then copied into *result (left alone otherwise).
    // A missing picture is reported (empty caption) and gives false without running the dialog.
    bool Create(Window* parent, long x, long y, char const* prompt, String* result, char const* initialText);

    void ButtonPressed(int id) override;
    void Repaint(GraphicsContext& gc) override;

    TextControl& GetField() { return field; }

protected:
    // Return confirms (OK), Escape cancels; the field passes both on.
    bool CancelByKey() override
    {
        ButtonPressed(kCancel);
        return true;
    }
    bool DefaultByKey() override
    {
        ButtonPressed(kOk);
        return true;
    }

private:
    void Finish(bool confirm);

    String prompt;
    TextControl field;
    TButton ok;
    TButton cancel;
    bool confirmed = false;
};
