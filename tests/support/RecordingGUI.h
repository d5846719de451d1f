#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/GUI.h"
#include "platform/MessagePopup.h"

// An editor root that counts every call (from any thread) and keeps their order.
class RecordingGUI : public GUI
{
public:
    std::atomic<int> notificationQueueChanged{0};
    std::atomic<int> updateAll{0};
    std::atomic<int> updateSpecific{0};
    std::atomic<int> patchLoaded{0};
    std::atomic<int> updatePatchName{0};
    std::atomic<int> updateEventLines{0};
    std::atomic<int> updateSnapLabel{0};
    std::atomic<int> updatedEditTime{0};
    std::atomic<int> deselectBreakpoints{0};

    void NotificationQueueChanged() override { Record(notificationQueueChanged, "NotificationQueueChanged"); }
    void UpdateAll() override { Record(updateAll, "UpdateAll"); }
    void UpdateSpecific(int id, std::shared_ptr<void> data) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            specificData.push_back(std::move(data));
        }
        Record(updateSpecific, "UpdateSpecific " + std::to_string(id));
    }
    void PatchLoaded() override { Record(patchLoaded, "PatchLoaded"); }
    void UpdatePatchName() override { Record(updatePatchName, "UpdatePatchName"); }
    void UpdateEventLines() override { Record(updateEventLines, "UpdateEventLines"); }
    void UpdateSnapLabel() override { Record(updateSnapLabel, "UpdateSnapLabel"); }
    void UpdatedEditTime() override { Record(updatedEditTime, "UpdatedEditTime"); }
    void DeselectBreakpoints() override { Record(deselectBreakpoints, "DeselectBreakpoints"); }

    // The calls in order, e.g. "UpdateAll", "UpdateSpecific 5".
    std::vector<std::string> Calls() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    // The data of every UpdateSpecific call, in order (kept alive here).
    std::vector<std::shared_ptr<void>> SpecificData() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return specificData;
    }

private:
    void Record(std::atomic<int>& counter, std::string call)
    {
        counter.fetch_add(1);
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(std::move(call));
    }

    mutable std::mutex mutex;
    std::vector<std::string> calls;
    std::vector<std::shared_ptr<void>> specificData;
};

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
