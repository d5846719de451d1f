#include "framework/AutomatableParameterServer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "framework/PluginBase.h"

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

AutomatableParameterServer::AutomatableParameterServer() : updateListener(this) {}

// The parameters are members of the derived plug-in and are gone by now.
AutomatableParameterServer::~AutomatableParameterServer() = default;

void AutomatableParameterServer::ReportChange(int index, float normalisedValue)
{
    if (pluginMutex != nullptr && pluginMutex->Defer(this, index, normalisedValue)) return;
    SendReport(index, normalisedValue);
}

void AutomatableParameterServer::SendReport(int index, float normalisedValue)
{
    if (index < 0 || static_cast<std::size_t>(index) >= known.size()) return;
    // Bit for bit: a value the host already has is not sent again.
    float const before = known[static_cast<std::size_t>(index)].exchange(normalisedValue);
    if (std::memcmp(&before, &normalisedValue, sizeof before) == 0) return;
    AutomatableParameterChangeNotify(index, normalisedValue);
}

void AutomatableParameterServer::AddAutomatableParameter(Parameter* p)
{
    if (!pluginLooked)
    {
        // The plug-in registers its parameters once its bases are built, so the whole object is
        // known here; every adapter that joins this server to a PluginBase gets the deferral.
        pluginLooked = true;
        if (PluginBase* plugin = dynamic_cast<PluginBase*>(this)) pluginMutex = &plugin->GetPluginMutex();
    }
    int const index = static_cast<int>(parameters.size());
    parameters.push_back(p);
    // Nothing known yet: the host learns the starting value.
    known.emplace_back(std::numeric_limits<float>::quiet_NaN());
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
