#include "engine/TClipboard.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>

#include "engine/Torvane.h"

String const TClipboard::BREAKPOINT_SELECTION("BreakpointSelection");

TClipboard Torvane::clipboard;

std::shared_ptr<void> TClipboard::FindData(String const& key, unsigned int& index)
{
    // Another thread may be appending: the (recursive) mutex guards the walk.
    AudioAPI::Lock hold(mutex);
    for (std::size_t i = 0; i < entries.size(); ++i)
    {
        if (entries[i].key == key)
        {
            index = static_cast<unsigned int>(i);
            return entries[i].data;
        }
    }
    index = static_cast<unsigned int>(-1);
    return {};
}

void TClipboard::SetData(String const& key, std::shared_ptr<void> data)
{
    AudioAPI::Lock hold(mutex);
    for (Entry& entry : entries)
    {
        if (entry.key == key)
        {
            entry.data = std::move(data);
            return;
        }
    }
    entries.push_back(Entry{key, std::move(data)});
}

std::shared_ptr<void> TClipboard::LockData(String const& key)
{
    mutex.Claim();
    unsigned int index = 0;
    return FindData(key, index);
}

void TClipboard::ReleaseData(String const&)
{
    mutex.Release();
}

// ---------------------------------------------------------------------------------------------
// The instrument's side

void Torvane::CopySelectionToClipboard(std::vector<MultipleSelectionBreakpoint> const& sel)
{
    clipboard.SetData(TClipboard::BREAKPOINT_SELECTION,
                      std::make_shared<std::vector<MultipleSelectionBreakpoint>>(sel));
}

std::shared_ptr<std::vector<MultipleSelectionBreakpoint>> Torvane::PasteSelectionFromClipboard()
{
    auto pasted = std::make_shared<std::vector<MultipleSelectionBreakpoint>>();
    bool changed = false;
    {
        // The clipboard's mutex first, then the plug-in mutex: always in this order.
        struct ClipboardHold
        {
            ClipboardHold() : data(Torvane::clipboard.LockData(TClipboard::BREAKPOINT_SELECTION)) {}
            ~ClipboardHold() { Torvane::clipboard.ReleaseData(TClipboard::BREAKPOINT_SELECTION); }
            ClipboardHold(ClipboardHold const&) = delete;
            ClipboardHold& operator=(ClipboardHold const&) = delete;
            std::shared_ptr<void> data;
        } held;
        auto* records = static_cast<std::vector<MultipleSelectionBreakpoint>*>(held.data.get());
        if (records != nullptr && !records->empty())
        {
            // The earliest record lands on the edit time; the clipboard keeps the moved times.
            float start = FLT_MAX;
            for (MultipleSelectionBreakpoint const& r : *records)
                start = std::fmin(start, r.time);
            float const shift = editTime - start;
            if (shift != 0.0f && std::isfinite(shift))
            {
                for (MultipleSelectionBreakpoint& r : *records)
                    r.time += shift;
            }

            AudioAPI::Lock hold(GetMutex());
            for (MultipleSelectionBreakpoint const& r : *records)
            {
                if (!std::isfinite(r.time) || r.time < 0.0f) continue;
                Breakpoint* p = CreateEventBreakpoint(r.time, currentVoice, r.line, nullptr, true);
                if (p == nullptr) continue;
                // A record may carry fewer values than the line holds: the rest stay as inserted.
                long const n = std::min(p->numValues, static_cast<long>(r.values.size()));
                for (long i = 0; i < n; ++i)
                    p->values[i] = r.values[static_cast<std::size_t>(i)];
                pasted->push_back(r);
                changed = true;
            }
        }
    }
    if (changed && HasGUI()) RefreshEditingParameters();
    return pasted;
}
