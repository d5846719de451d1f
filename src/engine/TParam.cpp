#include "engine/TParam.h"

#include "engine/Torvane.h"
#include "framework/StandardMaths.h"

TParam::~TParam()
{
    RemoveUpdateListener(this);
}

void TParam::Create(Torvane* newOwner, int newLine, int newValue, float min, float max, Parameter::Type type)
{
    owner = newOwner;
    line = newLine;
    valueIndex = newValue;
    Parameter::Create("", owner, Parameter::Internal, min, max, type);
    // The value lives in the line: SetEvent marks a change of it.
    SetTransient(true);
    AddUpdateListener(this);
}

void TParam::CreateBool(Torvane* newOwner, int newLine, int newValue)
{
    owner = newOwner;
    line = newLine;
    valueIndex = newValue;
    Parameter::CreateBool("", nullptr, Parameter::Internal);
    SetTransient(true);
    AddUpdateListener(this);
}

TParam::operator float()
{
    if (owner == nullptr) return Parameter::operator float();
    if (owner->multipleSelectionMode.GetInt() != 1)
        return owner->GetEvent(owner->GetCurrentVoice(), line, valueIndex);
    float const r = owner->MultipleSelectionGetRelativeChange(line, valueIndex);
    return UnNormalise(0.5f + r);
}

float TParam::ControllerGet()
{
    float v = operator float();
    if (GetType() == Discrete) v = Round(v);
    value.store(v, std::memory_order_relaxed);
    return Normalise(v);
}

void TParam::RefreshListeners()
{
    float const v = operator float();
    // By index: a listener may add listeners while being told.
    for (std::size_t i = 0; i < listeners.size(); ++i)
    {
        ParamUpdateListener* l = listeners[i];
        if (l != this) l->ParameterUpdated(v, this);
    }
}

void TParam::ParameterUpdated(float newValue, Parameter*)
{
    if (owner == nullptr) return;
    std::vector<MultipleSelectionBreakpoint>* selection = owner->GetMultipleSelection();
    if (selection == nullptr || selection->empty())
    {
        if (owner->SetEvent(owner->GetCurrentVoice(), line, valueIndex, newValue)) owner->UpdateEventLines();
        return;
    }
    if (owner->multipleSelectionMode.GetInt() != 0)
        owner->MultipleSelectionParameterChange(line, valueIndex, newValue, this);
}
