// The Audio Unit view on the Audio Unit variants of the engine and the editor, built into the
// test binary: the view component opened beside a unit through the test host, in headless host
// windows.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>

#include "au/AUComponentEntry.h"
#include "au/AUPluginLists.h"
#include "au/view/AUEditorView.h"
#include "au/view/HostWindowBackend.h"
#include "au_view/AUViewSupport.h"
#include "editor/EditorImages.h"
#include "editor/EditorPlugin.h"
#include "editor/GUI.h"
#include "engine/Torvane.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/xcb/XcbBackend.h"
#include "support/RecordingMessageSink.h"
#include "support/gfx/Xvfb.h"
#include "toolkit/ParameterControls.h"
#include "toolkit/Window.h"

namespace
{

int opened = 0;
int closed = 0;

// The instrument, counting its editor's attaches and detaches.
class CountingTorvane : public Torvane
{
public:
    using Torvane::Torvane;
    // The most-derived class lets its editors go before its members do.
    ~CountingTorvane() override { ClosePlatformEditor(this); }
    void GUIOpened() override
    {
        ++opened;
        Torvane::GUIOpened();
    }
    void GUIClosed() override
    {
        ++closed;
        Torvane::GUIClosed();
    }
};

OSStatus UnitEntry(ComponentParameters* params, void* storage)
{
    return AUComponentEntry<CountingTorvane>(params, storage);
}

OSStatus ViewEntry(ComponentParameters* params, void* storage)
{
    return AUComponentEntry<AUEditorViewOf<GUI>>(params, storage);
}

// An editor root with one toggle bound to a host parameter of its instrument.
int probeToggleParameter = 0;
class ToggleRoot : public EffectGUIBase
{
public:
    explicit ToggleRoot(void* effect) : EffectGUIBase(effect, EditedPluginOf(effect)) {}
    ~ToggleRoot() override { Detach(); }
    void GetDimensions(long& w, long& h) override { w = 200, h = 100; }
    void CreateContent() override
    {
        auto* instrument = EditedInstrument(*this);
        toggle.Create(this, instrument->GetAutomatableParameter(probeToggleParameter), 40, 30, String("on"),
                      String("off"));
    }
    SimpleToggleBox toggle;
};

OSStatus ToggleViewEntry(ComponentParameters* params, void* storage)
{
    return AUComponentEntry<AUEditorViewOf<ToggleRoot>>(params, storage);
}

// An editor root whose content fails, as a missing image does.
class FailingRoot : public EffectGUIBase
{
public:
    explicit FailingRoot(void* effect) : EffectGUIBase(effect, EditedPluginOf(effect)) {}
    void GetDimensions(long& w, long& h) override { w = 100, h = 100; }
    void CreateContent() override { throw std::runtime_error("no image"); }
};

OSStatus FailingViewEntry(ComponentParameters* params, void* storage)
{
    return AUComponentEntry<AUEditorViewOf<FailingRoot>>(params, storage);
}

// A view whose set-up after construction fails.
int refusingViewsAlive = 0;
class RefusingView : public AUEditorViewOf<GUI>
{
public:
    explicit RefusingView(ComponentInstance instance) : AUEditorViewOf<GUI>(instance)
    {
        ++refusingViewsAlive;
    }
    ~RefusingView() override { --refusingViewsAlive; }
    void PostConstructor() override { throw static_cast<std::int32_t>(-4242); }
};

OSStatus RefusingViewEntry(ComponentParameters* params, void* storage)
{
    return AUComponentEntry<RefusingView>(params, storage);
}

ComponentDescription UnitDescription()
{
    ComponentDescription d;
    d.componentType = ComponentCode("aumu");
    d.componentSubType = ComponentCode("Trv1");
    d.componentManufacturer = ComponentCode("CvlA");
    return d;
}

class AUView : public ::testing::Test
{
protected:
    void SetUp() override
    {
        opened = 0;
        closed = 0;
        ASSERT_TRUE(host.Open(&UnitEntry, UnitDescription())) << host.GetError();
    }

