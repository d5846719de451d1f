#pragma once

#include <string>

#include "framework/Streams.h"

// The words that tell the user of a file saved whose folder could not be synced: the file is in
// place, but a power cut soon after may still lose it. `saved` says what was saved ("The patch
// was saved").
std::string FolderNotSyncedText(char const* saved, int error);

// Tells the user what became of a save, in a message with `caption`: when it failed, `failure`
// and the reason; when it was saved but its folder could not be synced, that. Nothing when it was
// saved whole. Returns whether it was saved. Never call it under a lock.
bool ReportSave(SaveOutcome const& outcome, char const* failure, char const* saved, char const* caption);
