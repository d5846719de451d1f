#include "editor_art/EditorArt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Manifest.h"
#include "Paint.h"

#include <fontconfig/fontconfig.h>

namespace
{

// Every file name the editors load, as they spell it.
const char* const kEditorImageNames[] = {
    "TorvaneBackground.png",
    "PerformBackground.png",
    "PresetBackground.png",
    "AboutButUp.png",
    "AboutButDown.png",
    "Help But Up.png",
    "Help But Down.png",
    "FileButUp.png",
    "FileButDown.png",
    "PresetPreviousButUp.png",
    "PresetPreviousButDown.png",
    "PresetNextButUp.png",
    "PresetNextButDown.png",
    "CloseSmallBut Up.png",
    "CloseSmallBut Down.png",
    "Knob.png",
    "KnobPointer.png",
    "BowlDot.png",
    "ModulationOn.png",
    "WaveBackground.png",
    "WaveLeft.png",
    "WaveLeftPressed.png",
    "WaveRight.png",
    "WaveRightPressed.png",
    "WaveSine.png",
    "WaveSquare.png",
    "WaveRamp.png",
    "WaveRandom.png",
    "FilterLP.png",
    "FilterBP.png",
    "FilterHP.png",
    "TorvaneSplash.png",
    "Ok But Up.png",
    "Ok But Down.png",
    "Cancel But Up.png",
    "Cancel But Down.png",
    "MultipleSelection Bar.png",
    "CopyBut Up.png",
    "CopyBut Down.png",
    "PasteBut Up.png",
    "PasteBut Down.png",
    "DeleteMulti Down.png",
    "DeleteMulti Up.png",
    "UnselectBut Up.png",
    "UnselectBut Down.png",
    "RescaleBut Up.png",
    "RescaleBut Down.png",
    "GroupToggle Up.png",
    "GroupToggle Down.png",
    "AssignXUp.png",
    "AssignXDown.png",
    "AssignYUp.png",
    "AssignYDown.png",
    "MIDILearnImg.png",
    "OnBut.png",
    "OffBut.png",
    "SmallOn.png",
    "SmallOff.png",
    "SliderDownPointer.png",
    "SliderLeftPointer.png",
    "Fader.png",
    "Voice1Up.png",
    "Voice1Down.png",
    "Voice2Up.png",
    "Voice2Down.png",
    "Voice3Up.png",
    "Voice3Down.png",
    "Voice4Up.png",
    "Voice4Down.png",
    "WaveLoadUp.png",
    "WaveLoadDown.png",
    "WaveEditUp.png",
    "WaveEditDown.png",
    "TimeFreezeOn.png",
    "TimeFreezeOff.png",
    "MIDILearn Small Up.png",
    "MIDILearn Small Down.png",
    "LoopButOn.png",
    "LoopButOff.png",
    "PositiveOnlyOn.png",
    "PositiveOnlyOff.png",
    "SyncBut On.png",
    "SyncBut Off.png",
    "StereoBut On.png",
    "StereoBut Off.png",
    "PrevButUp.png",
    "PrevButDown.png",
    "NextButUp.png",
    "NextButDown.png",
    "CopyAllButUp.png",
    "CopyAllButDown.png",
    "PasteAllButUp.png",
    "PasteAllButDown.png",
    "PasteRedUp.png",
    "PasteRedDown.png",
    "PasteBlueUp.png",
    "PasteBlueDown.png",
    "PasteGreenUp.png",
    "PasteGreenDown.png",
    "PasteCyanUp.png",
    "PasteCyanDown.png",
    "PasteYellowUp.png",
    "PasteYellowDown.png",
    "MenuRedUp.png",
    "MenuRedDown.png",
    "MenuBlueUp.png",
    "MenuBlueDown.png",
    "MenuGreenUp.png",
    "MenuGreenDown.png",
    "MenuCyanUp.png",
    "MenuCyanDown.png",
    "MenuYellowUp.png",
    "MenuYellowDown.png",
    "MenuGreyUp.png",
    "MenuGreyDown.png",
    "TimelinePresetBackground.png",
    "Toggle On.png",
    "Toggle Off.png",
    "Toggle Unavailable.png",
    "AddUpBut.png",
    "AddDownBut.png",
    "DeleteUpBut.png",
    "DeleteDownBut.png",
    "RenameUpBut.png",
    "RenameDownBut.png",
    "CloseUp.png",
    "CloseDown.png",
    "LoadUpBut.png",
    "LoadDownBut.png",
    "SaveUpBut.png",
    "SaveDownBut.png",
    "SaveDialog.png",
    "CancelUpBut.png",
    "CancelDownBut.png",
    "DeleteDisabledBut.png",
    "RenameDisabledBut.png",
    "WaveformBrowser.png",
    "ImportUpBut.png",
    "ImportDownBut.png",
    "WaveEditorBackground.png",
    "Minus.png",
    "MinusPressed.png",
    "Plus.png",
    "PlusPressed.png",
    "ZoomLabel.png",
    "PartialScrollBar.png",
    "ShowFolder But Up.png",
    "ShowFolder But Down.png",
};

struct Decoded
{
    int w = 0;
    int h = 0;
    std::vector<std::uint32_t> argb; // premultiplied, as cairo holds it

