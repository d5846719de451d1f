#pragma once

#include "toolkit/CustomButton.h"
#include "toolkit/Geometry.h"
#include "toolkit/Image.h"
#include "toolkit/Window.h"

// A push button that loads its two pictures by file name from the image folder and keeps them
// as long as it lives.
class TButton : public CustomButton
{
public:
    TButton() = default;

    // A missing picture is shown ("Torvane Error in TButton::Create" with the file's full path);
    // the button is then not created and the caller goes on.
    void Create(Window* parent, int id, ButtonListener* listener, long x, long y, char const* upImage,
                char const* downImage);

private:
    Image up;
    Image down;
};

// An invisible hot zone over a background: a press reports at once (not on the release), so a
// double click reports twice. It draws nothing unless its bounds are shown (debugging aid).
class TTransparentBut : public ButtonBase, public Window
{
public:
    TTransparentBut() = default;

    void Create(Window* parent, int id, ButtonListener* listener, GRectangle const& area);
    // Fills the zone in opaque black while on.
    void ShowBounds(bool on);

    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void LDoubleClick(long x, long y) override;

    int GetId() const { return id; }

private:
    ButtonListener* listener = nullptr;
    int id = 0;
    bool showBounds = false;
};
