#include "platform/MessagePopup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "support/RecordingMessageSink.h"

TEST(MessagePopupTests, RecordingSinkCapturesTextsCaptionsAndAnswers)
{
    RecordingMessageSink capture(true);
    MessagePopup("Error while loading patch. Aborting", "");
    EXPECT_TRUE(MessageYesNoPopup("Reset amplitude graph?", "Confirm"));
    capture.SetAnswer(false);
    EXPECT_FALSE(MessageYesNoPopup("Delete the Preset 'x'?", "Delete Preset"));
    MessagePopup(nullptr, nullptr);

    auto messages = capture.Messages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].text, "Error while loading patch. Aborting");
    EXPECT_EQ(messages[0].caption, "");
    EXPECT_FALSE(messages[0].question);
    EXPECT_EQ(messages[1].caption, "Confirm");
    EXPECT_TRUE(messages[1].question);
    EXPECT_EQ(messages[2].text, "Delete the Preset 'x'?");
    EXPECT_EQ(messages[3].text, "");
}

TEST(MessagePopupTests, NestedSinksRestoreTheOuterOneAndTheDefaultAnswersNo)
{
    {
        RecordingMessageSink outer;
        {
            RecordingMessageSink inner;
            MessagePopup("inner", "c");
            EXPECT_EQ(inner.Messages().size(), 1u);
        }
        MessagePopup("outer", "c");
        ASSERT_EQ(outer.Messages().size(), 1u);
        EXPECT_EQ(outer.Messages()[0].text, "outer");
    }
    testing::internal::CaptureStderr();
    EXPECT_FALSE(MessageYesNoPopup("Reset voice?", "Reset voice"));
    MessagePopup("Automatable Parms OK", "Debug_CheckAutomatableParameters");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Reset voice?"), std::string::npos);
    EXPECT_NE(err.find("Automatable Parms OK"), std::string::npos);
}

namespace
{
struct CountingSink : MessageSink
{
    std::atomic<int> shown{0};
    void Show(char const*, char const*) override { ++shown; }
    bool AskYesNo(char const*, char const*) override { return false; }
};
} // namespace

TEST(MessagePopupTests, SinkCanBeReplacedWhileOtherThreadsShowMessages)
{
    auto a = std::make_shared<CountingSink>();
    auto b = std::make_shared<CountingSink>();
    auto previous = SetMessageSink(a);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(
            []
            {
                for (int i = 0; i < 200; ++i)
                    MessagePopup("m", "c");
            });
    for (int i = 0; i < 200; ++i)
        SetMessageSink(i % 2 ? a : b);
    for (auto& t : threads)
        t.join();
    SetMessageSink(previous);
    EXPECT_EQ(a->shown + b->shown, 800); // every message reached exactly one sink
}
