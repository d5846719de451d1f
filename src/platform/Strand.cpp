#include "platform/Strand.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <vector>

#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define TORVANE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TORVANE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define TORVANE_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TORVANE_TSAN 1
#endif
#endif

#ifdef TORVANE_ASAN
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#endif
#ifdef TORVANE_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace
{
// The registered locals. Filled while libraries are loaded (static initialisation), read by the
// threads that switch; never destroyed (a host may still switch during its exit).
std::vector<StrandLocal const*>& Locals()
{
    static auto* locals = new std::vector<StrandLocal const*>;
    return *locals;
}

// The strand running on this thread, and the one being started (read by its first frame). Every
// entry of the host's reads `current` (HostCall), the audio thread's too: the static thread-local
// model, whose first read allocates nothing (see InstanceLife.cpp).
[[gnu::tls_model("initial-exec")]] thread_local Strand* current = nullptr;
thread_local Strand* starting = nullptr;

// Every strand, for the end of the threads they ran on. Never destroyed (a host may still switch
// during its exit).
std::mutex& AllMutex()
{
    static auto* m = new std::mutex;
    return *m;
}
std::vector<Strand*>& All()
{
    static auto* all = new std::vector<Strand*>;
    return *all;
}

// Made on a thread once it runs a strand. When the thread ends, the strands waiting on it are tied
// to no thread: a later thread given the same id never resumes them.
struct ThreadEnd
{
    bool armed = false;
    ~ThreadEnd()
    {
        std::lock_guard<std::mutex> lock(AllMutex());
        for (Strand* s : All())
            s->Untie(std::this_thread::get_id());
    }
};
thread_local ThreadEnd threadEnd;

struct Boxes
{
    std::vector<void*> boxes;

    void Fill()
    {
        auto const& locals = Locals();
        while (boxes.size() < locals.size())
            boxes.push_back(locals[boxes.size()]->Create());
    }
    void Exchange()
    {
        Fill();
        auto const& locals = Locals();
        for (std::size_t i = 0; i < boxes.size(); ++i)
            locals[i]->Exchange(boxes[i]);
    }
    void Free()
    {
        auto const& locals = Locals();
        for (std::size_t i = 0; i < boxes.size(); ++i)
            locals[i]->Destroy(boxes[i]);
        boxes.clear();
    }
};
} // namespace

StrandLocal::StrandLocal()
{
    Locals().push_back(this);
}

struct Strand::Impl
{
    ucontext_t self{};
    ucontext_t caller{};
    void* mapping = nullptr;
    std::size_t mappingSize = 0;
    char* stack = nullptr; // the usable stack, above the guard page
    Work work = nullptr;
    void* context = nullptr;
    bool finished = false;
    Strand* outer = nullptr; // the strand current when this one was switched in
    Boxes locals;
    // The sanitizers' views of the two stacks.
    void* fakeStack = nullptr;
    void const* callerBottom = nullptr;
    std::size_t callerSize = 0;
#ifdef TORVANE_TSAN
    void* fiber = nullptr;
    void* callerFiber = nullptr;
#endif
};

