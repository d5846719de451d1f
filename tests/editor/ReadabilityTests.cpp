// Every text the editor draws reads on what is under it, measured in the pixels of each page and
// dialog as the headless back end paints them: the background is the most common colour round
// the text, the text takes the 90th percentile of its glyph pixels' contrast with it (relative
// luminance), and button captions stand at least 6 pixels tall.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <cairo.h>

#include "EditorTestSupport.h"
#include "Manifest.h"
#include "editor/Layout.h"
#include "editor/NamePopup.h"
#include "editor/SynthGUI.h"
#include "editor/TSaveDialog.h"
#include "editor/TWaveBrowser.h"
#include "editor/TimelinePresetDlg.h"
#include "editor/WaveEditor.h"
#include "editor_art/EditorArt.h"
#include "engine/PerformMod.h"
#include "engine/Torvane.h"
#include "engine/VoiceDef.h"
#include "framework/PresetManager.h"
#include "platform/CascadeList.h"
#include "platform/MessagePopup.h"
#include "platform/gfx/Compositor.h"
#include "platform/gfx/Text.h"
#include "toolkit/FileDialog.h"
#include "toolkit/Frame.h"
#include "toolkit/Responders.h"

namespace fs = std::filesystem;

namespace
{
double Channel(double c)
{
    c /= 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
double Luminance(gfx::Pixel p)
{
    return 0.2126 * Channel(p.r) + 0.7152 * Channel(p.g) + 0.0722 * Channel(p.b);
}
double Contrast(gfx::Pixel a, gfx::Pixel b)
{
    double const la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A copy of a surface's pixels, straight components.
class Pixels
{
public:
    explicit Pixels(cairo_surface_t* image)
        : w(cairo_image_surface_get_width(image)), h(cairo_image_surface_get_height(image))
    {
        cairo_surface_flush(image);
        unsigned char const* data = cairo_image_surface_get_data(image);
        int const stride = cairo_image_surface_get_stride(image);
        pixels.resize(static_cast<std::size_t>(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
            {
                std::uint32_t const p = reinterpret_cast<std::uint32_t const*>(data + y * stride)[x];
                int const a = static_cast<int>(p >> 24);
                auto straight = [a](std::uint32_t c)
                { return a == 0 ? 0 : static_cast<int>((c * 255 + a / 2) / a); };
                pixels[static_cast<std::size_t>(y) * w + x] =
                    gfx::Pixel{straight((p >> 16) & 0xFF), straight((p >> 8) & 0xFF), straight(p & 0xFF), a};
            }
    }
    gfx::Pixel At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * w + x]; }
    int Width() const { return w; }
    int Height() const { return h; }

private:
    int w, h;
    std::vector<gfx::Pixel> pixels;
};

// One drawn string as it shows.
struct Measured
{
    std::string text;
    gfx::Rect box;         // the pixels its glyphs touch
    gfx::Pixel ink;        // the colour it was drawn with (alpha: the pen's)
    gfx::Pixel background; // the most common colour round it
    double contrast = 0;   // 90th percentile of its glyph pixels against the background
    int capHeight = 0;     // inked rows above the baseline
    int glyphPixels = 0;
};

// Measures a string drawn on the surface whose pixels are given: its glyph pixels are those its
// outline covers (drawn again into a mask at the same place), the background the most common
// colour of the other pixels within 2 of its box.
Measured Measure(gfx::DrawnString const& s, Pixels const& pixels)
{
    Measured m;
    m.text = s.text;
    m.ink =
        gfx::Pixel{static_cast<int>(std::lround(s.red * 255)), static_cast<int>(std::lround(s.green * 255)),
                   static_cast<int>(std::lround(s.blue * 255)), static_cast<int>(std::lround(s.alpha * 255))};
    gfx::Rect const area =
        gfx::Rect{s.visible.x - 2, s.visible.y - 2, s.visible.w + 4, s.visible.h + 4}.Intersect(
            gfx::Rect{0, 0, pixels.Width(), pixels.Height()});
    if (area.Empty()) return m;
    cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, area.w, area.h);
    cairo_t* cr = cairo_create(mask);
    cairo_translate(cr, -area.x, -area.y);
    cairo_rectangle(cr, s.visible.x, s.visible.y, s.visible.w, s.visible.h);
    cairo_clip(cr);
    gfx::SelectFont(cr, s.size);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    cairo_move_to(cr, s.x, s.y);
    cairo_show_text(cr, s.text.c_str());
    cairo_destroy(cr);
    cairo_surface_flush(mask);
    unsigned char const* coverage = cairo_image_surface_get_data(mask);
    int const stride = cairo_image_surface_get_stride(mask);
    auto covered = [&](int x, int y) { return coverage[(y - area.y) * stride + (x - area.x)]; };

    std::map<std::uint32_t, int> votes;
    for (int y = area.y; y < (area.y + area.h); ++y)
        for (int x = area.x; x < (area.x + area.w); ++x)
            if (covered(x, y) == 0)
            {
                gfx::Pixel const p = pixels.At(x, y);
                ++votes[static_cast<std::uint32_t>(p.r << 16 | p.g << 8 | p.b)];
            }
    std::uint32_t best = 0;
    int bestVotes = -1;
    for (auto const& [colour, n] : votes)
        if (n > bestVotes) best = colour, bestVotes = n;
    m.background = gfx::Pixel{static_cast<int>(best >> 16), static_cast<int>((best >> 8) & 0xFF),
                              static_cast<int>(best & 0xFF), 255};

    std::vector<double> contrasts;
    int left = (area.x + area.w), top = (area.y + area.h), right = area.x, bottom = area.y;
    for (int y = area.y; y < (area.y + area.h); ++y)
        for (int x = area.x; x < (area.x + area.w); ++x)
            if (covered(x, y) > 0)
            {
                contrasts.push_back(Contrast(pixels.At(x, y), m.background));
                left = std::min(left, x), top = std::min(top, y);
                right = std::max(right, x + 1), bottom = std::max(bottom, y + 1);
            }
    m.glyphPixels = static_cast<int>(contrasts.size());
    if (contrasts.empty()) return m;
    m.box = {left, top, right - left, bottom - top};
    std::sort(contrasts.begin(), contrasts.end());
    m.contrast = contrasts[std::min(contrasts.size() - 1, contrasts.size() * 9 / 10)];

    // Cap height: the rows above the baseline holding a glyph pixel that shows at least half the
    // text's contrast.
    double const inked = 1.0 + (m.contrast - 1.0) / 2.0;
    int const baseline = static_cast<int>(std::lround(s.y));
    for (int y = area.y; y < std::min(baseline, (area.y + area.h)); ++y)
    {
        bool row = false;
        for (int x = area.x; x < (area.x + area.w) && !row; ++x)
            row = covered(x, y) > 0 && Contrast(pixels.At(x, y), m.background) >= inked;
        if (row) ++m.capHeight;
    }
    cairo_surface_destroy(mask);
    return m;
}

std::string Describe(Measured const& m)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "\"%s\" at (%d,%d %dx%d): ink (%d,%d,%d,a%d) on (%d,%d,%d): %.2f:1, cap %d px",
                  m.text.c_str(), m.box.x, m.box.y, m.box.w, m.box.h, m.ink.r, m.ink.g, m.ink.b, m.ink.a,
                  m.background.r, m.background.g, m.background.b, m.contrast, m.capHeight);
    return text;
}

