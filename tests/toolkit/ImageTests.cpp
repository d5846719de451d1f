#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "TestImages.h"
#include "ToolkitTestSupport.h"
#include "framework/Paths.h"
#include "support/HostileEntries.h"
#include "toolkit/Image.h"

namespace
{
class ImageTest : public ToolkitTest
{
public:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        RegisterTestImages();
        SetImagePath("/torvane-test-images/");
        folder = std::filesystem::temp_directory_path() / ("torvane-images-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
    }
    void TearDown() override
    {
        std::filesystem::remove_all(folder);
        ToolkitTest::TearDown();
    }
    std::string Write(char const* name, std::vector<unsigned char> const& bytes)
    {
        std::string path = (folder / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<char const*>(bytes.data()), bytes.size());
        return path;
    }
    std::filesystem::path folder;
};

std::string ThrownText(std::function<void()> f)
{
    try
    {
        f();
    }
    catch (String const& s)
    {
        return s.ToStdString();
    }
    return "(nothing thrown)";
}

TEST_F(ImageTest, EmbeddedTableRoundTripsByFileName)
{
    static unsigned char const bytes[] = {1, 2, 3};
    gfx::RegisterEmbeddedImage("Three.png", bytes, sizeof bytes);
    unsigned char const* data = nullptr;
    std::size_t size = 0;
    ASSERT_TRUE(gfx::FindEmbeddedImage("Three.png", &data, &size));
    EXPECT_EQ(data, bytes);
    EXPECT_EQ(size, 3u);
    gfx::UnregisterEmbeddedImage("Three.png");
    EXPECT_FALSE(gfx::FindEmbeddedImage("Three.png", &data, &size));
    EXPECT_FALSE(gfx::FindEmbeddedImage(nullptr, &data, &size));

    struct Case
    {
        char const* what;
        std::function<void(Image&)> load;
        bool loaded;
        long width;
    };
    ImageResource bundle{0, "TestUpright", "png", nullptr};
    ImageResource otherBundle{0, "TestUpright", "png", "com.example.other"};
    const Case cases[] = {
        {"image folder path", [](Image& i) { i.LoadFromFile(MakeImagePath("TestUpright.png")); }, true, 20},
        {"main bundle", [](Image& i) { i.LoadFromBundle("TestUpright", "png", nullptr); }, true, 20},
        {"resource", [](Image& i) { i.LoadFromResource(7, "TestUpright", "png", "x", nullptr); }, true, 20},
        {"image resource", [&](Image& i) { i.LoadImageResource(bundle); }, true, 20},
        {"no such bundle", [&](Image& i) { i.LoadImageResource(otherBundle); }, false, 0},
        {"no such resource", [](Image& i) { i.LoadFromBundle("Missing", "png", nullptr); }, false, 0},
        {"broken resource", [](Image& i) { i.LoadFromBundle("TestBroken", "png", nullptr); }, true, 0},
    };
    for (Case const& c : cases)
    {
        Image image;
        c.load(image);
        EXPECT_EQ(image.IsLoaded(), c.loaded) << c.what;
        long w = -1, h = -1;
        image.GetSize(&w, nullptr);
        image.GetSize(nullptr, &h);
        EXPECT_EQ(w, c.width) << c.what;
        EXPECT_EQ(h, c.width / 2) << c.what;
    }
}

TEST_F(ImageTest, OtherPathsLoadFromDisk)
{
    std::string path = Write("Disk.png", UprightPng());
    Image image;
    image.LoadFromFile(path.c_str());
    EXPECT_TRUE(image.IsLoaded());
    EXPECT_EQ(image.GetWidth(), 20);
    ImageResource file{1, path.c_str(), nullptr, nullptr};
    Image again;
    again.LoadImageResource(file);
    EXPECT_EQ(again.GetHeight(), 10);

    // A name of the table outside the image folder is a disk path like any other.
    std::string elsewhere = (folder / "TestUpright.png").string();
    EXPECT_EQ(ThrownText([&] { Image().LoadFromFile(elsewhere.c_str()); }),
              "Error in Image::LoadFromFile.. Could not find image file: " + elsewhere);
}

TEST_F(ImageTest, AFifoOrFolderIsNoImageFileAndNeverWaitedOn)
{
    std::string const fifo = (folder / "Pipe.png").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    FifoWatchdog watchdog({fifo});
    EXPECT_EQ(ThrownText([&] { Image().LoadFromFile(fifo.c_str()); }),
              "Error in Image::LoadFromFile.. Could not find image file: " + fifo);
    std::string const dir = folder.string();
    EXPECT_EQ(ThrownText([&] { Image().LoadFromFile(dir.c_str()); }),
              "Error in Image::LoadFromFile.. Could not find image file: " + dir);
    EXPECT_FALSE(watchdog.End());
}

TEST_F(ImageTest, AMissingFileThrowsTheStatedText)
{
    EXPECT_EQ(ThrownText([] { Image().LoadFromFile("/no/such/Knob.png"); }),
              "Error in Image::LoadFromFile.. Could not find image file: /no/such/Knob.png");
    EXPECT_EQ(
        ThrownText([] { Image().LoadFromFile(MakeImagePath("NotEmbedded.png")); }),
        "Error in Image::LoadFromFile.. Could not find image file: /torvane-test-images/NotEmbedded.png");
    Image image;
    image.LoadFromFile(MakeImagePath("TestUpright.png"));
    EXPECT_NE(ThrownText([&] { image.LoadFromFile("/no/such/Other.png"); }), "(nothing thrown)");
    EXPECT_EQ(image.GetWidth(), 20); // a failed load keeps what was loaded
}

TEST_F(ImageTest, AnUndecodableFileIsLoadedWithoutPixels)
{
    std::string path = Write("Broken.png", {'n', 'o', 'p', 'e'});
    Image image;
    image.LoadFromFile(path.c_str());
    EXPECT_TRUE(image.IsLoaded());
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.GetHeight(), 0);
    EXPECT_EQ(image.GetImage(), nullptr);

    auto root = MakeRoot(50, 50, 0, 0);
    root->paint = [&](GraphicsContext& gc)
    {
        image.Draw(&gc, 0, 0, 40, 40);
        image.Draw(&gc, 0, 0);
    };
    Run();
    EXPECT_PIXEL(Probe(10, 10), 0, 0, 0);
}
} // namespace
