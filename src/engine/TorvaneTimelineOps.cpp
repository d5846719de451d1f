// The editor's view of the playing note (animation time) and the developer's timing tools.

#include <algorithm>
#include <string>
#include <vector>

#include "engine/TNote.h"
#include "engine/Torvane.h"
#include "platform/CascadeList.h"

namespace
{

// Renders `blocks` blocks of `frames` frames under the plug-in mutex with "Polyphony" set to
// `notes` and "KeyMode" 0, first playing keys 64 upwards at velocity 127 when asked; all notes
// off afterwards. The buffers are zeroed before every block, as a host does.
long TimeBlocks(Torvane& instrument, int notes, long blocks, int frames, bool playNotes)
{
    if (frames <= 0) return 0;
    std::vector<float> left(static_cast<std::size_t>(frames), 0.0f);
    std::vector<float> right(static_cast<std::size_t>(frames), 0.0f);
    instrument.polyphony = static_cast<float>(notes);
    instrument.keyMode = 0.0f;

    AudioAPI::Lock hold(instrument.GetMutex());
    if (playNotes)
    {
        for (int i = 0; i < notes && 64 + i <= 127; ++i)
            instrument.NoteOnMidiEvent(0, 64 + i, 127, 0);
    }
    PerformanceCounter counter;
    counter.Start();
    for (long b = 0; b < blocks; ++b)
    {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        instrument.Render(left.data(), right.data(), frames, 0);
    }
    long const time = counter.CheckPoint(true);
    instrument.AllNotesOffMidiEvent(0);
    return time;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Animation time

float Torvane::GetAnimationTime()
{
    // The note stack and the notes change on the audio thread under this mutex.
    AudioAPI::Lock hold(GetMutex());
    if (followedNote != nullptr && followedNote->GetState() == TNote::kFree) followedNote = nullptr;
    NoteStack::NoteInfo const* newest = noteStack.PeekLast();
    if (newest != nullptr && newest->note != nullptr) followedNote = newest->note;
    if (followedNote == nullptr) return -1.0f;
    return followedNote->GetVoice(currentVoice)->GetTime();
}

void Torvane::AnimationEnded()
{
    AudioAPI::Lock hold(GetMutex());
    followedNote = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Timing tools

long Torvane::Performance_MeasureEffects(int notes, long blocks, int frames)
{
    return TimeBlocks(*this, notes, blocks, frames, false);
}

long Torvane::Performance_Measure(int notes, long blocks, int frames)
{
    long const withNotes = TimeBlocks(*this, notes, blocks, frames, true);
    // The cost of the notes alone.
    return withNotes - Performance_MeasureEffects(notes, blocks, frames);
}

long Torvane::Performance_MeasureFilter(int notes, long blocks, int frames)
{
    bool was[kNumLayers];
    for (int layer = 0; layer < kNumLayers; ++layer)
        was[layer] = voiceDefs[layer].parameters[VoiceDef::kFilterOn].GetBool();

    for (int layer = 0; layer < kNumLayers; ++layer)
        voiceDefs[layer].parameters[VoiceDef::kFilterOn].SetBool(true);
    long const filtered = Performance_Measure(notes, blocks, frames);
    for (int layer = 0; layer < kNumLayers; ++layer)
        voiceDefs[layer].parameters[VoiceDef::kFilterOn].SetBool(false);
    long const plain = Performance_Measure(notes, blocks, frames);

    for (int layer = 0; layer < kNumLayers; ++layer)
        voiceDefs[layer].parameters[VoiceDef::kFilterOn].SetBool(was[layer]);
    return filtered - plain;
}

long Torvane::Performance_MeasurePatch(char const* category, char const* name, int notes, long blocks,
                                       int frames)
{
    LoadPatch(category, name);
    return Performance_Measure(notes, blocks, frames);
}

void Torvane::Performance_ChoosePresetAndMeasure(Window* parent)
{
    CascadeList::Item const* item = patchPresets.GetList().DoPopup(parent, 50, 50);
    if (item == nullptr || item->parent == nullptr || item->parent->GetParentItem() == nullptr) return;
    // Copies: loading may rebuild the list that holds the items.
    std::string const name = item->name;
    std::string const category = item->parent->GetParentItem()->name;
    Performance_ShowTime(Performance_MeasurePatch(category.c_str(), name.c_str(), 8, 1000, 512));
}

void Torvane::Performance_ShowTime(long time)
{
    PerformanceCounter counter;
    counter.ShowTime(time / 1000, nullptr);
}

void Torvane::Performance_OpenMenu()
{
    CascadeList menu;
    menu.AddItem("Select preset to time", 0, nullptr, false);
    menu.DoPopup(nullptr, 50, 50);
}
