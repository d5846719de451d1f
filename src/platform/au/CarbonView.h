#pragma once

// Our own stand-in of the platform's view component: the host window a view is opened in (a
// record of plain C data the host owns), the view's pane in it, and the view base of an Audio
// Unit's editor with its component dispatcher.
//
// The host window is either headless (an ARGB pixel buffer the view presents into and a queue
// of input events the host fills) or an X11 window (its window id). Its coordinates have the
// origin at the top left of the window, title bar included, y downwards.

#include <cstdint>

#include "platform/au/AUBase.h"

enum : std::int32_t
{
    kHostWindowHeadless = 0,
    kHostWindowX11 = 1,
};

// One input event of a headless host window, in window coordinates.
struct HostWindowEvent
{
    enum : std::int32_t
    {
        kPress = 1,
        kRelease = 2,
        kMotion = 3,
        kKey = 4,
    };
    std::int32_t type = 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t button = 0;    // 1 left, 2 right
    std::uint32_t modifiers = 0; // 1 shift, 2 control, 4 option, 8 command
    std::uint32_t key = 0;       // a key that is not text (X keysym), or 0
    char text[8] = {};           // a key's UTF-8 text
};

// The host's window. The host appends events at `eventCount` (below `eventCapacity`); the view
// reads them from `eventRead` on and rewinds both to 0 when it has read them all. Pixels are
// 32-bit premultiplied ARGB, `width` per row.
struct HostWindowRecord
{
    std::int32_t kind = kHostWindowHeadless;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t titleBarHeight = 0;
    // Headless.
    std::uint32_t* pixels = nullptr;
    HostWindowEvent* events = nullptr;
    std::uint32_t eventCapacity = 0;
    std::uint32_t eventCount = 0;
    std::uint32_t eventRead = 0;
    std::uint32_t presents = 0; // how often the view presented into the pixels
    // X11 (the title bar is then 0).
    std::uint32_t x11Window = 0;
};
using HostWindowRef = HostWindowRecord*;

// A control of a host window: the view's pane, in window coordinates.
struct PaneRecord
{
    HostWindowRef window = nullptr;
    std::int16_t x = 0;
    std::int16_t y = 0;
    std::int16_t width = 0;
    std::int16_t height = 0;
};
using PaneRef = PaneRecord*;

struct CarbonRect
{
    std::int16_t top = 0;
    std::int16_t left = 0;
    std::int16_t bottom = 0;
    std::int16_t right = 0;
};

struct Float32Point
{
    Float32 x = 0.0f;
    Float32 y = 0.0f;
};

enum WindowRegionCode : std::uint16_t
{
    kWindowTitleBarRgn = 0,
    kWindowStructureRgn = 32,
    kWindowContentRgn = 33,
};

// Sets the pane's size; a null pane is -50.
OSStatus SizeControl(PaneRef pane, std::int16_t width, std::int16_t height);
// The bounds of a region of the window: the title bar (the top rows), the whole window or the
// content below the title bar. -50 for a null window or rectangle, -5600 for another region.
OSStatus GetWindowBounds(HostWindowRef window, WindowRegionCode region, CarbonRect* bounds);
// A pane coordinate from a float sum: NaN is 0, the rest clamped to 0..32767, then truncated.
std::int16_t PaneCoordinate(float value);

// The view component's selectors (ComponentParameters::what) and their argument words.
enum : std::int16_t
{
    // [0] AudioUnit edited unit, [1] HostWindowRef, [2] PaneRef parent (may be null),
    // [3] Float32Point const* location, [4] Float32Point const* size, [5] PaneRef* out pane
    kAudioUnitCarbonViewCreateSelect = 1,
    // none: one turn of the view's event loop without waiting (the host's idle call).
    kAudioUnitCarbonViewIdleSelect = 0x7f01,
};

// Receives the platform's events for a view; our views get theirs through the idle call.
class CarbonEventHandler
{
public:
    CarbonEventHandler() = default;
    virtual ~CarbonEventHandler() = default;
    CarbonEventHandler(CarbonEventHandler const&) = delete;
    CarbonEventHandler& operator=(CarbonEventHandler const&) = delete;
};

// The base of an Audio Unit's view: the unit it edits, the host window and the view's pane.
// The create selector makes the pane at the host's location and calls CreateUI once; a second
// create is refused. Close deletes the view through its virtual destructor.
class AUCarbonViewBase : public ComponentBase, public CarbonEventHandler
{
public:
    AUCarbonViewBase(ComponentInstance instance, Float32 notificationInterval = 0.1f);
    ~AUCarbonViewBase() override;

    // Records the unit and the window, makes the pane at the location (size 0 until CreateUI
    // sizes it) and calls CreateUI with the location. -50 for a null unit, window or location;
    // -1 when the view was created already. When CreateUI fails (or throws) the view forgets
    // the unit, the window and the pane, hands out no pane, and may be created again.
    OSStatus CreateCarbonView(AudioUnit editUnit, HostWindowRef window, PaneRef parent,
                              Float32Point const& location, Float32Point const& size, PaneRef& outPane);
    // Builds the view's content in the pane; 0 on success.
    virtual OSStatus CreateUI(Float32 /*x*/, Float32 /*y*/) { return noErr; }
    // The host's idle call: one turn of the view's events and timers, never waiting.
    virtual void Idle() {}

    AudioUnit GetEditAudioUnit() const { return editUnit; }
    HostWindowRef GetCarbonWindow() const { return window; }
    PaneRef GetCarbonPane() const { return pane; }
    Float32 GetNotificationInterval() const { return notificationInterval; }

    // Create and idle; close and version through the component base. A null view: -2147450879.
    static OSStatus ComponentEntryDispatch(ComponentParameters* params, AUCarbonViewBase* view);

private:
    Float32 notificationInterval;
    AudioUnit editUnit = nullptr;
    HostWindowRef window = nullptr;
    PaneRef pane = nullptr;
    bool created = false;
};
