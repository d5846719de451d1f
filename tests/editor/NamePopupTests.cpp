#include <functional>

#include "WidgetTestSupport.h"
#include "editor/Layout.h"
#include "editor/NamePopup.h"
#include "platform/gfx/Types.h"

using NamePopupTest = WidgetTest;

TEST_F(NamePopupTest, OkCancelKeysAndClosingTheFrame)
{
    namespace np = layout::namepopup;
    struct Case
    {
        char const* what;
        char const* initial;
        char const* typed;
        // What ends the run, given the popup's surface.
        std::function<void(NamePopup&, gfx::Surface&)> close;
        bool confirmed;
        char const* result;
    };
    auto click = [this](gfx::Surface& s, layout::Point p) { backend.Click(s, p.x + 10, p.y + 10); };
    const Case cases[] = {
        {"Ok", "", "Bass", [&](NamePopup&, gfx::Surface& s) { click(s, np::kOk); }, true, "Bass"},
        {"Cancel after typing", "Old", "er", [&](NamePopup&, gfx::Surface& s) { click(s, np::kCancel); },
         false, "keep"},
        {"Ok on an empty field", "", "", [&](NamePopup&, gfx::Surface& s) { click(s, np::kOk); }, true, ""},
        {"Return", "Lead", " 2", [&](NamePopup&, gfx::Surface& s) { backend.Key(s, gfx::kKeyReturn); }, true,
         "Lead 2"},
        {"Escape", "Lead", " 2", [&](NamePopup&, gfx::Surface& s) { backend.Key(s, gfx::kKeyEscape); }, false,
         "keep"},
        {"frame closed", "", "Pad",
         [&](NamePopup& p, gfx::Surface&) { backend.Then([&p] { p.QuitModal(); }); }, false, "keep"},
    };
    for (Case const& c : cases)
    {
        String result("keep");
        NamePopup popup;
        Responders::NextModalRun(
            [&](Frame&)
            {
                gfx::Surface& s = *popup.GetFrameWindow();
                if (c.typed[0]) backend.Type(s, c.typed);
                c.close(popup, s);
            });
        backend.ClearStrings();
        bool const confirmed = popup.Create(page.get(), 100, 100, "New category name", &result, c.initial);
        EXPECT_EQ(confirmed, c.confirmed) << c.what;
        EXPECT_STREQ(static_cast<char const*>(result), c.result) << c.what;
        EXPECT_FALSE(popup.IsRunningModal());
        EXPECT_TRUE(Drew("New category name")) << c.what;
        EXPECT_EQ(popup.GetWindowWidth(), 300);
        EXPECT_EQ(popup.GetWindowHeight(), 150);
        backend.Pause(std::chrono::seconds(1));
    }
    EXPECT_TRUE(Messages().empty());
}

TEST_F(NamePopupTest, WithoutItsButtonPicturesItReportsAndDoesNotRun)
{
    for (char const* name : {"Ok But Up.png", "Cancel But Down.png"})
    {
        ScopedMissingEditorImage missing(name);
        bool ran = false;
        Responders::NextModalRun([&](Frame& f) { ran = true, f.QuitModal(); });
        String result("keep");
        NamePopup popup;
        EXPECT_FALSE(popup.Create(page.get(), 100, 100, "Name", &result, "typed"));
        EXPECT_FALSE(ran);
        EXPECT_STREQ(static_cast<char const*>(result), "keep");
        Responders::Clear();
    }
    ASSERT_EQ(Messages().size(), 2u);
    EXPECT_EQ(Messages()[0].caption, "");
    EXPECT_NE(Messages()[0].text.find("Ok But Up.png"), std::string::npos);
}
