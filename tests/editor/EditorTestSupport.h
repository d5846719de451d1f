#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "editor/EditorImages.h"
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
