// The instrument's render (notes, send effects, global filters) and its reactions to changes
// of its own parameters.

#include "engine/TNote.h"
#include "engine/Torvane.h"

#include <xmmintrin.h>

#include <algorithm>
#include <cmath>

namespace
{

// Flush-to-zero and denormals-are-zero while it lives; the caller's settings come back after.
class DenormalGuard
{
public:
    DenormalGuard() : saved(_mm_getcsr()) { _mm_setcsr(saved | kFlushToZero | kDenormalsAreZero); }
    ~DenormalGuard() { _mm_setcsr(saved); }
    DenormalGuard(DenormalGuard const&) = delete;
    DenormalGuard& operator=(DenormalGuard const&) = delete;

private:
    static constexpr unsigned kFlushToZero = 0x8000;
    static constexpr unsigned kDenormalsAreZero = 0x0040;
    unsigned saved;
};

// Replaces every sample that is not finite by 0.
void Sanitise(float* samples, long n)
{
    for (long i = 0; i < n; ++i)
        if (!std::isfinite(samples[i])) samples[i] = 0.0f;
}

void Sanitise(SoundBuffer& b, long n)
{
    Sanitise(b.left, n);
    Sanitise(b.right, n);
}

// A filter whose history went bad starts again from silence.
void FlushIfBroken(StereoFilter& f)
{
    FlexiFilter const& l = f.GetLeft();
    FlexiFilter const& r = f.GetRight();
    if (!std::isfinite(l.x1) || !std::isfinite(l.x2) || !std::isfinite(l.y1) || !std::isfinite(l.y2) ||
        !std::isfinite(r.x1) || !std::isfinite(r.x2) || !std::isfinite(r.y1) || !std::isfinite(r.y2))
        f.Flush();
}

} // namespace

void Torvane::Render(float* left, float* right, long frames, int offset)
{
    // Switched off (a load is running): the block passes without waiting for the mutex.
    if (!enabled.GetBool() || frames <= 0) return;
    AudioAPI::Lock lock(GetMutex());
    // A load may have switched it off while this block waited.
    if (!enabled.GetBool()) return;
    DenormalGuard denormals;
    // Longer blocks go in pieces that fit the send, work and voice buffers; every ramp and
    // glide carries on from one piece into the next.
    for (long pos = 0; pos < frames; pos += kMaxRenderFrames)
        RenderPiece(left + pos, right + pos, std::min(kMaxRenderFrames, frames - pos), offset);
}

void Torvane::RenderPiece(float* left, float* right, long frames, int offset)
{
    performMods.NextBuffer();
    {
        // A mapped controller is the user's hand on the parameter: the host hears of it.
        UserChange learned(*this);
        midiLearn.NextBuffer();
    }

    // The switches are read once: the voices send into exactly the buffers cleared here.
    blockSends.delay = DelayEnabled();
    blockSends.reverb = ReverbEnabled();
    blockSends.distortion = DistortionEnabled();
    if (blockSends.delay) delaySend.ClearStereo(frames, 0.0f);
    if (blockSends.reverb) reverbSend.ClearStereo(frames, 0.0f);
    if (blockSends.distortion) distortionSend.ClearStereo(frames, 0.0f);

    InstrumentBase::Render(left, right, frames, offset);

    // An effect switched off meanwhile would copy its send over the output: it sits this
    // block out.
    if (blockSends.delay && DelayEnabled())
    {
        Sanitise(delaySend, frames);
        delay.RenderStereo(delaySend.left, delaySend.right, left, right, frames);
    }
    if (blockSends.reverb && ReverbEnabled())
    {
        Sanitise(reverbSend, frames);
        reverb.RenderStereo(reverbSend.left, reverbSend.right, effectWork.left, effectWork.right, frames);
        effectWork.MixToStereo(left, right, frames, 0);
    }
    if (blockSends.distortion && DistortionEnabled())
    {
        Sanitise(distortionSend, frames);
        distortion.RenderStereo(distortionSend.left, distortionSend.right, effectWork.left, effectWork.right,
                                frames);
        effectWork.MixToStereo(left, right, frames, 0);
    }

    Sanitise(left, frames);
    Sanitise(right, frames);
    if (globalLowFilter.enabled.GetBool())
    {
        globalLowFilter.RenderStereo(left, right, left, right, frames);
        FlushIfBroken(globalLowFilter);
    }
    if (globalHighFilter.enabled.GetBool())
    {
        globalHighFilter.RenderStereo(left, right, left, right, frames);
        FlushIfBroken(globalHighFilter);
    }
    Sanitise(left, frames);
    Sanitise(right, frames);

    modWheelSource.NextBuffer();
    channelPressureSource.NextBuffer();
    pitchBendSource.NextBuffer();
}

void Torvane::KillAllNotes()
{
    AudioAPI::Lock lock(GetMutex());
    for (int i = 0; i < poolSize; ++i)
        if (TNote* n = GetTNote(i)) n->Kill();
    noteStack.Clear();
}

void Torvane::ParameterUpdated(float value, Parameter* changed)
{
    if (changed == &enabled)
    {
        if (!enabled.GetBool()) KillAllNotes();
    }
    else if (changed == &tempoBridge)
    {
        PostEditorRequests(kEditorSnapLabel | kEditorEventLines);
    }
    else if (changed == &keyMode)
    {
        if (IsRefreshing()) return;
        const int mode = keyMode.GetInt();
        if (mode < 0 || mode > 2) return;
        AudioAPI::Lock lock(GetMutex());
        KillAllNotes();
        noteStack.Clear();
        SetActiveNoteCount(mode == 0 ? polyphony.GetInt() : 1);
    }
    else if (changed == &lfo1SyncBridge || changed == &lfo2SyncBridge)
    {
        TParam& rate = changed == &lfo1SyncBridge ? lfo1RateParam : lfo2RateParam;
        const bool synced = value >= 0.5f;
        rate.SetType(synced ? Parameter::Discrete : Parameter::Continuous, true);
        rate.SetCurveType(synced ? Parameter::Linear : Parameter::CubeLaw);
    }
    else if (changed == &globalLowFilter.cutoff)
    {
        const float low = static_cast<float>(globalLowFilter.cutoff);
        if (low > static_cast<float>(globalHighFilter.cutoff)) globalHighFilter.cutoff = low;
    }
    else if (changed == &globalHighFilter.cutoff)
    {
        const float high = static_cast<float>(globalHighFilter.cutoff);
        if (static_cast<float>(globalLowFilter.cutoff) > high) globalLowFilter.cutoff = high;
    }
    else if (changed == &polyphony)
    {
        AudioAPI::Lock lock(GetMutex());
        SetActiveNoteCount(polyphony.GetInt());
    }
    else if (changed == &freezePosition)
    {
        if (timeFreeze.GetBool() && !IsRefreshing())
        {
            float d = 0.0f;
            {
                // The editor changes the lines under the mutex while the host moves this.
                AudioAPI::Lock hold(GetMutex());
                VoiceDef* def = GetVoiceDef(-1);
                d = def ? def->GetDuration() : 0.0f;
            }
            SetEditTime(Round(d * value));
        }
    }
    else if (changed == &multipleSelectionMode)
    {
        if (!IsRefreshing())
        {
            RefreshGuard guard(*this);
            RefreshAllParameterListeners(3, true);
        }
    }
    else if (changed == &timeFreeze)
    {
        // Frozen where following left the time: "Freeze Position" takes it, as the change of
        // whoever switched.
        if (timeFreeze.GetBool() && !IsRefreshing() && editTimeFollowed) SetEditTime(editTime);
        PostEditorRequests(kEditorEventLines);
    }
}