    InstrumentBase* Instrument() { return FindInstrument(host.GetUnit()); }
    static AUEditorView* ViewOf(TestViewComponent& v) { return v.Get<AUEditorView>(); }

    AUHost host;
    TestHostWindow window{800, 700, 22};
};

} // namespace

TEST_F(AUView, OpeningTheComponentTouchesNoDisplay)
{
    TestViewComponent view(&ViewEntry);
    ASSERT_EQ(view.Open(), noErr);
    EXPECT_FALSE(gfx::RunLoop::IsBound());
    EXPECT_EQ(gfx::RunLoop::GetBackend(), nullptr);
    EXPECT_EQ(gfx::HostWindowBackend::Current(), nullptr);
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr);
    EXPECT_TRUE(gfx::Surface::All().empty());
    EXPECT_EQ(ViewOf(view)->GetEditor(), nullptr);
    EXPECT_FLOAT_EQ(ViewOf(view)->GetNotificationInterval(), 0.1f);
    EXPECT_EQ(view.Idle(), noErr);
    EXPECT_EQ(view.Close(), noErr);
}

TEST_F(AUView, CreateAttachesTheEditorAndCloseDetachesIt)
{
    TestViewComponent view(&ViewEntry);
    ASSERT_EQ(view.Open(), noErr);
    ASSERT_EQ(view.Create(host.GetUnit(), window), noErr);
    EffectGUIBase* editor = ViewOf(view)->GetEditor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(Instrument()->GetGUI(), static_cast<PluginEditor*>(editor));
    EXPECT_EQ(editor->GetPlugin(), static_cast<PluginBase*>(Instrument()));
    EXPECT_FALSE(Instrument()->GetGUINotificationQueue().NotEmpty());
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(FindAudioUnit(host.GetUnit()), nullptr);
    // Created once only.
    EXPECT_EQ(view.Create(host.GetUnit(), window), -1);
    EXPECT_EQ(opened, 1);

    EXPECT_EQ(view.Close(), noErr);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(Instrument()->GetGUI(), nullptr);
    EXPECT_FALSE(gfx::RunLoop::IsBound());
    EXPECT_EQ(gfx::HostWindowBackend::Current(), nullptr);
    EXPECT_TRUE(gfx::Surface::All().empty());
}

TEST_F(AUView, ThePaneIsTheEditorPlusTheLocationClampedToItsRange)
{
    long width = 0, height = 0;
    GUI(nullptr).GetDimensions(width, height);
    ASSERT_EQ(width, 767);
    ASSERT_EQ(height, 638);
    struct Case
    {
        float x, y;
        int paneWidth, paneHeight;
    } const cases[] = {
        {10.0f, 20.0f, 777, 658},
        {0.0f, 0.0f, 767, 638},
        {std::numeric_limits<float>::quiet_NaN(), 1e9f, 0, 32767},
        {-1e9f, std::numeric_limits<float>::infinity(), 0, 32767},
        {32000.5f, -700.0f, 32767, 0},
    };
    for (Case const& c : cases)
    {
        SCOPED_TRACE(::testing::Message() << c.x << ", " << c.y);
        TestViewComponent view(&ViewEntry);
        ASSERT_EQ(view.Open(), noErr);
        ASSERT_EQ(view.Create(host.GetUnit(), window, c.x, c.y), noErr);
        ASSERT_NE(view.GetPane(), nullptr);
        EXPECT_EQ(view.GetPane()->width, c.paneWidth);
        EXPECT_EQ(view.GetPane()->height, c.paneHeight);
        // The editor's place does not follow the location.
        ASSERT_NE(ViewOf(view)->GetSurface(), nullptr);
        EXPECT_EQ(ViewOf(view)->GetSurface()->ScreenOrigin().x, 0);
        EXPECT_EQ(ViewOf(view)->GetSurface()->ScreenOrigin().y, 22);
    }
}

