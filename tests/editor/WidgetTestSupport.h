#pragma once

#include <memory>
#include <string>
#include <vector>

#include "EditorTestSupport.h"
#include "support/RecordingMessageSink.h"
#include "support/engine/HeadlessHost.h"
#include "toolkit/Responders.h"

// The editor fixture with a page window over the whole surface, a real instrument behind a
// headless host (in the fixture's temporary data home) and a record of message popups.
class WidgetTest : public EditorTest
{
public:
    void SetUp() override
    {
        EditorTest::SetUp();
        // After the toolkit installed its alerts (the first fixture of a process does).
        messageRecord = std::make_unique<RecordingMessageSink>();
        host = std::make_unique<HeadlessHost>();
        page = MakeRoot(767, 638, 0, 0);
        Responders::Clear();
    }

    void TearDown() override
    {
        Responders::Clear();
        page.reset();
        host.reset();
        messageRecord.reset();
        EditorTest::TearDown();
    }

    Torvane& Synth() { return host->Instrument(); }
    // A parameter of the instrument or of its delay effect, by name.
    Parameter* Find(char const* name)
    {
        if (Parameter* p = Synth().FindParameter(name, true)) return p;
        return Synth().GetDelayEffect()->FindParameter(name, true);
    }
    bool Drew(std::string const& text) { return !backend.FindStrings(text).empty(); }

    // The message popups shown since SetUp.
    std::vector<RecordingMessageSink::Message> Messages() const { return messageRecord->Messages(); }

    std::unique_ptr<RecordingMessageSink> messageRecord;
    std::unique_ptr<HeadlessHost> host;
    std::unique_ptr<RecordingWindow> page;
};
