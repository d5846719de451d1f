#pragma once

// The largest block any render call processes. A host block longer than this is cut into
// pieces of at most kMaxRenderFrames frames; every buffer sized for one block holds this many.
constexpr long kMaxRenderFrames = 8192;
