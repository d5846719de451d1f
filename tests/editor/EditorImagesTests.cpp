#include <gtest/gtest.h>

#include "editor/EditorImages.h"
#include "editor_art/EditorArt.h"
#include "framework/Paths.h"
#include "support/TemporaryDataHome.h"
#include "toolkit/Image.h"

// The editor's images load by file name through the toolkit, and a test can take one away.
TEST(EditorImages, LoadThroughTheToolkitAndCanGoMissing)
{
    TemporaryDataHome home;
    SetRootPath((PathManager::GetApplicationDataPath().ToStdString() + "/Corvella Audio/Torvane/").c_str());
    RegisterEditorImages();
    ASSERT_FALSE(EditorImages().empty());
    for (EmbeddedImage const& art : EditorImages())
    {
        Image image;
        image.LoadFromFile(MakeImagePath(art.name));
        EXPECT_GT(image.GetWidth(), 0) << art.name;
    }
    {
        ScopedMissingEditorImage missing("Knob.png");
        Image image;
        EXPECT_ANY_THROW(image.LoadFromFile(MakeImagePath("Knob.png")));
    }
    Image back;
    back.LoadFromFile(MakeImagePath("Knob.png"));
    EXPECT_GT(back.GetWidth(), 0);
}
