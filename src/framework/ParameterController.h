#pragma once

#include <atomic>
#include <vector>

#include "framework/Parameter.h"

class Window;

// The binding between one control and the parameters it moves. The control
// writes in normalised units through ControllerSetAll and hears changes back
// through ParameterUpdated, except the changes it made itself.
class ParameterController : public ParamUpdateListener
{
public:
    ParameterController() = default;
    ParameterController(ParameterController const&) = delete;
    ParameterController& operator=(ParameterController const&) = delete;
    // Unbinds every bound parameter.
    ~ParameterController() override;

    // Binds p and at once tells this controller its current position.
    void BindParameter(Parameter* p);
    void UnbindParameter(Parameter* p);

    // Moves every bound parameter to position n (1 - n when inverted) without
    // telling this controller; returns the new position.
    float ControllerSetAll(float n);
    // The first bound parameter's normalised value (inverted when set); 0 when unbound.
    float ControllerGet();
    bool HasBoundParameters() const { return !bound.empty(); }

    // The MIDI-learn popup of the first bound parameter, when it offers MIDI learn.
    void ShowMidiLearnPopup(Window* w, long x, long y);

    void SetInvert(bool on) { invert = on; }
    bool GetInvert() const { return invert; }

protected:
    std::vector<Parameter*> bound;
    bool invert = false;
};

// A parameter that stands for another, switchable one: controls bind to the
// bridge once and follow whichever parameter it targets. Every read and write
// through the bridge goes to the current target; the bridge's own value is not
// used. A target must be set (SetBridgeParameter) before any other use.
//
// The bridge keeps its own name for registration only: GetName answers with
// the target's name.
class BridgeParameter : public Parameter, public ParameterController
{
public:
    BridgeParameter() = default;
    ~BridgeParameter() override;

    // Re-points the bridge (p must not be null) and tells the bridge's
    // listeners the new target's stored value.
    void SetBridgeParameter(Parameter* p);
    Parameter* GetBridgeParameter() const { return target.load(std::memory_order_acquire); }

    Type GetType() override;
    bool IsContinuous() override;
    bool IsDiscrete() override;
    operator float() const override;
    // Non-const callers read the target too (kept apart for the const overload).
    operator float();
    float operator=(float v) override;
    float operator=(Parameter const& other) override;
    float Set(float v, ParamUpdateListener* except) override;
    bool GetBool() override;
    void SetBool(bool b) override;
    int GetInt() override;
    Scope GetScope() override;
    char const* GetName() override;
    bool Is(char const* name) override;
    float GetMinValue() override;
    float GetMaxValue() override;
    float GetRange() override;
    bool GetSmallToBig() override;
    void RefreshListeners() override;
    float ControllerSet(float n, ParameterController* controller) override;
    float ControllerGet() override;
    float UnNormalise(float t) override;
    float Normalise(float v) override;

    // Relays a change of the target to the bridge's own listeners.
    void ParameterUpdated(float value, Parameter* changed) override;

private:
    // Tells every own listener but `except` ParameterUpdated(value, this).
    void TellOwnListeners(float value, ParamUpdateListener* except);

    std::atomic<Parameter*> target{nullptr};
};
