// A random host: loads the plug-in library, runs several instances on an X display, and calls
// them as hosts do, in an order drawn from a seed. Several host threads open, idle and close the
// editors, close and reopen instances, and get and set chunks and parameters; an audio thread
// renders every instance with notes; a person (XTest input on a connection of its own) opens the
// File menu and its entries, the save dialog, the waveform browser and the about splash, drags
// knobs, clicks about and presses Escape and Return. Every action is written to the log as it
// starts. The run ends after the given time: the threads stop, and every editor and instance is
// closed. A run that does not end (a call that never returns) is reported as a hang.
//
//   randomhost --plugin Torvane.so --seed N [--seconds S] [--log FILE] [--instances 2-4]
//              [--threads 3-6]
//
// Exit status: 0 when the run ended, 2 on bad arguments or set-up, 3 on a hang. Faults inside
// the plug-in show as the sanitizer's report or a crash.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include "editor/Layout.h"
#include "vsthost/VstHost.h"

namespace
{
using Clock = std::chrono::steady_clock;

constexpr int kSampleRate = 44100;
constexpr int kBlock = 256;
constexpr int kKeyEscape = 9; // the keycodes of the X server's default map
constexpr int kKeyReturn = 36;

Clock::time_point started;
std::mutex logMutex;
std::FILE* logFile = nullptr;

// One line of the action log, flushed at once (the last lines say what ran when a run dies).
[[gnu::format(printf, 3, 4)]] void Log(int who, int instance, char const* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    double const t = std::chrono::duration<double>(Clock::now() - started).count();
    std::string const name = who >= 0    ? "host" + std::to_string(who)
                             : who == -1 ? "audio"
                             : who == -2 ? "user"
                             : who == -3 ? "main"
                                         : "hostcb";
    std::lock_guard<std::mutex> lock(logMutex);
    std::fprintf(logFile, "%9.3f %-6s i%d %s\n", t, name.c_str(), instance, text);
    std::fflush(logFile);
}

VstLibrary::Entry entry = nullptr;
std::atomic<bool> stopping{false};
std::atomic<long> automations{0};

// Touches `bytes` of stack (a host's callback that needs a host thread's stack).
[[gnu::noinline]] int UseStack(std::size_t bytes)
{
    volatile char block[32 * 1024];
    for (std::size_t i = 0; i < sizeof block; i += 1024)
        block[i] = 1;
    if (bytes <= sizeof block) return block[0];
    return UseStack(bytes - sizeof block) + block[1024];
}

VstIntPtr HostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr, void*, float value)
{
    switch (opcode)
    {
    case audioMasterVersion:
        return VstHost::kHostVersion;
    case audioMasterAutomate:
    {
        long const n = ++automations;
        // Now and then the host's handler is deep, or calls back into the instance.
        if (n % 2 == 0)
        {
            Log(-4, -1, "automation of parameter %d: the host's handler takes 6 MiB of stack", index);
            UseStack(std::size_t{6} << 20);
        }
        if (effect != nullptr && n % 13 == 0) (void)effect->getParameter(effect, index);
        (void)value;
        return 0;
    }
    case audioMasterGetTime:
    {
        thread_local VstTimeInfo info{};
        info.sampleRate = kSampleRate;
        info.tempo = 120.0;
        info.timeSigNumerator = 4;
        info.timeSigDenominator = 4;
        info.flags = 0;
        return reinterpret_cast<VstIntPtr>(&info);
    }
    case audioMasterGetSampleRate:
        return kSampleRate;
    case audioMasterGetBlockSize:
        return kBlock;
    default:
        return 0;
    }
}

// One instance place: its host window and, while open, its instance.
struct Slot
{
    std::shared_mutex life; // shared for a call into the instance, exclusive to close or reopen it
    AEffect* effect = nullptr;
    std::atomic<bool> editorOpen{false};
    // A chunk the instance hands out is its own until its next effGetChunk: one at a time.
    std::mutex chunkMutex;
    xcb_window_t window = 0;
    int x = 0, y = 0; // the window's place on the screen
};

std::vector<std::unique_ptr<Slot>> slots;

AEffect* NewInstance()
{
    AEffect* e = entry(&HostCallback);
    if (e == nullptr) return nullptr;
    e->dispatcher(e, effOpen, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, static_cast<float>(kSampleRate));
    e->dispatcher(e, effSetBlockSize, 0, kBlock, nullptr, 0.0f);
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    e->dispatcher(e, effStartProcess, 0, 0, nullptr, 0.0f);
    return e;
}