struct PngReader
{
    unsigned char const* data;
    std::size_t size;
    std::size_t at = 0;
};
cairo_status_t ReadPng(void* closure, unsigned char* out, unsigned int length)
{
    auto* r = static_cast<PngReader*>(closure);
    if (r->at + length > r->size) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, r->data + r->at, length);
    r->at += length;
    return CAIRO_STATUS_SUCCESS;
}

// The pixels of an embedded image.
Pixels DecodeArt(char const* name)
{
    EmbeddedImage const* image = FindEditorImage(name);
    EXPECT_NE(image, nullptr) << name;
    PngReader reader{image ? image->data : nullptr, image ? image->size : 0};
    cairo_surface_t* png = cairo_image_surface_create_from_png_stream(ReadPng, &reader);
    cairo_surface_t* argb = cairo_image_surface_create(
        CAIRO_FORMAT_ARGB32, cairo_image_surface_get_width(png), cairo_image_surface_get_height(png));
    cairo_t* cr = cairo_create(argb);
    cairo_set_source_surface(cr, png, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    Pixels pixels(argb);
    cairo_surface_destroy(argb);
    cairo_surface_destroy(png);
    return pixels;
}

// The bound for a text: 3:1, or more where it lies on a backdrop's own pixels (the most common
// colour of the art round it is its background) in a zone where the art promises more to text of
// its ink.
double ZoneBound(char const* image, gfx::Point imageOrigin, Measured const& m)
{
    double bound = 3.0;
    if (!image) return bound;
    static std::map<std::string, Pixels> decoded;
    auto found = decoded.find(image);
    if (found == decoded.end()) found = decoded.emplace(image, DecodeArt(image)).first;
    Pixels const& art = found->second;
    std::map<std::uint32_t, int> votes;
    for (int y = m.box.y - 2; y < m.box.y + m.box.h + 2; ++y)
        for (int x = m.box.x - 2; x < m.box.x + m.box.w + 2; ++x)
        {
            int const ax = x - imageOrigin.x, ay = y - imageOrigin.y;
            if (ax < 0 || ay < 0 || ax >= art.Width() || ay >= art.Height()) continue;
            gfx::Pixel const p = art.At(ax, ay);
            ++votes[static_cast<std::uint32_t>(p.r << 16 | p.g << 8 | p.b)];
        }
    auto const most = std::max_element(votes.begin(), votes.end(),
                                       [](auto const& a, auto const& b) { return a.second < b.second; });
    if (most == votes.end()) return bound;
    int const r = static_cast<int>(most->first >> 16), g = static_cast<int>((most->first >> 8) & 0xFF),
              b = static_cast<int>(most->first & 0xFF);
    if (std::abs(r - m.background.r) > 4 || std::abs(g - m.background.g) > 4 ||
        std::abs(b - m.background.b) > 4)
        return bound; // on something the code painted
    gfx::Point const centre{m.box.x + m.box.w / 2 - imageOrigin.x, m.box.y + m.box.h / 2 - imageOrigin.y};
    for (artgen::TextZone const& z : artgen::TextZones())
    {
        if (std::strcmp(z.image, image) != 0) continue;
        if (!(centre.x >= z.area.x && centre.y >= z.area.y && centre.x < z.area.Right() &&
              centre.y < z.area.Bottom()))
            continue;
        if (std::abs(z.ink.r - m.ink.r) > 8 || std::abs(z.ink.g - m.ink.g) > 8 ||
            std::abs(z.ink.b - m.ink.b) > 8)
            continue;
        bound = std::max(bound, z.minContrast);
    }
    return bound;
}

struct Row;

class ReadabilityTest : public EditorTest
{
public:
    void SetUp() override
    {
        EditorTest::SetUp();
        host = std::make_unique<HeadlessHost>();
        Responders::Clear();
    }
    void TearDown() override
    {
        Responders::Clear();
        if (gui)
        {
            gui->Detach();
            gui.reset();
            gfx::RunLoop::Turn(false);
        }
        host.reset();
        EditorTest::TearDown();
    }

    Torvane& Synth() { return host->Instrument(); }
    GUI& Editor()
    {
        if (!gui)
        {
            gui = std::make_unique<GUI>(EditorHandleOf(&Synth()));
            gui->CreateUI(surface.get(), 0, 0);
            Run();
        }
        return *gui;
    }

    // Paints the whole surface afresh and measures every string it drew there.
    void Snap(gfx::Surface& s)
    {
        backend.ClearStrings();
        s.Root().SetNeedsDisplay();
        gfx::Compositor::Paint(s);
        cairo_surface_t* image = backend.Snapshot(s);
        Pixels const pixels(image);
        cairo_surface_destroy(image);
        for (gfx::DrawnString const& d : backend.Strings())
        {
            if (d.target != s.BackBuffer() || d.visible.Empty()) continue;
            Measured m = Measure(d, pixels);
            if (m.glyphPixels == 0) continue;
            measured.push_back(m);
        }
        ++snaps;
        if (char const* dir = std::getenv("TORVANE_READABILITY_SNAPSHOTS"))
        {
            std::string const path = std::string(dir) + "/" + std::to_string(snaps) + ".png";
            backend.WritePng(s, path.c_str());
        }
    }
    // At the start of the next modal run: runs `before`, paints and measures the run's frame, and
    // ends the run.
    void SnapNextModalRun(std::function<void(Frame&)> then = nullptr, std::function<void()> before = nullptr)
    {
        Responders::NextModalRun(
            [this, then, before](Frame& f)
            {
                backend.Then(
                    [before]
                    {
                        if (before) before();
                    });
                backend.Then(
                    [this, &f, then]
                    {
                        Snap(*f.GetFrameWindow());
                        if (then)
                            then(f);
                        else
                            f.QuitModal();
                    });
            });
    }

    std::unique_ptr<HeadlessHost> host;
    std::unique_ptr<GUI> gui;
    std::vector<Measured> measured;
    int snaps = 0;
};

struct Row
{
    char const* what;
    std::function<void(ReadabilityTest&)> show; // leaves the measurements in `measured`
    char const* backdrop;                       // the image under the texts, for its zones
    gfx::Point backdropAt;
    std::vector<std::string> mustShow; // texts that must be among those measured
    std::vector<std::string> captions; // button captions among them (cap height >= 6)
    bool onlyListed = false;           // measure only the texts listed (others lie under a window)
};

void MakeFolders(fs::path const& root, std::vector<char const*> names)
{
    for (char const* n : names)
        fs::create_directories(root / n);
}
} // namespace

