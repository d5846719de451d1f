// A host's effClose overlapping another call of the same instance that has already been counted
// in: whatever the call and however far into it the close starts, nothing is touched after it
// is freed, the instance goes exactly once, and no editor, surface or loop binding is left.

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/InstanceOverlap.h"
#include "vst_editor/ScenarioSynth.h"

namespace
{
using vstscenarios::ScenarioSynth;

enum class Call
{
    EditOpen,
    EditIdle,
    EditClose,
    GetChunk,
    SetChunk,
    SetParameter,
    Close // a second closer
};

struct Row
{
    Call call;
    char const* name;
    bool editorOpen; // the editor is open (on the test's thread) before the race
};

constexpr Row kRows[] = {
    {Call::EditOpen, "effEditOpen", false},   {Call::EditIdle, "effEditIdle", true},
    {Call::EditClose, "effEditClose", true},  {Call::GetChunk, "effGetChunk", true},
    {Call::SetChunk, "effSetChunk", true},    {Call::SetParameter, "setParameter", true},
    {Call::Close, "a second effClose", true},
};

void* const kWindow = reinterpret_cast<void*>(static_cast<std::uintptr_t>(100));

VstIntPtr Dispatch(AEffect* e, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr)
{
    return e->dispatcher(e, opcode, index, value, ptr, 0.0f);
}

class VstInstanceLifeThreads : public ::testing::Test
{
protected:
    VstInstanceLifeThreads() { stage.windows.Add(kWindow, 300, 200); }

    // Nothing of any instance is left: no editor, surface, loop binding or window system user.
    bool AllGone()
    {
        return vstscenarios::Alive() == 0 && gfx::Surface::All().empty() && !gfx::RunLoop::IsBound() &&
               stage.windows.Users() == 0;
    }

    scenarios::Stage stage;
    overlap::HookScope hook;
};
} // namespace

TEST_F(VstInstanceLifeThreads, ACloseOverlappingACallAlreadyCountedNeverFreesUnderIt)
{
    int const rounds = overlap::Rounds();
    for (Row const& row : kRows)
    {
        SCOPED_TRACE(row.name);
        int const madeBefore = vstscenarios::made.load();
        int opened = 0;
        for (int round = 0; round < rounds; ++round)
        {
            // Two closers overlap only while both are counted in: the first would free the instance
            // under a second close that starts later (the host's fault, as any call after a close).
            overlap::Offset const offset = row.call == Call::Close
                                               ? overlap::Offset::Held
                                               : overlap::kOffsets[round % std::size(overlap::kOffsets)];
            ScenarioSynth* synth = vstscenarios::MakeSynth();
            AEffect* const e = synth->getAeffect();
            gfx::HeadlessBackend::Poster poster(stage.backend);
            if (row.editorOpen)
            {
                ASSERT_EQ(Dispatch(e, effEditOpen, 0, 0, kWindow), 1);
            }
            std::vector<char> chunk(16, 0);
            if (row.call == Call::SetChunk)
            {
                void* block = nullptr;
                VstIntPtr const size = Dispatch(e, effGetChunk, 0, 0, &block);
                if (size > 0 && block != nullptr)
                    chunk.assign(static_cast<char*>(block), static_cast<char*>(block) + size);
            }
            overlap::Race(
                offset,
                [&]
                {
                    switch (row.call)
                    {
                    case Call::EditOpen:
                        opened += Dispatch(e, effEditOpen, 0, 0, kWindow) == 1 ? 1 : 0;
                        break;
                    case Call::EditIdle:
                        Dispatch(e, effEditIdle);
                        break;
                    case Call::EditClose:
                        Dispatch(e, effEditClose);
                        break;
                    case Call::GetChunk:
                    {
                        void* block = nullptr;
                        Dispatch(e, effGetChunk, 0, 0, &block);
                        break;
                    }
                    case Call::SetChunk:
                        Dispatch(e, effSetChunk, 0, static_cast<VstIntPtr>(chunk.size()), chunk.data());
                        break;
                    case Call::SetParameter:
                        e->setParameter(e, 0, 0.75f);
                        break;
                    case Call::Close:
                        Dispatch(e, effClose);
                        break;
                    }
                },
                [&] { Dispatch(e, effClose); });
            if (!AllGone())
            {
                ADD_FAILURE() << "round " << round << ": alive " << vstscenarios::Alive() << ", surfaces "
                              << gfx::Surface::All().size() << ", bound " << gfx::RunLoop::IsBound();
                break;
            }
        }
        EXPECT_EQ(vstscenarios::made.load() - madeBefore, rounds);
        EXPECT_EQ(vstscenarios::deleted.load(), vstscenarios::made.load()) << "deleted once each";
        if (row.call == Call::EditOpen) RecordProperty("opened", opened);
    }
}