Strand::Strand() : impl(new Impl)
{
    std::size_t const page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    impl->mappingSize = kStackSize + page;
    void* m = mmap(nullptr, impl->mappingSize, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (m == MAP_FAILED) throw std::bad_alloc();
    // The lowest page stops an overflowing stack.
    mprotect(m, page, PROT_NONE);
    impl->mapping = m;
    impl->stack = static_cast<char*>(m) + page;
#ifdef TORVANE_ASAN
    __lsan_register_root_region(impl->stack, kStackSize);
#endif
#ifdef TORVANE_TSAN
    impl->fiber = __tsan_create_fiber(0);
#endif
    impl->locals.Fill();
    std::lock_guard<std::mutex> lock(AllMutex());
    All().push_back(this);
}

Strand::~Strand()
{
    {
        std::lock_guard<std::mutex> lock(AllMutex());
        std::erase(All(), this);
    }
    if (state == State::Parked)
    {
        // What the parked frames hold stays reachable for the leak checker.
        impl->locals.boxes.clear();
        (void)impl.release();
        return;
    }
    impl->locals.Free();
#ifdef TORVANE_TSAN
    __tsan_destroy_fiber(impl->fiber);
#endif
#ifdef TORVANE_ASAN
    __lsan_unregister_root_region(impl->stack, kStackSize);
    __asan_unpoison_memory_region(impl->stack, kStackSize);
#endif
    munmap(impl->mapping, impl->mappingSize);
}

Strand* Strand::Current()
{
    return current;
}

void Strand::Entry()
{
    Strand* const s = starting;
    starting = nullptr;
    Impl& i = *s->impl;
#ifdef TORVANE_ASAN
    __sanitizer_finish_switch_fiber(nullptr, &i.callerBottom, &i.callerSize);
#endif
    try
    {
        i.work(i.context);
    }
    catch (std::exception const& e)
    {
        std::fprintf(stderr, "Torvane: on a strand: %s\n", e.what());
    }
    catch (...)
    {
        std::fprintf(stderr, "Torvane: on a strand: unknown exception\n");
    }
    i.finished = true;
#ifdef TORVANE_ASAN
    // This stack's frames are done: its fake frames go.
    __sanitizer_start_switch_fiber(nullptr, i.callerBottom, i.callerSize);
#endif
#ifdef TORVANE_TSAN
    __tsan_switch_to_fiber(i.callerFiber, 0);
#endif
    setcontext(&i.caller);
    std::abort(); // not reached
}

void Strand::SwitchIn()
{
    Impl& i = *impl;
    i.outer = current;
    current = this;
    i.locals.Exchange();
    state = State::Running;
    tiedTo = std::this_thread::get_id();
    threadEnd.armed = true; // this thread's end unties what waits on it
    void* callerFake = nullptr;
#ifdef TORVANE_ASAN
    __sanitizer_start_switch_fiber(&callerFake, i.stack, kStackSize);
#endif
#ifdef TORVANE_TSAN
    i.callerFiber = __tsan_get_current_fiber();
    __tsan_switch_to_fiber(i.fiber, 0);
#endif
    swapcontext(&i.caller, &i.self);
#ifdef TORVANE_ASAN
    __sanitizer_finish_switch_fiber(callerFake, nullptr, nullptr);
#endif
    (void)callerFake;
    // Back on the caller's stack: the strand finished or yielded.
    i.locals.Exchange();
    current = i.outer;
    if (i.finished)
    {
        state = State::Rest;
        tiedTo = std::thread::id();
    }
    else if (state.load() == State::Running)
        state = State::Waiting;
}

bool Strand::Start(Work work, void* context)
{
    if (state != State::Rest) return false;
    Impl& i = *impl;
    i.work = work;
    i.context = context;
    i.finished = false;
    getcontext(&i.self);
    i.self.uc_stack.ss_sp = i.stack;
    i.self.uc_stack.ss_size = kStackSize;
    i.self.uc_link = nullptr;
    makecontext(&i.self, &Strand::Entry, 0);
    starting = this;
    SwitchIn();
    return state == State::Rest;
}

bool Strand::Resume()
{
    if (state != State::Waiting || tiedTo != std::this_thread::get_id()) return state == State::Rest;
    SwitchIn();
    return state == State::Rest;
}

void Strand::Yield()
{
    Strand* const s = current;
    if (s == nullptr) return;
    Impl& i = *s->impl;
#ifdef TORVANE_ASAN
    __sanitizer_start_switch_fiber(&i.fakeStack, i.callerBottom, i.callerSize);
#endif
#ifdef TORVANE_TSAN
    __tsan_switch_to_fiber(i.callerFiber, 0);
#endif
    swapcontext(&i.self, &i.caller);
#ifdef TORVANE_ASAN
    __sanitizer_finish_switch_fiber(i.fakeStack, &i.callerBottom, &i.callerSize);
#endif
}

void Strand::Untie(std::thread::id ended)
{
    if (state == State::Waiting && tiedTo == ended) tiedTo = std::thread::id();
}

void Strand::Park()
{
    if (state == State::Waiting) state = State::Parked;
}

Strand::HostCall::HostCall() : outer(current)
{
    if (outer == nullptr) return;
    auto* fresh = new Boxes;
    fresh->Exchange();
    saved = fresh;
    current = nullptr;
}

Strand::HostCall::~HostCall()
{
    if (outer == nullptr) return;
    auto* fresh = static_cast<Boxes*>(saved);
    fresh->Exchange();
    fresh->Free();
    delete fresh;
    current = outer;
}