TEST_F(ReadabilityTest, EveryTextOfEveryPageAndDialogReadsOnItsBackground)
{
    using namespace layout;
    std::vector<Row> const rows = {
        {"synthesizer page",
         [](ReadabilityTest& t)
         {
             t.Editor();
             t.Snap(*t.surface);
         },
         "TorvaneBackground.png",
         {0, 0},
         {"0", "1", "L", "R", "<None>", "1/4"},
         {}},
        {"synthesizer page, loop on, tempo on",
         [](ReadabilityTest& t)
         {
             t.Editor().SetEditMode(GUI::kPerformMode);
             t.Run();
             VoiceDef* voice = t.Synth().GetVoiceDef(t.Synth().GetCurrentVoice());
             voice->parameters[VoiceDef::kTimelineInTempo].SetBool(true);
             t.Synth().SetLoopFlag(-1, true);
             t.Editor().SetEditMode(GUI::kSynthMode);
             t.Run();
             t.Snap(*t.surface);
         },
         "TorvaneBackground.png",
         {0, 0},
         {"L", "R"},
         {}},
        {"perform page",
         [](ReadabilityTest& t)
         {
             t.Synth().GetPerformMods()->GetSource(0)->SetMapping(true, 0, 1, 2);
             t.Editor().SetEditMode(GUI::kPerformMode);
             t.Run();
             t.Snap(*t.surface);
         },
         "PerformBackground.png",
         {0, 0},
         {"<not assigned>", "<None>", "Voice 2", "0.00"},
         {}},
        {"preset page",
         [](ReadabilityTest& t)
         {
             ASSERT_GE(t.Synth().SavePatch("Pads", "Warm"), 0);
             ASSERT_GE(t.Synth().SavePatch("Pads", "Cold"), 0);
             t.Editor().SetEditMode(GUI::kPresetMode);
             t.Run();
             t.Snap(*t.surface);
         },
         "PresetBackground.png",
         {0, 0},
         {"Pads", "Warm(User)", "Cold(User)"},
         {}},
        {"about splash",
         [](ReadabilityTest& t)
         {
             t.Editor().SetEditMode(GUI::kSynthMode);
             t.Run();
             t.Editor().ButtonPressed(GUI::kAboutId);
             t.Run();
             t.Snap(*t.surface);
         },
         nullptr,
         {0, 0},
         {"v1.02"},
         {},
         true},
        {"file menu (an entry under the pointer)",
         [](ReadabilityTest& t)
         {
             t.Editor();
             t.backend.Then(
                 [&t]
                 {
                     for (gfx::Surface* s : gfx::Surface::All())
                         if (s->Kind() == gfx::SurfaceKind::Popup)
                         {
                             t.backend.MoveTo(*s, 20, 11);
                             t.backend.Then(
                                 [&t, s]
                                 {
                                     t.Snap(*s);
                                     t.backend.Key(*s, gfx::kKeyEscape);
                                 });
                         }
                 });
             t.Editor().ButtonPressed(GUI::kFileMenuId);
             t.Run();
         },
         nullptr,
         {0, 0},
         {"Save As.."},
         {}},
        {"timeline preset dialog, loading (lines the file lacks greyed, one not wanted)",
         [](ReadabilityTest& t)
         {
             ASSERT_TRUE(
                 t.Synth().SaveTimelinePreset("Mine", "Set", {true, false, false, true, false, false}));
             TimelinePresetDlg dialog(&t.Editor(), t.Synth(), true);
             t.SnapNextModalRun(nullptr, [&dialog] { dialog.ToggleUpdate(3); });
             dialog.RunModal();
         },
         "TimelinePresetBackground.png",
         {0, 0},
         {"Load Timeline preset", "Amplitude", "Voice", "Filter", "Mine", "Set(User)"},
         {}},
        {"timeline preset dialog, saving",
         [](ReadabilityTest& t)
         {
             TimelinePresetDlg dialog(&t.Editor(), t.Synth(), false);
             t.SnapNextModalRun();
             dialog.RunModal();
         },
         "TimelinePresetBackground.png",
         {0, 0},
         {"Save Timeline", "Effects", "<untitled>"},
         {}},
        {"save dialog",
         [](ReadabilityTest& t)
         {
             PresetManager& m = *t.Synth().GetPatchPresetManager();
             MakeFolders(m.GetRoot().ToStdString(), {"Leads", "Pads"});
             m.Refresh();
             TSaveDialog dialog;
             String category, name;
             t.SnapNextModalRun();
             dialog.Create(&t.Editor(), 100, 50, &m, category, name, "Save Patch As..", "Pads", "Bright");
         },
         "SaveDialog.png",
         {0, 0},
         {"Save Patch As..", "Leads", "Pads", "Bright"},
         {}},
        {"name popup",
         [](ReadabilityTest& t)
         {
             NamePopup popup;
             String result;
             t.SnapNextModalRun();
             popup.Create(&t.Editor(), 100, 100, "New category name:", &result, "Strings");
         },
         nullptr,
         {0, 0},
         {"New category name:", "Strings"},
         {}},
        {"waveform browser",
         [](ReadabilityTest& t)
         {
             PresetManager& m = *t.Synth().GetWaveformPresetManager();
             MakeFolders(m.GetRoot().ToStdString(), {"Basic", "Vocal"});
             m.Refresh();
             TWaveBrowser browser;
             t.SnapNextModalRun();
             browser.Create(&t.Editor(), 1, 0, 0, &t.Synth());
         },
         "WaveformBrowser.png",
         {0, 0},
         {"Basic", "Vocal"},
         {}},
        {"waveform editor",
         [](ReadabilityTest& t)
         {
             WaveEditor editor;
             t.SnapNextModalRun();
             editor.Create(&t.Editor(), &t.Synth(), 0, 0, &t.Synth().GetVoiceDef(0)->waveDef, 0);
         },
         "WaveEditorBackground.png",
         {0, 0},
         {"1x"},
         {}},
        {"file dialog",
         [](ReadabilityTest& t)
         {
             t.Editor();
             FileDialog::TypeList types;
             types.Add("WAV", "wav");
             String path;
             FileDialog::SetLastFolder(t.home.RootFolder().c_str());
             t.SnapNextModalRun();
             FileDialog::OpenDialog("Import a wave", types, path);
             FileDialog::SetLastFolder("");
         },
         nullptr,
         {0, 0},
         {"Import a wave", "Open", "Cancel", "Up"},
         {"Open", "Cancel", "Up"}},
        {"help alert",
         [](ReadabilityTest& t)
         {
             t.Editor();
             t.SnapNextModalRun();
             t.Editor().ButtonPressed(GUI::kHelpId);
         },
         nullptr,
         {0, 0},
         {"OK"},
         {"OK"}},
        {"question alert",
         [](ReadabilityTest& t)
         {
             t.Editor();
             t.SnapNextModalRun();
             MessageYesNoPopup("Delete the Category 'Pads' and all its contents?", "Delete Category");
         },
         nullptr,
         {0, 0},
         {"Yes", "No", "Delete Category"},
         {"Yes", "No"}},
    };

    for (Row const& row : rows)
    {
        SCOPED_TRACE(row.what);
        measured.clear();
        row.show(*this);
        for (std::string const& text : row.mustShow)
        {
            EXPECT_TRUE(std::any_of(measured.begin(), measured.end(),
                                    [&](Measured const& m) { return m.text == text; }))
                << "not drawn: " << text;
        }
        for (Measured const& m : measured)
        {
            if (row.onlyListed &&
                std::find(row.mustShow.begin(), row.mustShow.end(), m.text) == row.mustShow.end())
                continue;
            double const bound = ZoneBound(row.backdrop, row.backdropAt, m);
            if (std::getenv("TORVANE_READABILITY_REPORT"))
                std::printf("%s: %s (bound %.1f)\n", row.what, Describe(m).c_str(), bound);
            EXPECT_GE(m.contrast, bound) << Describe(m);
            if (std::find(row.captions.begin(), row.captions.end(), m.text) != row.captions.end())
            {
                EXPECT_GE(m.capHeight, 6) << Describe(m);
            }
        }
    }
}