void CloseInstance(AEffect* e)
{
    e->dispatcher(e, effStopProcess, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effMainsChanged, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
}

std::mutex chunksMutex;
std::vector<std::vector<char>> chunks;

void HostThread(int who, std::uint64_t seed)
{
    std::mt19937_64 rng(seed);
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<std::uint64_t>(n)); };
    while (!stopping.load())
    {
        int const i = pick(static_cast<int>(slots.size()));
        Slot& s = *slots[static_cast<std::size_t>(i)];
        int const what = pick(1000);
        if (what < 3)
        {
            // The host closes the instance (its editor first) and puts a new one in its place.
            std::unique_lock<std::shared_mutex> lock(s.life);
            if (s.effect != nullptr)
            {
                if (s.editorOpen.exchange(false))
                {
                    Log(who, i, "effEditClose (closing the instance)");
                    s.effect->dispatcher(s.effect, effEditClose, 0, 0, nullptr, 0.0f);
                }
                Log(who, i, "effClose");
                CloseInstance(s.effect);
                s.effect = nullptr;
            }
            Log(who, i, "new instance");
            s.effect = NewInstance();
        }
        else
        {
            std::shared_lock<std::shared_mutex> lock(s.life);
            AEffect* const e = s.effect;
            if (e == nullptr) continue;
            if (what < 60)
            {
                if (!s.editorOpen.exchange(true))
                {
                    Log(who, i, "effEditOpen");
                    if (e->dispatcher(e, effEditOpen, 0, 0,
                                      reinterpret_cast<void*>(static_cast<std::uintptr_t>(s.window)),
                                      0.0f) == 0)
                    {
                        Log(who, i, "effEditOpen refused");
                        s.editorOpen = false;
                    }
                }
            }
            else if (what < 75)
            {
                if (s.editorOpen.exchange(false))
                {
                    Log(who, i, "effEditClose");
                    e->dispatcher(e, effEditClose, 0, 0, nullptr, 0.0f);
                }
            }
            else if (what < 550)
            {
                Log(who, i, "effEditIdle");
                e->dispatcher(e, effEditIdle, 0, 0, nullptr, 0.0f);
            }
            else if (what < 680)
            {
                int const index = e->numParams > 0 ? pick(e->numParams) : 0;
                float const value = static_cast<float>(pick(1001)) / 1000.0f;
                Log(who, i, "setParameter %d %.3f", index, static_cast<double>(value));
                e->setParameter(e, index, value);
            }
            else if (what < 720)
            {
                int const index = e->numParams > 0 ? pick(e->numParams) : 0;
                Log(who, i, "getParameter %d", index);
                (void)e->getParameter(e, index);
            }
            else if (what < 860)
            {
                int const bank = pick(2);
                Log(who, i, "effGetChunk %d", bank);
                std::lock_guard<std::mutex> chunkLock(s.chunkMutex);
                void* data = nullptr;
                VstIntPtr const size = e->dispatcher(e, effGetChunk, bank, 0, &data, 0.0f);
                if (data != nullptr && size > 0 && size < (VstIntPtr{64} << 20))
                {
                    std::vector<char> copy(static_cast<char*>(data), static_cast<char*>(data) + size);
                    std::lock_guard<std::mutex> chunksLock(chunksMutex);
                    if (chunks.size() < 8)
                        chunks.push_back(std::move(copy));
                    else
                        chunks[static_cast<std::size_t>(pick(8))] = std::move(copy);
                }
            }
            else
            {
                std::vector<char> chunk;
                {
                    std::lock_guard<std::mutex> chunksLock(chunksMutex);
                    if (!chunks.empty())
                        chunk = chunks[static_cast<std::size_t>(pick(static_cast<int>(chunks.size())))];
                }
                if (chunk.empty()) continue;
                // A third of them broken: cut short, or with bytes changed.
                int const damage = pick(6);
                if (damage == 0) chunk.resize(chunk.size() / 2 + 1);
                if (damage == 1)
                    for (int k = 0; k < 8; ++k)
                        chunk[static_cast<std::size_t>(pick(static_cast<int>(chunk.size())))] ^=
                            static_cast<char>(1 + pick(255));
                int const bank = pick(2);
                Log(who, i, "effSetChunk %d (%zu bytes%s)", bank, chunk.size(),
                    damage == 0   ? ", cut short"
                    : damage == 1 ? ", damaged"
                                  : "");
                e->dispatcher(e, effSetChunk, bank, static_cast<VstIntPtr>(chunk.size()), chunk.data(), 0.0f);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pick(25)));
    }
}

