#include "platform/Strand.h"

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

namespace
{
// True when the exception being handled is still the object `handled`.
bool StillHandling(std::exception const& handled)
{
    try
    {
        std::rethrow_exception(std::current_exception());
    }
    catch (std::exception const& again)
    {
        return &again == &handled;
    }
}

// A handler that yields with its exception caught, then looks at it again.
struct Catcher
{
    std::string thrown;
    std::string seenAfterYield;
    bool sameObjectAfterYield = false;
};

void CatchAndYield(void* context)
{
    auto& k = *static_cast<Catcher*>(context);
    try
    {
        throw std::runtime_error(k.thrown);
    }
    catch (std::exception const& e)
    {
        Strand::Yield();
        k.seenAfterYield = e.what();
        k.sameObjectAfterYield = StillHandling(e);
    }
}

TEST(StrandExceptions, TwoStrandsYieldingInsideHandlersKeepTheirOwn)
{
    Strand a;
    Strand b;
    Catcher first{"first", {}, false};
    Catcher second{"second", {}, false};
    EXPECT_FALSE(a.Start(&CatchAndYield, &first));
    EXPECT_EQ(std::current_exception(), nullptr);
    EXPECT_FALSE(b.Start(&CatchAndYield, &second));
    EXPECT_EQ(std::current_exception(), nullptr);
    // The first leaves its handler before the second does.
    EXPECT_TRUE(a.Resume());
    EXPECT_EQ(std::current_exception(), nullptr);
    EXPECT_TRUE(b.Resume());
    EXPECT_EQ(first.seenAfterYield, "first");
    EXPECT_TRUE(first.sameObjectAfterYield);
    EXPECT_EQ(second.seenAfterYield, "second");
    EXPECT_TRUE(second.sameObjectAfterYield);
    EXPECT_EQ(std::current_exception(), nullptr);
}

void RecordCurrent(void* context)
{
    *static_cast<bool*>(context) = std::current_exception() != nullptr;
}

TEST(StrandExceptions, AStrandStartsWithoutTheThreadsHandler)
{
    Strand s;
    bool sawOne = true;
    try
    {
        throw 7;
    }
    catch (int)
    {
        EXPECT_TRUE(s.Start(&RecordCurrent, &sawOne));
        int thrown = 0;
        try
        {
            throw;
        }
        catch (int again)
        {
            thrown = again;
        }
        EXPECT_EQ(thrown, 7);
    }
    EXPECT_FALSE(sawOne);
}

// Yields from a destructor run while an exception unwinds the strand.
struct YieldWhileUnwinding
{
    int* inside;
    int* afterYield;
    ~YieldWhileUnwinding()
    {
        *inside = std::uncaught_exceptions();
        Strand::Yield();
        *afterYield = std::uncaught_exceptions();
    }
};

struct Unwinding
{
    int inside = -1;
    int afterYield = -1;
    bool caught = false;
};

void UnwindAndYield(void* context)
{
    auto& u = *static_cast<Unwinding*>(context);
    try
    {
        YieldWhileUnwinding y{&u.inside, &u.afterYield};
        throw std::runtime_error("unwinding");
    }
    catch (std::runtime_error const&)
    {
        u.caught = true;
    }
}

TEST(StrandExceptions, AnExceptionUnwindingAcrossAYieldIsTheStrandsAlone)
{
    Strand s;
    Unwinding u;
    EXPECT_FALSE(s.Start(&UnwindAndYield, &u));
    EXPECT_EQ(u.inside, 1);
    EXPECT_EQ(std::uncaught_exceptions(), 0);
    EXPECT_TRUE(s.Resume());
    EXPECT_EQ(u.afterYield, 1);
    EXPECT_TRUE(u.caught);
    EXPECT_EQ(std::uncaught_exceptions(), 0);
}

// A host's call made from inside one of the strand's handlers: it sees no handler of ours, and
// an exception leaving it is caught on the strand as usual.
struct HostCallRecord
{
    bool sawHandler = true;
    bool caughtFromHost = false;
    bool ownAfterHost = false;
};

void CallTheHostInsideAHandler(void* context)
{
    auto& r = *static_cast<HostCallRecord*>(context);
    try
    {
        throw std::runtime_error("ours");
    }
    catch (std::exception const& ours)
    {
        try
        {
            Strand::HostCall host;
            r.sawHandler = std::current_exception() != nullptr;
            throw std::logic_error("from the host's call");
        }
        catch (std::logic_error const&)
        {
            r.caughtFromHost = std::uncaught_exceptions() == 0;
        }
        r.ownAfterHost = StillHandling(ours);
    }
}

TEST(StrandExceptions, AHostCallRunsOutsideTheStrandsHandlers)
{
    Strand s;
    HostCallRecord r;
    EXPECT_TRUE(s.Start(&CallTheHostInsideAHandler, &r));
    EXPECT_FALSE(r.sawHandler);
    EXPECT_TRUE(r.caughtFromHost);
    EXPECT_TRUE(r.ownAfterHost);
    EXPECT_EQ(std::current_exception(), nullptr);
}

bool Blocked(int signal)
{
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

struct Masks
{
    bool atStart = true;
    bool afterYield = false;
};

void RecordMasks(void* context)
{
    auto& m = *static_cast<Masks*>(context);
    m.atStart = Blocked(SIGUSR1);
    Strand::Yield();
    m.afterYield = Blocked(SIGUSR1);
    // Blocked here, for the strand's remaining run only.
    sigset_t usr2;
    sigemptyset(&usr2);
    sigaddset(&usr2, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &usr2, nullptr);
}

TEST(StrandSignalMask, AResumedStrandRunsWithTheThreadsCurrentMask)
{
    sigset_t original;
    pthread_sigmask(SIG_SETMASK, nullptr, &original);
    sigset_t both;
    sigemptyset(&both);
    sigaddset(&both, SIGUSR1);
    sigaddset(&both, SIGUSR2);
    pthread_sigmask(SIG_UNBLOCK, &both, nullptr);

    Strand s;
    Masks m;
    EXPECT_FALSE(s.Start(&RecordMasks, &m));
    EXPECT_FALSE(m.atStart);
    // The host blocks a signal between two calls.
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
    EXPECT_TRUE(s.Resume());
    EXPECT_TRUE(m.afterYield);
    EXPECT_TRUE(Blocked(SIGUSR1));
    EXPECT_FALSE(Blocked(SIGUSR2));

    pthread_sigmask(SIG_SETMASK, &original, nullptr);
}

// Touches `bytes` of stack, a page at a time.
[[gnu::noinline]] std::size_t UseStack(std::size_t bytes)
{
    constexpr std::size_t kFrame = 64 * 1024;
    volatile char block[kFrame];
    for (std::size_t i = 0; i < kFrame; i += 1024)
        block[i] = static_cast<char>(i >> 10);
    if (bytes <= kFrame) return static_cast<std::size_t>(block[kFrame / 2]);
    return UseStack(bytes - kFrame) + static_cast<std::size_t>(block[kFrame - 1024]);
}

void CallADeepHostCallback(void* context)
{
    Strand::HostCall host;
    // What a host's callback may use on a thread of its own with the default 8 MiB, less its
    // own frames.
    *static_cast<std::size_t*>(context) = UseStack(std::size_t{15} << 19);
}

TEST(StrandStack, AHostCallbackHasAHostThreadsStack)
{
    Strand s;
    std::size_t result = 0;
    EXPECT_TRUE(s.Start(&CallADeepHostCallback, &result));
    EXPECT_GT(result, 0u);
}
// The lowest frame address of a call `bytes` deep.
[[gnu::noinline]] std::uintptr_t DeepestFrame(std::size_t bytes)
{
    constexpr std::size_t kFrame = 16 * 1024;
    volatile char block[kFrame];
    for (std::size_t i = 0; i < kFrame; i += 1024)
        block[i] = 1;
    auto const here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    if (bytes <= kFrame) return here + static_cast<std::uintptr_t>(block[0] - 1);
    return DeepestFrame(bytes - kFrame) + static_cast<std::uintptr_t>(block[1024] - 1);
}

void CallDeepThenWait(void* context)
{
    *static_cast<std::uintptr_t*>(context) = DeepestFrame(std::size_t{2} << 20);
    Strand::Yield();
}

TEST(StrandPark, AParkedStrandKeepsOnlyThePagesOfItsFrames)
{
    auto* s = new Strand;
    std::uintptr_t deepest = 0;
    EXPECT_FALSE(s->Start(&CallDeepThenWait, &deepest));
    s->Park();
    auto const page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    unsigned char resident = 1;
    ASSERT_EQ(mincore(reinterpret_cast<void*>(deepest & ~(page - 1)), page, &resident), 0);
    EXPECT_EQ(resident & 1, 0);
    delete s; // its stack stays reserved
}
} // namespace
