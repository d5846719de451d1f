#include "vst/editor/VstGUILoader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/xcb/XcbBackend.h"
#include "toolkit/EffectGUIBase.h"
#include "toolkit/Window.h"

namespace
{
// The X11 window system: host windows are X window ids.
class X11WindowSystem : public EditorWindowSystem
{
public:
    gfx::Backend* Acquire() override
    {
        gfx::XcbBackend* backend = gfx::XcbBackend::Acquire();
        if (backend != nullptr && open++ == 0) gfx::RunLoop::SetBackend(backend);
        return backend;
    }
    void Release() override
    {
        if (open > 0 && --open == 0)
        {
            gfx::RunLoop::SetBackend(nullptr);
            gfx::RunLoop::ResumeNested();
        }
        gfx::XcbBackend::Release();
    }
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

private:
    int open = 0; // editor thread only
};

std::atomic<EditorWindowSystem*> replacement{nullptr};

EditorWindowSystem& CurrentSystem()
{
    static X11WindowSystem x11;
    EditorWindowSystem* other = replacement.load();
    return other != nullptr ? *other : x11;
}

// The instances with a loader, for editor roots of plug-ins that install no lookup of their own.
std::mutex loadersMutex;
std::vector<std::pair<AudioEffect*, VstBase*>>& Loaded()
{
    static std::vector<std::pair<AudioEffect*, VstBase*>> loaded;
    return loaded;
}

EditedPlugin LookUpLoaded(void* handle)
{
    std::lock_guard<std::mutex> lock(loadersMutex);
    for (auto const& [effect, base] : Loaded())
        if (effect == handle) return EditedPlugin{base, nullptr};
    return EditedPlugin{};
}

// A close handed to the loop's thread by another one.
struct CloseWait
{
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    bool abandoned = false;
};
} // namespace

EditorWindowSystem* SetEditorWindowSystem(EditorWindowSystem* system)
{
    return replacement.exchange(system);
}

// What one open editor holds: our child window's surface, the root window over it, the editor
// root and the window system it came from. Shared with a close that runs later or elsewhere.
struct VstGUILoader::Session
{
    EditorWindowSystem* system = nullptr;
    std::unique_ptr<gfx::Surface> surface;
    std::shared_ptr<Window> root;
    EffectGUIBase* editor = nullptr;
    bool loopAcquired = false;

    // Editor thread, outside every handler (or deferred until then).
    void Dispose()
    {
        if (editor != nullptr)
        {
            editor->Detach();
            delete editor;
            editor = nullptr;
        }
        root.reset();
        surface.reset();
        if (loopAcquired) gfx::RunLoop::Release();
        loopAcquired = false;
        if (system != nullptr) system->Release();
        system = nullptr;
    }
};

VstGUILoader::VstGUILoader(VstBase* p) : AEffEditor(p), plugin(p)
{
    std::lock_guard<std::mutex> lock(loadersMutex);
    Loaded().emplace_back(static_cast<AudioEffect*>(p), p);
}

VstGUILoader::~VstGUILoader()
{
    close();
    // A root built by Init and never opened is attached to nothing.
    delete editor;
    editor = nullptr;
    std::lock_guard<std::mutex> lock(loadersMutex);
    auto& loaded = Loaded();
    loaded.erase(std::remove_if(loaded.begin(), loaded.end(),
                                [this](auto const& entry) { return entry.second == plugin; }),
                 loaded.end());
}

void VstGUILoader::Init()
{
    if (EffectGUIBase::GetPluginLookup() == nullptr) EffectGUIBase::SetPluginLookup(&LookUpLoaded);
    editor = CreateGUI(plugin);
    plugin->setEditor(this);
    editor->GetDimensions(width, height);
}

bool VstGUILoader::getRect(ERect** rect)
{
    static ERect shared{};
    static std::once_flag filled;
    std::call_once(filled,
                   [this]
                   {
                       shared.top = 0;
                       shared.left = 0;
                       shared.bottom = static_cast<VstInt16>(height);
                       shared.right = static_cast<VstInt16>(width);
                   });
    if (rect != nullptr) *rect = &shared;
    return true;
}

