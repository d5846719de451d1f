#pragma once

// The platform base of the instrument layer, chosen per deliverable: the VST plug-in builds
// the instrument on the VST adapter's instrument base; an Audio Unit build defines
// TORVANE_AU and picks its own base here.
#ifndef TORVANE_AU
#include "vst/VstInstrumentBase.h"
using InstrumentPlatformBase = VstInstrumentBase;
#endif
