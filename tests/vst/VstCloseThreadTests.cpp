// The plug-in library loaded as a host does (dlopen, VSTPluginMain), closed while one of its calls
// is blocked in the host's callback on another thread, and unloaded right after the close
// returns: the blocked thread comes back into code that is still mapped, and the instance goes
// once it has left.

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "vst/AudioEffect.h"
#include "vst/VstAbi.h"

namespace
{
// The host: its callback for the plug-in's MIDI request (made when it is switched on) blocks
// until the test lets it go, as a host's does when it waits for its main thread, which is busy
// closing the instance.
struct BlockingHost
{
    std::mutex mutex;
    std::condition_variable changed;
    bool armed = false;
    bool blocked = false;
    bool released = false;
};
BlockingHost blockingHost;

VstIntPtr HostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    if (opcode == audioMasterVersion) return 2400;
    if (opcode != audioMasterWantMidi) return 0;
    std::unique_lock<std::mutex> lock(blockingHost.mutex);
    if (!blockingHost.armed) return 0;
    blockingHost.armed = false;
    blockingHost.blocked = true;
    blockingHost.changed.notify_all();
    blockingHost.changed.wait(lock, [] { return blockingHost.released; });
    return 0;
}

VstIntPtr Dispatch(AEffect* e, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr)
{
    return e->dispatcher(e, opcode, index, value, ptr, 0.0f);
}
} // namespace

TEST(VstCloseThreads, ACloseThatGivesUpOnABlockedCallbackThenAnUnloadLeaveTheBlockedThreadRunning)
{
    void* library = dlopen(TORVANE_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    using Entry = AEffect* (*)(audioMasterCallback);
    auto entry = reinterpret_cast<Entry>(dlsym(library, "VSTPluginMain"));
    ASSERT_NE(entry, nullptr);
    AEffect* const e = entry(&HostCallback);
    ASSERT_NE(e, nullptr);
    Dispatch(e, effOpen);

    {
        std::lock_guard<std::mutex> lock(blockingHost.mutex);
        blockingHost.armed = true;
    }
    // Another thread of the host switches the instance on; its request for MIDI blocks.
    std::thread switcher([&] { Dispatch(e, effMainsChanged, 0, 1); });
    {
        std::unique_lock<std::mutex> lock(blockingHost.mutex);
        ASSERT_TRUE(blockingHost.changed.wait_for(lock, std::chrono::seconds(30),
                                                  [] { return blockingHost.blocked; }))
            << "switching on never asked for MIDI";
    }

    auto const start = std::chrono::steady_clock::now();
    Dispatch(e, effClose);
    auto const waited = std::chrono::steady_clock::now() - start;
    // It waited for the callback in flight, up to its bound, then returned.
    EXPECT_GE(waited, std::chrono::milliseconds(AudioEffect::kCallbackWaitMs - 100));
    EXPECT_LT(waited, std::chrono::seconds(30));

    // The host unloads the library once its last instance is closed.
    EXPECT_EQ(dlclose(library), 0);
    {
        std::lock_guard<std::mutex> lock(blockingHost.mutex);
        blockingHost.released = true;
    }
    blockingHost.changed.notify_all();
    // The switcher comes back through the library's code, which is still mapped.
    switcher.join();
    void* const mapped = dlopen(TORVANE_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(mapped, nullptr) << "the library was unmapped";
    if (mapped != nullptr) dlclose(mapped);
}
