#include "framework/Notifications.h"

// Sample rate

SampleRateSource::~SampleRateSource()
{
    for (SampleRateListener* l : listeners)
        l->source = nullptr;
}

void SampleRateSource::AddSampleRateListener(SampleRateListener* l)
{
    if (l->source && l->source != this) l->source->RemoveSampleRateListener(l);
    listeners.push_back(l);
    l->source = this;
}

void SampleRateSource::RemoveSampleRateListener(SampleRateListener* l)
{
    std::erase(listeners, l);
    if (l->source == this) l->source = nullptr;
}

void SampleRateSource::SetSourceSampleRate(float r)
{
    if (r == sampleRate) return;
    sampleRate = r;
    // By index: a listener may unhook itself from inside its notification.
    for (std::size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->SetSampleRate(r);
}

SampleRateListener::~SampleRateListener()
{
    if (source) source->RemoveSampleRateListener(this);
}

void SampleRateListener::SetSampleRate(float r)
{
    sampleRate = r;
    SampleRateChanged(r);
}

// Tempo

TempoSource::~TempoSource()
{
    for (TempoListener* l : listeners)
        l->source = nullptr;
}

void TempoSource::AddTempoListener(TempoListener* l)
{
    if (l->source && l->source != this) l->source->RemoveTempoListener(l);
    listeners.push_back(l);
    l->source = this;
}

void TempoSource::RemoveTempoListener(TempoListener* l)
{
    std::erase(listeners, l);
    if (l->source == this) l->source = nullptr;
}

void TempoSource::SetSourceTempo(float bpm)
{
    if (bpm == tempo) return;
    tempo = bpm;
    for (std::size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->_SetTempo(bpm);
}

TempoListener::~TempoListener()
{
    if (source) source->RemoveTempoListener(this);
}

void TempoListener::_SetTempo(float bpm)
{
    if (bpm == tempo) return;
    tempo = bpm;
    TempoChanged(bpm);
}

// Transport

TransportSource::~TransportSource()
{
    for (TransportListener* l : listeners)
        l->source = nullptr;
}

void TransportSource::TransportPlay()
{
    for (std::size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->OnTransportPlay();
    playEvent.Trigger();
}

void TransportSource::TransportStop()
{
    for (std::size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->OnTransportStop();
    stopEvent.Trigger();
}

void TransportSource::AddTransportListener(TransportListener* l)
{
    if (l->source && l->source != this) l->source->RemoveTransportListener(l);
    l->source = this;
    listeners.push_back(l);
}

void TransportSource::RemoveTransportListener(TransportListener* l)
{
    if (l->source == this) l->source = nullptr;
    std::erase(listeners, l);
}

TransportListener::~TransportListener()
{
    if (source) source->RemoveTransportListener(this);
}

// Next buffer and post render

NextBufferListener::~NextBufferListener()
{
    if (parent) parent->ForgetListener(this);
    for (NextBufferListener* child : listeners)
        child->parent = nullptr;
}

void NextBufferListener::_HandleNextBufferNotification()
{
    NextBuffer();
    // By index: children added or removed on the way take effect at once.
    for (std::size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->_HandleNextBufferNotification();
}

void NextBufferListener::_HandlePostRenderNotification()
{
    PostRender();
    for (std::size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->_HandlePostRenderNotification();
}

// The tree's walks never set the notifying flag, so children are added and removed at once.

void NextBufferListener::AddListener(NextBufferListener* child)
{
    if (child->parent && child->parent != this) child->parent->ForgetListener(child);
    child->parent = this;
    listeners.push_back(child);
}

void NextBufferListener::RemoveListener(NextBufferListener* child)
{
    auto it = std::find(listeners.begin(), listeners.end(), child);
    if (it == listeners.end()) return;
    listeners.erase(it);
    if (std::find(listeners.begin(), listeners.end(), child) == listeners.end()) child->parent = nullptr;
}
