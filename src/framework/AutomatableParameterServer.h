#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <vector>

#include "framework/Parameter.h"
#include "framework/String.h"

class PluginMutex;

// The host's numbered view of the plug-in's parameters: registration order is
// the host index (hosts store these indices in their projects). Values go to
// and from the host normalised to 0..1. Every change made inside the plug-in
// is reported through AutomatableParameterChangeNotify; a change that came
// from the host is not echoed back.
//
// The host hears of a parameter only when its value changes: the server keeps the
// value the host last heard of (or set) for each index, and a report of that same
// value is dropped, however often the parameter's listeners are told (a load tells
// them twice, a refresh tells them again).
//
// Indices from the host are checked: out of range, a set is ignored, a value
// reads 0 and a name reads empty.
class AutomatableParameterServer
{
public:
    class UpdateListener : public ParamUpdateListener
    {
    public:
        explicit UpdateListener(AutomatableParameterServer* server) : server(server) {}
        // Reports the first host index of `changed`; the value given is not used.
        void ParameterUpdated(float value, Parameter* changed) override;

    private:
        AutomatableParameterServer* server;
    };

    AutomatableParameterServer();
    AutomatableParameterServer(AutomatableParameterServer const&) = delete;
    AutomatableParameterServer& operator=(AutomatableParameterServer const&) = delete;
    virtual ~AutomatableParameterServer();

    // Tell the host that parameter `index` now has this normalised value. Changes reach it through
    // ReportChange: when the server is part of a plug-in whose mutex the changing thread holds, the
    // report waits until that thread releases it (PluginMutex), and later reports of the same
    // index in that hold replace it. SendReport then calls it unless the host already knows the
    // value. Any thread.
    virtual void AutomatableParameterChangeNotify(int index, float normalisedValue) = 0;
    void ReportChange(int index, float normalisedValue);
    void SendReport(int index, float normalisedValue);

    // Appends p under the next index and reports its starting value.
    void AddAutomatableParameter(Parameter* p);
    // The host sets a normalised value; every listener of the parameter but
    // this server hears it.
    void SetAutomatableParameterValue(int index, float value);
    float GetAutomatableParameterValue(int index);
    // "instance : name", or the name alone when the instance name is empty.
    String GetAutomatableParameterName(int index);
    // The same name copied into the host's buffer of `size` bytes, cut to fit
    // and always terminated (nothing is written when size is 0).
    void GetAutomatableParameterName(int index, char* text, std::size_t size);

    int GetNumAutomatableParameters() const { return static_cast<int>(parameters.size()); }
    Parameter* GetAutomatableParameter(int index) const;

private:
    UpdateListener updateListener;
    std::vector<Parameter*> parameters;
    // Per index, the value the host last heard of or set (grown only while the plug-in is built).
    std::deque<std::atomic<float>> known;
    // The plug-in mutex of the plug-in this server is part of (found on the first registration,
    // when the plug-in is built), or null for a server on its own.
    PluginMutex* pluginMutex = nullptr;
    bool pluginLooked = false;
};
