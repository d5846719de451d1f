#pragma once

// Host side of view tests: a headless host window of plain data and a view component instance
// driven through the view selectors, beside a unit opened by the Audio Unit test host.

#include <cstdint>
#include <vector>

#include "authost/AUHost.h"
#include "platform/au/AUHostCalls.h"
#include "platform/au/CarbonView.h"

// A headless host window of width x height with a title bar; its pixels start as `fill`.
struct TestHostWindow
{
    TestHostWindow(int width, int height, int titleBar, std::uint32_t fill = 0xff102030u)
        : pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), fill), events(64)
    {
        record.kind = kHostWindowHeadless;
        record.width = width;
        record.height = height;
        record.titleBarHeight = titleBar;
        record.pixels = pixels.data();
        record.events = events.data();
        record.eventCapacity = static_cast<std::uint32_t>(events.size());
    }
    std::uint32_t Pixel(int x, int y) const { return pixels[static_cast<std::size_t>(y) * record.width + x]; }
    void Queue(std::int32_t type, int x, int y, std::uint32_t button = 1)
    {
        HostWindowEvent e;
        e.type = type;
        e.x = x;
        e.y = y;
        e.button = button;
        events[record.eventCount++] = e;
    }
    void Click(int x, int y)
    {
        Queue(HostWindowEvent::kPress, x, y);
        Queue(HostWindowEvent::kRelease, x, y);
    }

    HostWindowRecord record;
    std::vector<std::uint32_t> pixels;
    std::vector<HostWindowEvent> events;
};

// One view component instance of `entry`.
class TestViewComponent
{
public:
    explicit TestViewComponent(ComponentEntryPoint entry) { record.entry = entry; }
    ~TestViewComponent() { Close(); }
    TestViewComponent(TestViewComponent const&) = delete;
    TestViewComponent& operator=(TestViewComponent const&) = delete;

    OSStatus Open()
    {
        OSStatus const status = OpenAComponent(&record);
        open = status == noErr && record.storage != nullptr;
        return status;
    }
    OSStatus Create(AudioUnit unit, TestHostWindow& window, float x = 0.0f, float y = 0.0f)
    {
        Float32Point const location{x, y};
        Float32Point const size{0.0f, 0.0f};
        return AudioUnitCarbonViewCreate(&record, unit, &window.record, nullptr, &location, &size, &pane);
    }
    OSStatus Idle() { return AudioUnitCarbonViewIdle(&record); }
    OSStatus Close()
    {
        if (!open) return noErr;
        open = false;
        return CloseComponent(&record);
    }
    template <class View> View* Get() const { return static_cast<View*>(record.storage); }
    PaneRef GetPane() const { return pane; }
    ComponentInstance GetInstance() { return &record; }

private:
    ComponentInstanceRecord record;
    PaneRef pane = nullptr;
    bool open = false;
};
