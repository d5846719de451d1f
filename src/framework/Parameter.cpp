#include "framework/Parameter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "framework/MidiLearn.h"
#include "framework/ParameterController.h"
#include "framework/ParameterHost.h"
#include "framework/PluginBase.h"
#include "framework/StandardMaths.h"
#include "framework/Streams.h"
#include "framework/String.h"
#include "platform/CascadeList.h"

namespace
{
// Copies at most Parameter::kMaxNameLength characters and always terminates.
void CopyName(char* dst, char const* src)
{
    if (!src) src = "";
    size_t n = strnlen(src, Parameter::kMaxNameLength);
    memcpy(dst, src, n);
    dst[n] = 0;
}

// The f32 nearest 1/3, applied in double precision.
constexpr double kCubeRootExponent = 0.3333333432674408;

// Floats this large are whole numbers already; rounding them through a 32-bit integer
// would overflow.
constexpr float kRoundLimit = 2147483648.0f;

enum PopupChoice : long
{
    kLearn = 0,
    kCancelLearn = 1,
    kDisconnect = 2
};
} // namespace

Parameter::Parameter()
    : ModulationTarget(1), value(0.0f), oldValue(0.0f), globalNumber(0), max(0.0f), min(0.0f),
      type(Continuous), scope(Global), smallToBig(true), modulationBypass(false), curveType(Linear),
      deZip(false), host(nullptr), midiLearn(nullptr)
{
    name[0] = 0;
    instanceName[0] = 0;
}

Parameter::~Parameter() = default;

void Parameter::Create(char const* newName, ParameterHost* newHost, Scope newScope, float newMin,
                       float newMax, Type newType)
{
    min.store(newMin, std::memory_order_relaxed);
    max.store(newMax, std::memory_order_relaxed);
    type.store(newType, std::memory_order_relaxed);
    scope = newScope;
    CopyName(name, newName);
    value.store(newMin, std::memory_order_relaxed);
    oldValue.store(newMin, std::memory_order_relaxed);
    smallToBig.store(newMax >= newMin, std::memory_order_relaxed);
    if (newHost) newHost->AddParameter(this);
    host = newHost;
}

void Parameter::CreateBool(char const* newName, ParameterHost* newHost, Scope newScope)
{
    Create(newName, newHost, newScope, 0.0f, 1.0f, Discrete);
}

Parameter::Type Parameter::GetType()
{
    return type.load(std::memory_order_relaxed);
}

bool Parameter::IsContinuous()
{
    return GetType() == Continuous;
}

bool Parameter::IsDiscrete()
{
    return GetType() == Discrete;
}

Parameter::operator float() const
{
    float v = value.load(std::memory_order_relaxed);
    if (!modulationBypass)
    {
        ModulationValues const* mod = GetModValues(0);
        if (mod->active) v = v * mod->values[0];
    }
    return v;
}

float Parameter::operator=(float v)
{
    return Set(v, nullptr);
}

float Parameter::operator=(Parameter const& other)
{
    return Set(static_cast<float>(other), nullptr);
}

float Parameter::Constrain(float v)
{
    if (type.load(std::memory_order_relaxed) == Discrete && std::fabs(v) < kRoundLimit) v = Round(v);
    float lo = min.load(std::memory_order_relaxed);
    float hi = max.load(std::memory_order_relaxed);
    if (smallToBig.load(std::memory_order_relaxed))
    {
        v = std::min(hi, v);
        if (lo > v) v = lo;
    }
    else
    {
        // A range created upside down: max is the lower end.
        v = std::max(hi, v);
        v = std::min(lo, v);
    }
    return v;
}

void Parameter::Changed()
{
    // Any thread, no lock, no allocation: only the user's input in an editor marks anything.
    if (!transient) EditorInput::MarkEdited();
}

void Parameter::TellListeners(ParamUpdateListener* except)
{
    // Indexed, so a listener that registers or removes listeners does not invalidate the walk.
    for (size_t i = 0; i < listeners.size(); ++i)
    {
        ParamUpdateListener* l = listeners[i];
        if (l != except) l->ParameterUpdated(value.load(std::memory_order_relaxed), this);
    }
}

float Parameter::Set(float v, ParamUpdateListener* except)
{
    // Hosts, files and MIDI can deliver NaN or infinity; such a value never gets stored.
    if (!std::isfinite(v)) return value.load(std::memory_order_relaxed);
    v = Constrain(v);
    float const before = value.load(std::memory_order_relaxed);
    oldValue.store(before, std::memory_order_relaxed);
    value.store(v, std::memory_order_relaxed);
    if (v != before) Changed();
    TellListeners(except);
    return value.load(std::memory_order_relaxed);
}

bool Parameter::GetBool()
{
    return value.load(std::memory_order_relaxed) >= 0.5f;
}

void Parameter::SetBool(bool b)
{
    float const before = value.load(std::memory_order_relaxed);
    oldValue.store(before, std::memory_order_relaxed);
    value.store(b ? 1.0f : 0.0f, std::memory_order_relaxed);
    if ((b ? 1.0f : 0.0f) != before) Changed();
    TellListeners(nullptr);
}

int Parameter::GetInt()
{
    return static_cast<int>(static_cast<float>(*this));
}

Parameter::Scope Parameter::GetScope()
{
    return scope;
}

char const* Parameter::GetName()
{
    return name;
}

bool Parameter::Is(char const* text)
{
    return text && strcmp(GetName(), text) == 0;
}

