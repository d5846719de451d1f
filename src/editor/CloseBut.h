#pragma once

#include "toolkit/CustomButton.h"
#include "toolkit/Image.h"

// The small close box of the editor's dialogs.
class CloseBut : public CustomButton
{
public:
    CloseBut() = default;

    // Note the order: position before id. A missing picture is thrown (a String) to the caller.
    void Create(Window* parent, long x, long y, int id, ButtonListener* listener);

    void DrawRaised(GraphicsContext& gc) override;
    void DrawPressed(GraphicsContext& gc) override;

private:
    Image up;
    Image down;
};