    struct Pixel
    {
        double r, g, b, a;
    };
    Pixel At(int x, int y) const
    {
        const std::uint32_t p = argb[static_cast<std::size_t>(y) * w + x];
        const double a = (p >> 24) / 255.0;
        if (a == 0) return {0, 0, 0, 0};
        return {((p >> 16) & 255) / 255.0 / a, ((p >> 8) & 255) / 255.0 / a, (p & 255) / 255.0 / a, a};
    }
};

struct Reader
{
    const unsigned char* data;
    std::size_t size;
    std::size_t pos = 0;
};

cairo_status_t Read(void* closure, unsigned char* out, unsigned int length)
{
    auto* r = static_cast<Reader*>(closure);
    if (r->pos + length > r->size) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, r->data + r->pos, length);
    r->pos += length;
    return CAIRO_STATUS_SUCCESS;
}

// Decodes PNG bytes; an empty result (w == 0) when they do not decode.
Decoded Decode(const unsigned char* data, std::size_t size)
{
    Reader reader{data, size};
    cairo_surface_t* s = cairo_image_surface_create_from_png_stream(Read, &reader);
    Decoded d;
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS)
    {
        cairo_surface_t* argb = cairo_image_surface_create(
            CAIRO_FORMAT_ARGB32, cairo_image_surface_get_width(s), cairo_image_surface_get_height(s));
        cairo_t* cr = cairo_create(argb);
        cairo_set_source_surface(cr, s, 0, 0);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_flush(argb);
        d.w = cairo_image_surface_get_width(argb);
        d.h = cairo_image_surface_get_height(argb);
        const int stride = cairo_image_surface_get_stride(argb);
        const unsigned char* bytes = cairo_image_surface_get_data(argb);
        d.argb.resize(static_cast<std::size_t>(d.w) * d.h);
        for (int y = 0; y < d.h; ++y)
            std::memcpy(&d.argb[static_cast<std::size_t>(y) * d.w], bytes + y * stride, d.w * 4);
        cairo_surface_destroy(argb);
    }
    cairo_surface_destroy(s);
    return d;
}

Decoded DecodeEmbedded(const char* name)
{
    const EmbeddedImage* image = FindEditorImage(name);
    if (!image) return {};
    return Decode(image->data, image->size);
}