float Parameter::GetMinValue()
{
    return min.load(std::memory_order_relaxed);
}

float Parameter::GetMaxValue()
{
    return max.load(std::memory_order_relaxed);
}

float Parameter::GetRange()
{
    return max.load(std::memory_order_relaxed) - min.load(std::memory_order_relaxed);
}

bool Parameter::GetSmallToBig()
{
    return smallToBig.load(std::memory_order_relaxed);
}

void Parameter::RefreshListeners()
{
    TellListeners(nullptr);
}

float Parameter::ControllerSet(float n, ParameterController* controller)
{
    float v = UnNormalise(n);
    if (!std::isfinite(v)) return ControllerGet();
    v = Constrain(v);
    if (v == value.load(std::memory_order_relaxed)) return ControllerGet();
    // The previous value stays: a control's move is not a block-to-block change.
    value.store(v, std::memory_order_relaxed);
    Changed();
    TellListeners(controller);
    return ControllerGet();
}

float Parameter::ControllerGet()
{
    return Normalise(static_cast<float>(*this));
}

float Parameter::UnNormalise(float t)
{
    float lo = min.load(std::memory_order_relaxed);
    float r = max.load(std::memory_order_relaxed) - lo;
    if (curveType.load(std::memory_order_relaxed) == CubeLaw) return lo + r * t * t * t;
    return lo + r * t;
}

float Parameter::Normalise(float v)
{
    float lo = min.load(std::memory_order_relaxed);
    float r = max.load(std::memory_order_relaxed) - lo;
    float t = (v - lo) / r;
    if (curveType.load(std::memory_order_relaxed) == CubeLaw)
        return static_cast<float>(std::pow(static_cast<double>(t), kCubeRootExponent));
    return t;
}

void Parameter::PostRender()
{
    oldValue.store(value.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

void Parameter::SetMinMax(float newMin, float newMax, bool refresh)
{
    min.store(newMin, std::memory_order_relaxed);
    max.store(newMax, std::memory_order_relaxed);
    value.store(newMin, std::memory_order_relaxed);
    smallToBig.store(newMax >= newMin, std::memory_order_relaxed);
    if (refresh) RefreshListeners();
}

void Parameter::SetType(Type newType, bool refresh)
{
    type.store(newType, std::memory_order_relaxed);
    if (refresh) RefreshListeners();
}

void Parameter::SetCurveType(CurveType curve)
{
    curveType.store(curve, std::memory_order_relaxed);
}

void Parameter::SetInstanceName(char const* text)
{
    CopyName(instanceName, text);
}

void Parameter::AddUpdateListener(ParamUpdateListener* l)
{
    listeners.push_back(l);
}

void Parameter::RemoveUpdateListener(ParamUpdateListener* l)
{
    for (auto it = listeners.begin(); it != listeners.end(); ++it)
    {
        if (*it == l)
        {
            listeners.erase(it);
            return;
        }
    }
}

void Parameter::Save(Writer& w)
{
    w.Write(value.load(std::memory_order_relaxed));
}

void Parameter::Load(Reader& r)
{
    // A short read leaves v as it was, so the current value is assigned again.
    float v = value.load(std::memory_order_relaxed);
    r.Read(&v);
    operator=(v);
    RefreshListeners();
}

String Parameter::ToString()
{
    return String::FormatString("Name:\t%s\nType:\t%s\nValue:\t%f\n", GetName(),
                                type.load(std::memory_order_relaxed) == Discrete ? "Discrete" : "Continuous",
                                static_cast<double>(value.load(std::memory_order_relaxed)));
}

void Parameter::EnableDeZipping(NextBufferListener* parent, bool on)
{
    deZip = on;
    oldValue.store(value.load(std::memory_order_relaxed), std::memory_order_relaxed);
    NextBufferListener* self = this;
    if (on)
        parent->AddListener(self);
    else
        parent->RemoveListener(self);
}

void Parameter::MidiLearnStart()
{
    if (midiLearn) midiLearn->StartListen(this);
}

void Parameter::MidiLearnCancel()
{
    if (midiLearn) midiLearn->CancelListen(this);
}

void Parameter::MidiLearnRemoveMapping()
{
    if (midiLearn) midiLearn->UnmapParameter(this);
}

bool Parameter::MidiLearnIsListening()
{
    return midiLearn && midiLearn->IsListeningTo(this);
}

bool Parameter::MidiLearnMapped()
{
    return midiLearn && midiLearn->IsMapped(this);
}

void Parameter::MidiLearnShowPopup(Window* w, long x, long y)
{
    if (!midiLearn) return;
    CascadeList list;
    if (MidiLearnIsListening())
        list.AddItem("Cancel MIDI Learn", kCancelLearn, nullptr, false);
    else
        list.AddItem("MIDI Learn (click here, then move MIDI controller to assign it to me)", kLearn, nullptr,
                     false);
    if (MidiLearnMapped())
    {
        list.AddSeparator();
        list.AddItem("Disconnect from MIDI controller", kDisconnect, nullptr, false);
    }
    CascadeList::Item* chosen = list.DoPopup(w, x, y);
    if (!chosen) return;
    switch (chosen->id)
    {
    case kLearn:
        MidiLearnStart();
        break;
    case kCancelLearn:
        MidiLearnCancel();
        break;
    case kDisconnect:
        MidiLearnRemoveMapping();
        break;
    default:
        break;
    }
}
