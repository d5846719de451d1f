// Audio blocks, MIDI events and the host's time information through the plug-in library.

#include <cstdint>

#include "PluginFixture.h"

namespace
{

void NoteOn(VstHost& host, int offset, int note = 69, int velocity = 100)
{
    host.QueueMidi(offset, 0x90, static_cast<std::uint8_t>(note), static_cast<std::uint8_t>(velocity));
}

} // namespace

TEST(VstMidi, EventsReachTheDecoderSplitAndMasked)
{
    VstHost host;
    OpenTestSynth(host);
    StereoBlock block(512);
    host.QueueMidi(17, 0x93, 0x3C, 0xFF);
    host.ProcessBlock(nullptr, block.channels, 512);
    TestSynthProbe p = Probe(host);
    EXPECT_EQ(p.midiEvents, 1);
    EXPECT_EQ(p.lastChannel, 3);
    EXPECT_EQ(p.lastStatus, 0x90);
    EXPECT_EQ(p.lastData1, 60);
    EXPECT_EQ(p.lastData2, 127);
    EXPECT_EQ(p.lastOffset, 17);
    EXPECT_EQ(p.noteOns, 1);

    host.QueueMidi(5, 0xB0, 64, 127); // sustain on
    host.QueueMidi(6, 0xE0, 0, 96);   // bend up half
    host.QueueMidi(7, 0x80, 0x3C, 0); // note off, held by the pedal
    host.QueueMidi(8, 0xB0, 64, 0);   // sustain off
    host.QueueMidi(9, 0xB0, 123, 0);  // all notes off
    host.QueueMidi(10, 0xB0, 7, 100); // another controller
    host.ProcessBlock(nullptr, block.channels, 512);
    p = Probe(host);
    EXPECT_EQ(p.midiEvents, 7);
    EXPECT_EQ(p.sustainOn, 1);
    EXPECT_EQ(p.sustainOff, 1);
    EXPECT_FLOAT_EQ(p.pitchBend, 0.5f);
    EXPECT_EQ(p.noteOffs, 1);
    EXPECT_EQ(p.allNotesOff, 1);
    EXPECT_EQ(p.lastOffset, 10);
    EXPECT_EQ(p.soundingNotes, 0);

    // No events: nothing delivered, still 1.
    VstEvents none{};
    EXPECT_EQ(host.Dispatch(effProcessEvents, 0, 0, &none), 1);
    EXPECT_EQ(host.Dispatch(effProcessEvents, 0, 0, nullptr), 1);
    EXPECT_EQ(Probe(host).midiEvents, 7);
}

TEST(VstMidi, NotesStartAtTheirOffsets)
{
    for (int offset : {0, 1, 100, 511})
    {
        VstHost host;
        OpenTestSynth(host);
        StereoBlock block(512, 9.0f);
        NoteOn(host, offset);
        host.ProcessBlock(nullptr, block.channels, 512);
        // A sine from phase 0: silent at its first frame, sounding from the next.
        long const first = block.FirstSound();
        if (offset == 511)
            EXPECT_EQ(first, -1);
        else
            EXPECT_EQ(first, offset + 1) << offset;
        EXPECT_TRUE(block.AllFinite());
    }
}

TEST(VstMidi, SysexIsSkippedByType)
{
    VstHost host;
    OpenTestSynth(host);
    // A system-exclusive record whose bytes where a MIDI record keeps its data read as a
    // loud note-on.
    VstMidiSysexEvent sysex{};
    sysex.type = kVstSysExMidiType;
    sysex.byteSize = sizeof sysex;
    sysex.deltaFrames = 0;
    char dump[] = {char(0xF0), 0x7E, 0x7F, 0x09, 0x01, char(0xF7)};
    sysex.dumpBytes = sizeof dump;
    sysex.sysexDump = dump;
    sysex.resvd1 = 0x7F4090; // 0x90 0x40 0x7F in memory order
    static_assert(offsetof(VstMidiSysexEvent, resvd1) == offsetof(VstMidiEvent, midiData));

    VstMidiEvent note{};
    note.type = kVstMidiType;
    note.byteSize = sizeof note;
    note.deltaFrames = 3;
    note.midiData[0] = char(0xB0);
    note.midiData[1] = 1;
    note.midiData[2] = 2;

    // The header and three event pointers; a null pointer among them is skipped.
    VstIntPtr storage[2 + 3] = {};
    auto* events = reinterpret_cast<VstEvents*>(storage);
    events->numEvents = 3;
    VstEvent** list = reinterpret_cast<VstEvent**>(storage + 2);
    list[0] = reinterpret_cast<VstEvent*>(&sysex);
    list[1] = nullptr;
    list[2] = reinterpret_cast<VstEvent*>(&note);
    EXPECT_EQ(host.Dispatch(effProcessEvents, 0, 0, events), 1);

    StereoBlock block(256);
    host.ProcessBlock(nullptr, block.channels, 256);
    TestSynthProbe const p = Probe(host);
    EXPECT_EQ(p.midiEvents, 1);
    EXPECT_EQ(p.lastStatus, 0xB0);
    EXPECT_EQ(p.noteOns, 0);
    EXPECT_EQ(block.Peak(), 0.0f);
}

