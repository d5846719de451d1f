#pragma once

#include <atomic>

#include "engine/InstrumentEditor.h"
#include "support/RecordingEditor.h"

// The instrument's editor as a recorder: every request the instrument's drain applies is
// counted and kept in order (see RecordingEditorBase for the thread checks).
class RecordingInstrumentEditor : public RecordingEditorBase<InstrumentEditor>
{
public:
    std::atomic<int> patchLoaded{0};
    std::atomic<int> updatePatchName{0};
    std::atomic<int> updateEventLines{0};
    std::atomic<int> updateSnapLabel{0};
    std::atomic<int> updatedEditTime{0};
    std::atomic<int> deselectBreakpoints{0};

    void PatchLoaded() override { Record(patchLoaded, "PatchLoaded"); }
    void UpdatePatchName() override { Record(updatePatchName, "UpdatePatchName"); }
    void UpdateEventLines() override { Record(updateEventLines, "UpdateEventLines"); }
    void UpdateSnapLabel() override { Record(updateSnapLabel, "UpdateSnapLabel"); }
    void UpdatedEditTime() override { Record(updatedEditTime, "UpdatedEditTime"); }
    void DeselectBreakpoints() override { Record(deselectBreakpoints, "DeselectBreakpoints"); }
};
