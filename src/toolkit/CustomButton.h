#pragma once

#include <memory>

#include "framework/Events.h"
#include "toolkit/Geometry.h"
#include "toolkit/Image.h"
#include "toolkit/Window.h"

// The owners of buttons and unbound toggles implement these and switch on the id.
class ButtonListener
{
public:
    virtual void ButtonPressed(int id) = 0;
};

class ToggleListener
{
public:
    virtual void OnToggle(int id, bool on) = 0;
};

// Marks a class as a button.
class ButtonBase
{
};

// A push button drawn from an up image and a down image. A completed click (press, release
// inside) calls the listener's ButtonPressed with the id, then the click event; a release
// outside cancels it, as does a press ended by the host hiding the editor. ButtonClicked runs
// on every release. A double click counts as two
// clicks. When ButtonPressed destroys the button, nothing further happens.
class CustomButton : public ButtonBase, public Window
{
public:
    CustomButton() = default;
    ~CustomButton() override;

    // The caller keeps the images; down may be null.
    void Create(Window* parent, int id, ButtonListener* listener, long x, long y, Image* up, Image* down);
    void Create(Window* parent, int id, ButtonListener* listener, long x, long y, std::shared_ptr<Image> up,
                std::shared_ptr<Image> down);
    // Loads both images from full paths (a missing one throws, as Image::LoadFromFile).
    void Create(Window* parent, int id, ButtonListener* listener, long x, long y, char const* upPath,
                char const* downPath);
    // Loads and owns the images; down may be null.
    void Create(Window* parent, int id, ButtonListener* listener, long x, long y, ImageResource* up,
                ImageResource* down);

    virtual void DrawRaised(GraphicsContext& gc);
    virtual void DrawPressed(GraphicsContext& gc);
    virtual void ButtonClicked() {}

    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void LButtonUp(long x, long y) override;
    void LDoubleClick(long x, long y) override;

    int GetId() const { return id; }
    bool IsPressed() const { return pressed != 0; }
    void SetListener(ButtonListener* l) { listener = l; }

    Event<void()> clickEvent;

protected:
    void CreateSized(Window* parent, int id, ButtonListener* listener, long x, long y);

    Image* upImage = nullptr;
    Image* downImage = nullptr;
    std::shared_ptr<Image> sharedUp;
    std::shared_ptr<Image> sharedDown;
    int id = 0;
    ButtonListener* listener = nullptr;
    int pressed = 0;
    bool ownsImages = false;
};

// A button that shows a text on a filled background, the same raised and pressed.
class SimpleTextButton : public CustomButton
{
public:
    static constexpr int kMaxText = 255;

    SimpleTextButton() = default;
    void Create(Window* parent, int id, ButtonListener* listener, long x, long y, long w, long h,
                char const* text, Colour background = Colour());
    // At most kMaxText bytes are kept, cut at a character boundary.
    void SetText(char const* text);
    char const* GetText() const { return text; }
    void SetBackground(Colour c) { background = c; }

    void DrawRaised(GraphicsContext& gc) override;
    void DrawPressed(GraphicsContext& gc) override { DrawRaised(gc); }

private:
    char text[kMaxText + 1] = {};
    Colour background;
};

// The toolkit's own dialog button: its caption white, centred on its face, in a 10-pixel face
// (capitals 7 pixels tall).
class CaptionButton : public SimpleTextButton
{
public:
    static constexpr int kTextSize = 10;
    // The faces of a default and of a plain button, dark enough for the white caption.
    static Colour DefaultFace() { return Colour(45, 85, 170, 255); }
    static Colour PlainFace() { return Colour(80, 80, 88, 255); }

    void Create(Window* parent, int id, ButtonListener* listener, long x, long y, long w, long h,
                char const* caption, Colour face);
    void DrawRaised(GraphicsContext& gc) override;

private:
    Colour face;
};
