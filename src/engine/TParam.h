#pragma once

#include "framework/Parameter.h"

class Torvane;

// A control's view of one value of one timeline line of the instrument's current layer at the
// edit time: reading asks the line, setting writes a breakpoint value there (or changes the
// multiple selection). Its own stored value is only what its control last read or wrote.
class TParam : public Parameter, public ParamUpdateListener
{
public:
    using Parameter::operator=;
    // The stored value (what the control last read or wrote).
    using Parameter::operator float;

    TParam() = default;
    ~TParam() override;

    // Registers with the owner's parameter host (internal scope; none when owner is null) and
    // listens to itself.
    void Create(Torvane* owner, int line, int value, float min, float max, Parameter::Type type);
    void CreateBool(Torvane* owner, int line, int value);

    // The line's value at the edit time; in relative selection mode the middle of the range
    // moved by the selection's relative change.
    operator float();
    float ControllerGet() override;
    // Tells every listener but itself the line's value.
    void RefreshListeners() override;
    // The TParam was set: write the value into the line (or the selection).
    void ParameterUpdated(float value, Parameter* changed) override;

    int GetLine() const { return line; }
    int GetValueIndex() const { return valueIndex; }
    Torvane* GetOwner() const { return owner; }

private:
    Torvane* owner = nullptr;
    int line = 0;
    int valueIndex = 0;
};
