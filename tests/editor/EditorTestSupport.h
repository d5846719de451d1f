#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "editor/EditorImages.h"
#include "editor/SynthGUI.h"
#include "framework/Paths.h"
#include "support/TemporaryDataHome.h"
#include "toolkit/ToolkitTestSupport.h"

// The toolkit fixture with the editor's images in the image folder of a temporary data home, and
// a surface the size of the editor (767 x 638) at screen (0, 0).
class EditorTest : public ToolkitTest
{
public:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        RegisterEditorImages();
        SetRootPath(home.RootFolder().c_str());
        surface.reset();
        surface =
            std::make_unique<gfx::Surface>(backend, gfx::SurfaceKind::Embedded, gfx::Rect{0, 0, 767, 638});
    }

    // The full path the editor loads an image from.
    static std::string ImagePath(char const* name) { return MakeImagePath(name).ToStdString(); }

    TemporaryDataHome home;
};

#include <cairo.h>

#include <functional>
#include <vector>

#include "editor/EditorPlugin.h"
#include "editor/GUI.h"
#include "editor/Layout.h"
#include "platform/CascadeList.h"
#include "support/engine/HeadlessHost.h"
#include "toolkit/Image.h"

// The editor root as the tests open it: pages and the save dialog are recorded.
class TestGUI : public GUI
{
public:
    using GUI::GUI;

    std::function<std::unique_ptr<TSubEditor>(int mode)> makePage;
    std::vector<int> pagesMade;
    std::vector<bool> saveDialogs; // the preselect flag of each save dialog run

protected:
    std::unique_ptr<TSubEditor> MakePage(int mode) override
    {
        pagesMade.push_back(mode);
        return makePage ? makePage(mode) : nullptr;
    }
    bool RunSaveDialog(bool preselect, String&, String&) override
    {
        saveDialogs.push_back(preselect);
        return false;
    }
};

// A real instrument built as the VST entry builds it, in the temporary data home, and its editor
// root opened in the editor-sized surface.
class GUITest : public EditorTest
{
public:
    void SetUp() override
    {
        EditorTest::SetUp();
        host = std::make_unique<HeadlessHost>();
    }
    void TearDown() override
    {
        CloseEditor();
        host.reset();
        EditorTest::TearDown();
    }

    Torvane& Synth() { return host->Instrument(); }

    TestGUI& OpenEditor(bool withInstrument = true)
    {
        gui = std::make_unique<TestGUI>(withInstrument ? EditorHandleOf(&Synth()) : nullptr);
        gui->CreateUI(surface.get(), 0, 0);
        Run();
        return *gui;
    }
    // The editor with the synthesizer page as its one page.
    SynthGUI& OpenSynthPage()
    {
        gui = std::make_unique<TestGUI>(EditorHandleOf(&Synth()));
        gui->makePage = [this](int mode) -> std::unique_ptr<TSubEditor>
        {
            if (mode != GUI::kSynthMode) return nullptr;
            return std::make_unique<SynthGUI>(gui.get());
        };
        gui->CreateUI(surface.get(), 0, 0);
        Run();
        SynthGUI* page = gui->GetSynthPage();
        EXPECT_NE(page, nullptr);
        return *page;
    }
    // As the editor loader closes: detach, then delete.
    void CloseEditor()
    {
        if (!gui) return;
        gui->Detach();
        gui.reset();
        gfx::RunLoop::Turn(false);
    }
    // Lets the editor's timers run for a span of the virtual clock.
    void Pump(std::chrono::milliseconds span) { gfx::RunLoop::RunFor(span); }

    void ClickAt(layout::Point p, int dx = 5, int dy = 5)
    {
        backend.Click(*surface, p.x + dx, p.y + dy);
        Run();
    }

    std::unique_ptr<HeadlessHost> host;
    std::unique_ptr<TestGUI> gui;
};

// Picks the entry of that name from the next popup menu (none: dismissed), and records the
// menus shown.
class ScriptedMenu
{
public:
    explicit ScriptedMenu(std::string choice) : wanted(std::move(choice))
    {
        previous = CascadeList::SetChooser(
            [this](CascadeList& list, Window*, long x, long y) -> CascadeList::Item*
            {
                shown.push_back({x, y});
                for (CascadeList::Entry const& e : list.GetEntries())
                {
                    if (e.item)
                        names.push_back(e.item->name);
                    else
                        names.push_back("-");
                }
                for (int i = 0; i < list.NumItems(); ++i)
                    if (list.GetItem(i)->name == wanted) return list.GetItem(i);
                return nullptr;
            });
    }
    ~ScriptedMenu() { CascadeList::SetChooser(std::move(previous)); }
    ScriptedMenu(ScriptedMenu const&) = delete;
    ScriptedMenu& operator=(ScriptedMenu const&) = delete;

    std::string wanted;
    std::vector<std::pair<long, long>> shown;
    std::vector<std::string> names;

private:
    CascadeList::Chooser previous;
};

// One pixel of a decoded image, straight components.
inline gfx::Pixel ImagePixel(Image const& image, int x, int y)
{
    cairo_surface_t* s = image.GetImage();
    cairo_surface_flush(s);
    unsigned char const* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
    std::uint32_t const argb = reinterpret_cast<std::uint32_t const*>(row)[x];
    gfx::Pixel p;
    p.a = static_cast<int>(argb >> 24);
    auto straight = [&](int c) { return p.a == 0 ? 0 : (c * 255 + p.a / 2) / p.a; };
    p.r = straight(static_cast<int>((argb >> 16) & 0xFF));
    p.g = straight(static_cast<int>((argb >> 8) & 0xFF));
    p.b = straight(static_cast<int>(argb & 0xFF));
    return p;
}