TEST_F(AUView, TheEditorIsDrawnBelowTheTitleBar)
{
    TestViewComponent view(&ViewEntry);
    ASSERT_EQ(view.Open(), noErr);
    ASSERT_EQ(view.Create(host.GetUnit(), window, 10.0f, 20.0f), noErr);
    ASSERT_EQ(view.Idle(), noErr);
    ASSERT_GT(window.record.presents, 0u);
    gfx::Surface* surface = ViewOf(view)->GetSurface();
    cairo_surface_t* back = surface->BackBuffer();
    cairo_surface_flush(back);
    auto const* data = cairo_image_surface_get_data(back);
    int const stride = cairo_image_surface_get_stride(back);
    auto editorPixel = [&](int x, int y)
    { return reinterpret_cast<std::uint32_t const*>(data + static_cast<std::ptrdiff_t>(y) * stride)[x]; };
    // Every pixel of the editor lands at (x, y + 22); the title bar and what lies beside the
    // editor keep the host's fill.
    int mismatches = 0;
    for (int y = 0; y < 638; ++y)
        for (int x = 0; x < 767; ++x)
            mismatches += window.Pixel(x, y + 22) != editorPixel(x, y);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(window.Pixel(0, 21), 0xff102030u);
    EXPECT_EQ(window.Pixel(799, 22), 0xff102030u);
    EXPECT_EQ(window.Pixel(0, 22 + 638), 0xff102030u);
    // The editor drew something (its header's background is not the host's fill).
    EXPECT_NE(window.Pixel(0, 22), 0xff102030u);
}

TEST_F(AUView, AUnitOfNoPluginBuildsNothing)
{
    ComponentInstanceRecord stranger;
    TestViewComponent view(&ViewEntry);
    ASSERT_EQ(view.Open(), noErr);
    EXPECT_EQ(view.Create(&stranger, window), -1);
    EXPECT_EQ(ViewOf(view)->GetEditor(), nullptr);
    EXPECT_EQ(ViewOf(view)->GetSurface(), nullptr);
    EXPECT_FALSE(gfx::RunLoop::IsBound());
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(view.Idle(), noErr);
    EXPECT_EQ(view.Close(), noErr);
    EXPECT_EQ(closed, 0);
    // A view of a closed unit finds nothing either.
    ComponentInstance const gone = host.GetUnit();
    host.Close();
    TestViewComponent late(&ViewEntry);
    ASSERT_EQ(late.Open(), noErr);
    EXPECT_EQ(late.Create(gone, window), -1);
    EXPECT_EQ(ViewOf(late)->GetEditor(), nullptr);
}

TEST_F(AUView, AFailedCreateHandsOutNoPaneAndTheViewCanBeCreatedAgain)
{
    struct Failure
    {
        char const* what;
        std::function<OSStatus(TestViewComponent&)> create;
    };
    ComponentInstanceRecord stranger;
    TestHostWindow missing(800, 700, 22);
    missing.record.kind = kHostWindowX11;
    missing.record.x11Window = 0x7fffff; // no display, or no such window
    Failure const failures[] = {
        {"a unit of no plug-in", [&](TestViewComponent& v) { return v.Create(&stranger, window); }},
        {"a host window that does not exist",
         [&](TestViewComponent& v) { return v.Create(host.GetUnit(), missing); }},
    };
    for (Failure const& f : failures)
    {
        SCOPED_TRACE(f.what);
        TestViewComponent view(&ViewEntry);
        ASSERT_EQ(view.Open(), noErr);
        EXPECT_EQ(f.create(view), -1);
        EXPECT_EQ(view.GetPane(), nullptr);
        EXPECT_EQ(ViewOf(view)->GetCarbonPane(), nullptr);
        EXPECT_EQ(ViewOf(view)->GetEditor(), nullptr);
        // The same view, created again in a window that works.
        ASSERT_EQ(view.Create(host.GetUnit(), window), noErr);
        ASSERT_NE(view.GetPane(), nullptr);
        EXPECT_EQ(view.GetPane()->width, 767);
        EXPECT_NE(ViewOf(view)->GetEditor(), nullptr);
        EXPECT_EQ(view.Close(), noErr);
    }
}