// The line tools at the timeline's right sit beside its backdrop, not on it: between the
// backdrop's border and each previous-breakpoint arrow the panel's face shows.
TEST_F(ReadabilityTest, TheLineToolsClearTheTimelineBorder)
{
    using namespace layout;
    Editor();
    cairo_surface_t* image = backend.Snapshot(*surface);
    Pixels const pixels(image);
    cairo_surface_destroy(image);
    gfx::Pixel const panel{36, 38, 44, 255};
    for (int l = 0; l < 5; ++l)
    {
        int const top = synth::kLineRowY[l] + root::kSynthPage.y;
        for (int y = top; y < top + 13; ++y)
        {
            gfx::Pixel const gap = pixels.At(synth::kPrevBreakpointX - 1, y);
            EXPECT_TRUE(Near(gap, panel.r, panel.g, panel.b, 3))
                << "row " << l << ", y " << y << ": " << ::Describe(gap) << " left of the arrow";
        }
        // The backdrop itself still reaches the end of the time area.
        int const end = synth::kTimeline.x + timeline::kX0 + timeline::kWidth;
        gfx::Pixel const field = pixels.At(end, top - 2);
        EXPECT_TRUE(Near(field, 13, 14, 17, 3)) << "row " << l << ": " << ::Describe(field);
    }
}
