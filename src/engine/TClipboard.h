#pragma once

#include <memory>
#include <vector>

#include "framework/Locks.h"
#include "framework/String.h"

// A small keyed store of shared data behind a recursive lock. The instrument class keeps one
// for the whole process (Torvane::clipboard), so a breakpoint selection copied in one instance
// can be pasted into another.
//
// Lock order: the clipboard's mutex is taken before the plug-in mutex, never while holding it.
class TClipboard
{
public:
    struct Entry
    {
        String key;
        std::shared_ptr<void> data;
    };

    // Key of the copied timeline selection: a shared std::vector<MultipleSelectionBreakpoint>.
    static String const BREAKPOINT_SELECTION;

    TClipboard() = default;
    TClipboard(TClipboard const&) = delete;
    TClipboard& operator=(TClipboard const&) = delete;

    // The data of the first entry with that key and its position; an empty pointer and
    // index = every bit set when there is none.
    std::shared_ptr<void> FindData(String const& key, unsigned int& index);
    // Replaces the data of the entry with that key, or appends a new entry.
    void SetData(String const& key, std::shared_ptr<void> data);
    // Claims the mutex and returns the data of that key (maybe empty). The mutex stays
    // claimed until ReleaseData; every LockData needs its ReleaseData on the same thread.
    std::shared_ptr<void> LockData(String const& key);
    void ReleaseData(String const& key);

    AudioAPI::Mutex& GetMutex() { return mutex; }

private:
    AudioAPI::Mutex mutex;
    std::vector<Entry> entries;
};
