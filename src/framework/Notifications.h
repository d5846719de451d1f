#pragma once

// Sources of the host's running conditions (sample rate, tempo, transport) and their listeners,
// and the per-block next-buffer / post-render tree. Sources keep raw pointers to their listeners;
// each listener keeps the last value it was given. Destroying either side unhooks it from the
// other, so neither is left with a dangling pointer.

#include "framework/Events.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

class SampleRateListener;
class TempoListener;
class TransportListener;

class SampleRateSource
{
public:
    SampleRateSource() = default;
    SampleRateSource(const SampleRateSource&) = delete;
    SampleRateSource& operator=(const SampleRateSource&) = delete;
    ~SampleRateSource();

    // Appends l without pushing the current rate: l keeps its own value until the next change.
    // A listener moves here from any other source it was added to.
    void AddSampleRateListener(SampleRateListener* l);
    void RemoveSampleRateListener(SampleRateListener* l);
    // Stores r and tells every listener in order, when r differs from the stored rate.
    void SetSourceSampleRate(float r);
    float GetSourceSampleRate() const { return sampleRate; }

private:
    std::vector<SampleRateListener*> listeners;
    float sampleRate = 44100.0f;
};

class SampleRateListener
{
public:
    SampleRateListener() = default;
    SampleRateListener(const SampleRateListener&) = delete;
    SampleRateListener& operator=(const SampleRateListener&) = delete;
    virtual ~SampleRateListener();

    virtual void SampleRateChanged(float) {}

    // Stores r and calls SampleRateChanged, even when r is unchanged.
    void SetSampleRate(float r);
    float GetSampleRate() const { return sampleRate; }
    SampleRateSource* GetSampleRateSource() const { return source; }

private:
    friend class SampleRateSource;
    SampleRateSource* source = nullptr;
    float sampleRate = 44100.0f;
};

class TempoSource
{
public:
    TempoSource() = default;
    TempoSource(const TempoSource&) = delete;
    TempoSource& operator=(const TempoSource&) = delete;
    ~TempoSource();

    void AddTempoListener(TempoListener* l);
    void RemoveTempoListener(TempoListener* l);
    // When bpm differs from the stored tempo: stores it and tells each listener whose own tempo
    // differs from bpm.
    void SetSourceTempo(float bpm);
    float GetSourceTempo() const { return tempo; }

private:
    std::vector<TempoListener*> listeners;
    float tempo = 120.0f;
};

class TempoListener
{
public:
    TempoListener() = default;
    TempoListener(const TempoListener&) = delete;
    TempoListener& operator=(const TempoListener&) = delete;
    virtual ~TempoListener();

    virtual void TempoChanged(float) {}

    // Stores bpm and calls TempoChanged, only when bpm differs from the stored tempo.
    void _SetTempo(float bpm);
    float GetTempo() const { return tempo; }
    TempoSource* GetTempoSource() const { return source; }

private:
    friend class TempoSource;
    TempoSource* source = nullptr;
    float tempo = 120.0f;
};

struct Tempo
{
    static float NumSamplesPerBeat(float sampleRate, float bpm) { return sampleRate / (bpm / 60.0f); }
    // A bar of four beats.
    static float NumSamplesPer44Bar(float sampleRate, float bpm) { return sampleRate / (bpm / 60.0f) * 4.0f; }
};

class TransportSource
{
public:
    TransportSource() = default;
    TransportSource(const TransportSource&) = delete;
    TransportSource& operator=(const TransportSource&) = delete;
    virtual ~TransportSource();

    // OnTransportPlay of every listener in order, then the play event's handlers.
    virtual void TransportPlay();
    // OnTransportStop of every listener in order, then the stop event's handlers.
    virtual void TransportStop();

    void AddTransportListener(TransportListener* l);
    // Removes every occurrence of l and clears its source.
    void RemoveTransportListener(TransportListener* l);
    std::size_t NumTransportListeners() const { return listeners.size(); }

    Event<void()> playEvent;
    Event<void()> stopEvent;

private:
    std::vector<TransportListener*> listeners;
};

class TransportListener : public TransportSource
{
public:
    TransportListener() = default;
    ~TransportListener() override;

    virtual void OnTransportPlay() {}
    virtual void OnTransportStop() {}

    TransportSource* GetTransportSource() const { return source; }

private:
    friend class TransportSource;
    TransportSource* source = nullptr;
};

// A list of listeners that can be changed while it notifies them: additions and removals asked
// for during NotifyListeners take effect when the outermost notification ends.
template <typename T> class ListenerHost
{
public:
    ListenerHost() = default;
    ListenerHost(const ListenerHost&) = delete;
    ListenerHost& operator=(const ListenerHost&) = delete;

    void AddListener(T* l)
    {
        if (notifying > 0)
            pendingAdds.push_back(l);
        else
            listeners.push_back(l);
    }

    // Erases the first occurrence (nothing when absent).
    void RemoveListener(T* l)
    {
        if (notifying > 0)
        {
            pendingRemoves.push_back(l);
            return;
        }
        auto it = std::find(listeners.begin(), listeners.end(), l);
        if (it != listeners.end()) listeners.erase(it);
    }

    // Calls method(arg) on every listener from the front. A listener removed meanwhile is still
    // called for the rest of this notification; one added meanwhile is called from the next on.
    template <typename P, typename A> void NotifyListeners(void (T::*method)(P), A&& arg)
    {
        ++notifying;
        for (std::size_t i = 0; i < listeners.size(); ++i)
            (listeners[i]->*method)(arg);
        if (--notifying == 0) DoPendingChanges();
    }

    void DoPendingChanges()
    {
        std::vector<T*> adds;
        std::vector<T*> removes;
        adds.swap(pendingAdds);
        removes.swap(pendingRemoves);
        for (T* l : adds)
            AddListener(l);
        for (T* l : removes)
            RemoveListener(l);
    }

    std::size_t NumListeners() const { return listeners.size(); }

protected:
    // Drops every occurrence of l, pending changes included.
    void ForgetListener(T* l)
    {
        std::erase(listeners, l);
        std::erase(pendingAdds, l);
        std::erase(pendingRemoves, l);
    }

    std::vector<T*> listeners;
    std::vector<T*> pendingAdds;
    std::vector<T*> pendingRemoves;
    int notifying = 0;
};

// A node of the per-block notification tree. The owner of the root calls
// _HandleNextBufferNotification before rendering a block and _HandlePostRenderNotification after
// it; each node runs its own hook, then its children's, depth first.
class NextBufferListener : public ListenerHost<NextBufferListener>
{
public:
    NextBufferListener() = default;
    virtual ~NextBufferListener();

    virtual void NextBuffer() {}
    virtual void PostRender() {}
    virtual void _HandleNextBufferNotification();
    virtual void _HandlePostRenderNotification();

    // Appends child at once (a node has one parent: it leaves any other first).
    void AddListener(NextBufferListener* child);
    // Erases the first occurrence of child at once.
    void RemoveListener(NextBufferListener* child);

private:
    NextBufferListener* parent = nullptr;
};