TEST_F(AUView, TwoUnitsEachWithAViewFindTheirOwn)
{
    AUHost other;
    ASSERT_TRUE(other.Open(&UnitEntry, UnitDescription())) << other.GetError();
    TestHostWindow otherWindow{800, 700, 0};
    TestViewComponent a(&ViewEntry);
    TestViewComponent b(&ViewEntry);
    ASSERT_EQ(a.Open(), noErr);
    ASSERT_EQ(b.Open(), noErr);
    ASSERT_EQ(a.Create(host.GetUnit(), window), noErr);
    ASSERT_EQ(b.Create(other.GetUnit(), otherWindow), noErr);
    EXPECT_EQ(ViewOf(a)->GetEditor()->GetPlugin(), static_cast<PluginBase*>(Instrument()));
    EXPECT_EQ(ViewOf(b)->GetEditor()->GetPlugin(), static_cast<PluginBase*>(FindInstrument(other.GetUnit())));
    EXPECT_EQ(Instrument()->GetGUI(), static_cast<PluginEditor*>(ViewOf(a)->GetEditor()));
    EXPECT_EQ(FindInstrument(other.GetUnit())->GetGUI(), static_cast<PluginEditor*>(ViewOf(b)->GetEditor()));
    EXPECT_EQ(a.Idle(), noErr);
    EXPECT_EQ(b.Idle(), noErr);
    EXPECT_GT(window.record.presents, 0u);
    EXPECT_GT(otherWindow.record.presents, 0u);
    EXPECT_EQ(otherWindow.Pixel(0, 0), window.Pixel(0, 22));
    EXPECT_EQ(a.Close(), noErr);
    EXPECT_EQ(FindInstrument(other.GetUnit())->GetGUI(), static_cast<PluginEditor*>(ViewOf(b)->GetEditor()));
    EXPECT_EQ(b.Close(), noErr);
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(closed, 2);
}

TEST_F(AUView, ASecondViewOnOneUnitStaysItsEditorWhenTheFirstCloses)
{
    TestViewComponent first(&ViewEntry);
    TestViewComponent second(&ViewEntry);
    ASSERT_EQ(first.Open(), noErr);
    ASSERT_EQ(second.Open(), noErr);
    ASSERT_EQ(first.Create(host.GetUnit(), window), noErr);
    TestHostWindow secondWindow{800, 700, 22};
    ASSERT_EQ(second.Create(host.GetUnit(), secondWindow), noErr);
    EXPECT_EQ(Instrument()->GetGUI(), static_cast<PluginEditor*>(ViewOf(second)->GetEditor()));
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(first.Close(), noErr);
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(Instrument()->GetGUI(), static_cast<PluginEditor*>(ViewOf(second)->GetEditor()));
    EXPECT_TRUE(ViewOf(second)->GetEditor()->IsAttached());
    EXPECT_EQ(second.Idle(), noErr);
    EXPECT_EQ(second.Close(), noErr);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(Instrument()->GetGUI(), nullptr);
}

TEST_F(AUView, ClosingTheUnitFirstDropsTheEditorAndTheViewClosesLater)
{
    TestViewComponent view(&ViewEntry);
    ASSERT_EQ(view.Open(), noErr);
    ASSERT_EQ(view.Create(host.GetUnit(), window), noErr);
    ASSERT_EQ(view.Idle(), noErr);
    host.Close();
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(ViewOf(view)->GetEditor(), nullptr);
    EXPECT_EQ(view.Idle(), noErr);
    EXPECT_EQ(view.Close(), noErr);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(gfx::Surface::All().empty());
}

