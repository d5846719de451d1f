#include "editor/TModDisplay.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "engine/Torvane.h"
#include "framework/Paths.h"
#include "platform/CascadeList.h"
#include "platform/MessagePopup.h"
#include "toolkit/GraphicsContext.h"
#include "toolkit/PopupMenu.h"

namespace
{
constexpr int kCurrentVoice = -1;

std::array<float, TModDisplay::kNumSnapPoints> const& SnapPoints()
{
    static std::array<float, TModDisplay::kNumSnapPoints> const points = []
    {
        std::array<float, TModDisplay::kNumSnapPoints> p{};
        for (int n = 1; n < TModDisplay::kNumSnapPoints; ++n)
            p[n] = std::pow(2.0f, static_cast<float>(n) / 12.0f) - 1.0f;
        return p;
    }();
    return points;
}

bool Inside(GRectangle const& r, long x, long y)
{
    return x >= r.x && x <= r.x + r.width && y >= r.y && y <= r.y + r.height;
}

int HitTest(void (*cell)(int, GRectangle&), long x, long y)
{
    for (int row = 0; row < TModDisplay::kRows; ++row)
    {
        GRectangle r;
        cell(row, r);
        if (Inside(r, x, y)) return row;
    }
    return -1;
}
} // namespace

void TModDisplay::Create(Window* parent, Torvane* newInstrument, long x, long y)
{
    instrument = newInstrument;
    dragging = false;
    CreateChildWindow(parent, kWidth, kHeight, x, y);
    try
    {
        onImage.LoadFromFile(MakeImagePath("ModulationOn.png"));
    }
    catch (String const& error)
    {
        MessagePopup(error, "Torvane error in TModDisplay::Create");
    }
}

void TModDisplay::GetToggleRect(int row, GRectangle& r)
{
    r.Set(0, kRowHeight * row, 10, kRowHeight);
}

void TModDisplay::GetSourceRect(int row, GRectangle& r)
{
    r.Set(10, kRowHeight * row, kColumnWidth, kRowHeight);
}

void TModDisplay::GetTargetRect(int row, GRectangle& r)
{
    r.Set(70, kRowHeight * row, kColumnWidth, kRowHeight);
}

void TModDisplay::GetAmountRect(int row, GRectangle& r)
{
    r.Set(130, kRowHeight * row, 80, kRowHeight);
}

int TModDisplay::ToggleHitTest(long x, long y)
{
    return HitTest(&GetToggleRect, x, y);
}

int TModDisplay::SourceHitTest(long x, long y)
{
    return HitTest(&GetSourceRect, x, y);
}

int TModDisplay::TargetHitTest(long x, long y)
{
    return HitTest(&GetTargetRect, x, y);
}

int TModDisplay::AmountHitTest(long x, long y)
{
    return HitTest(&GetAmountRect, x, y);
}

float TModDisplay::SnapPoint(int n)
{
    return n >= 0 && n < kNumSnapPoints ? SnapPoints()[static_cast<std::size_t>(n)] : 0.0f;
}

float TModDisplay::SnapToNoteAmount(float amount)
{
    if (!std::isfinite(amount)) return 0.0f;
    float const a = std::fabs(amount);
    int best = 0;
    float bestDistance = a;
    for (int n = 1; n < kNumSnapPoints; ++n)
    {
        float const d = std::fabs(a - SnapPoint(n));
        if (d > bestDistance) break;
        best = n;
        bestDistance = d;
    }
    return amount < 0.0f ? -SnapPoint(best) : SnapPoint(best);
}

char const* TModDisplay::SourceWord(int index)
{
    switch (index)
    {
    case -1:
        return "<None>";
    case 0:
        return "LFO1";
    case 1:
        return "LFO2";
    case 10:
        return "Mod Wheel";
    case 11:
        return "Aftertouch";
    case 12:
        return "Velocity";
    case 13:
        return "Pitch";
    default:
        return "Error!";
    }
}

char const* TModDisplay::TargetWord(int index)
{
    static char const* const words[] = {"Amplitude",  "Pitch",         "Pan",         "Vector X",
                                        "Vector Y",   "Filter Cutoff", "Filter Res.", "LFO1 Rate",
                                        "LFO1 Depth", "LFO2 Rate",     "LFO2 Depth"};
    if (index == -1) return "<No target>";
    if (index >= 0 && index < static_cast<int>(std::size(words))) return words[index];
    return "Error!";
}

float TModDisplay::ToDisplay(float amount)
{
    if (!std::isfinite(amount)) return 0.0f;
    return std::cbrt(std::clamp(amount, -1.0f, 1.0f));
}

void TModDisplay::OpenSourceMenu(int row, long x, long y)
{
    CascadeList menu;
    menu.AddItem("<None>", -1, nullptr, false);
    menu.AddSeparator();
    menu.AddItem("LFO1", 0, nullptr, false);
    menu.AddItem("LFO2", 1, nullptr, false);
    menu.AddSeparator();
    menu.AddItem("Pitch", 13, nullptr, false);
    menu.AddItem("Velocity", 12, nullptr, false);
    menu.AddSeparator();
    menu.AddItem("Mod Wheel", 10, nullptr, false);
    menu.AddItem("Aftertouch", 11, nullptr, false);
    CascadeList::Item* chosen = RunPopupMenu(menu, this, x, y);
    if (!chosen || !instrument) return;
    instrument->SetModulationSource(row, static_cast<int>(chosen->id), kCurrentVoice);
    ForceRepaint();
}

