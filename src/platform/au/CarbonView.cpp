#include "platform/au/CarbonView.h"

#include <cmath>

namespace
{
constexpr OSStatus paramErr = -50;
constexpr OSStatus errWindowRegionCodeInvalid = -5600;

std::int16_t Clamp16(std::int32_t v)
{
    return static_cast<std::int16_t>(v < 0 ? 0 : (v > 32767 ? 32767 : v));
}
} // namespace

OSStatus SizeControl(PaneRef pane, std::int16_t width, std::int16_t height)
{
    if (pane == nullptr) return paramErr;
    pane->width = width;
    pane->height = height;
    return noErr;
}

OSStatus GetWindowBounds(HostWindowRef window, WindowRegionCode region, CarbonRect* bounds)
{
    if (window == nullptr || bounds == nullptr) return paramErr;
    std::int16_t const right = Clamp16(window->width);
    std::int16_t const bottom = Clamp16(window->height);
    std::int16_t const title = window->kind == kHostWindowX11 ? 0 : Clamp16(window->titleBarHeight);
    switch (region)
    {
    case kWindowTitleBarRgn:
        *bounds = CarbonRect{0, 0, title, right};
        return noErr;
    case kWindowStructureRgn:
        *bounds = CarbonRect{0, 0, bottom, right};
        return noErr;
    case kWindowContentRgn:
        *bounds = CarbonRect{title, 0, bottom, right};
        return noErr;
    }
    return errWindowRegionCodeInvalid;
}

std::int16_t PaneCoordinate(float value)
{
    if (std::isnan(value) || value <= 0.0f) return 0;
    if (value >= 32767.0f) return 32767;
    return static_cast<std::int16_t>(value);
}

AUCarbonViewBase::AUCarbonViewBase(ComponentInstance instance, Float32 interval)
    : ComponentBase(instance), notificationInterval(interval)
{
}

AUCarbonViewBase::~AUCarbonViewBase()
{
    delete pane;
}

OSStatus AUCarbonViewBase::CreateCarbonView(AudioUnit unit, HostWindowRef w, PaneRef,
                                            Float32Point const& location, Float32Point const&,
                                            PaneRef& outPane)
{
    if (unit == nullptr || w == nullptr) return paramErr;
    if (created) return -1;
    // The pane goes to the host only once the view's content stands; a failed create leaves
    // nothing, and the host may create again.
    editUnit = unit;
    window = w;
    pane = new PaneRecord;
    pane->window = w;
    pane->x = PaneCoordinate(location.x);
    pane->y = PaneCoordinate(location.y);
    auto forget = [this]
    {
        delete pane;
        pane = nullptr;
        editUnit = nullptr;
        window = nullptr;
    };
    OSStatus status = noErr;
    try
    {
        status = CreateUI(location.x, location.y);
    }
    catch (...)
    {
        forget();
        throw;
    }
    if (status != noErr)
    {
        forget();
        return status;
    }
    created = true;
    outPane = pane;
    return noErr;
}

OSStatus AUCarbonViewBase::ComponentEntryDispatch(ComponentParameters* params, AUCarbonViewBase* view)
{
    if (params == nullptr) return paramErr;
    if (view == nullptr) return badComponentInstance;
    switch (params->what)
    {
    case kAudioUnitCarbonViewCreateSelect:
    {
        auto const* location = reinterpret_cast<Float32Point const*>(params->params[3]);
        auto const* size = reinterpret_cast<Float32Point const*>(params->params[4]);
        auto* out = reinterpret_cast<PaneRef*>(params->params[5]);
        if (location == nullptr) return paramErr;
        PaneRef made = nullptr;
        OSStatus const status = view->CreateCarbonView(
            reinterpret_cast<AudioUnit>(params->params[0]),
            reinterpret_cast<HostWindowRef>(params->params[1]), reinterpret_cast<PaneRef>(params->params[2]),
            *location, size != nullptr ? *size : Float32Point{}, made);
        if (out != nullptr) *out = made;
        return status;
    }
    case kAudioUnitCarbonViewIdleSelect:
        view->Idle();
        return noErr;
    default:
        return ComponentBase::ComponentEntryDispatch(params, view);
    }
}
