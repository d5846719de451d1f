#include "framework/HeldMidiEvents.h"

#include <algorithm>

#include "framework/MidiEventListener.h"

void HeldMidiEvents::Take(MidiEventListener& listener, int channel, int status, int data1, int data2,
                          long offset)
{
    offset = std::max<long>(0, offset);
    int const count = numHeld.load(std::memory_order_relaxed);
    if (offset >= kMaxRenderFrames && count < kMaxHeldEvents)
    {
        held[count] = HeldEvent{channel, status, data1, data2, offset};
        numHeld.store(count + 1, std::memory_order_release);
        return;
    }
    // Nowhere left to hold it: it comes now, within the first piece.
    listener.HandleMidiEvent(channel, status, data1, data2, std::min<long>(offset, kMaxRenderFrames - 1));
}

void HeldMidiEvents::DeliverForPiece(MidiEventListener& listener, AudioAPI::Mutex& mutex, long offset,
                                     long frames, bool lastPiece)
{
    if (numHeld.load(std::memory_order_acquire) == 0) return;
    AudioAPI::Lock hold(mutex);
    int const count = numHeld.load(std::memory_order_relaxed);
    int kept = 0;
    for (int i = 0; i < count; ++i)
    {
        HeldEvent const e = held[i];
        if (!lastPiece && e.offset >= offset + frames)
        {
            held[kept++] = e;
            continue;
        }
        long const pieceOffset = std::clamp<long>(e.offset - offset, 0, std::max<long>(0, frames - 1));
        listener.HandleMidiEvent(e.channel, e.status, e.data1, e.data2, pieceOffset);
    }
    numHeld.store(kept, std::memory_order_release);
}