gfx::Surface* VstGUILoader::GetSurface() const
{
    return session ? session->surface.get() : nullptr;
}

bool VstGUILoader::open(void* window)
{
    if (session) close();
    if (window == nullptr) return false;
    EditorWindowSystem& system = CurrentSystem();
    gfx::Backend* backend = system.Acquire();
    if (backend == nullptr) return false;
    auto s = std::make_shared<Session>();
    s->system = &system;
    int hostWidth = 0, hostHeight = 0;
    if (!system.HostWindowSize(window, hostWidth, hostHeight) || !gfx::RunLoop::Acquire())
    {
        s->Dispose();
        return false;
    }
    s->loopAcquired = true;
    if (gfx::RunLoop::Nesting() == 0 && !system.Lost()) gfx::RunLoop::ResumeNested();

    bool built = gfx::RunLoop::GuardHostEntry(
        "opening the editor",
        [&]
        {
            if (editor == nullptr) editor = CreateGUI(plugin);
            s->editor = editor;
            editor->GetDimensions(width, height);
            long const y = std::max(0L, static_cast<long>(hostHeight) - height);
            s->surface = std::make_unique<gfx::Surface>(
                *backend, gfx::SurfaceKind::Embedded,
                gfx::Rect{0, static_cast<int>(y), static_cast<int>(width), static_cast<int>(height)}, window);
            s->root = std::make_shared<Window>();
            s->root->CreateChildWindow(s->surface.get(), width, height, 0, 0);
            editor->CreateUI(s->root.get(), 0, 0);
        });
    if (!built)
    {
        // Nothing stays attached or half built; the next open starts afresh.
        editor = nullptr;
        s->Dispose();
        return false;
    }
    rootWindow = s->root;
    session = std::move(s);
    return true;
}

void VstGUILoader::close()
{
    if (!session) return;
    std::shared_ptr<Session> s = std::move(session);
    editor = nullptr;
    rootWindow.reset();

    if (gfx::RunLoop::MayRun())
    {
        // Inside a nested loop every loop ends; what the handlers still use goes after them.
        if (gfx::RunLoop::Nesting() > 0) gfx::RunLoop::AbandonNested();
        if (s->editor != nullptr) s->editor->Detach();
        gfx::RunLoop::DeferRelease([s] { s->Dispose(); });
        return;
    }

    // The loop belongs to another thread: the close is done there, and waited for a while.
    auto wait = std::make_shared<CloseWait>();
    gfx::RunLoop::Post(
        [s, wait]
        {
            {
                std::lock_guard<std::mutex> lock(wait->mutex);
                if (wait->abandoned) return;
            }
            if (gfx::RunLoop::Nesting() > 0) gfx::RunLoop::AbandonNested();
            if (s->editor != nullptr) s->editor->Detach();
            gfx::RunLoop::DeferRelease([s] { s->Dispose(); });
            std::lock_guard<std::mutex> lock(wait->mutex);
            wait->done = true;
            wait->changed.notify_all();
        });
    gfx::RunLoop::AbandonNested();
    std::unique_lock<std::mutex> lock(wait->mutex);
    if (!wait->changed.wait_for(lock, std::chrono::milliseconds(kCrossThreadCloseMs),
                                [&] { return wait->done; }))
    {
        // The loop's thread never came back: the editor is left as it is rather than deleted
        // under a handler that may still run.
        wait->abandoned = true;
        std::fprintf(stderr, "Torvane: the editor's thread did not answer; the editor is abandoned\n");
    }
}

void VstGUILoader::idle()
{
    // The loop turns while any editor is open on this thread, this loader's or not: a close
    // handed over from another thread waits in it.
    if (!gfx::RunLoop::IsBound() || !gfx::RunLoop::MayRun()) return;
    if (gfx::RunLoop::Abandoned() && gfx::RunLoop::Nesting() == 0 && !CurrentSystem().Lost())
        gfx::RunLoop::ResumeNested();
    gfx::RunLoop::GuardHostEntry("editor idle", [] { gfx::RunLoop::Turn(false); });
}
