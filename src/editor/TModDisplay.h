#pragma once

#include "toolkit/Geometry.h"
#include "toolkit/Image.h"
#include "toolkit/Window.h"

class Torvane;

// The five rows of the current voice's modulation matrix: an on/off toggle, a source and a
// target chosen from menus, and an amount dragged sideways or snapped to whole semitones from a
// right-click menu. Every read and write goes to the instrument for the current voice (-1); the
// amount is the one on the voice's timeline at the edit time, and what is drawn is always what
// the instrument holds (it may refuse a write, for instance while the editor follows a note).
//
// Amounts a (-1 to 1) are shown and dragged as u = sign(a) |a|^(1/3); a = u^3 is written back.
// Editor thread only.
class TModDisplay : public Window
{
public:
    static constexpr int kRows = 5;
    static constexpr int kColumnWidth = 60;
    static constexpr int kRowHeight = 16;
    static constexpr int kWidth = 228;
    static constexpr int kHeight = 81;
    static constexpr int kNumSnapPoints = 13;
    // Pixels of drag per display unit (half the amount cell less 11).
    static constexpr int kHalf = 80 / 2 - 11;

    TModDisplay() = default;

    void Create(Window* parent, Torvane* instrument, long x, long y);

    static void GetToggleRect(int row, GRectangle& r);
    static void GetSourceRect(int row, GRectangle& r);
    static void GetTargetRect(int row, GRectangle& r);
    static void GetAmountRect(int row, GRectangle& r);
    // The first row whose cell holds the point (edges inclusive), or -1.
    static int ToggleHitTest(long x, long y);
    static int SourceHitTest(long x, long y);
    static int TargetHitTest(long x, long y);
    static int AmountHitTest(long x, long y);

    // The snap point nearest to |amount| (a tie goes to the larger one), with the amount's sign.
    static float SnapToNoteAmount(float amount);
    // Entry n: the amount that moves a pitch by n semitones, 2^(n/12) - 1.
    static float SnapPoint(int n);
    // The words drawn for a stored source or target index ("Error!" for an unknown one).
    static char const* SourceWord(int index);
    static char const* TargetWord(int index);
    // Display units of an amount (clamped to -1..1; not a number: 0) and back.
    static float ToDisplay(float amount);
    static float FromDisplay(float u) { return u * u * u; }

    void OpenSourceMenu(int row, long x, long y);
    void OpenTargetMenu(int row, long x, long y);

    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void LButtonUp(long x, long y) override;
    void MouseMoved(long x, long y) override;
    void RButtonUp(long x, long y) override;

    bool IsDragging() const { return dragging; }

private:
    void OpenSemitoneMenu(int row);

    Torvane* instrument = nullptr;
    bool dragging = false;
    float dragStartValue = 0.0f;
    long dragStartX = 0;
    int dragRow = 0;
    Image onImage;
};
