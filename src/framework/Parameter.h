#pragma once

#include <atomic>
#include <vector>

#include "framework/ModulationMatrix.h"
#include "framework/Notifications.h"

class String;
class Writer;
class Reader;
class Parameter;
class ParameterHost;
class ParameterController;
class MidiLearnManager;
class Window;

// Told synchronously, on the setter's thread, of every change of a parameter it listens to.
class ParamUpdateListener
{
public:
    virtual ~ParamUpdateListener() = default;
    virtual void ParameterUpdated(float value, Parameter* changed) = 0;
};

// One setting of the instrument: a named float value with a range, a type, a scope
// (the list of its host it is registered in), an optional cube-law mapping to and from
// 0..1, change listeners and hooks into MIDI learn.
//
// Setters take no lock. The value, the previous value and the range are atomics, so the
// audio thread may read them while another thread sets them.
class Parameter : public ModulationTarget, public NextBufferListener
{
public:
    enum Type : int
    {
        Continuous = 0,
        Discrete = 1
    };
    enum Scope : int
    {
        Global = 0,
        Internal = 1,
        Private = 2
    };
    enum CurveType : int
    {
        Linear = 0,
        CubeLaw = 1
    };

    // Names and instance names hold at most this many characters; longer ones are cut.
    static constexpr int kMaxNameLength = 255;

    Parameter();
    Parameter(Parameter const&) = delete;
    virtual ~Parameter();

    void Create(char const* name, ParameterHost* host, Scope scope, float min, float max, Type type);
    void CreateBool(char const* name, ParameterHost* host, Scope scope);

    virtual Type GetType();
    virtual bool IsContinuous();
    virtual bool IsDiscrete();
    virtual operator float() const;
    virtual float operator=(float v);
    virtual float operator=(Parameter const& other);
    // Sets v (rounded when discrete, clamped) and tells every listener but `except`.
    // A value that is not finite is refused: nothing changes and nobody is told.
    virtual float Set(float v, ParamUpdateListener* except);
    virtual bool GetBool();
    virtual void SetBool(bool b);
    virtual int GetInt();
    virtual Scope GetScope();
    virtual char const* GetName();
    virtual bool Is(char const* name);
    virtual float GetMinValue();
    virtual float GetMaxValue();
    virtual float GetRange();
    virtual bool GetSmallToBig();
    virtual void RefreshListeners();
    virtual float ControllerSet(float n, ParameterController* controller);
    virtual float ControllerGet();
    virtual float UnNormalise(float t);
    virtual float Normalise(float v);
    void PostRender() override;

    void SetMinMax(float min, float max, bool refresh);
    void SetType(Type type, bool refresh);
    void SetCurveType(CurveType curve);
    void SetInstanceName(char const* name);
    char const* GetInstanceName() const { return instanceName; }
    float GetOldValue() const { return oldValue.load(std::memory_order_relaxed); }
    long GetGlobalNumber() const { return globalNumber; }
    void SetGlobalNumber(long n) { globalNumber = n; }
    ParameterHost* GetHost() const { return host; }
    void SetModulationBypass(bool on) { modulationBypass = on; }
    bool GetModulationBypass() const { return modulationBypass; }
    CurveType GetCurveType() const { return curveType.load(std::memory_order_relaxed); }
    bool GetDeZipping() const { return deZip; }
    // A value the instance does not keep (a view's state, a value read from a timeline at the
    // edit time, a switch of the moment): a change of it is no edit of what the instance
    // stores. Set once, before the parameter is shared.
    void SetTransient(bool on) { transient = on; }
    bool IsTransient() const { return transient; }

    void AddUpdateListener(ParamUpdateListener* l);
    void RemoveUpdateListener(ParamUpdateListener* l);

    void Save(Writer& w);
    void Load(Reader& r);
    String ToString();

    void EnableDeZipping(NextBufferListener* parent, bool on);

    void SetMidiLearnManager(MidiLearnManager* manager) { midiLearn = manager; }
    MidiLearnManager* GetMidiLearnManager() const { return midiLearn; }
    bool MidiLearnEnabled() const { return midiLearn != nullptr; }
    void MidiLearnStart();
    void MidiLearnCancel();
    void MidiLearnRemoveMapping();
    bool MidiLearnIsListening();
    bool MidiLearnMapped();
    void MidiLearnShowPopup(Window* w, long x, long y);

protected:
    // Rounds when discrete and clamps into the range, whichever end is larger.
    float Constrain(float v);
    // The value changed: a user's change in an editor marks the edited instance.
    void Changed();
    // Tells every listener but `except`; the value is re-read before each call.
    void TellListeners(ParamUpdateListener* except);

    char name[kMaxNameLength + 1];
    char instanceName[kMaxNameLength + 1];
    std::atomic<float> value;
    std::atomic<float> oldValue;
    long globalNumber;
    std::atomic<float> max;
    std::atomic<float> min;
    std::atomic<Type> type;
    Scope scope;
    std::atomic<bool> smallToBig;
    bool modulationBypass;
    std::atomic<CurveType> curveType;
    bool deZip;
    ParameterHost* host;
    std::vector<ParamUpdateListener*> listeners;
    MidiLearnManager* midiLearn;
    bool transient = false;
};
