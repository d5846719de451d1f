#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <initializer_list>
#include <thread>
#include <vector>

#include "framework/Parameter.h"
#include "framework/String.h"

class PluginBase;
class PluginMutex;

// The host's numbered view of the plug-in's parameters: registration order is
// the host index (hosts store these indices in their projects). Values go to
// and from the host normalised to 0..1. Changes made inside the plug-in are
// reported through AutomatableParameterChangeNotify; a change that came from
// the host is not echoed back.
//
// Whose changes the host hears of depends on the adapter (ReportsOnlyUserChanges). A host that
// records automation hears only the user's: a change made while the user's input in this
// plug-in's editor is handled (EditorInput), or by a controller mapped by MIDI learn (applied in a
// UserChange). What the host's own calls cause (a restore, a new sample rate, a value one of its
// parameters pushes on to another), what the plug-in sets while it is built, and what playback and
// timers do are not reported there: the host asks for values when it needs them.
//
// The host hears of a parameter only when its value changes: the server keeps the
// value the host last heard of (or set) for each index, and a report of that same
// value is dropped, however often the parameter's listeners are told (a load tells
// them twice, a refresh tells them again).
//
// Each edit of the user's in the editor reaches the host as one bracket per parameter: a begin,
// the reports as the value moves, an end (AutomatableParameterBeginEdit, ...EndEdit). A gesture
// (a drag, from its press to its release) holds the brackets of every parameter it changes open
// until it ends; outside a gesture (a click, a command) each report is bracketed on its own. A
// bracket is never begun twice, and the brackets of a gesture the editor can no longer end (it
// closed, or hid, under the drag) are closed by EndGesture. Changes by MIDI learn and by the host
// get none. The brackets go out as the reports do: on the changing thread, under no lock.
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

    // While one lives, the changes its thread makes are the user's: the values of controllers
    // mapped by MIDI learn, applied on the audio thread. No lock, no allocation, no thread-local
    // storage. One thread at a time (the holder of the plug-in mutex).
    class UserChange
    {
    public:
        explicit UserChange(AutomatableParameterServer& server);
        ~UserChange();
        UserChange(UserChange const&) = delete;
        UserChange& operator=(UserChange const&) = delete;

    private:
        AutomatableParameterServer& server;
        std::thread::id outer;
    };

    // A gesture of the user's in the editor: a drag of a control, from the press to the release.
    // Begin opens the brackets of the parameters the control is bound to at once (a control may
    // set its value on the press); whatever else the gesture changes (a value one pushes on) is
    // bracketed from its first report. End closes them all; so does the destructor, and a new
    // Begin first ends the gesture before. Editor thread, under no lock.
    class Gesture
    {
    public:
        Gesture() = default;
        ~Gesture() { End(); }
        Gesture(Gesture const&) = delete;
        Gesture& operator=(Gesture const&) = delete;

        // On the server of `plugin` (null, or a plug-in without one: nothing happens).
        void Begin(PluginBase* plugin, std::initializer_list<Parameter*> touched = {});
        void Begin(PluginBase* plugin, std::vector<Parameter*> const& touched);
        // Nothing when it has ended already, or was ended by EndGesture.
        void End();

    private:
        AutomatableParameterServer* server = nullptr;
        unsigned long id = 0;
    };
    // Ends the gesture under way, whoever holds it, and closes every open bracket: the editor
    // closed or hid while the drag went on, so its release may never come. Any thread, no lock.
    void EndGesture();
    // A gesture is under way.
    bool GestureHeld() const { return gestureHeld.load(std::memory_order_acquire) != 0; }

    // The host's bracket around the user's edits of a parameter; the base has none.
    virtual void AutomatableParameterBeginEdit(int) {}
    virtual void AutomatableParameterEndEdit(int) {}

    // Tell the host that parameter `index` now has this normalised value. Changes reach it through
    // ReportChange, which notes whether the change is the user's: when the server is part of a
    // plug-in whose mutex the changing thread holds, the report waits until that thread releases
    // it (PluginMutex), and later reports of the same index in that hold replace it. SendReport
    // then calls it unless the host already knows the value or is not to hear of the change.
    // Any thread.
    virtual void AutomatableParameterChangeNotify(int index, float normalisedValue) = 0;
    void ReportChange(int index, float normalisedValue);
    void SendReport(int index, float normalisedValue, bool byUser);
    // True when the host hears only of the user's changes; the base reports every change.
    virtual bool ReportsOnlyUserChanges() const { return false; }

    // Appends p under the next index and reports its starting value (a change of nobody's:
    // where only the user's are reported, the value is noted as the host's).
    void AddAutomatableParameter(Parameter* p);
    // The host sets a normalised value; every listener of the parameter but
    // this server hears it. What the change causes is the host's doing, not the user's.
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
    // True when the calling thread is making a change of the user's in this plug-in. Any thread,
    // no lock, no allocation.
    bool IsUserChange() const;
    // The change being sent is an edit in this plug-in's editor (not MIDI learn's).
    bool IsEditorEdit() const;
    int HostIndexOf(Parameter const* p) const;
    void OpenEdit(int index);
    void CloseEdit(int index);
    void CloseEdits();

    UpdateListener updateListener;
    std::vector<Parameter*> parameters;
    // Per index, the value the host last heard of, set, or has (a change it is not told of is
    // one it knows of or asks for): grown only while the plug-in is built.
    std::deque<std::atomic<float>> known;
    // Per index, a bracket begun and not yet ended (grown as `known`).
    std::deque<std::atomic<bool>> editing;
    // The gesture under way (its number), or 0.
    std::atomic<unsigned long> gestureHeld{0};
    std::atomic<unsigned long> gestures{0};
    // The plug-in this server is part of and its mutex (found on the first registration, when the
    // plug-in is built), or null for a server on its own.
    PluginBase* plugin = nullptr;
    PluginMutex* pluginMutex = nullptr;
    bool pluginLooked = false;
    // The thread inside a UserChange, or none.
    std::atomic<std::thread::id> userThread{};
};
