#include "framework/AutomatableParameterServer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "framework/PluginBase.h"

namespace
{
// A host's call, and whatever the host does from inside one of the plug-in's calls to it, is
// the host's doing: on the editors' thread, inside the user's input, it is nobody's input.
// Elsewhere (the audio thread above all) nothing is opened.
class HostsOwnDoing
{
public:
    HostsOwnDoing()
    {
        if (EditorInput::Current() != nullptr) nobody.emplace(nullptr);
    }

private:
    std::optional<EditorInput::Scope> nobody;
};
} // namespace

void AutomatableParameterServer::UpdateListener::ParameterUpdated(float, Parameter* changed)
{
    std::vector<Parameter*> const& list = server->parameters;
    for (std::size_t i = 0; i < list.size(); ++i)
    {
        if (list[i] == changed)
        {
            server->ReportChange(static_cast<int>(i), changed->ControllerGet());
            return;
        }
    }
}

AutomatableParameterServer::UserChange::UserChange(AutomatableParameterServer& server)
    : server(server), outer(server.userThread.exchange(std::this_thread::get_id(), std::memory_order_acq_rel))
{
}

AutomatableParameterServer::UserChange::~UserChange()
{
    server.userThread.store(outer, std::memory_order_release);
}

AutomatableParameterServer::AutomatableParameterServer() : updateListener(this) {}

// The parameters are members of the derived plug-in and are gone by now.
AutomatableParameterServer::~AutomatableParameterServer() = default;

bool AutomatableParameterServer::IsUserChange() const
{
    if (userThread.load(std::memory_order_acquire) == std::this_thread::get_id()) return true;
    return IsEditorEdit();
}

bool AutomatableParameterServer::IsEditorEdit() const
{
    // A report queued under the plug-in mutex is sent by the same thread as it lets go of the
    // mutex, still inside the input that made the change.
    return plugin != nullptr && EditorInput::Current() == plugin;
}

int AutomatableParameterServer::HostIndexOf(Parameter const* p) const
{
    auto const it = std::find(parameters.begin(), parameters.end(), p);
    return it != parameters.end() ? static_cast<int>(it - parameters.begin()) : -1;
}

void AutomatableParameterServer::OpenEdit(int index)
{
    if (!editing[static_cast<std::size_t>(index)].exchange(true)) AutomatableParameterBeginEdit(index);
}

void AutomatableParameterServer::CloseEdit(int index)
{
    if (editing[static_cast<std::size_t>(index)].exchange(false)) AutomatableParameterEndEdit(index);
}

void AutomatableParameterServer::CloseEdits()
{
    HostsOwnDoing host;
    for (std::size_t i = 0; i < editing.size(); ++i)
        CloseEdit(static_cast<int>(i));
}

void AutomatableParameterServer::Gesture::Begin(PluginBase* plugin, std::initializer_list<Parameter*> touched)
{
    Begin(plugin, std::vector<Parameter*>(touched));
}

void AutomatableParameterServer::Gesture::Begin(PluginBase* plugin, std::vector<Parameter*> const& touched)
{
    End();
    server = dynamic_cast<AutomatableParameterServer*>(plugin);
    if (server == nullptr) return;
    id = server->gestures.fetch_add(1, std::memory_order_relaxed) + 1;
    // One gesture at a time: one left open (its release never came) ends here.
    if (server->gestureHeld.exchange(id, std::memory_order_acq_rel) != 0) server->CloseEdits();
    HostsOwnDoing host;
    for (Parameter* p : touched)
        if (int const index = server->HostIndexOf(p); index >= 0) server->OpenEdit(index);
}

void AutomatableParameterServer::Gesture::End()
{
    if (server == nullptr) return;
    unsigned long held = id;
    if (server->gestureHeld.compare_exchange_strong(held, 0, std::memory_order_acq_rel)) server->CloseEdits();
    server = nullptr;
}

void AutomatableParameterServer::EndGesture()
{
    gestureHeld.store(0, std::memory_order_release);
    CloseEdits();
}

void AutomatableParameterServer::ReportChange(int index, float normalisedValue)
{
    // Whose change it is is known only now, on the changing thread.
    bool const byUser = IsUserChange();
    if (pluginMutex != nullptr && pluginMutex->Defer(this, index, normalisedValue, byUser)) return;
    SendReport(index, normalisedValue, byUser);
}

void AutomatableParameterServer::SendReport(int index, float normalisedValue, bool byUser)
{
    if (index < 0 || static_cast<std::size_t>(index) >= known.size()) return;
    std::atomic<float>& hostHas = known[static_cast<std::size_t>(index)];
    if (!byUser && ReportsOnlyUserChanges())
    {
        // Not told, yet the host's own: a user who later sets the value it had before is heard.
        hostHas.store(normalisedValue);
        return;
    }
    // Bit for bit: a value the host already has is not sent again.
    float const before = hostHas.exchange(normalisedValue);
    if (std::memcmp(&before, &normalisedValue, sizeof before) == 0) return;
    // The user's edit in the editor is bracketed: within the gesture under way, which ends the
    // bracket, or on its own.
    bool const bracket = byUser && IsEditorEdit();
    HostsOwnDoing host;
    if (bracket) OpenEdit(index);
    AutomatableParameterChangeNotify(index, normalisedValue);
    if (bracket && !GestureHeld()) CloseEdit(index);
}

void AutomatableParameterServer::AddAutomatableParameter(Parameter* p)
{
    if (!pluginLooked)
    {
        // The plug-in registers its parameters once its bases are built, so the whole object is
        // known here; every adapter that joins this server to a PluginBase gets the deferral.
        pluginLooked = true;
        plugin = dynamic_cast<PluginBase*>(this);
        if (plugin != nullptr) pluginMutex = &plugin->GetPluginMutex();
    }
    int const index = static_cast<int>(parameters.size());
    parameters.push_back(p);
    // Nothing known yet: a host that hears every change learns the starting value; one that
    // hears only the user's has it noted as its own.
    known.emplace_back(std::numeric_limits<float>::quiet_NaN());
    editing.emplace_back(false);
    p->AddUpdateListener(&updateListener);
    ReportChange(index, p->ControllerGet());
}

Parameter* AutomatableParameterServer::GetAutomatableParameter(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= parameters.size()) return nullptr;
    return parameters[static_cast<std::size_t>(index)];
}

void AutomatableParameterServer::SetAutomatableParameterValue(int index, float value)
{
    Parameter* p = GetAutomatableParameter(index);
    if (p == nullptr) return;
    HostsOwnDoing host;
    p->Set(p->UnNormalise(value), &updateListener);
    // The host knows the value it set.
    known[static_cast<std::size_t>(index)].store(p->ControllerGet());
}

float AutomatableParameterServer::GetAutomatableParameterValue(int index)
{
    Parameter* p = GetAutomatableParameter(index);
    return p != nullptr ? p->ControllerGet() : 0.0f;
}

String AutomatableParameterServer::GetAutomatableParameterName(int index)
{
    Parameter* p = GetAutomatableParameter(index);
    if (p == nullptr) return String("");
    char const* instance = p->GetInstanceName();
    if (instance[0] == '\0') return String(p->GetName());
    return String::FormatString("%s : %s", instance, p->GetName());
}

void AutomatableParameterServer::GetAutomatableParameterName(int index, char* text, std::size_t size)
{
    if (text == nullptr || size == 0) return;
    String const name = GetAutomatableParameterName(index);
    std::size_t const n = std::min<std::size_t>(static_cast<std::size_t>(name.GetLength()), size - 1);
    std::memcpy(text, static_cast<char const*>(name), n);
    text[n] = '\0';
}
