#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "framework/Parameter.h"
#include "framework/ParameterHost.h"
#include "framework/Streams.h"
#include "framework/String.h"

namespace
{
// A derived host that records what it hears, as the instrument reacts to its parameters.
struct RecordingHost : ParameterHost
{
    std::vector<std::pair<float, Parameter*>> heard;
    void ParameterUpdated(float value, Parameter* changed) override { heard.emplace_back(value, changed); }
};

// Records which parameters refreshed, in order.
struct Order : ParamUpdateListener
{
    std::vector<Parameter*> seen;
    void ParameterUpdated(float, Parameter* changed) override { seen.push_back(changed); }
};

std::vector<unsigned char> Bytes(String const& s)
{
    char const* p = s;
    return std::vector<unsigned char>(p, p + s.GetLength());
}

std::vector<unsigned char> Le(float f)
{
    unsigned char b[4];
    std::memcpy(b, &f, 4);
    return {b[0], b[1], b[2], b[3]};
}

std::vector<unsigned char> Concat(std::initializer_list<float> values)
{
    std::vector<unsigned char> out;
    for (float v : values)
    {
        std::vector<unsigned char> b = Le(v);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

// A plug-in-like host: parameters registered in mixed scopes, plus a child host.
struct Plugin
{
    ParameterHost child;
    RecordingHost host;
    Parameter d, a, c, b, e, childGlobal, childPrivate;

    Plugin()
    {
        // Registration interleaves scopes; the stream goes by scope, then registration order.
        d.Create("d", &host, Parameter::Private, 0.0f, 10.0f, Parameter::Continuous);
        a.Create("a", &host, Parameter::Global, 0.0f, 10.0f, Parameter::Continuous);
        c.Create("c", &host, Parameter::Internal, 0.0f, 10.0f, Parameter::Discrete);
        b.Create("b", &host, Parameter::Global, 10.0f, -10.0f, Parameter::Continuous);
        e.Create("e", &host, static_cast<Parameter::Scope>(5), 0.0f, 1.0f, Parameter::Continuous);
        childGlobal.Create("cg", &child, Parameter::Global, 0.0f, 100.0f, Parameter::Continuous);
        childPrivate.Create("cp", &child, Parameter::Private, 0.0f, 1.0f, Parameter::Continuous);
        host.AddChildParameterHost(&child);
    }
};

String SaveToMemory(ParameterHost& host)
{
    String block;
    StringWriter w;
    w.Open(&block);
    host.Save(w);
    return block;
}
} // namespace

TEST(ParameterHostStream, WritesValuesByScopeThenRegistrationOrderThenChildren)
{
    Plugin p;
    p.a = 1.0f;
    p.b = -2.0f;
    p.c = 3.0f;
    p.d = 4.0f;
    p.e = 0.5f;
    p.childGlobal = 6.0f;
    p.childPrivate = 0.75f;

    String block = SaveToMemory(p.host);
    // globals a, b; internal c; privates d, e; then the child's global and private.
    std::vector<unsigned char> const expected = {
        0x00, 0x00, 0x80, 0x3F, // a 1.0
        0x00, 0x00, 0x00, 0xC0, // b -2.0
        0x00, 0x00, 0x40, 0x40, // c 3.0
        0x00, 0x00, 0x80, 0x40, // d 4.0
        0x00, 0x00, 0x00, 0x3F, // e 0.5
        0x00, 0x00, 0xC0, 0x40, // cg 6.0
        0x00, 0x00, 0x40, 0x3F, // cp 0.75
    };
    EXPECT_EQ(Bytes(block), expected);
}

TEST(ParameterHostStream, LoadsBackIntoAFreshHostAndTellsEveryListener)
{
    Plugin source;
    source.a = 2.5f;
    source.b = 7.0f;
    source.c = 9.0f;
    source.d = 0.125f;
    source.e = 1.0f;
    source.childGlobal = 99.0f;
    source.childPrivate = 0.3f;
    String block = SaveToMemory(source.host);

    Plugin fresh;
    fresh.host.heard.clear();
    StringReader r;
    r.Open(block, static_cast<std::size_t>(block.GetLength()));
    fresh.host.Load(r);
    EXPECT_EQ(static_cast<float>(fresh.a), 2.5f);
    EXPECT_EQ(static_cast<float>(fresh.b), 7.0f);
    EXPECT_EQ(static_cast<float>(fresh.c), 9.0f);
    EXPECT_EQ(static_cast<float>(fresh.d), 0.125f);
    EXPECT_EQ(static_cast<float>(fresh.e), 1.0f);
    EXPECT_EQ(static_cast<float>(fresh.childGlobal), 99.0f);
    EXPECT_EQ(static_cast<float>(fresh.childPrivate), 0.3f);
    EXPECT_EQ(r.Remaining(), 0u);
    // The host hears each of its own five parameters twice (set, then refresh).
    ASSERT_EQ(fresh.host.heard.size(), 10u);
    EXPECT_EQ(fresh.host.heard[0].second, &fresh.a);
    EXPECT_EQ(fresh.host.heard[1].second, &fresh.a);
    EXPECT_EQ(fresh.host.heard[2].second, &fresh.b);
    EXPECT_EQ(fresh.host.heard[9].second, &fresh.e);

    // Saving the restored host gives the same bytes.
    EXPECT_EQ(Bytes(SaveToMemory(fresh.host)), Bytes(block));
}

TEST(ParameterHostStream, LoadedValuesAreRoundedAndClamped)
{
    Plugin p;
    String block;
    StringWriter w;
    w.Open(&block);
    for (float v : {12.0f, -11.0f, 2.5f, -1.0f, 3.0f, 150.0f, -0.5f})
        w.Write(v);
    StringReader r;
    r.Open(block, static_cast<std::size_t>(block.GetLength()));
    p.host.Load(r);
    EXPECT_EQ(static_cast<float>(p.a), 10.0f);
    EXPECT_EQ(static_cast<float>(p.b), -10.0f);
    EXPECT_EQ(static_cast<float>(p.c), 3.0f);
    EXPECT_EQ(static_cast<float>(p.d), 0.0f);
    EXPECT_EQ(static_cast<float>(p.e), 1.0f);
    EXPECT_EQ(static_cast<float>(p.childGlobal), 100.0f);
    EXPECT_EQ(static_cast<float>(p.childPrivate), 0.0f);
}

TEST(ParameterHostStream, ATruncatedFileLeavesTheUnreadParametersAlone)
{
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("torvane-paramhost-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::string path = (dir / "values.bin").string();
    {
        FileWriter w;
        ASSERT_TRUE(w.Create(path.c_str()));
        w.Write(4.0f);               // a
        w.Write(-3.0f);              // b
        w.WriteBytes("\x00\x00", 2); // half of c
        w.Close();
    }
    Plugin p;
    p.c = 7.0f;
    p.d = 8.0f;
    p.childGlobal = 50.0f;
    FileReader r;
    ASSERT_TRUE(r.Open(path.c_str()));
    p.host.Load(r);
    r.Close();
    EXPECT_EQ(static_cast<float>(p.a), 4.0f);
    EXPECT_EQ(static_cast<float>(p.b), -3.0f);
    EXPECT_EQ(static_cast<float>(p.c), 7.0f);
    EXPECT_EQ(static_cast<float>(p.d), 8.0f);
    EXPECT_EQ(static_cast<float>(p.childGlobal), 50.0f);
    std::filesystem::remove_all(dir);
}

TEST(ParameterHostLookup, ScopesCountsAndNames)
{
    Plugin p;
    EXPECT_EQ(p.host.GetNumGlobalParameters(false), 2);
    EXPECT_EQ(p.host.GetNumGlobalParameters(true), 3);
    EXPECT_EQ(p.host.GetNumInternalParameters(true), 1);
    EXPECT_EQ(p.host.GetNumPrivateParameters(false), 2); // "d" and the scope-5 "e"
    EXPECT_EQ(p.host.GetNumPrivateParameters(true), 3);
    EXPECT_EQ(p.host.FindPrivateParameter("e", false), &p.e);
    EXPECT_EQ(p.host.FindParameter(5, "e", false), &p.e);

    EXPECT_EQ(p.host.FindGlobalParameter("a", false), &p.a);
    EXPECT_EQ(p.host.FindGlobalParameter("c", false), nullptr);
    EXPECT_EQ(p.host.FindInternalParameter("c", false), &p.c);
    EXPECT_EQ(p.host.FindGlobalParameter("cg", false), nullptr);
    EXPECT_EQ(p.host.FindGlobalParameter("cg", true), &p.childGlobal);
    EXPECT_EQ(p.host.FindParameter("cp", false), nullptr);
    EXPECT_EQ(p.host.FindParameter("cp", true), &p.childPrivate);
    EXPECT_EQ(p.host.FindParameter("A", true), nullptr);
    EXPECT_EQ(p.host.FindParameter(static_cast<char const*>(nullptr), true), nullptr);

    // A global is found before an internal of the same name.
    ParameterHost h;
    Parameter internal, global;
    internal.Create("Same", &h, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    global.Create("Same", &h, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    EXPECT_EQ(h.FindParameter("Same", false), &global);
}

TEST(ParameterHostLookup, AddingToAListDoesNotJoinTheListeners)
{
    RecordingHost h;
    Parameter p;
    p.Create("p", nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    h.AddGlobal(&p);
    h.AddInternal(&p);
    h.AddPrivate(&p);
    EXPECT_EQ(h.GetNumGlobalParameters(false), 1);
    EXPECT_EQ(h.GetNumInternalParameters(false), 1);
    EXPECT_EQ(h.GetNumPrivateParameters(false), 1);
    p = 0.5f;
    EXPECT_TRUE(h.heard.empty());
}

TEST(ParameterHostLookup, FinaliseNumbersGlobalsAndFillsTheIndexSpace)
{
    Plugin p;
    // Before the table exists, global indices find nothing.
    EXPECT_EQ(p.host.FindParameter(0L), nullptr);
    EXPECT_EQ(p.host.FindParameter(2L), nullptr);
    EXPECT_EQ(p.host.FindParameter(3L), &p.c); // internals do not need the table

    p.host.FinaliseGlobalParameters();
    EXPECT_EQ(p.a.GetGlobalNumber(), 0);
    EXPECT_EQ(p.b.GetGlobalNumber(), 1);
    EXPECT_EQ(p.childGlobal.GetGlobalNumber(), 2);

    Parameter* const expected[] = {&p.a, &p.b, &p.childGlobal, &p.c, &p.d, &p.e, &p.childPrivate};
    for (long i = 0; i < 7; ++i)
        EXPECT_EQ(p.host.FindParameter(i), expected[i]) << i;
    EXPECT_EQ(p.host.FindParameter(7L), nullptr);
    EXPECT_EQ(p.host.FindParameter(-1L), nullptr);
    EXPECT_EQ(p.host.FindParameter(1000000L), nullptr);

    EXPECT_EQ(p.host.FindGlobalParameter(2L), &p.childGlobal);
    EXPECT_EQ(p.host.FindGlobalParameter(3L), nullptr);
    EXPECT_EQ(p.host.FindGlobalParameter(-1L), nullptr);
    EXPECT_EQ(p.host.FindPrivateParameter(2L), &p.childPrivate);
    EXPECT_EQ(p.host.FindInternalParameter(1L), nullptr);

    // The finalising host now hears its own globals twice and the child's global once.
    p.host.heard.clear();
    p.a = 1.0f;
    EXPECT_EQ(p.host.heard.size(), 2u);
    p.host.heard.clear();
    p.childGlobal = 1.0f;
    ASSERT_EQ(p.host.heard.size(), 1u);
    EXPECT_EQ(p.host.heard[0].second, &p.childGlobal);
}

TEST(ParameterHostLookup, IndexLookupReachesGrandchildren)
{
    ParameterHost root, child, grandchild;
    Parameter r0, c0, g0, c1;
    r0.Create("r0", &root, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    c0.Create("c0", &child, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    g0.Create("g0", &grandchild, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    c1.Create("c1", &child, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    child.AddChildParameterHost(&grandchild);
    root.AddChildParameterHost(&child);

    root.FinaliseGlobalParameters();
    EXPECT_EQ(root.FindGlobalParameter(0L), &r0);
    EXPECT_EQ(root.FindGlobalParameter(1L), &c0);
    EXPECT_EQ(root.FindGlobalParameter(2L), &c1);
    EXPECT_EQ(root.FindGlobalParameter(3L), &g0);
    EXPECT_EQ(root.FindGlobalParameter(4L), nullptr);
    EXPECT_EQ(g0.GetGlobalNumber(), 3);
    EXPECT_EQ(root.FindGlobalParameter("g0", true), &g0);

    // The stream follows the same nesting: each host's own values, then its children's.
    r0 = 0.1f;
    c0 = 0.2f;
    c1 = 0.3f;
    g0 = 0.4f;
    EXPECT_EQ(Bytes(SaveToMemory(root)), Concat({0.1f, 0.2f, 0.3f, 0.4f}));
}

TEST(ParameterHostRefresh, RefreshesPrivatesThenInternalsThenGlobals)
{
    Plugin p;
    Order order;
    for (Parameter* q : {&p.a, &p.b, &p.c, &p.d, &p.e, &p.childGlobal, &p.childPrivate})
        q->AddUpdateListener(&order);

    p.host.RefreshAllParameterListeners(3, false);
    EXPECT_EQ(order.seen, (std::vector<Parameter*>{&p.d, &p.e, &p.c, &p.a, &p.b}));

    order.seen.clear();
    p.host.RefreshAllParameterListeners(3, true);
    EXPECT_EQ(order.seen,
              (std::vector<Parameter*>{&p.d, &p.e, &p.c, &p.a, &p.b, &p.childPrivate, &p.childGlobal}));

    order.seen.clear();
    p.host.RefreshAllParameterListeners(0, true);
    EXPECT_EQ(order.seen, (std::vector<Parameter*>{&p.a, &p.b, &p.childGlobal}));

    order.seen.clear();
    p.host.RefreshAllParameterListeners(1, false);
    EXPECT_EQ(order.seen, (std::vector<Parameter*>{&p.c}));

    order.seen.clear();
    p.host.RefreshAllParameterListeners(2, false);
    EXPECT_EQ(order.seen, (std::vector<Parameter*>{&p.d, &p.e}));
}
