#include <filesystem>

#include "ToolkitTestSupport.h"
#include "framework/ParameterFile.h"
#include "framework/PresetManager.h"
#include "platform/CascadeList.h"
#include "platform/MessagePopup.h"
#include "toolkit/FileDialog.h"
#include "toolkit/Frame.h"
#include "toolkit/Responders.h"

namespace
{
class RespondersTest : public ToolkitTest
{
public:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        Responders::Clear();
        page = MakeRoot(200, 200, 0, 0);
    }
    void TearDown() override
    {
        Responders::Clear();
        ToolkitTest::TearDown();
    }
    std::unique_ptr<RecordingWindow> page;
};

TEST_F(RespondersTest, AnswerTheNextAlertMenuFileDialogAndModalRunInOrder)
{
    Responders::NextAlert(true);
    Responders::NextAlert(false);
    EXPECT_TRUE(MessageYesNoPopup("Replace?", "Save"));
    EXPECT_FALSE(MessageYesNoPopup("Delete?", "Presets"));
    EXPECT_EQ(Responders::AnsweredAlerts(), (std::vector<std::string>{"Save: Replace?", "Presets: Delete?"}));

    CascadeList list;
    list.AddItem("File", 1, nullptr, false);
    CascadeList::Item* sub = list.AddSubList("Presets", 2, nullptr, false);
    CascadeList::Item* lead = sub->subList->AddItem("Lead", 3, nullptr, false);
    Responders::NextMenu({"Presets", "Lead"});
    Responders::NextMenu({"Presets", "Nothing"});
    Responders::NextMenu({});
    EXPECT_EQ(list.DoPopup(page.get(), 0, 0), lead);
    EXPECT_EQ(list.DoPopup(page.get(), 0, 0), nullptr);
    EXPECT_EQ(list.DoPopup(nullptr, 0, 0), nullptr);

    FileDialog::TypeList types;
    types.Add("Wave", "wav");
    String path("kept");
    Responders::NextFileDialog(std::nullopt);
    Responders::NextFileDialog(std::string("/somewhere/a.wav"));
    EXPECT_FALSE(FileDialog::OpenDialog("Import", types, path));
    EXPECT_STREQ(path, "kept");
    EXPECT_TRUE(FileDialog::OpenDialog("Import", types, path));
    EXPECT_STREQ(path, "/somewhere/a.wav");
    EXPECT_STREQ(FileDialog::LastFolder(), "/somewhere");

    Frame dialog;
    dialog.CreateFrame(nullptr, 0, 0, 50, 50);
    bool ran = false;
    Responders::NextModalRun(
        [&](Frame& f)
        {
            ran = true;
            f.QuitModal();
        });
    dialog.RunModal();
    EXPECT_TRUE(ran);
}

TEST_F(RespondersTest, ThePresetMenuRunsThroughTheRealMenu)
{
    namespace fs = std::filesystem;
    fs::path root = fs::temp_directory_path() / ("torvane-presets-" + std::to_string(::getpid()));
    fs::remove_all(root);
    ParameterFileFormat format;
    format.extension = "trv";
    format.formatName = "TorvanePatch";
    PresetManager manager;
    manager.Init((root.string() + "/").c_str(), format);
    {
        ParameterFileWriter writer;
        ASSERT_TRUE(manager.SaveStart("Leads", "Saw", writer));
        int payload = 7;
        writer.Write(payload);
        ASSERT_TRUE(writer.Close());
        manager.SaveEnd();
    }
    // The category opens on hover; its preset is clicked.
    backend.Then(
        [this]
        {
            gfx::Surface* menu = gfx::Surface::All().back();
            backend.MoveTo(*menu, 20, 11);
            backend.Then([this] { backend.Click(*gfx::Surface::All().back(), 20, 11); });
        });
    ParameterFileReader reader;
    EXPECT_EQ(manager.OpenCascadeList(page.get(), reader, 10, 10), 1);
    int payload = 0;
    EXPECT_TRUE(reader.Read(&payload));
    EXPECT_EQ(payload, 7);
    EXPECT_EQ(backend.FindStrings("Saw(User)").size(), 1u);
    reader.Close();
    fs::remove_all(root);
}
} // namespace
