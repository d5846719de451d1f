#pragma once

#include <memory>
#include <string>
#include <vector>

#include "editor/EditorImages.h"
#include "framework/Paths.h"
#include "support/RecordingMessageSink.h"
#include "support/TemporaryDataHome.h"
#include "support/engine/HeadlessHost.h"
#include "toolkit/Responders.h"
#include "toolkit/ToolkitTestSupport.h"

// A headless editor surface of 800 x 700 with a page window over all of it, the editor's
// images, a real instrument behind a headless host in a temporary data home, and a record of
// message popups.
class EditorTest : public ToolkitTest
{
public:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        surface =
            std::make_unique<gfx::Surface>(backend, gfx::SurfaceKind::Embedded, gfx::Rect{0, 0, 800, 700});
        SetRootPath(
            (PathManager::GetApplicationDataPath().ToStdString() + "/Corvella Audio/Torvane/").c_str());
        RegisterEditorImages();
        host = std::make_unique<HeadlessHost>();
        page = MakeRoot(800, 700, 0, 0);
        Responders::Clear();
    }

    void TearDown() override
    {
        Responders::Clear();
        page.reset();
        host.reset();
        ToolkitTest::TearDown();
    }

    Torvane& Synth() { return host->Instrument(); }
    // A parameter of the instrument or of its delay effect, by name.
    Parameter* Find(char const* name)
    {
        if (Parameter* p = Synth().FindParameter(name, true)) return p;
        return Synth().GetDelayEffect()->FindParameter(name, true);
    }

    // The texts drawn since the last call, in order.
    std::vector<std::string> TakeStrings()
    {
        std::vector<std::string> out;
        for (auto const& s : backend.Strings())
            out.push_back(s.text);
        backend.ClearStrings();
        return out;
    }
    bool Drew(std::string const& text) { return !backend.FindStrings(text).empty(); }

    TemporaryDataHome home;
    RecordingMessageSink messages;
    std::unique_ptr<HeadlessHost> host;
    std::unique_ptr<RecordingWindow> page;
};