TEST(VstBlocks, EverySizeInPlaceAndWithoutInputs)
{
    for (long frames : {1L, 64L, 512L, 8192L, 8193L, 20000L})
    {
        VstHost plain;
        VstHost inPlace;
        OpenTestSynth(plain);
        OpenTestSynth(inPlace);
        Probe(plain, kProbeResetCounters);
        Probe(inPlace, kProbeResetCounters);
        NoteOn(plain, 0);
        NoteOn(inPlace, 0);
        for (int round = 0; round < 3; ++round)
        {
            StereoBlock a(frames, 5.0f);
            StereoBlock b(frames, 5.0f);
            plain.ProcessBlock(nullptr, a.channels, static_cast<int>(frames));
            // The host hands the output channels as inputs too.
            inPlace.ProcessBlock(b.channels, b.channels, static_cast<int>(frames));
            EXPECT_TRUE(a.AllFinite()) << frames;
            EXPECT_EQ(a.left, b.left) << frames;
            EXPECT_EQ(a.right, b.right) << frames;
            if (frames > 1 || round > 0)
            {
                EXPECT_GT(a.Peak(), 0.001f) << frames;
            }
        }
        TestSynthProbe const p = Probe(plain);
        long const pieces = (frames + 8191) / 8192;
        EXPECT_EQ(p.renders, 3 * pieces) << frames;
        EXPECT_EQ(p.nextBuffers, p.renders);
        EXPECT_EQ(p.postRenders, p.renders);
        EXPECT_LE(p.largestRender, 8192);
        EXPECT_EQ(p.renderedFrames, 3 * frames);
        // Time information once a host block, with tempo, playing and changed asked for.
        EXPECT_GE(plain.GetTimeRequests(), 3);
        EXPECT_EQ(plain.GetLastTimeMask(), kVstTempoValid | kVstTransportPlaying | kVstTransportChanged);
    }
}

TEST(VstBlocks, EventsLateInALongBlockKeepTheirPlace)
{
    VstHost host;
    OpenTestSynth(host);
    StereoBlock block(20000);
    NoteOn(host, 10000);
    host.QueueMidi(15000, 0x80, 69, 0);
    host.ProcessBlock(nullptr, block.channels, 20000);
    EXPECT_EQ(block.FirstSound(), 10001);
    EXPECT_EQ(block.Peak(15001), 0.0f);
    EXPECT_GT(block.Peak(14000), 0.01f);
    EXPECT_EQ(Probe(host).soundingNotes, 0);
}

TEST(VstBlocks, HeldEventsAllArriveWithinTheBlock)
{
    VstHost host;
    OpenTestSynth(host);
    // Two whole pieces; an event past the block's end comes at its last frame.
    StereoBlock block(16384);
    NoteOn(host, 16000);
    host.QueueMidi(30000, 0x80, 69, 0);
    // More events for later pieces than are held: none is lost.
    for (int i = 0; i < 1100; ++i)
        host.QueueMidi(9000 + i, 0xB0, 7, i & 0x7F);
    host.ProcessBlock(nullptr, block.channels, 16384);
    TestSynthProbe const p = Probe(host);
    EXPECT_EQ(p.midiEvents, 1102);
    EXPECT_EQ(p.noteOns, 1);
    EXPECT_EQ(p.noteOffs, 1);
    EXPECT_EQ(block.FirstSound(), 16001);
    EXPECT_EQ(p.soundingNotes, 0);
    EXPECT_TRUE(block.AllFinite());
}