namespace
{
// How long the last close from inside a host callback took (-1: none yet).
std::atomic<long long> closeMicros{-1};

void TimedClose(AEffect* e)
{
    auto const start = std::chrono::steady_clock::now();
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    closeMicros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
            .count();
}

// The host of the next row: its automation callback closes the instance it came from.
std::atomic<bool> closeInCallback{false};

VstIntPtr ClosingHost(AEffect* e, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    if (opcode == audioMasterVersion) return 2400;
    if (opcode == audioMasterAutomate && closeInCallback.exchange(false)) TimedClose(e);
    return 0;
}
} // namespace

// A host that closes the instance from inside a callback the editor's thread made (a parameter
// report from a click): the close returns at once, the editor unwinds, and the instance goes
// once the idle call has left it.
TEST_F(VstInstanceLifeThreads, ACloseFromInsideACallbackOnTheEditorThreadReturnsAtOnce)
{
    ScenarioSynth* synth = vstscenarios::MakeSynth(&ClosingHost);
    AEffect* const e = synth->getAeffect();
    gfx::HeadlessBackend::Poster poster(stage.backend);
    ASSERT_EQ(Dispatch(e, effEditOpen, 0, 0, kWindow), 1);
    auto* loader = static_cast<VstGUILoader*>(synth->getEditor());
    closeInCallback = true;
    closeMicros = -1;
    // The toggle bound to the parameter.
    stage.backend.Click(*loader->GetSurface(), 75, 55);
    for (int i = 0; i < 200 && closeMicros.load() < 0; ++i)
    {
        stage.backend.Advance(std::chrono::milliseconds(50));
        Dispatch(e, effEditIdle);
    }
    ASSERT_GE(closeMicros.load(), 0) << "the click never reached the host";
    EXPECT_LT(closeMicros.load(), 1000000) << "the close waited for its own thread";
    EXPECT_TRUE(AllGone());
}

namespace
{
// An instance whose vendor call reports to its host (a counted call that calls back).
class CallingSynth : public ScenarioSynth
{
public:
    using ScenarioSynth::ScenarioSynth;
    VstIntPtr vendorSpecific(VstInt32, VstIntPtr, void*, float) override
    {
        updateDisplay();
        return 1;
    }
};

// The host of the next rows: every callback but the last parks until the close has started;
// the last one closes the instance from inside.
std::atomic<int> parkedTotal{0};
std::atomic<int> arrived{0};
std::atomic<bool> closeStarted{false};

VstIntPtr ParkingHost(AEffect* e, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    if (opcode == audioMasterVersion) return 2400;
    if (opcode != audioMasterUpdateDisplay) return 0;
    if (++arrived < parkedTotal.load())
    {
        scenarios::WaitFor([] { return closeStarted.load(); });
        return 0;
    }
    closeStarted = true;
    TimedClose(e);
    return 0;
}
} // namespace

// Many threads in callbacks of one instance at once, and a close from inside the last of them:
// the close waits for the others, never for the callback on its own thread's stack.
TEST_F(VstInstanceLifeThreads, ACloseFromInsideTheLastOfManyCallbacksReturnsAtOnce)
{
    for (int const threads : {2, 8, 9, 12})
    {
        SCOPED_TRACE(std::to_string(threads) + " threads in callbacks");
        auto* synth = new CallingSynth(&ParkingHost);
        AttachEditorLoader<scenarios::ScenarioRoot>(synth);
        synth->markHostConnected();
        AEffect* const e = synth->getAeffect();
        parkedTotal = threads;
        arrived = 0;
        closeStarted = false;
        closeMicros = -1;
        std::vector<std::thread> callers;
        for (int i = 0; i < threads; ++i)
            callers.emplace_back([e] { Dispatch(e, effVendorSpecific); });
        for (std::thread& t : callers)
            t.join();
        EXPECT_GE(closeMicros.load(), 0) << "the instance was not closed";
        EXPECT_LT(closeMicros.load(), 1000000) << "the close waited for its own thread";
        EXPECT_TRUE(AllGone());
    }
}
