#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "framework/Locks.h"
#include "framework/PluginEditor.h"

// An editor that counts every call and keeps their order. It belongs to the thread that built
// it: a call from any other thread, or while the watched plug-in mutex is held by the calling
// thread, counts as a violation (the plug-in must never call its editor that way).
template <class Interface> class RecordingEditorBase : public Interface
{
public:
    std::atomic<int> notificationQueueChanged{0};
    std::atomic<int> updateAll{0};
    std::atomic<int> updateSpecific{0};
    // Calls off the editor's thread or under the watched mutex.
    std::atomic<int> violations{0};

    // The plug-in mutex that must not be held during a call.
    void Watch(AudioAPI::Mutex* mutex) { watched.store(mutex); }

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

protected:
    void Record(std::atomic<int>& counter, std::string call)
    {
        AudioAPI::Mutex* const m = watched.load();
        if (std::this_thread::get_id() != home || (m != nullptr && m->HeldByCurrentThread()))
            violations.fetch_add(1);
        counter.fetch_add(1);
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(std::move(call));
    }

private:
    std::thread::id const home = std::this_thread::get_id();
    std::atomic<AudioAPI::Mutex*> watched{nullptr};
    mutable std::mutex mutex;
    std::vector<std::string> calls;
    std::vector<std::shared_ptr<void>> specificData;
};

using RecordingPluginEditor = RecordingEditorBase<PluginEditor>;