TEST(VstBlocks, DegenerateCalls)
{
    VstHost host;
    OpenTestSynth(host);
    AEffect* e = host.GetEffect();
    Probe(host, kProbeResetCounters);
    StereoBlock block(64, 3.0f);

    e->processReplacing(e, nullptr, block.channels, -1);
    e->processReplacing(e, nullptr, block.channels, INT32_MIN);
    e->processReplacing(e, nullptr, nullptr, 64);
    float* halfNull[2] = {block.left.data(), nullptr};
    e->processReplacing(e, nullptr, halfNull, 64);
    EXPECT_EQ(Probe(host).renders, 0);
    EXPECT_EQ(block.left, std::vector<float>(64, 3.0f));

    // No frames: the round runs, the outputs are untouched.
    e->processReplacing(e, nullptr, block.channels, 0);
    TestSynthProbe const p = Probe(host);
    EXPECT_EQ(p.renders, 1);
    EXPECT_EQ(p.nextBuffers, 1);
    EXPECT_EQ(p.postRenders, 1);
    EXPECT_EQ(block.left, std::vector<float>(64, 3.0f));
}

TEST(VstBlocks, AFailedRenderGivesSilence)
{
    VstHost host;
    OpenTestSynth(host);
    NoteOn(host, 0);
    StereoBlock first(512);
    host.ProcessBlock(nullptr, first.channels, 512);
    ASSERT_GT(first.Peak(), 0.01f);

    Probe(host, kProbeThrowInRender);
    StereoBlock failed(512, 4.0f);
    host.ProcessBlock(nullptr, failed.channels, 512);
    EXPECT_EQ(failed.Peak(), 0.0f);

    StereoBlock after(512);
    host.ProcessBlock(nullptr, after.channels, 512);
    EXPECT_GT(after.Peak(), 0.01f);
}

TEST(VstTime, TempoFromTheHostOr120)
{
    VstHost host;
    OpenTestSynth(host);
    StereoBlock block(64);
    host.SetTempo(140.0);
    host.ProcessBlock(nullptr, block.channels, 64);
    EXPECT_FLOAT_EQ(Probe(host).tempo, 140.0f);
    host.SetTempo(0.0);
    host.ProcessBlock(nullptr, block.channels, 64);
    EXPECT_FLOAT_EQ(Probe(host).tempo, 120.0f);
    host.SetTempo(93.5);
    host.ProcessBlock(nullptr, block.channels, 64);
    EXPECT_FLOAT_EQ(Probe(host).tempo, 93.5f);
    host.SetTempo(-50.0);
    host.ProcessBlock(nullptr, block.channels, 64);
    EXPECT_FLOAT_EQ(Probe(host).tempo, 120.0f);
    host.SetTempo(93.5);
    host.ProcessBlock(nullptr, block.channels, 64);
    host.SetTimeInfoAvailable(false);
    host.ProcessBlock(nullptr, block.channels, 64);
    EXPECT_FLOAT_EQ(Probe(host).tempo, 120.0f);
}

TEST(VstTime, TransportChangesArePushedOnce)
{
    VstHost host;
    OpenTestSynth(host);
    StereoBlock block(64);
    host.ProcessBlock(nullptr, block.channels, 64);
    TestSynthProbe p = Probe(host);
    EXPECT_EQ(p.transportPlays, 0);
    EXPECT_EQ(p.transportStops, 0);

    host.SetPlaying(true);
    for (int i = 0; i < 4; ++i)
        host.ProcessBlock(nullptr, block.channels, 64);
    p = Probe(host);
    EXPECT_EQ(p.transportPlays, 1);
    EXPECT_EQ(p.transportStops, 0);

    host.SetPlaying(false);
    for (int i = 0; i < 4; ++i)
        host.ProcessBlock(nullptr, block.channels, 64);
    p = Probe(host);
    EXPECT_EQ(p.transportPlays, 1);
    EXPECT_EQ(p.transportStops, 1);

    // Without time information nothing is sent.
    host.SetTimeInfoAvailable(false);
    host.SetPlaying(true);
    host.ProcessBlock(nullptr, block.channels, 64);
    EXPECT_EQ(Probe(host).transportPlays, 1);
}

TEST(VstTime, SampleRateFromTheHost)
{
    VstHost host(48000.0);
    OpenTestSynth(host);
    EXPECT_FLOAT_EQ(Probe(host).sampleRate, 48000.0f);
    host.Dispatch(effSetSampleRate, 0, 0, nullptr, 0.0f);
    host.Dispatch(effSetSampleRate, 0, 0, nullptr, -44100.0f);
    host.Dispatch(effSetSampleRate, 0, 0, nullptr, std::nanf(""));
    host.Dispatch(effSetSampleRate, 0, 0, nullptr, INFINITY);
    EXPECT_FLOAT_EQ(Probe(host).sampleRate, 48000.0f);
    host.Dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
    EXPECT_FLOAT_EQ(Probe(host).sampleRate, 96000.0f);
}