void AudioThread(std::uint64_t seed)
{
    std::mt19937_64 rng(seed);
    std::vector<float> left(kBlock), right(kBlock);
    float* outputs[2] = {left.data(), right.data()};
    float* inputs[2] = {left.data(), right.data()};
    VstMidiEvent notes[4]{};
    // Room for four event pointers.
    struct
    {
        VstInt32 numEvents;
        VstIntPtr reserved;
        VstEvent* events[4];
    } list{};
    long blocks = 0;
    while (!stopping.load())
    {
        for (std::size_t i = 0; i < slots.size(); ++i)
        {
            Slot& s = *slots[i];
            std::shared_lock<std::shared_mutex> lock(s.life);
            AEffect* const e = s.effect;
            if (e == nullptr) continue;
            int const n = static_cast<int>(rng() % 4);
            for (int k = 0; k < n; ++k)
            {
                VstMidiEvent& m = notes[k];
                m = VstMidiEvent{};
                m.type = kVstMidiType;
                m.byteSize = sizeof m;
                m.deltaFrames = static_cast<VstInt32>(rng() % kBlock);
                bool const on = rng() % 2 == 0;
                m.midiData[0] = static_cast<char>(on ? 0x90 : 0x80);
                m.midiData[1] = static_cast<char>(36 + rng() % 48);
                m.midiData[2] = static_cast<char>(on ? 1 + rng() % 126 : 0);
                list.events[k] = reinterpret_cast<VstEvent*>(&m);
            }
            list.numEvents = n;
            if (n > 0) e->dispatcher(e, effProcessEvents, 0, 0, &list, 0.0f);
            e->processReplacing(e, inputs, outputs, kBlock);
        }
        if (++blocks % 2000 == 0) Log(-1, -1, "%ld blocks", blocks);
        std::this_thread::sleep_for(std::chrono::microseconds(1000000 * kBlock / kSampleRate));
    }
}

// The person at the screen.
class User
{
public:
    explicit User(std::uint64_t seed) : rng(seed) {}

    // Connects before the other threads start: libXau's connecting is not thread-safe (the
    // plug-in connects on the host's threads).
    bool Connect()
    {
        c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) return false;
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        return true;
    }
    ~User()
    {
        if (c != nullptr) xcb_disconnect(c);
    }

    void Run()
    {
        while (!stopping.load())
        {
            Pause(30 + Pick(200));
            std::vector<int> open;
            for (std::size_t i = 0; i < slots.size(); ++i)
                if (slots[i]->editorOpen.load()) open.push_back(static_cast<int>(i));
            if (open.empty()) continue;
            int const i = open[static_cast<std::size_t>(Pick(static_cast<int>(open.size())))];
            Gesture(i, *slots[static_cast<std::size_t>(i)]);
            // What the gesture left on the screen: menus, dialogs, alerts.
            Log(-2, i, "%d windows of the plug-in's own shown", OwnWindows());
        }
    }

