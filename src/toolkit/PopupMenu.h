#pragma once

#include "platform/CascadeList.h"

class Window;

// Shows the list as a drawn popup menu at (x, y) of the window (a screen point when the
// window is null): one popup surface per open level, the pointer grabbed. Hovering an entry
// that opens a sub-list opens it; a click (or a release after a drag) on an entry chooses it;
// Escape, a click outside or a refused grab dismiss the menu (null). Levels stay inside the
// screen, flipped left or up; a level taller than the screen scrolls (arrow keys, or the
// pointer at its top or bottom edge). When the tree changes while the menu is open (a timer
// cleared it), the menu closes and gives null.
CascadeList::Item* RunPopupMenu(CascadeList& list, Window* parent, long x, long y);

// Makes every CascadeList::DoPopup run the menu above.
void InstallToolkitMenus();
