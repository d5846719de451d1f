#include "vst/editor/VstGUILoader.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/gfx/RunLoop.h"
#include "platform/gfx/xcb/XcbEditorWindowSystem.h"
#include "toolkit/BoundParameterController.h"
#include "toolkit/EffectGUIBase.h"

EditorWindowSystem* SetEditorWindowSystem(EditorWindowSystem* system)
{
    return EditorHost::OverrideWindowSystem(system);
}

VstGUILoader::VstGUILoader(VstBase* p) : AEffEditor(p), plugin(p) {}

VstGUILoader::~VstGUILoader()
{
    host.Close();
    // A root built by Init, or kept from a refused open, is attached to nothing.
    EditorHost::Discard(std::unique_ptr<EffectGUIBase>(std::exchange(editor, nullptr)));
}

void VstGUILoader::Init()
{
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

EffectGUIBase* VstGUILoader::GetEditor() const
{
    EffectGUIBase* open = host.Root();
    return open != nullptr ? open : editor;
}

bool VstGUILoader::open(void* window)
{
    if (opening.exchange(true, std::memory_order_acquire)) return false;
    struct Done
    {
        std::atomic<bool>& opening;
        ~Done() { opening.store(false, std::memory_order_release); }
    } const done{opening};
    host.Close();
    if (window == nullptr) return false;
    std::unique_ptr<EffectGUIBase> root(editor);
    editor = nullptr;
    if (!root && !gfx::RunLoop::GuardHostEntry("building the editor", [&] { root.reset(CreateGUI(plugin)); }))
        return false;
    root->GetDimensions(width, height);
    bool const opened =
        host.Open(XcbEditorWindowSystem(), window, root,
                  [](int hostHeight, long h) { return static_cast<int>(std::max(0L, hostHeight - h)); });
    // A root the host did not take waits for the next open.
    editor = root.release();
    return opened;
}

void VstGUILoader::close()
{
    host.Close();
    EndEditorGesture(plugin, nullptr);
}

void VstGUILoader::idle()
{
    // Older hosts call the idle again from inside their display-update callback: that call
    // does nothing. Only the outermost idle on a thread tells the host.
    thread_local int depth = 0;
    thread_local bool telling = false;
    if (telling) return;
    ++depth;
    host.Idle();
    --depth;
    if (depth == 0) EndEditorGesture(plugin, host.Surface());
    if (depth == 0 && plugin->TakeEditorEdits())
    {
        // The user changed what the instance stores (outside the host's parameters, which
        // report through automation): the host marks its project modified. Outside every lock
        // of ours.
        telling = true;
        plugin->updateDisplay();
        telling = false;
    }
}
