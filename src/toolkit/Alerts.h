#pragma once

#include <string>
#include <vector>

#include "platform/MessagePopup.h"

// A rectangle by its edges, as the debugging alert below takes it.
struct Rect
{
    short top = 0;
    short left = 0;
    short bottom = 0;
    short right = 0;
};

// Shows "X: left  Y: top / Width: right - left  Height: bottom - top" under the title.
void MessagePopup(Rect const& r, char const* title);

// Makes MessagePopup and MessageYesNoPopup show drawn modal alerts centred on the editor:
// the text, the caption as explanation, and "OK", or "Yes" (default, Return) and "No"
// (Escape). Off the loop's thread, or while no surface of ours is open, they never block:
// the text goes to standard error and a question answers "No".
void InstallToolkitAlerts();

// The text cut into lines no wider than width at that size (words kept whole where they fit).
std::vector<std::string> WrapText(char const* text, double size, double width);