double Channel(double c)
{
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
double Luminance(double r, double g, double b)
{
    return 0.2126 * Channel(r) + 0.7152 * Channel(g) + 0.0722 * Channel(b);
}
double Contrast(double l1, double l2)
{
    return (std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05);
}

// Mean brightness of an image composited over the page colour.
double MeanLuminance(const Decoded& d)
{
    double sum = 0;
    const double bg = 24 / 255.0;
    for (int y = 0; y < d.h; ++y)
        for (int x = 0; x < d.w; ++x)
        {
            const Decoded::Pixel p = d.At(x, y);
            sum +=
                Luminance(p.r * p.a + bg * (1 - p.a), p.g * p.a + bg * (1 - p.a), p.b * p.a + bg * (1 - p.a));
        }
    return sum / (d.w * d.h);
}

// cairo keeps its font faces (and fontconfig's patterns) for the life of the process; release
// them at the end so the leak checker sees only our own allocations.
class ReleaseFontCaches : public ::testing::Environment
{
public:
    void TearDown() override
    {
        cairo_debug_reset_static_data();
        FcFini();
    }
};
const ::testing::Environment* const kReleaseFontCaches =
    ::testing::AddGlobalTestEnvironment(new ReleaseFontCaches);

TEST(EditorArt, EveryImageTheEditorsLoadIsEmbeddedOnceAndSorted)
{
    EXPECT_EQ(std::size(kEditorImageNames), 148u);
    for (const char* name : kEditorImageNames)
    {
        EXPECT_NE(FindEditorImage(name), nullptr) << name;
    }
    const auto images = EditorImages();
    ASSERT_EQ(images.size(), std::size(kEditorImageNames));
    for (std::size_t i = 1; i < images.size(); ++i)
    {
        EXPECT_LT(std::string(images[i - 1].name), std::string(images[i].name));
    }
    // Names are exact: no case folding, spaces matter.
    EXPECT_EQ(FindEditorImage("filebutup.png"), nullptr);
    EXPECT_EQ(FindEditorImage("HelpButUp.png"), nullptr);
    EXPECT_EQ(FindEditorImage(""), nullptr);
}

TEST(EditorArt, ManifestMatchesTheEmbeddedTable)
{
    std::set<std::string> manifest;
    for (const artgen::ArtEntry& e : artgen::Manifest())
    {
        EXPECT_TRUE(manifest.insert(e.name).second) << "listed twice: " << e.name;
    }
    std::set<std::string> embedded;
    for (const EmbeddedImage& e : EditorImages())
        embedded.insert(e.name);
    EXPECT_EQ(manifest, embedded);
}

TEST(EditorArt, ImagesDecodeAtTheirSizesWithinTheirBounds)
{
    for (const artgen::ArtEntry& e : artgen::Manifest())
    {
        SCOPED_TRACE(e.name);
        const Decoded d = DecodeEmbedded(e.name);
        ASSERT_GT(d.w, 0) << "does not decode";
        EXPECT_EQ(d.w, e.w);
        EXPECT_EQ(d.h, e.h);
        EXPECT_LE(d.w, e.maxW);
        EXPECT_LE(d.h, e.maxH);
        if (e.kind == artgen::ArtKind::Background)
        {
            // Backdrops cover their windows: no see-through pixel.
            EXPECT_TRUE(
                std::all_of(d.argb.begin(), d.argb.end(), [](std::uint32_t p) { return (p >> 24) == 255; }));
        }
        else
        {
            // Nothing is blank.
            EXPECT_TRUE(
                std::any_of(d.argb.begin(), d.argb.end(), [](std::uint32_t p) { return (p >> 24) != 0; }));
        }
    }
    // The knob face leaves the corners clear so the value ring shows round it.
    const Decoded knob = DecodeEmbedded("Knob.png");
    ASSERT_EQ(knob.w, 28);
    EXPECT_EQ(knob.argb[0] >> 24, 0u);
    EXPECT_EQ(knob.argb[27] >> 24, 0u);
    EXPECT_EQ(knob.argb[14 * 28 + 14] >> 24, 255u);
}

TEST(EditorArt, PairsShareASizeAndDifferAtAGlance)
{
    int pairs = 0;
    for (const artgen::ArtEntry& e : artgen::Manifest())
    {
        if (!e.partner) continue;
        SCOPED_TRACE(e.name);
        const artgen::ArtEntry* other = artgen::FindEntry(e.partner);
        ASSERT_NE(other, nullptr);
        const Decoded a = DecodeEmbedded(e.name);
        const Decoded b = DecodeEmbedded(other->name);
        ASSERT_EQ(a.w, b.w);
        ASSERT_EQ(a.h, b.h);
        ++pairs;
        // Differ clearly: the mean brightness moves, not just a few pixels.
        const double la = MeanLuminance(a), lb = MeanLuminance(b);
        EXPECT_GT(std::fabs(la - lb), 0.01);
        if (e.state == artgen::ArtState::Pressed || e.state == artgen::ArtState::Unavailable)
        {
            EXPECT_LT(la, lb) << "the pressed or greyed picture should be the darker one";
        }
        if (e.state == artgen::ArtState::On)
        {
            EXPECT_GT(la, lb) << "the on picture should be the lit one";
        }
    }
    EXPECT_GE(pairs, 100);
}

// What each backdrop promises the code under its text zones: every pixel of the zone keeps the
// zone's contrast with the zone's ink laid over it. How the drawn text measures on screen is the
// editor's readability test (headless snapshots of every page and dialog).
TEST(EditorArt, TextTheCodeDrawsStaysReadable)
{
    for (const artgen::TextZone& z : artgen::TextZones())
    {
        SCOPED_TRACE(std::string(z.image) + ": " + z.what);
        const Decoded d = DecodeEmbedded(z.image);
        ASSERT_GT(d.w, 0);
        ASSERT_GE(z.area.x, 0);
        ASSERT_GE(z.area.y, 0);
        ASSERT_LE(z.area.Right(), d.w);
        ASSERT_LE(z.area.Bottom(), d.h);
        double worst = 21;
        int wx = 0, wy = 0;
        for (int y = z.area.y; y < z.area.Bottom(); ++y)
            for (int x = z.area.x; x < z.area.Right(); ++x)
            {
                const Decoded::Pixel p = d.At(x, y);
                auto over = [&](int ink, double under)
                { return z.inkAlpha * ink / 255.0 + (1 - z.inkAlpha) * under; };
                const double ink = Luminance(over(z.ink.r, p.r), over(z.ink.g, p.g), over(z.ink.b, p.b));
                const double c = Contrast(ink, Luminance(p.r, p.g, p.b));
                if (c < worst)
                {
                    worst = c;
                    wx = x;
                    wy = y;
                }
            }
        EXPECT_GE(worst, z.minContrast) << "worst pixel at (" << wx << ", " << wy << ")";
    }
}

TEST(EditorArt, EveryKnobOfTheSynthPageSitsWholeOnItsPanel)
{
    using namespace layout::synth;
    const Decoded d = DecodeEmbedded("TorvaneBackground.png");
    ASSERT_GT(d.w, 0);
    const layout::Point knobs[] = {
        kPitchKnob,          kFineKnob,           kDetuneKnob,     kSpreadKnob,     kCutoffKnob,
        kResonanceKnob,      kLfoRate[0],         kLfoRate[1],     kDelayKnobs[0],  kDelayKnobs[1],
        kDelayKnobs[2],      kReverbKnobs[0],     kReverbKnobs[1], kReverbKnobs[2], kDistortionKnobs[0],
        kDistortionKnobs[1], kDistortionKnobs[2], kLowCutKnob,     kHighCutKnob,    kBendKnob,
        kPortamentoKnob,     kPolyphonyKnob,
    };
    const artgen::Colour panel = artgen::theme::kPanel;
    for (const layout::Point k : knobs)
    {
        // Under the whole window the panel's plain face: no page showing through, no border, rule
        // or caption.
        const layout::Rect w = KnobWindow(k).Offset(layout::root::kSynthPage);
        SCOPED_TRACE(testing::Message() << "knob at (" << k.x << ", " << k.y << ")");
        int off = 0, fx = 0, fy = 0;
        for (int y = w.y; y < w.Bottom(); ++y)
            for (int x = w.x; x < w.Right(); ++x)
            {
                const Decoded::Pixel p = d.At(x, y);
                if (std::fabs(p.r - panel.r) + std::fabs(p.g - panel.g) + std::fabs(p.b - panel.b) >
                    3 / 255.0)
                {
                    if (off++ == 0)
                    {
                        fx = x;
                        fy = y;
                    }
                }
            }
        EXPECT_EQ(off, 0) << "first off the panel at root (" << fx << ", " << fy << ")";
    }
}

TEST(EditorArt, TwoRunsOfTheGeneratorGiveTheSameBytes)
{
    for (const artgen::ArtEntry& e : artgen::Manifest())
    {
        SCOPED_TRACE(e.name);
        const std::vector<unsigned char> first = artgen::RenderPng(e);
        const std::vector<unsigned char> second = artgen::RenderPng(e);
        EXPECT_EQ(first, second);
        // The build ran the generator in another process: the same bytes again.
        const EmbeddedImage* built = FindEditorImage(e.name);
        ASSERT_NE(built, nullptr);
        EXPECT_TRUE(first.size() == built->size && std::equal(first.begin(), first.end(), built->data));
    }
}

TEST(EditorArt, TestsCanHideAnEntry)
{
    ASSERT_NE(FindEditorImage("FileButUp.png"), nullptr);
    {
        ScopedHiddenEditorImage hidden("FileButUp.png");
        EXPECT_EQ(FindEditorImage("FileButUp.png"), nullptr);
        EXPECT_NE(FindEditorImage("FileButDown.png"), nullptr);
        EXPECT_EQ(EditorImages().size(), 148u);
    }
    EXPECT_NE(FindEditorImage("FileButUp.png"), nullptr);

    HideEditorImage("TorvaneBackground.png");
    HideEditorImage("Help But Up.png");
    EXPECT_EQ(FindEditorImage("TorvaneBackground.png"), nullptr);
    EXPECT_EQ(FindEditorImage("Help But Up.png"), nullptr);
    ShowAllEditorImages();
    EXPECT_NE(FindEditorImage("TorvaneBackground.png"), nullptr);
    EXPECT_NE(FindEditorImage("Help But Up.png"), nullptr);
}

} // namespace

