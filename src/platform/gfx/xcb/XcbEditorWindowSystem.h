#pragma once

#include "platform/gfx/EditorWindowSystem.h"

// The X11 window system of editors: host windows are X window ids, and one xcb connection
// serves every editor of the process (opened by the first, closed with the last).
EditorWindowSystem& XcbEditorWindowSystem();