TEST_F(AUView, AClickOnABoundControlReachesTheHost)
{
    // A parameter the toggle turns on.
    probeToggleParameter = 0;
    while (probeToggleParameter < 39 && host.GetParameter(probeToggleParameter) >= 0.5f)
        ++probeToggleParameter;
    ASSERT_LT(host.GetParameter(probeToggleParameter), 0.5f);
    TestViewComponent view(&ToggleViewEntry);
    ASSERT_EQ(view.Open(), noErr);
    ASSERT_EQ(view.Create(host.GetUnit(), window), noErr);
    ASSERT_EQ(view.Idle(), noErr);
    host.ClearNotifications();
    window.Click(40 + 5, 22 + 30 + 5);
    ASSERT_EQ(view.Idle(), noErr);
    EXPECT_EQ(window.record.eventCount, 0u);
    auto const notes = host.GetNotifications();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back().mParameterID, static_cast<UInt32>(probeToggleParameter));
    EXPECT_EQ(notes.back().mAudioUnit, host.GetUnit());
    EXPECT_FLOAT_EQ(host.GetParameter(probeToggleParameter), 1.0f);
    EXPECT_TRUE(view.Get<AUEditorViewOf<ToggleRoot>>()->GetEditor() != nullptr);
    EXPECT_EQ(view.Close(), noErr);
}

TEST_F(AUView, AFailingContentLeavesNothingAttached)
{
    TestViewComponent view(&FailingViewEntry);
    ASSERT_EQ(view.Open(), noErr);
    EXPECT_EQ(view.Create(host.GetUnit(), window), -1);
    EXPECT_EQ(ViewOf(view)->GetEditor(), nullptr);
    EXPECT_EQ(Instrument()->GetGUI(), nullptr);
    EXPECT_EQ(opened, 0);
    EXPECT_FALSE(gfx::RunLoop::IsBound());
    EXPECT_TRUE(gfx::Surface::All().empty());
    EXPECT_EQ(view.Close(), noErr);
}

TEST_F(AUView, AFailingPostConstructorFreesTheView)
{
    TestViewComponent view(&RefusingViewEntry);
    EXPECT_EQ(view.Open(), -4242);
    EXPECT_EQ(view.GetInstance()->storage, nullptr);
    EXPECT_EQ(refusingViewsAlive, 0);
    // Calls without storage reach no view.
    EXPECT_EQ(view.Idle(), badComponentInstance);
}

TEST_F(AUView, AMissingPictureIsShownAndTheViewStaysSafe)
{
    {
        // The toolkit installs its alerts with its first window; the sink goes over them.
        Window first;
        first.CreateChildWindow(nullptr, 1, 1, 0, 0);
    }
    RecordingMessageSink messages;
    ScopedMissingEditorImage hidden("TorvaneBackground.png");
    TestViewComponent view(&ViewEntry);
    ASSERT_EQ(view.Open(), noErr);
    EXPECT_EQ(view.Create(host.GetUnit(), window), noErr);
    EXPECT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(view.Idle(), noErr);
    window.Click(5, 30);
    EXPECT_EQ(view.Idle(), noErr);
    EXPECT_EQ(view.Close(), noErr);
    EXPECT_EQ(Instrument()->GetGUI(), nullptr);
    EXPECT_EQ(opened, closed);
}

TEST_F(AUView, AnX11WindowThatDoesNotExistBuildsNothing)
{
    XvfbServer server;
    XVFB_START_OR_SKIP(server);
    TestHostWindow gone{800, 700, 22};
    gone.record.kind = kHostWindowX11;
    gone.record.x11Window = 0x7ffffeu;
    TestViewComponent view(&ViewEntry);
    ASSERT_EQ(view.Open(), noErr);
    EXPECT_EQ(view.Create(host.GetUnit(), gone), -1);
    EXPECT_EQ(ViewOf(view)->GetEditor(), nullptr);
    EXPECT_EQ(Instrument()->GetGUI(), nullptr);
    EXPECT_EQ(opened, 0);
    // The connection closed again and the loop is free.
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr);
    EXPECT_FALSE(gfx::RunLoop::IsBound());
    EXPECT_EQ(gfx::RunLoop::GetBackend(), nullptr);
    EXPECT_EQ(view.Close(), noErr);
}
