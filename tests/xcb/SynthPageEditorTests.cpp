// End to end: under a private X server, a drag on the synthesizer page's delay-mix knob in
// Torvane's editor reaches the host as automation of that parameter.

#include <cstdio>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "support/TemporaryDataHome.h"
#include "support/gfx/RunProgram.h"
#include "support/gfx/Xvfb.h"

namespace
{
std::string RunHost(std::string const& arguments, int& status)
{
    ProgramRun const r =
        RunProgram(std::string(TORVANE_VSTHOST_PATH) + " " + arguments, TORVANE_VSTHOST_LSAN_SUPPRESSIONS);
    status = r.status;
    return r.out;
}

class SynthPageEditor : public ::testing::Test
{
public:
    void SetUp() override { XVFB_START_OR_SKIP(server); }

    XvfbServer server;
    TemporaryDataHome home;
};

TEST_F(SynthPageEditor, DraggingTheDelayMixKnobAutomatesItsParameter)
{
    // The host's parameter list names the index.
    int status = 0;
    std::istringstream info(RunHost(std::string("--info ") + TORVANE_PLUGIN_PATH, status));
    ASSERT_EQ(status, 0);
    int index = -1;
    float before = -1.0f;
    for (std::string line; std::getline(info, line);)
    {
        int i = -1;
        char name[64] = {};
        float value = 0.0f;
        if (std::sscanf(line.c_str(), " %d %63s %f", &i, name, &value) == 3 &&
            std::string(name) == "DELAY_MIX")
        {
            index = i;
            before = value;
        }
    }
    ASSERT_GE(index, 0);

    // The knob at page (80, 545) owns the window from (77, 541); the page lies at root (0, 50).
    std::string const out =
        RunHost(std::string("--editor ") + TORVANE_PLUGIN_PATH +
                    " --run 0.8 --drag 93,607:93,547@0.2 --print-automation --print-parameters",
                status);
    ASSERT_EQ(status, 0) << out;
    bool automated = false;
    float after = -1.0f;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
    {
        int i = -1;
        float value = 0.0f;
        if (std::sscanf(line.c_str(), "automation %d %f", &i, &value) == 2 && i == index) automated = true;
        if (std::sscanf(line.c_str(), "parameter %d %f", &i, &value) == 2 && i == index) after = value;
    }
    EXPECT_TRUE(automated) << out;
    EXPECT_GT(after, before + 0.2f) << out;
}
} // namespace
