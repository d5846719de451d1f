#pragma once

#include <functional>

#include "framework/Events.h"
#include "toolkit/Image.h"
#include "toolkit/Window.h"

// The about screen: a darkened layer over the whole editor with the splash picture and the
// version. It fades in when built and fades out on a click once it has faded in; clicks while it
// fades in, and further clicks while it fades out, are ignored.
//
// Its owner (the editor root) keeps it and is told when it has faded out (onFadedOut, called
// inside the click's handler): the owner releases it once that handler has returned, never
// inside it, and deletes it with itself if it is still shown. Editor thread only.
class TSplash : public Window, public EventHandler
{
public:
    static constexpr int kFadeMs = 200;

    // Covers the parent and fades in (the loop runs meanwhile). A missing picture is dropped: no
    // window is made, nothing is shown (IsShown false).
    explicit TSplash(Window* parent);

    bool IsShown() const { return GetView() != nullptr; }
    bool IsFadedIn() const { return fadedIn; }
    bool IsClosing() const { return closing; }

    std::function<void()> onFadedOut;

    void Repaint(GraphicsContext& gc) override;
    void LButtonUp(long x, long y) override;

private:
    // Plays the window's alpha from `from` to `to` over kFadeMs; false when the window went
    // meanwhile.
    bool Fade(float from, float to);

    Image picture;
    bool fadedIn = false;
    bool closing = false;
};
