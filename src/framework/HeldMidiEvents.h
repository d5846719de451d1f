#pragma once

#include <atomic>

#include "framework/Locks.h"
#include "framework/RenderLimits.h"

class MidiEventListener;

// MIDI of one host block for the pieces a long block is cut into (kMaxRenderFrames each).
// An event at or beyond kMaxRenderFrames belongs to a later piece: it is held (up to
// kMaxHeldEvents; later ones come at once at the first piece's last frame) and delivered just
// before that piece, with its offset counted from the piece's start. Negative offsets count as 0.
// The last piece of a block takes whatever is still held.
class HeldMidiEvents
{
public:
    static constexpr int kMaxHeldEvents = 1024;

    // Under the plug-in mutex: holds the event, or sends it to the listener now.
    void Take(MidiEventListener& listener, int channel, int status, int data1, int data2, long offset);
    // Before each piece, with the piece's first frame inside the host block, its length and
    // whether it ends the block. Takes the mutex only when something is held.
    void DeliverForPiece(MidiEventListener& listener, AudioAPI::Mutex& mutex, long offset, long frames,
                         bool lastPiece);
    int Count() const { return numHeld.load(std::memory_order_acquire); }

private:
    struct HeldEvent
    {
        int channel;
        int status;
        int data1;
        int data2;
        long offset; // inside the host block
    };

    // Changed under the plug-in mutex; the count is read without it to skip the lock when
    // nothing is held.
    HeldEvent held[kMaxHeldEvents];
    std::atomic<int> numHeld{0};
};
