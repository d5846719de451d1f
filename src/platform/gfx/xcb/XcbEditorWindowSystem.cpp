#include "platform/gfx/xcb/XcbEditorWindowSystem.h"

#include <cstdint>

#include "platform/gfx/xcb/XcbBackend.h"

namespace
{
class X11WindowSystem : public EditorWindowSystem
{
public:
    gfx::Backend* Acquire() override { return gfx::XcbBackend::Acquire(); }
    void Release() override { gfx::XcbBackend::Release(); }
    bool HostWindowSize(void* window, int& w, int& h) override
    {
        gfx::XcbBackend* backend = gfx::XcbBackend::Current();
        return backend != nullptr &&
               backend->WindowSize(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window)), w,
                                   h);
    }
    bool Lost() override
    {
        gfx::XcbBackend* backend = gfx::XcbBackend::Current();
        return backend != nullptr && backend->Lost();
    }
};
} // namespace

EditorWindowSystem& XcbEditorWindowSystem()
{
    static auto* system = new X11WindowSystem;
    return *system;
}
