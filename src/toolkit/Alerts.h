#pragma once

#include <string>
#include <vector>

#include "platform/MessagePopup.h"
#include "platform/gfx/Text.h"
#include "toolkit/Geometry.h"

// A debugging aid: shows "X: x  Y: y / Width: width  Height: height" under the title.
void MessagePopup(GRectangle const& r, char const* title);

// Makes MessagePopup and MessageYesNoPopup show drawn modal alerts centred on the editor:
// the text, the caption as explanation, and "OK", or "Yes" (default, Return) and "No"
// (Escape). Off the loop's thread, or while no surface of ours is open, they never block:
// the text goes to standard error and a question answers "No".
void InstallToolkitAlerts();

// The text cut into lines no wider than width at that size (words kept whole where they fit,
// a longer word cut between characters), as display text.
std::vector<std::string> WrapText(char const* text, double size, double width);
// The same with the given measure. Each word is measured once and each character of a word too
// wide for a line at most once more, so the work grows with the text's length. Stops once more
// than maxLines lines are made (so a text cut there has maxLines + 1).
std::vector<std::string> WrapText(char const* text, double width, gfx::MeasureFunction const& measure,
                                  std::size_t maxLines = static_cast<std::size_t>(-1));
