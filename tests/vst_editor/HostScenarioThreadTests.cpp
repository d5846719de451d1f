// The table of host scenarios through the VST editor loader: the dispatcher's editor opcodes and
// effClose, called from the threads each row names.

#include <gtest/gtest.h>

#include "vst_editor/ScenarioSynth.h"

namespace
{
using vstscenarios::ScenarioSynth;
using vstscenarios::VstDriver;

class VstEditorThreadScenarios : public ::testing::Test
{
protected:
    scenarios::Stage stage;
    VstDriver driver{stage.windows};
};
} // namespace

scenarios::Binding scenarios::Bind(void* handle)
{
    EditedPlugin const edited = EditedVstPlugin(handle);
    auto* synth = static_cast<ScenarioSynth*>(static_cast<VstBase*>(edited.plugin));
    return Binding{edited, synth != nullptr ? &synth->gain : nullptr};
}

TEST_F(VstEditorThreadScenarios, OpenIdleAndCloseFromTheHostsThreads)
{
    scenarios::RunThreadRows(stage, driver);
}

TEST_F(VstEditorThreadScenarios, InstanceClosedFromAnotherThreadWhateverRunsOnTheEditorsThread)
{
    scenarios::RunCloseRows(stage, driver, scenarios::First::Nothing);
}

TEST_F(VstEditorThreadScenarios, InstanceClosedFromAnotherThreadWhileTheEditorsThreadIsBlockedOutsideIt)
{
    scenarios::RunClose(stage, driver, scenarios::Nest::Blocked, scenarios::First::Nothing);
}

TEST_F(VstEditorThreadScenarios, HostWindowDestroyedThenInstanceClosedFromAnotherThread)
{
    scenarios::RunCloseRows(stage, driver, scenarios::First::WindowGone);
}

TEST_F(VstEditorThreadScenarios, ConnectionLostThenInstanceClosedFromAnotherThread)
{
    scenarios::RunCloseRows(stage, driver, scenarios::First::ConnectionLost);
}

TEST_F(VstEditorThreadScenarios, InstanceClosedFromAnotherThreadWhileAnotherEditorsDialogRuns)
{
    scenarios::RunCloseBesideAnotherEditorsDialog(stage, driver);
}

TEST_F(VstEditorThreadScenarios, TwoInstancesOnOneHostThreadOneDialogOneMenuOpen)
{
    scenarios::RunTwoInstancesOnOneThread(stage, driver);
}

TEST_F(VstEditorThreadScenarios, SplitHostThreadsDialogLeftOpenByAThreadThatExited)
{
    scenarios::RunSplitHostWithADialogOpen(stage, driver);
}