private:
    int Pick(int n) { return static_cast<int>(rng() % static_cast<std::uint64_t>(n)); }
    static void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    // The top-level windows mapped besides the host's.
    int OwnWindows()
    {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        if (tree == nullptr) return -1;
        xcb_window_t const* children = xcb_query_tree_children(tree);
        int const n = xcb_query_tree_children_length(tree);
        std::vector<xcb_get_window_attributes_cookie_t> asked;
        for (int k = 0; k < n; ++k)
            asked.push_back(xcb_get_window_attributes(c, children[k]));
        int shown = 0;
        for (int k = 0; k < n; ++k)
        {
            xcb_get_window_attributes_reply_t* a =
                xcb_get_window_attributes_reply(c, asked[static_cast<std::size_t>(k)], nullptr);
            bool const host = std::any_of(slots.begin(), slots.end(),
                                          [&](auto const& s) { return s->window == children[k]; });
            if (a != nullptr && a->map_state == XCB_MAP_STATE_VIEWABLE && !host) ++shown;
            std::free(a);
        }
        std::free(tree);
        return shown;
    }
    void Sync() { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
    void MoveTo(int x, int y)
    {
        xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, static_cast<std::int16_t>(x),
                            static_cast<std::int16_t>(y), 0);
        Sync();
    }
    void Button(bool down)
    {
        xcb_test_fake_input(c, down ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0,
                            0, 0);
        Sync();
    }
    void Key(int code)
    {
        xcb_test_fake_input(c, XCB_KEY_PRESS, static_cast<std::uint8_t>(code), XCB_CURRENT_TIME, XCB_NONE, 0,
                            0, 0);
        xcb_test_fake_input(c, XCB_KEY_RELEASE, static_cast<std::uint8_t>(code), XCB_CURRENT_TIME, XCB_NONE,
                            0, 0, 0);
        Sync();
    }
    void Click(int x, int y)
    {
        MoveTo(x, y);
        Button(true);
        Pause(20 + Pick(60));
        Button(false);
    }

    // The File menu's entries lie below its button, one row each.
    void FileMenu(Slot const& s)
    {
        Click(s.x + layout::root::kFileButton.x + 6, s.y + layout::root::kFileButton.y + 6);
    }
    void MenuEntry(Slot const& s, int row)
    {
        Click(s.x + layout::root::kFileMenu.x + 30, s.y + layout::root::kFileMenu.y + 10 + 19 * row);
    }

    void Gesture(int i, Slot const& s)
    {
        namespace root = layout::root;
        namespace synth = layout::synth;
        int const what = Pick(100);
        if (what < 14)
        {
            Log(-2, i, "click File");
            FileMenu(s);
        }
        else if (what < 26)
        {
            int const row = Pick(4);
            Log(-2, i, "click File menu row %d", row);
            MenuEntry(s, row);
        }
        else if (what < 36)
        {
            Log(-2, i, "File > Save As..");
            FileMenu(s);
            Pause(150 + Pick(200));
            MenuEntry(s, 1);
        }
        else if (what < 46)
        {
            int const k = Pick(4);
            Log(-2, i, "waveform browser %d", k);
            Click(s.x + root::kSynthPage.x + synth::kWaveLoad[k].x + 5,
                  s.y + root::kSynthPage.y + synth::kWaveLoad[k].y + 5);
        }
        else if (what < 60)
        {
            static constexpr layout::Point knobs[] = {synth::kCutoffKnob, synth::kResonanceKnob,
                                                      synth::kPitchKnob, synth::kDetuneKnob,
                                                      synth::kPortamentoKnob};
            layout::Point const k = knobs[Pick(5)];
            int const x = s.x + root::kSynthPage.x + k.x + 12, y = s.y + root::kSynthPage.y + k.y + 12;
            int const by = Pick(161) - 80;
            Log(-2, i, "drag knob at %d,%d by %d", k.x, k.y, by);
            MoveTo(x, y);
            Button(true);
            for (int step = 1; step <= 6; ++step)
            {
                Pause(15 + Pick(40));
                MoveTo(x, y + by * step / 6);
            }
            Button(false);
        }
        else if (what < 74)
        {
            int const x = 60 + Pick(640), y = 20 + Pick(480);
            Log(-2, i, "click at %d,%d", x, y);
            Click(s.x + x, s.y + y);
        }
        else if (what < 80)
        {
            Log(-2, i, "save dialog Cancel");
            Click(s.x + root::kSaveDialog.x + layout::savedialog::kCancel.x + 5,
                  s.y + root::kSaveDialog.y + layout::savedialog::kCancel.y + 5);
        }
        else if (what < 85)
        {
            Log(-2, i, "about");
            Click(s.x + root::kAboutButton.x + 5, s.y + root::kAboutButton.y + 5);
        }
        else if (what < 93)
        {
            Log(-2, i, "key Escape");
            Key(kKeyEscape);
        }
        else
        {
            Log(-2, i, "key Return");
            Key(kKeyReturn);
        }
    }

    std::mt19937_64 rng;
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
};

