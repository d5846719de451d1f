#pragma once

#include "framework/String.h"
#include "toolkit/Geometry.h"

class Window;
class EditField;

// A text field inside a parent window's view: caret, typing (UTF-8), Backspace, Delete,
// arrows, Home, End, shift-selection, select all, cut, copy and paste with the window
// system's clipboard. It holds at most kMaxText bytes; a single-line field takes no newline.
// It may outlive its parent window (its node is then detached).
class TextControl
{
public:
    static constexpr int kMaxText = 255;

    TextControl() = default;
    ~TextControl();
    TextControl(TextControl const&) = delete;
    TextControl& operator=(TextControl const&) = delete;

    // At r in the parent's view; a null text starts empty, other text is converted as all text.
    void Create(Window* parent, GRectangle const& r, bool singleLine, char const* text);
    // The text (UTF-8); empty before Create.
    String GetText() const;
    void SetText(char const* text);
    // Sends the keys of the parent's surface here.
    void GiveFocus();
    bool HasFocus() const;
    // Byte offsets of the selection (equal: the caret).
    long GetSelectionStart() const;
    long GetSelectionEnd() const;

private:
    void Release();

    Window* parent = nullptr;
    EditField* control = nullptr;
};
