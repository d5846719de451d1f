#include "platform/Strand.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <vector>

#include <cxxabi.h>
#include <pthread.h>
#include <signal.h>
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

// The C++ runtime's exception state of the calling thread: the handlers being run (the stack of
// caught exceptions, which std::current_exception and a rethrow read) and the count of exceptions
// thrown and not yet caught. Both runtimes we build with keep these two fields first, in this
// order.
struct ExceptionState
{
    void* caught = nullptr;
    unsigned int uncaught = 0;
};

ExceptionState& ThreadExceptions()
{
    return *reinterpret_cast<ExceptionState*>(abi::__cxa_get_globals());
}

// Exchanges the calling thread's exception state with *box.
void ExchangeExceptions(ExceptionState& box)
{
    ExceptionState& thread = ThreadExceptions();
    ExceptionState const held = thread;
    thread = box;
    box = held;
}

// What a parked strand refers to stays reachable (for the leak checker) for the rest of the
// process.
std::vector<Strand::Impl*>& ParkedImpls()
{
    static auto* parked = new std::vector<Strand::Impl*>;
    return *parked;
}

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
    // The strand's exception state while it is not running; the thread's while it runs.
    ExceptionState exceptions;
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
        std::lock_guard<std::mutex> lock(AllMutex());
        ParkedImpls().push_back(impl.release());
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
    ExchangeExceptions(i.exceptions);
    // The strand runs with the thread's signal mask as it is now, not as it was when the strand
    // last yielded; the switch back gives the thread the mask it has here.
    pthread_sigmask(SIG_SETMASK, nullptr, &i.self.uc_sigmask);
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
    ExchangeExceptions(i.exceptions);
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
    if (state != State::Waiting) return;
    state = State::Parked;
    // Below the frames it keeps, nothing on the stack is used again: those pages go back to the
    // system (a deep call made before the strand last yielded leaves no memory behind), and the
    // address space stays reserved.
    Impl const& i = *impl;
#if defined(__x86_64__)
    auto const sp = static_cast<std::uintptr_t>(i.self.uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
    auto const sp = static_cast<std::uintptr_t>(i.self.uc_mcontext.sp);
#else
    std::uintptr_t const sp = 0;
#endif
    auto const low = reinterpret_cast<std::uintptr_t>(i.stack);
    std::uintptr_t const page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    // The red zone below the stack pointer is left alone too.
    if (sp < low + 2 * page || sp > low + kStackSize) return;
    std::uintptr_t const unused = (sp - 128) & ~(page - 1);
    madvise(i.stack, unused - low, MADV_DONTNEED);
}

namespace
{
// A host call's own thread state: the strand's locals and exception state wait here.
struct HostCallState
{
    Boxes locals;
    ExceptionState exceptions;
};
} // namespace

Strand::HostCall::HostCall() : outer(current)
{
    if (outer == nullptr) return;
    auto* fresh = new HostCallState;
    fresh->locals.Exchange();
    ExchangeExceptions(fresh->exceptions);
    saved = fresh;
    current = nullptr;
}

Strand::HostCall::~HostCall()
{
    if (outer == nullptr) return;
    auto* fresh = static_cast<HostCallState*>(saved);
    // An exception leaving the host's call is still in flight: it counts in the restored state
    // (the handler that catches it takes it from there).
    unsigned int const inFlight = ThreadExceptions().uncaught;
    ExchangeExceptions(fresh->exceptions);
    ThreadExceptions().uncaught += inFlight;
    fresh->locals.Exchange();
    fresh->locals.Free();
    delete fresh;
    current = outer;
}