void TModDisplay::OpenTargetMenu(int row, long x, long y)
{
    CascadeList menu;
    menu.AddItem("<None>", -1, nullptr, false);
    menu.AddSeparator();
    menu.AddItem("Osc Pitch", 1, nullptr, false);
    menu.AddItem("Osc Pan", 2, nullptr, false);
    menu.AddItem("Osc Amp.", 0, nullptr, false);
    menu.AddSeparator();
    menu.AddItem("Vector X", 3, nullptr, false);
    menu.AddItem("Vector Y", 4, nullptr, false);
    menu.AddSeparator();
    menu.AddItem("Filter Freq.", 5, nullptr, false);
    menu.AddItem("Filter Res.", 6, nullptr, false);
    menu.AddSeparator();
    menu.AddItem("LFO1 Rate", 7, nullptr, false);
    menu.AddItem("LFO1 Depth", 8, nullptr, false);
    menu.AddItem("LFO2 Rate", 9, nullptr, false);
    menu.AddItem("LFO2 Depth", 10, nullptr, false);
    CascadeList::Item* chosen = RunPopupMenu(menu, this, x, y);
    if (!chosen || !instrument) return;
    instrument->SetModulationTarget(row, static_cast<int>(chosen->id), kCurrentVoice);
    ForceRepaint();
}

void TModDisplay::OpenSemitoneMenu(int row)
{
    // Negative items carry the negated number of semitones as their id.
    CascadeList menu;
    char name[32];
    for (int n = 12; n >= 1; --n)
    {
        std::snprintf(name, sizeof name, "+%d %s", n, n == 1 ? "semitone" : "semitones");
        menu.AddItem(name, n, nullptr, false);
    }
    menu.AddSeparator();
    menu.AddItem("0 semitones", 0, nullptr, false);
    menu.AddSeparator();
    for (int n = 1; n <= 12; ++n)
    {
        std::snprintf(name, sizeof name, "-%d semitone", n);
        menu.AddItem(name, -n, nullptr, false);
    }
    CascadeList::Item* chosen = RunPopupMenu(menu, this, 50, -10);
    if (!chosen || !instrument) return;
    long const id = chosen->id;
    float const amount = id < 0 ? -SnapPoint(static_cast<int>(-id)) : SnapPoint(static_cast<int>(id));
    instrument->SetModulationAmount(row, amount, kCurrentVoice);
    ForceRepaint();
}

void TModDisplay::Repaint(GraphicsContext& gc)
{
    if (!instrument) return;
    for (int row = 0; row < kRows; ++row)
    {
        bool const enabled = instrument->GetModulationEnabled(row, kCurrentVoice);
        int const grey = enabled ? 255 : 180;
        if (enabled) onImage.Draw(&gc, 0, kRowHeight * row + 2);
        GRectangle cell;
        gc.SetPenColour(grey, grey, grey, 1, 255);
        GetSourceRect(row, cell);
        gc.DrawString(SourceWord(instrument->GetModulationSource(row, kCurrentVoice)), cell.x + 3,
                      cell.y + 3);
        GetTargetRect(row, cell);
        gc.DrawString(TargetWord(instrument->GetModulationTarget(row, kCurrentVoice)), cell.x + 3,
                      cell.y + 3);

        GetAmountRect(row, cell);
        float const u = ToDisplay(instrument->GetModulationAmount(row, kCurrentVoice));
        float const centre = static_cast<float>(cell.x) + static_cast<float>(cell.width) / 2.0f;
        gc.SetPenColour(enabled ? 200 : 100, 0, 0, 1, 255);
        gc.DrawFilledRect(static_cast<long>(kHalf * u + centre - 10.0f), cell.y + 1, 20, kRowHeight - 3);
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(u));
        gc.SetPenColour(grey, grey, grey, 1, 255);
        gc.DrawString(text, static_cast<long>(kHalf * u + centre - 8.0f), cell.y + 3);
    }
}

void TModDisplay::LButtonDown(long x, long y)
{
    dragging = false;
    if (!instrument) return;
    GRectangle cell;
    // A menu takes the rest of the press: no drag follows it.
    if (int row = SourceHitTest(x, y); row >= 0)
    {
        GetSourceRect(row, cell);
        OpenSourceMenu(row, cell.x + 5, cell.y + 2);
        return;
    }
    if (int row = TargetHitTest(x, y); row >= 0)
    {
        GetTargetRect(row, cell);
        OpenTargetMenu(row, cell.x + 5, cell.y + 2);
        return;
    }
    if (int row = AmountHitTest(x, y); row >= 0)
    {
        dragging = true;
        dragRow = row;
        dragStartValue = ToDisplay(instrument->GetModulationAmount(row, kCurrentVoice));
        dragStartX = x;
        CaptureMouse();
        return;
    }
    if (int row = ToggleHitTest(x, y); row >= 0)
    {
        instrument->SetModulationEnabled(row, !instrument->GetModulationEnabled(row, kCurrentVoice),
                                         kCurrentVoice);
        ForceRepaint();
    }
}

void TModDisplay::MouseMoved(long x, long)
{
    if (!dragging || !instrument) return;
    long const dx = x - dragStartX;
    if (dx == 0) return;
    float u = std::clamp(dragStartValue + static_cast<float>(dx) / static_cast<float>(kHalf), -1.0f, 1.0f);
    if (std::fabs(u) <= 0.01f) u = 0.0f;
    instrument->SetModulationAmount(dragRow, FromDisplay(u), kCurrentVoice);
    ForceRepaint();
}

void TModDisplay::LButtonUp(long, long)
{
    if (!dragging) return;
    dragging = false;
    ReleaseMouse();
}

void TModDisplay::RButtonUp(long x, long y)
{
    if (!instrument) return;
    int const row = AmountHitTest(x, y);
    if (row >= 0) OpenSemitoneMenu(row);
}
