#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/Torvane.h"
#include "support/TemporaryDataHome.h"
#include "vst/VstAbi.h"

namespace
{
// A host whose automation handler takes a lock that its own thread holds around setParameter.
// The lock is recursive, as a host whose own thread may report from inside setParameter needs;
// waiting is bounded by a time no busy machine reaches, so a deadlock shows as a timeout instead
// of a hung test (once: later reports don't wait).
std::recursive_mutex hostLock;
std::atomic<bool> hostActive{false};
std::atomic<int> automationReports{0};
std::atomic<int> lockTimeouts{0};

VstIntPtr LockingHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    if (opcode == audioMasterVersion) return 2400;
    if (opcode != audioMasterAutomate || !hostActive.load()) return 0;
    automationReports.fetch_add(1);
    if (lockTimeouts.load() > 0) return 0;
    auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!hostLock.try_lock())
    {
        if (std::chrono::steady_clock::now() > until)
        {
            lockTimeouts.fetch_add(1);
            return 0;
        }
        std::this_thread::yield();
    }
    hostLock.unlock();
    return 0;
}

void SendController(AEffect* effect, int controller, int value)
{
    VstMidiEvent e{};
    e.type = kVstMidiType;
    e.byteSize = static_cast<VstInt32>(sizeof e);
    e.midiData[0] = static_cast<char>(0xB0);
    e.midiData[1] = static_cast<char>(controller);
    e.midiData[2] = static_cast<char>(value);
    VstEvents events{};
    events.numEvents = 1;
    events.events[0] = reinterpret_cast<VstEvent*>(&e);
    effect->dispatcher(effect, effProcessEvents, 0, 0, &events, 0.0f);
}
} // namespace

TEST(HostAutomationThread, AHandlerTakingTheLockItsSetParameterCallerHoldsNeverDeadlocks)
{
    TemporaryDataHome home;
    Torvane t(&LockingHost);
    t.markHostConnected();
    AEffect* effect = t.getAeffect();
    effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, 44100.0f);
    effect->dispatcher(effect, effSetBlockSize, 0, 256, nullptr, 0.0f);
    effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
    std::vector<float> left(256);
    std::vector<float> right(256);
    float* outputs[2] = {left.data(), right.data()};

    // Controller 20 learned for the master volume.
    t.GetMidiLearnManager()->StartListen(&t.masterVolume);
    SendController(effect, 20, 64);
    effect->processReplacing(effect, nullptr, outputs, 256);
    ASSERT_TRUE(t.GetMidiLearnManager()->IsMapped(&t.masterVolume));

    automationReports = 0;
    lockTimeouts = 0;
    hostActive.store(true);
    std::atomic<bool> stop{false};
    std::thread audio(
        [&]
        {
            for (int block = 0; !stop.load() || block < 200; ++block)
            {
                SendController(effect, 20, block % 128);
                effect->processReplacing(effect, nullptr, outputs, 256);
            }
        });
    for (int i = 0; i < 2000; ++i)
    {
        std::lock_guard<std::recursive_mutex> hold(hostLock);
        effect->setParameter(effect, i % 8, static_cast<float>(i % 100) / 100.0f);
    }
    stop.store(true);
    audio.join();
    hostActive.store(false);
    EXPECT_GT(automationReports.load(), 0);
    EXPECT_EQ(lockTimeouts.load(), 0);
}
