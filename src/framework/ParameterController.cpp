#include "framework/ParameterController.h"

#include <algorithm>

ParameterController::~ParameterController()
{
    for (Parameter* p : bound)
        p->RemoveUpdateListener(this);
}

void ParameterController::BindParameter(Parameter* p)
{
    bound.push_back(p);
    p->AddUpdateListener(this);
    // A freshly bound control shows its position at once.
    ParameterUpdated(ControllerGet(), p);
}

void ParameterController::UnbindParameter(Parameter* p)
{
    auto it = std::find(bound.begin(), bound.end(), p);
    if (it == bound.end()) return;
    p->RemoveUpdateListener(this);
    bound.erase(it);
}

float ParameterController::ControllerSetAll(float n)
{
    float const m = invert ? 1.0f - n : n;
    for (Parameter* p : bound)
        p->ControllerSet(m, this);
    return ControllerGet();
}

float ParameterController::ControllerGet()
{
    if (bound.empty()) return 0.0f;
    float const n = bound.front()->ControllerGet();
    return invert ? 1.0f - n : n;
}

void ParameterController::ShowMidiLearnPopup(Window* w, long x, long y)
{
    if (bound.empty() || !bound.front()->MidiLearnEnabled()) return;
    bound.front()->MidiLearnShowPopup(w, x, y);
}

BridgeParameter::~BridgeParameter()
{
    if (Parameter* t = GetBridgeParameter()) t->RemoveUpdateListener(static_cast<ParameterController*>(this));
}

void BridgeParameter::SetBridgeParameter(Parameter* p)
{
    if (p == nullptr) return;
    ParamUpdateListener* relay = static_cast<ParameterController*>(this);
    if (Parameter* old = GetBridgeParameter()) old->RemoveUpdateListener(relay);
    target.store(p, std::memory_order_release);
    p->AddUpdateListener(relay);
    TellOwnListeners(static_cast<float>(*p), nullptr);
}

void BridgeParameter::TellOwnListeners(float value, ParamUpdateListener* except)
{
    // By index: a listener may add listeners while being told.
    for (std::size_t i = 0; i < listeners.size(); ++i)
    {
        ParamUpdateListener* l = listeners[i];
        if (l != except) l->ParameterUpdated(value, this);
    }
}

void BridgeParameter::ParameterUpdated(float value, Parameter* changed)
{
    if (changed == GetBridgeParameter()) TellOwnListeners(value, nullptr);
}

Parameter::Type BridgeParameter::GetType()
{
    return GetBridgeParameter()->GetType();
}
bool BridgeParameter::IsContinuous()
{
    return GetBridgeParameter()->IsContinuous();
}
bool BridgeParameter::IsDiscrete()
{
    return GetBridgeParameter()->IsDiscrete();
}
BridgeParameter::operator float() const
{
    return static_cast<float>(*GetBridgeParameter());
}
BridgeParameter::operator float()
{
    return static_cast<float>(*GetBridgeParameter());
}
bool BridgeParameter::GetBool()
{
    return GetBridgeParameter()->GetBool();
}
int BridgeParameter::GetInt()
{
    return GetBridgeParameter()->GetInt();
}
Parameter::Scope BridgeParameter::GetScope()
{
    return GetBridgeParameter()->GetScope();
}
char const* BridgeParameter::GetName()
{
    return GetBridgeParameter()->GetName();
}
bool BridgeParameter::Is(char const* text)
{
    return GetBridgeParameter()->Is(text);
}
float BridgeParameter::GetMinValue()
{
    return GetBridgeParameter()->GetMinValue();
}
float BridgeParameter::GetMaxValue()
{
    return GetBridgeParameter()->GetMaxValue();
}
float BridgeParameter::GetRange()
{
    return GetBridgeParameter()->GetRange();
}
bool BridgeParameter::GetSmallToBig()
{
    return GetBridgeParameter()->GetSmallToBig();
}
void BridgeParameter::RefreshListeners()
{
    GetBridgeParameter()->RefreshListeners();
}
float BridgeParameter::ControllerGet()
{
    return GetBridgeParameter()->ControllerGet();
}
float BridgeParameter::UnNormalise(float t)
{
    return GetBridgeParameter()->UnNormalise(t);
}
float BridgeParameter::Normalise(float v)
{
    return GetBridgeParameter()->Normalise(v);
}

float BridgeParameter::operator=(float v)
{
    // The target tells all its listeners, the relay among them; the bridge's
    // own listeners then hear the value once more.
    float const r = (*GetBridgeParameter() = v);
    TellOwnListeners(r, nullptr);
    return r;
}

float BridgeParameter::operator=(Parameter const& other)
{
    return Set(static_cast<float>(other), nullptr);
}

float BridgeParameter::Set(float v, ParamUpdateListener* except)
{
    // The target tells its listeners but the relay; the bridge then tells its
    // own listeners but the author.
    float const r = GetBridgeParameter()->Set(v, static_cast<ParameterController*>(this));
    TellOwnListeners(r, except);
    return r;
}

void BridgeParameter::SetBool(bool b)
{
    GetBridgeParameter()->SetBool(b);
    TellOwnListeners(b ? 1.0f : 0.0f, nullptr);
}

float BridgeParameter::ControllerSet(float n, ParameterController* controller)
{
    Parameter* t = GetBridgeParameter();
    float const r = t->ControllerSet(n, this);
    TellOwnListeners(static_cast<float>(*t), controller);
    return r;
}
