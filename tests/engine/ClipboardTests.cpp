// The process-wide clipboard and the copy and paste of breakpoint selections through it.

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "EditingTestSupport.h"
#include "engine/TClipboard.h"

using namespace editing;

namespace
{

using Selection = std::vector<MultipleSelectionBreakpoint>;

// Whether another thread can claim the mutex right now.
bool FreeForOthers(AudioAPI::Mutex& mutex)
{
    return std::async(std::launch::async,
                      [&mutex]
                      {
                          if (!mutex.TryClaim()) return false;
                          mutex.Release();
                          return true;
                      })
        .get();
}

std::shared_ptr<Selection> ClipboardSelection()
{
    unsigned int index = 0;
    return std::static_pointer_cast<Selection>(
        Torvane::clipboard.FindData(TClipboard::BREAKPOINT_SELECTION, index));
}

} // namespace

TEST(ClipboardStore, FindsReplacesAndLocks)
{
    TClipboard clipboard;
    unsigned int index = 7;
    EXPECT_EQ(clipboard.FindData(String("nothing"), index), nullptr);
    EXPECT_EQ(index, 0xFFFFFFFFu);

    auto first = std::make_shared<int>(1);
    auto second = std::make_shared<int>(2);
    clipboard.SetData(String("a"), first);
    clipboard.SetData(String("b"), std::make_shared<int>(3));
    clipboard.SetData(String("a"), second);
    EXPECT_EQ(clipboard.FindData(String("a"), index), second);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(first.use_count(), 1); // the old data was let go
    EXPECT_EQ(*std::static_pointer_cast<int>(clipboard.FindData(String("b"), index)), 3);
    EXPECT_EQ(index, 1u);

    // LockData holds the mutex until ReleaseData; the holder may still set data.
    EXPECT_EQ(clipboard.LockData(String("a")), second);
    EXPECT_FALSE(FreeForOthers(clipboard.GetMutex()));
    clipboard.SetData(String("c"), first);
    clipboard.ReleaseData(String("a"));
    EXPECT_TRUE(FreeForOthers(clipboard.GetMutex()));
    EXPECT_EQ(clipboard.FindData(String("c"), index), first);
    EXPECT_EQ(index, 2u);
}

TEST(ClipboardPaste, LandsTheEarliestRecordOnTheEditTime)
{
    Torvane& t = FreshInstrument();
    SetPoints(t, 0, VoiceDef::kAmplitudeLine, {0.0f, 1000.0f});
    SetPoints(t, 0, VoiceDef::kFilterLine, {0.0f, 1500.0f});
    Selection sel{Record(t, VoiceDef::kAmplitudeLine, 1), Record(t, VoiceDef::kFilterLine, 1)};
    t.CopySelectionToClipboard(sel);
    sel.clear(); // the clipboard holds its own copy

    t.SetEditTime(5000.0f);
    std::shared_ptr<Selection> pasted = t.PasteSelectionFromClipboard();
    ASSERT_NE(pasted, nullptr);
    ASSERT_EQ(pasted->size(), 2u);
    // The earliest lands on the edit time; the others keep their distance to it.
    EXPECT_EQ((*pasted)[0].time, 5000.0f);
    EXPECT_EQ((*pasted)[1].time, 5500.0f);
    EXPECT_EQ(Times(t, 0, VoiceDef::kAmplitudeLine), (std::vector<float>{0.0f, 1000.0f, 5000.0f}));
    EXPECT_EQ(Times(t, 0, VoiceDef::kFilterLine), (std::vector<float>{0.0f, 1500.0f, 5500.0f}));
    EXPECT_EQ(Values((*t.GetVoiceDef(0)->GetLine(VoiceDef::kFilterLine))[2]),
              (std::vector<float>{1.5f, 1.5f, 1.5f}));
    // The pasted records are the new points: the editor can select them.
    for (auto& r : *pasted)
        EXPECT_EQ(t.FindEventBreakpoints(&r).size(), 1u);
    // The clipboard keeps the moved times, and its mutex is free again.
    std::shared_ptr<Selection> stored = ClipboardSelection();
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ((*stored)[0].time, 5000.0f);
    EXPECT_EQ((*stored)[1].time, 5500.0f);
    EXPECT_TRUE(FreeForOthers(Torvane::clipboard.GetMutex()));

    // Pasting again at the same time always adds new points.
    pasted = t.PasteSelectionFromClipboard();
    EXPECT_EQ(pasted->size(), 2u);
    EXPECT_EQ(Times(t, 0, VoiceDef::kFilterLine), (std::vector<float>{0.0f, 1500.0f, 5500.0f, 5500.0f}));
}

