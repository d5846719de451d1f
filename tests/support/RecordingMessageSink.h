#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MessagePopup.h"

// Captures message popups while it lives and answers questions with `answer`.
// Installs itself on construction and puts the previous sink back on destruction.
class RecordingMessageSink
{
public:
    struct Message
    {
        std::string text;
        std::string caption;
        bool question;
    };

    explicit RecordingMessageSink(bool answer = false) : sink(std::make_shared<Sink>(answer))
    {
        previous = SetMessageSink(sink);
    }
    ~RecordingMessageSink() { SetMessageSink(previous); }
    RecordingMessageSink(RecordingMessageSink const&) = delete;
    RecordingMessageSink& operator=(RecordingMessageSink const&) = delete;

    void SetAnswer(bool answer) { sink->answer = answer; }
    std::vector<Message> Messages() const
    {
        std::lock_guard<std::mutex> lock(sink->mutex);
        return sink->messages;
    }

private:
    struct Sink : MessageSink
    {
        explicit Sink(bool a) : answer(a) {}
        void Show(char const* text, char const* caption) override { Add(text, caption, false); }
        bool AskYesNo(char const* text, char const* caption) override
        {
            Add(text, caption, true);
            return answer;
        }
        void Add(char const* text, char const* caption, bool question)
        {
            std::lock_guard<std::mutex> lock(mutex);
            messages.push_back({text, caption, question});
        }
        std::atomic<bool> answer;
        mutable std::mutex mutex;
        std::vector<Message> messages;
    };

    std::shared_ptr<Sink> sink;
    std::shared_ptr<MessageSink> previous;
};