namespace
{
// The height in pixels of the first letter of a button's caption (its first run of inked columns
// from `from`): the rows holding a pixel of it that stands out from its row's face (the row's most
// common colour) by at least half the caption's own contrast.
int FirstLetterHeight(const Decoded& d, int from, std::string* trace)
{
    // The face is the most common colour of each row; ink is what stands out from it.
    std::vector<std::vector<double>> c(d.h, std::vector<double>(d.w, 1.0));
    double strongest = 1.0;
    for (int y = 2; y < d.h - 2; ++y)
    {
        std::map<std::uint32_t, int> votes;
        for (int x = 2; x < d.w - 2; ++x)
            ++votes[d.argb[y * d.w + x]];
        std::uint32_t face = 0;
        int best = -1;
        for (auto const& [p, n] : votes)
            if (n > best) face = p, best = n;
        const double a = (face >> 24) / 255.0;
        const double lf = a == 0 ? 0
                                 : Luminance(((face >> 16) & 255) / 255.0 / a,
                                             ((face >> 8) & 255) / 255.0 / a, (face & 255) / 255.0 / a);
        for (int x = 2; x < d.w - 2; ++x)
        {
            const Decoded::Pixel p = d.At(x, y);
            c[y][x] = Contrast(Luminance(p.r, p.g, p.b), lf);
            strongest = std::max(strongest, c[y][x]);
        }
    }
    const double inked = 1.0 + (strongest - 1.0) / 2.0;
    auto columnInked = [&](int x)
    {
        for (int y = 2; y < d.h - 2; ++y)
            if (c[y][x] >= inked) return true;
        return false;
    };
    int left = std::max(2, from);
    while (left < d.w - 2 && !columnInked(left))
        ++left;
    int right = left;
    while (right < d.w - 2 && columnInked(right))
        ++right;
    int top = -1, bottom = -1;
    for (int y = 2; y < d.h - 2; ++y)
        for (int x = left; x < right; ++x)
            if (c[y][x] >= inked)
            {
                if (top < 0) top = y;
                bottom = y;
            }
    if (trace) *trace = "columns " + std::to_string(left) + ".." + std::to_string(right);
    return top < 0 ? 0 : bottom - top + 1;
}
} // namespace

TEST(EditorArt, ButtonCaptionsStandSixPixelsTall)
{
    for (const artgen::ArtEntry& e : artgen::Manifest())
    {
        if (e.kind != artgen::ArtKind::Button && e.kind != artgen::ArtKind::Toggle) continue;
        if (!e.label || e.label[0] == '#' || e.label[0] < 'A' || e.label[0] > 'Z') continue;
        SCOPED_TRACE(e.name);
        const Decoded d = DecodeEmbedded(e.name);
        // Wide switches light a lamp left of their caption.
        const int from = e.paint == artgen::PaintLabelToggle && e.w >= 70 ? 11 : 0;
        std::string trace;
        const int height = FirstLetterHeight(d, from, &trace);
        EXPECT_GE(height, 6) << e.label << ", first letter in " << trace;
    }
}
