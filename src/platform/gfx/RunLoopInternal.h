#pragma once

// The pieces the loop's files share (RunLoop.cpp: binding, turns, nested loops, abandonment;
// RunLoopStrands.cpp: the editors' strands, their inboxes and serving; RunLoopGrabs.cpp: the
// watch over grabs between the host's calls). Not for use outside them.

#include <functional>
#include <optional>

#include "platform/gfx/Types.h"

namespace gfx
{
class Backend;
class Surface;

namespace loop
{
// An editor's strand and what came to it (RunLoopStrands.cpp).
struct EditorStrand;

// The editor strand the calling code runs on.
EditorStrand* CurrentStrand();
// A nested loop on an editor's strand: its work until `finished`, yielding whenever there is
// none (until `deadline`, when one is given).
void WaitOnStrand(EditorStrand& s, std::function<bool()> const& finished, std::optional<TimePoint> deadline);
// Input read by a turn: handed to its editor's strand, or dispatched here when it has none.
void Deliver(InputEvent const& event);
// Every strand waiting on this thread looks at its conditions again (ends, timers, posted work
// may have met them).
void ServeWaiting();
// The input queued for a surface that goes leaves every strand's inbox.
void DropInput(Surface const* surface);
// Some strand waiting on this thread has work queued.
bool AnyInbox();
// The soonest end of a RunFor waiting on a strand of this thread.
std::optional<TimePoint> StrandDeadline();
// A strand waits on another thread that is still running (the binding may not move).
bool StrandWaitsElsewhere();

// The grab watch forgets a back end that is being replaced (RunLoopGrabs.cpp).
void ForgetGrabs(Backend* next);
} // namespace loop
} // namespace gfx
