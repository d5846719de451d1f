#pragma once

#include <string>
#include <vector>

#include "platform/MessagePopup.h"
#include "toolkit/Geometry.h"

// A debugging aid: shows "X: x  Y: y / Width: width  Height: height" under the title.
void MessagePopup(GRectangle const& r, char const* title);

// Makes MessagePopup and MessageYesNoPopup show drawn modal alerts centred on the editor:
// the text, the caption as explanation, and "OK", or "Yes" (default, Return) and "No"
// (Escape). Off the loop's thread, or while no surface of ours is open, they never block:
// the text goes to standard error and a question answers "No".
void InstallToolkitAlerts();

// The text cut into lines no wider than width at that size (words kept whole where they fit).
std::vector<std::string> WrapText(char const* text, double size, double width);
