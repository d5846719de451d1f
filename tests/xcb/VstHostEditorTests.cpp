// End to end: the host's editor mode opens the test synth's editor under a private X server,
// clicks its slider with XTest and checks what the host heard and what the screen shows.

#include <cstdio>
#include <cstdlib>
#include <string>

#include <cairo.h>
#include <gtest/gtest.h>

#include "support/gfx/RunProgram.h"
#include "support/gfx/Xvfb.h"

namespace
{
// The test synth's editor layout (tools/testsynth/TestSynthEditor.h).
constexpr int kSliderX = 20, kSliderY = 30, kSliderWidth = 280, kThumbWidth = 16;

ProgramRun RunHost(std::string const& arguments)
{
    return RunProgram(std::string(TORVANE_VSTHOST_PATH) + " --editor " + TORVANE_TEST_SYNTH_PATH + " " +
                          arguments,
                      TORVANE_VSTHOST_LSAN_SUPPRESSIONS);
}

double Value(std::string const& out, std::string const& prefix)
{
    std::size_t at = out.find(prefix);
    return at == std::string::npos ? -1.0 : std::atof(out.c_str() + at + prefix.size());
}

class VstHostEditor : public ::testing::Test
{
public:
    void SetUp() override { XVFB_START_OR_SKIP(server); }
    XvfbServer server;
    std::string shot = ::testing::TempDir() + "vsthost-editor-" + std::to_string(getpid()) + ".png";
    void TearDown() override { std::remove(shot.c_str()); }
};

// The slider's thumb centre at 25 % of its travel.
constexpr int kClickX = kSliderX + kThumbWidth / 2 + (kSliderWidth - kThumbWidth) / 4;
constexpr int kClickY = kSliderY + 12;

void CheckClickedSlider(ProgramRun const& r, std::string const& shot)
{
    ASSERT_EQ(r.status, 0) << r.out;
    double const expected = 0.25;
    EXPECT_NEAR(Value(r.out, "automation 0 "), expected, 0.01) << r.out;
    EXPECT_NEAR(Value(r.out, "parameter 0 "), expected, 0.01) << r.out;
    // The other parameters kept their values.
    EXPECT_NEAR(Value(r.out, "parameter 2 "), 1.0, 1e-6) << r.out;
    EXPECT_EQ(r.out.find("automation 2 "), std::string::npos) << r.out;

    cairo_surface_t* image = cairo_image_surface_create_from_png(shot.c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
    ASSERT_EQ(cairo_image_surface_get_width(image), 320);
    ASSERT_EQ(cairo_image_surface_get_height(image), 120);
    unsigned char const* data = cairo_image_surface_get_data(image);
    int const stride = cairo_image_surface_get_stride(image);
    auto grey = [&](int x, int y)
    {
        unsigned char const* p = data + y * stride + x * 4;
        return (p[0] + p[1] + p[2]) / 3;
    };
    // The thumb (light) sits under the click; the track's far end stays dark.
    EXPECT_GT(grey(kClickX, kClickY), 200);
    EXPECT_LT(grey(kSliderX + kSliderWidth - 4, kSliderY + 11), 120);
    EXPECT_LT(grey(kSliderX + kSliderWidth * 3 / 4, kSliderY + 2), 120); // the old thumb place
    cairo_surface_destroy(image);
}

TEST_F(VstHostEditor, ClickOnTheSliderIsHeardByTheHostAndShown)
{
    char args[256];
    std::snprintf(args, sizeof args,
                  "--run 0.5 --click %d,%d@0.1 --screenshot %s --print-automation --print-parameters",
                  kClickX, kClickY, shot.c_str());
    CheckClickedSlider(RunHost(args), shot);
}

TEST_F(VstHostEditor, OpenCloseOpenOnAnEditorThread)
{
    char args[256];
    std::snprintf(args, sizeof args,
                  "--reopen --editor-thread --run 0.5 --click %d,%d@0.1 --screenshot %s --print-automation "
                  "--print-parameters",
                  kClickX, kClickY, shot.c_str());
    CheckClickedSlider(RunHost(args), shot);
}

TEST_F(VstHostEditor, DragOffTheWindowEndsAtTheTravelsEnd)
{
    char args[256];
    std::snprintf(args, sizeof args, "--run 0.5 --drag %d,%d:%d,%d@0.1 --print-parameters", kClickX, kClickY,
                  900, kClickY + 300);
    ProgramRun r = RunHost(args);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NEAR(Value(r.out, "parameter 0 "), 1.0, 1e-6) << r.out;
}

TEST_F(VstHostEditor, DoubleClickOnTheToggleTogglesOnce)
{
    ProgramRun r = RunHost("--run 0.4 --double-click 30,88@0.1 --print-automation --print-parameters");
    ASSERT_EQ(r.status, 0) << r.out;
    // The first press toggles; the double click's second press is a double click, not a press.
    EXPECT_NEAR(Value(r.out, "parameter 3 "), 1.0, 1e-6) << r.out;
}

TEST_F(VstHostEditor, SavedStateIsTheOneTheEditorLeaves)
{
    std::string const state = ::testing::TempDir() + "vsthost-editor-" + std::to_string(getpid()) + ".state";
    char args[256];
    std::snprintf(args, sizeof args, "--run 0.5 --click %d,%d@0.1 --save-state %s", kClickX, kClickY,
                  state.c_str());
    ProgramRun const run = RunHost(args);
    ASSERT_EQ(run.status, 0) << run.out;
    // The facts of the saved state: parameter 0 as the click left it.
    ProgramRun const facts = RunProgram(std::string(TORVANE_VSTHOST_PATH) + " --info --load-state " + state +
                                            " " + TORVANE_TEST_SYNTH_PATH,
                                        TORVANE_VSTHOST_LSAN_SUPPRESSIONS);
    std::remove(state.c_str());
    ASSERT_EQ(facts.status, 0) << facts.out;
    std::size_t const line = facts.out.find("\n   0 ");
    ASSERT_NE(line, std::string::npos) << facts.out;
    std::size_t const end = facts.out.find('\n', line + 1);
    EXPECT_NEAR(std::atof(facts.out.c_str() + facts.out.rfind(' ', end) + 1), 0.25, 0.01) << facts.out;
}

TEST(VstHostEditorWithoutDisplay, NoDisplayIsAClearError)
{
    std::string saved = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    setenv("DISPLAY", ":9999", 1);
    ProgramRun r = RunHost("--run 0.1");
    if (saved.empty())
        unsetenv("DISPLAY");
    else
        setenv("DISPLAY", saved.c_str(), 1);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("cannot open the display"), std::string::npos) << r.out;
}
} // namespace
