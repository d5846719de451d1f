// The editor loader on the X11 window system, in this process: host windows are X window ids.

#include <cstdint>
#include <cstring>

#include <memory>
#include <unistd.h>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include "framework/Parameter.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/xcb/XcbBackend.h"
#include "support/gfx/Xvfb.h"
#include "toolkit/EffectGUIBase.h"
#include "toolkit/GraphicsContext.h"
#include "vst/VstInstrumentBase.h"
#include "vst/editor/VstGUILoader.h"

namespace
{
class GreenEditor : public EffectGUIBase
{
public:
    explicit GreenEditor(void* effect) : EffectGUIBase(effect, EditedVstPlugin(effect)) {}
    void GetDimensions(long& w, long& h) override
    {
        w = 80;
        h = 40;
    }
    void CreateContent() override {}
    void Repaint(GraphicsContext& gc) override
    {
        gc.SetPenColour(30, 220, 60, 1, 255);
        gc.DrawFilledRect(0, 0, width - 1, height - 1);
    }
};

class QuietSynth : public VstInstrumentBase
{
public:
    QuietSynth()
        : VstInstrumentBase(nullptr, 0, 0, 1, FourCharCode("QtT1"), "QuietSynth", "Torvane Tests",
                            "QuietSynth", nullptr)
    {
    }
    ~QuietSynth() override { closeEditor(); }
    void Render(float* outL, float* outR, long frames, int) override
    {
        for (long i = 0; i < frames; ++i)
            outL[i] = outR[i] = 0.0f;
    }
};

TEST(LoaderOnX11, OpensInTheHostsWindowAndNotInOneThatDoesNotExist)
{
    XvfbServer server;
    XVFB_START_OR_SKIP(server);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_window_t host = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, host, screen->root, 0, 0, 120, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_map_window(c, host);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

    auto* synth = new QuietSynth;
    AttachEditorLoader<GreenEditor>(synth);
    AEffect* e = synth->getAeffect();
    ERect* rect = nullptr;
    EXPECT_EQ(e->dispatcher(e, effEditGetRect, 0, 0, &rect, 0.0f), 1);
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr); // the size question opens no connection

    void* missing = reinterpret_cast<void*>(static_cast<std::uintptr_t>(host + 1000));
    EXPECT_EQ(e->dispatcher(e, effEditOpen, 0, 0, missing, 0.0f), 0);
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr); // nothing kept after the failure
    EXPECT_FALSE(gfx::RunLoop::IsBound());

    void* window = reinterpret_cast<void*>(static_cast<std::uintptr_t>(host));
    ASSERT_EQ(e->dispatcher(e, effEditOpen, 0, 0, window, 0.0f), 1);
    auto* loader = static_cast<VstGUILoader*>(synth->getEditor());
    ASSERT_NE(loader->GetSurface(), nullptr);
    EXPECT_EQ(loader->GetSurface()->ScreenOrigin().y, 60); // the bottom of the 100-high host window
    std::uint32_t pixel = 0;
    for (int i = 0; i < 200 && pixel != 0x1edc3c; ++i)
    {
        e->dispatcher(e, effEditIdle, 0, 0, nullptr, 0.0f);
        xcb_get_image_reply_t* image = xcb_get_image_reply(
            c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, host, 10, 80, 1, 1, ~0u), nullptr);
        if (image)
        {
            std::memcpy(&pixel, xcb_get_image_data(image), 4);
            pixel &= 0xffffff;
            std::free(image);
        }
        usleep(10000);
    }
    EXPECT_EQ(pixel, 0x1edc3cu);

    // The host destroys its window before closing the editor: the close still succeeds.
    xcb_destroy_window(c, host);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    e->dispatcher(e, effEditIdle, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effEditClose, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr); // closed with the last editor
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    xcb_disconnect(c);
}
} // namespace