int Usage()
{
    std::fprintf(stderr, "usage: randomhost --plugin FILE --seed N [--seconds S] [--log FILE] "
                         "[--instances 2-4] [--threads 3-6]\n");
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    std::string plugin, logPath;
    std::uint64_t seed = 0;
    bool seeded = false;
    double seconds = 60.0;
    int instances = 0, threads = 0;
    for (int a = 1; a < argc; ++a)
    {
        std::string const arg = argv[a];
        if (a + 1 >= argc) return Usage();
        char const* value = argv[++a];
        if (arg == "--plugin")
            plugin = value;
        else if (arg == "--seed")
        {
            seed = std::strtoull(value, nullptr, 10);
            seeded = true;
        }
        else if (arg == "--seconds")
            seconds = std::atof(value);
        else if (arg == "--log")
            logPath = value;
        else if (arg == "--instances")
            instances = std::atoi(value);
        else if (arg == "--threads")
            threads = std::atoi(value);
        else
            return Usage();
    }
    if (plugin.empty() || !seeded || seconds <= 0.0) return Usage();
    std::mt19937_64 setup(seed);
    if (instances == 0) instances = 2 + static_cast<int>(setup() % 3);
    if (threads == 0) threads = 3 + static_cast<int>(setup() % 4);
    if (instances < 1 || instances > 8 || threads < 1 || threads > 16) return Usage();
    logFile = logPath.empty() ? stdout : std::fopen(logPath.c_str(), "w");
    if (logFile == nullptr)
    {
        std::fprintf(stderr, "randomhost: cannot write %s\n", logPath.c_str());
        return 2;
    }
    std::printf("randomhost: seed %llu, %d instances, %d host threads, %.0f s\n",
                static_cast<unsigned long long>(seed), instances, threads, seconds);
    std::fflush(stdout);
    started = Clock::now();

    std::string error;
    std::shared_ptr<VstLibrary> library = VstLibrary::Load(plugin, error);
    if (!library)
    {
        std::fprintf(stderr, "randomhost: %s\n", error.c_str());
        return 2;
    }
    entry = library->GetEntry();

    // The host windows, side by side on the screen (no window manager: where they are asked).
    xcb_connection_t* display = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(display))
    {
        std::fprintf(stderr, "randomhost: cannot open the display (is DISPLAY set?)\n");
        return 2;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(display)).data;
    for (int i = 0; i < instances; ++i)
    {
        auto s = std::make_unique<Slot>();
        s->x = 10 + (i % 2) * 900;
        s->y = 10 + (i / 2) * 700;
        s->window = xcb_generate_id(display);
        std::uint32_t values[] = {screen->white_pixel, 0};
        xcb_create_window(display, XCB_COPY_FROM_PARENT, s->window, screen->root,
                          static_cast<std::int16_t>(s->x), static_cast<std::int16_t>(s->y),
                          layout::root::kSize.w, layout::root::kSize.h, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        xcb_map_window(display, s->window);
        s->effect = NewInstance();
        if (s->effect == nullptr)
        {
            std::fprintf(stderr, "randomhost: the plug-in made no instance\n");
            return 2;
        }
        slots.push_back(std::move(s));
    }
    xcb_flush(display);
    std::free(xcb_get_input_focus_reply(display, xcb_get_input_focus(display), nullptr));

    User user(seed * 1000 + 200);
    if (!user.Connect())
    {
        std::fprintf(stderr, "randomhost: cannot open the display for the input\n");
        return 2;
    }
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
        running.emplace_back(HostThread, t, seed * 1000 + static_cast<std::uint64_t>(t) + 1);
    running.emplace_back(AudioThread, seed * 1000 + 100);
    running.emplace_back([&user] { user.Run(); });

    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    Log(-3, -1, "stopping");
    stopping = true;
    // No call of the host's may take long: a run that does not end in a minute hangs.
    std::atomic<bool> ended{false};
    std::thread watchdog(
        [&ended]
        {
            auto const limit = Clock::now() + std::chrono::seconds(60);
            while (!ended.load() && Clock::now() < limit)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (ended.load()) return;
            Log(-3, -1, "HANG: the run did not end within 60 s of stopping");
            std::fprintf(stderr, "randomhost: hang (see the log's last lines)\n");
            std::fflush(nullptr);
            std::_Exit(3);
        });
    for (std::thread& t : running)
        t.join();
    for (std::size_t i = 0; i < slots.size(); ++i)
    {
        Slot& s = *slots[i];
        std::unique_lock<std::shared_mutex> lock(s.life);
        if (s.effect == nullptr) continue;
        if (s.editorOpen.exchange(false))
        {
            Log(-3, static_cast<int>(i), "effEditClose");
            s.effect->dispatcher(s.effect, effEditClose, 0, 0, nullptr, 0.0f);
        }
        Log(-3, static_cast<int>(i), "effClose");
        CloseInstance(s.effect);
        s.effect = nullptr;
    }
    ended = true;
    watchdog.join();
    Log(-3, -1, "done: %ld automation reports", automations.load());
    for (auto const& s : slots)
        xcb_destroy_window(display, s->window);
    xcb_disconnect(display);
    if (logFile != stdout) std::fclose(logFile);
    std::printf("randomhost: seed %llu ended\n", static_cast<unsigned long long>(seed));
    return 0;
}
