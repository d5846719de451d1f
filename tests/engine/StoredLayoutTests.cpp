// The stored layout of the units that write themselves into patches and host states (the delay
// has its own format tests): one row per unit, set away from its defaults where that shows the order of its
// fields, with the bytes it must write spelled out field by field (little-endian floats F, ints I, bools B).
// The units' own tests check that what they write loads back.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ModulationTestSupport.h"
#include "dsp/Envelope.h"
#include "dsp/ReverbEffect.h"
#include "dsp/StereoFilter.h"
#include "engine/TMod.h"

using namespace modtest;

namespace
{

struct LayoutCase
{
    char const* unit;
    std::function<Bytes()> save;
    Bytes expected;
};

std::vector<LayoutCase> Cases()
{
    std::vector<LayoutCase> cases;

    // Version, point count, values per point, then each point's time and values.
    cases.push_back({"Envelope with one point of two values",
                     []
                     {
                         Envelope e(2);
                         Breakpoint* p = e.AddBreakpoint();
                         p->time = 2.0f;
                         p->values[0] = 1.0f;
                         p->values[1] = -0.5f;
                         return SaveBytes([&](Writer& w) { EXPECT_TRUE(e.Save(w)); });
                     },
                     Builder().F(1.0f).I(1).I(2).F(2.0f).F(1.0f).F(-0.5f).Get()});

    // Bypass, then enabled, time, size, mix.
    cases.push_back({"ReverbEffect",
                     []
                     {
                         ReverbEffect r;
                         r.enabled.SetBool(true);
                         r.timeParam = 0.9f;
                         r.sizeParam = 0.1f;
                         r.mixParam = 0.3f;
                         return SaveBytes([&](Writer& w) { r.Save(w); });
                     },
                     Builder().F(1.0f).F(1.0f).F(0.9f).F(0.1f).F(0.3f).Get()});

    // Enabled, cutoff, resonance, type, then the bypass.
    cases.push_back({"StereoFilter",
                     []
                     {
                         StereoFilter f;
                         f.enabled.SetBool(true);
                         f.cutoff = 1234.0f;
                         f.resonance = 7.0f;
                         f.type = 1.0f;
                         return SaveBytes([&](Writer& w) { f.Save(w); });
                     },
                     Builder().F(1.0f).F(1234.0f).F(7.0f).F(1.0f).F(1.0f).Get()});

    // Version, row count, then per row: version, enabled, output, input, amount, amount from line.
    cases.push_back({"TModMatrix of two rows",
                     []
                     {
                         TModMatrix m;
                         m.Init(2);
                         TModMap* r = m.GetMap(1);
                         r->enabled = true;
                         r->output = 3;
                         r->input = -1;
                         r->amount = 0.5f;
                         r->amountFromLine = false;
                         return SaveBytes([&](Writer& w) { EXPECT_TRUE(m.Save(w)); });
                     },
                     Builder()
                         .F(1.0f)
                         .I(2)
                         .F(1.0f)
                         .B(false)
                         .I(-1)
                         .I(-1)
                         .F(0.0f)
                         .B(true)
                         .F(1.0f)
                         .B(true)
                         .I(3)
                         .I(-1)
                         .F(0.5f)
                         .B(false)
                         .Get()});
    return cases;
}

} // namespace

TEST(StoredLayout, EveryUnitWritesItsFieldsInTheirOrder)
{
    for (LayoutCase const& c : Cases())
        EXPECT_EQ(c.save(), c.expected) << c.unit;
}