TEST(ClipboardPaste, GoesIntoTheCurrentLayer)
{
    Torvane& t = FreshInstrument();
    SetPoints(t, 0, VoiceDef::kWaveLine, {0.0f, 200.0f});
    t.CopySelectionToClipboard(Selection{Record(t, VoiceDef::kWaveLine, 1)});
    t.SetCurrentVoice(3);
    t.SetEditTime(100.0f);
    AttachedEditor editor(t);
    t.NoteOnMidiEvent(0, 60, 100, 0);
    EXPECT_EQ(t.PasteSelectionFromClipboard()->size(), 1u);
    EXPECT_EQ(Times(t, 3, VoiceDef::kWaveLine), (std::vector<float>{0.0f, 100.0f}));
    EXPECT_EQ(Times(t, 0, VoiceDef::kWaveLine), (std::vector<float>{0.0f, 200.0f}));
    // The editor's controls were refreshed without killing the note.
    EXPECT_EQ(NotesOn(t), 1);
}

TEST(ClipboardPaste, EmptyOrHostileClipboardsPasteNothingAndFreeTheMutex)
{
    Torvane& t = FreshInstrument();
    Torvane::clipboard.SetData(TClipboard::BREAKPOINT_SELECTION, nullptr);
    EXPECT_TRUE(t.PasteSelectionFromClipboard()->empty());
    EXPECT_TRUE(FreeForOthers(Torvane::clipboard.GetMutex()));

    t.CopySelectionToClipboard(Selection{});
    EXPECT_TRUE(t.PasteSelectionFromClipboard()->empty());
    EXPECT_TRUE(FreeForOthers(Torvane::clipboard.GetMutex()));

    // Lines that don't exist, a short value list, too many values.
    Selection odd(4);
    odd[0].line = 6;
    odd[1].line = -2;
    odd[2].line = VoiceDef::kFilterLine;
    odd[2].time = 10.0f;
    odd[2].values = {0.25f};
    odd[3].line = VoiceDef::kEffectsLine;
    odd[3].time = 20.0f;
    odd[3].values.assign(100, 0.75f);
    t.CopySelectionToClipboard(odd);
    t.SetEditTime(1000.0f);
    std::shared_ptr<Selection> pasted = t.PasteSelectionFromClipboard();
    ASSERT_EQ(pasted->size(), 2u);
    EventEnvelope& filter = *t.GetVoiceDef(0)->GetLine(VoiceDef::kFilterLine);
    ASSERT_EQ(filter.Size(), 2);
    EXPECT_EQ(filter[1].time, 1010.0f);
    // The first value from the record, the others as the line gave them there.
    EXPECT_EQ(Values(filter[1]), (std::vector<float>{0.25f, 0.0f, 5.0f}));
    EventEnvelope& effects = *t.GetVoiceDef(0)->GetLine(VoiceDef::kEffectsLine);
    ASSERT_EQ(effects.Size(), 2);
    EXPECT_EQ(Values(effects[1]), (std::vector<float>{0.75f, 0.75f, 0.75f, 0.75f}));
    EXPECT_TRUE(FreeForOthers(Torvane::clipboard.GetMutex()));
    Torvane::clipboard.SetData(TClipboard::BREAKPOINT_SELECTION, nullptr);
}
