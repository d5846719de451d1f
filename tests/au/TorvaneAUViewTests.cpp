// TorvaneAU.so's view as a host sees it through authost: its two exported entries, the view in
// a headless window (drawn below the title bar, a click on a bound control heard by the host,
// closed and opened again; a menu, the save dialog and a drag going on across the host's idles)
// and in an X11 window under a private X server.

#include <gtest/gtest.h>

#include <elf.h>
#include <sys/wait.h>

#include <cairo.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "editor/Layout.h"
#include "support/TemporaryDataHome.h"
#include "support/gfx/Xvfb.h"

#if defined(TORVANE_AU_PLUGIN_PATH) && defined(TORVANE_AUHOST_PATH)

namespace
{

std::string ReadFile(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The names a shared library defines in its dynamic symbol table (functions and objects).
std::set<std::string> DefinedDynamicSymbols(std::string const& path)
{
    std::string const bytes = ReadFile(path);
    std::set<std::string> names;
    if (bytes.size() < sizeof(Elf64_Ehdr)) return names;
    Elf64_Ehdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64)
        return names;
    auto section = [&](std::size_t i)
    {
        Elf64_Shdr s{};
        std::size_t const at = header.e_shoff + i * header.e_shentsize;
        if (at + sizeof s <= bytes.size()) std::memcpy(&s, bytes.data() + at, sizeof s);
        return s;
    };
    for (std::size_t i = 0; i < header.e_shnum; ++i)
    {
        Elf64_Shdr const symbols = section(i);
        if (symbols.sh_type != SHT_DYNSYM) continue;
        Elf64_Shdr const strings = section(symbols.sh_link);
        for (std::size_t at = symbols.sh_offset;
             at + sizeof(Elf64_Sym) <= symbols.sh_offset + symbols.sh_size; at += sizeof(Elf64_Sym))
        {
            Elf64_Sym sym;
            std::memcpy(&sym, bytes.data() + at, sizeof sym);
            int const type = ELF64_ST_TYPE(sym.st_info);
            if (sym.st_shndx == SHN_UNDEF || (type != STT_FUNC && type != STT_OBJECT)) continue;
            if (strings.sh_offset + sym.st_name >= bytes.size()) continue;
            names.insert(bytes.data() + strings.sh_offset + sym.st_name);
        }
    }
    return names;
}

// Sanitized hosts ignore fontconfig's process-wide caches.
std::string LeakOptions()
{
#ifdef TORVANE_HOST_LSAN_SUPPRESSIONS
    return std::string("LSAN_OPTIONS=suppressions=") + TORVANE_HOST_LSAN_SUPPRESSIONS + " ";
#else
    return "";
#endif
}

std::string RunHost(std::string const& arguments, int& status)
{
    // A run that waits on something (a close that waits for the user) is stopped after a minute.
    std::string command = LeakOptions() + "timeout 60 " + TORVANE_AUHOST_PATH + " " + arguments + " 2>&1";
    std::string out;
    status = -1;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    int const code = pclose(pipe);
    status = WIFEXITED(code) ? WEXITSTATUS(code) : -1;
    return out;
}

std::string Lines(std::string const& text, std::string const& start)
{
    std::istringstream in(text);
    std::string kept;
    for (std::string line; std::getline(in, line);)
        if (line.rfind(start, 0) == 0) kept += line + "\n";
    return kept;
}

// A pixel of a PNG as 0xAARRGGBB; 0 when the file cannot be read or the point is outside.
class Png
{
public:
    explicit Png(std::string const& path) : image(cairo_image_surface_create_from_png(path.c_str())) {}
    ~Png() { cairo_surface_destroy(image); }
    bool Ok() const { return cairo_surface_status(image) == CAIRO_STATUS_SUCCESS; }
    int Width() const { return cairo_image_surface_get_width(image); }
    int Height() const { return cairo_image_surface_get_height(image); }
    std::uint32_t At(int x, int y) const
    {
        if (!Ok() || x < 0 || y < 0 || x >= Width() || y >= Height()) return 0;
        auto const* row = cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image);
        std::uint32_t p = 0;
        std::memcpy(&p, row + 4 * x, 4);
        return p;
    }
    // How many different colours the region holds (up to `enough`).
    int Colours(int x, int y, int w, int h, int enough = 8) const
    {
        std::set<std::uint32_t> seen;
        for (int j = y; j < y + h && static_cast<int>(seen.size()) < enough; ++j)
            for (int i = x; i < x + w; ++i)
                seen.insert(At(i, j) & 0xffffffu);
        return static_cast<int>(seen.size());
    }

private:
    cairo_surface_t* image;
};

std::string Temporary(char const* name)
{
    return (std::filesystem::temp_directory_path() /
            (std::string(name) + std::to_string(::getpid()) + ".png"))
        .string();
}

} // namespace

TEST(TorvaneAUView, TheLibraryExportsExactlyItsTwoEntries)
{
    std::set<std::string> const names = DefinedDynamicSymbols(TORVANE_AU_PLUGIN_PATH);
    EXPECT_EQ(names, (std::set<std::string>{"TorvaneMacAUEntry", "TorvaneMacAUViewEntry"}));
}

TEST(TorvaneAUView, AHeadlessViewDrawsEditsReopensAndCloses)
{
    namespace root = layout::root;
    namespace perform = layout::perform;
    int const title = 22;
    // The Perform tab, then a point a quarter into the first pad: X 0.25, Y 0.75.
    int const tabX = root::kPerformTab.x + root::kPerformTab.w / 2;
    int const tabY = title + root::kPerformTab.y + root::kPerformTab.h / 2;
    int const padX = root::kPerformPage.x + perform::kBlocks[0].x + perform::kPad.x + perform::kPad.w / 4;
    int const padY =
        title + root::kPerformPage.y + perform::kBlocks[0].y + perform::kPad.y + perform::kPad.h / 4;
    std::string const snapshot = Temporary("torvane-au-view-");
    std::ostringstream args;
    args << "--view headless --title-bar " << title << " --location 10,20 --click " << tabX << "," << tabY
         << " --click " << padX << "," << padY << " --snapshot " << snapshot << " --reopen "
         << TORVANE_AU_PLUGIN_PATH;
    int status = 0;
    std::string const out = RunHost(args.str(), status);
    ASSERT_EQ(status, 0) << out;
    // Opened twice, closed twice, then the unit.
    EXPECT_EQ(Lines(out, "view: pane"),
              "view: pane 777x658, editor at (0,22)\nview: pane 777x658, editor at (0,22)\n")
        << out;
    EXPECT_EQ(Lines(out, "view: closed"), "view: closed\nview: closed\n") << out;
    EXPECT_NE(out.find("unit: closed"), std::string::npos) << out;
    // The pad's click reached the host's listener, and GetParameter reads the new values.
    std::string const clicks = Lines(out, "click (" + std::to_string(padX));
    EXPECT_NE(clicks.find("parameter 0 announced, GetParameter 0.2500"), std::string::npos) << out;
    EXPECT_NE(clicks.find("parameter 1 announced, GetParameter 0.7500"), std::string::npos) << out;

    Png const png(snapshot);
    ASSERT_TRUE(png.Ok());
    ASSERT_EQ(png.Width(), 800);
    ASSERT_EQ(png.Height(), 700);
    // The title bar and what lies right of and below the editor keep the window's black; the
    // header and the perform page are drawn from y 22 on.
    EXPECT_EQ(png.Colours(0, 0, 800, title), 1);
    EXPECT_EQ(png.At(0, 0) & 0xffffffu, 0u);
    EXPECT_EQ(png.Colours(767, title, 33, 638), 1);
    EXPECT_EQ(png.Colours(0, title + 638, 800, 40), 1);
    EXPECT_GT(png.Colours(0, title, 767, root::kPerformPage.y), 4);
    EXPECT_NE(png.At(1, title) & 0xffffffu, 0u);
    // The pad's face differs from the page around it.
    int const padLeft = root::kPerformPage.x + perform::kBlocks[0].x + perform::kPad.x;
    int const padTop = title + root::kPerformPage.y + perform::kBlocks[0].y + perform::kPad.y;
    EXPECT_NE(png.At(padLeft + 3, padTop + 3), png.At(padLeft - 8, padTop + 3));
    std::filesystem::remove(snapshot);
}

TEST(TorvaneAUView, AMenuTheSaveDialogAndADragGoOnAcrossTheHostsIdlesAndEndWithTheViewsClose)
{
    // Each input is queued, then idled: the idle that opens a menu, the save dialog or a drag
    // returns while it is open, and the next input reaches it. The run's end closes the view
    // with whatever is still open.
    namespace root = layout::root;
    namespace synth = layout::synth;
    namespace sd = layout::savedialog;
    int const title = 22;
    auto at = [](int x, int y) { return std::to_string(x) + "," + std::to_string(y); };
    // The first modulation source cell opens its menu at (5, 2) in the cell: "<None>", a
    // separator, "LFO1", "LFO2" (18-pixel rows, a 7-pixel separator, 2 pixels above the first).
    layout::Rect const cell = layout::moddisplay::Source(0);
    int const modX = synth::kModDisplay.x + cell.x, modY = title + root::kSynthPage.y + synth::kModDisplay.y;
    std::string const sourceMenu = " --click " + at(modX + cell.w / 2, modY + cell.h / 2);
    std::string const lfo1 = " --click " + at(modX + 5 + 30, modY + 2 + 2 + 18 + 7 + 9);
    std::string const lfo2 = " --click " + at(modX + 5 + 30, modY + 2 + 2 + 18 + 7 + 18 + 9);
    // File, then its first entry, Save: an untitled patch asks for a category and a name.
    std::string const saveDialog =
        " --click " + at(root::kFileButton.x + 10, title + root::kFileButton.y + 10) + " --click " +
        at(root::kFileMenu.x + 30, title + root::kFileMenu.y + 2 + 9);
    int const dialogX = root::kSaveDialog.x, dialogY = title + root::kSaveDialog.y;
    std::string const named = " --click " +
                              at(dialogX + sd::kCategoryList.x + 20, dialogY + sd::kCategoryList.y + 5) +
                              " --type Wobble";
    std::string const save = " --click " + at(dialogX + sd::kSave.x + 5, dialogY + sd::kSave.y + 5);
    // The delay's mix knob, 25 pixels up in two moves (125 pixels cover its range).
    int const knobX = synth::kDelayKnobs[2].x + 13,
              knobY = title + root::kSynthPage.y + synth::kDelayKnobs[2].y + 12;
    std::string const drag = " --press " + at(knobX, knobY) + " --move " + at(knobX, knobY - 10) +
                             " --move " + at(knobX, knobY - 25);
    std::string const release = " --release " + at(knobX, knobY - 25);

    TemporaryDataHome home;
    std::filesystem::path const patches = home.RootFolder() + "Patches";
    std::filesystem::create_directories(patches / "Bass");
    auto saved = [&]
    {
        std::vector<std::string> files;
        for (auto const& e : std::filesystem::recursive_directory_iterator(patches))
            if (e.is_regular_file()) files.push_back(e.path().filename().string());
        return files;
    };
    struct Row
    {
        char const* name;
        std::string input;
        std::vector<std::string> saved; // the patch files afterwards
    };
    Row const rows[] = {
        {"untouched", "", {}},
        {"the menu open at the close", sourceMenu, {}},
        {"the menu's LFO1", sourceMenu + lfo1, {}},
        {"the menu's LFO2", sourceMenu + lfo2, {}},
        {"the save dialog open at the close", saveDialog + named, {}},
        {"the save dialog's Save", saveDialog + named + save, {"Wobble(User).trv"}},
        {"the drag open at the close", drag, {}},
        {"the drag released", drag + release, {}},
    };
    std::map<std::string, std::string> states;
    for (Row const& row : rows)
    {
        SCOPED_TRACE(row.name);
        std::filesystem::remove_all(patches / "Bass");
        std::filesystem::create_directories(patches / "Bass");
        int status = 0;
        std::string const state = home.Path() + "/" + std::to_string(states.size()) + ".state";
        std::string const out = RunHost("--view headless --title-bar " + std::to_string(title) + row.input +
                                            " --save-state " + state + " " + TORVANE_AU_PLUGIN_PATH,
                                        status);
        ASSERT_EQ(status, 0) << out;
        EXPECT_EQ(Lines(out, "view: closed"), "view: closed\n") << out;
        EXPECT_EQ(saved(), row.saved);
        states[row.name] = ReadFile(state);
        ASSERT_FALSE(states[row.name].empty());
        if (row.input.find("--press") != std::string::npos)
        {
            // The knob followed each move while the drag went on.
            for (auto const& [up, value] : {std::pair{10, "0.5800"}, std::pair{25, "0.7000"}})
                EXPECT_NE(out.find("move (" + at(knobX, knobY - up) +
                                   "): parameter 18 announced, GetParameter " + value),
                          std::string::npos)
                    << out;
        }
    }
    // A menu closed with the view chose nothing; each entry chosen set its own source.
    EXPECT_EQ(states["the menu open at the close"], states["untouched"]);
    EXPECT_NE(states["the menu's LFO1"], states["untouched"]);
    EXPECT_NE(states["the menu's LFO2"], states["untouched"]);
    EXPECT_NE(states["the menu's LFO1"], states["the menu's LFO2"]);
    // A dialog closed with the view saved nothing, nor changed the patch.
    EXPECT_EQ(states["the save dialog open at the close"], states["untouched"]);
    // A drag closed with the view keeps where its moves left the knob, as a release there does.
    EXPECT_EQ(states["the drag open at the close"], states["the drag released"]);
    EXPECT_NE(states["the drag released"], states["untouched"]);
}

TEST(TorvaneAUView, ClicksAreRefusedInAnX11Window)
{
    int status = 0;
    std::string const out =
        RunHost("--view headless --click 5,5 --view x11 " + std::string(TORVANE_AU_PLUGIN_PATH), status);
    EXPECT_EQ(status, 2) << out;
}

TEST(TorvaneAUView, AnX11ViewOpensDrawsAndCloses)
{
    XvfbServer server;
    XVFB_START_OR_SKIP(server);
    std::string const snapshot = Temporary("torvane-au-x11-");
    int status = 0;
    std::string const out = RunHost(
        "--view x11 --idle 15 --snapshot " + snapshot + " " + std::string(TORVANE_AU_PLUGIN_PATH), status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(Lines(out, "view: pane"), "view: pane 767x638, editor at (0,0)\n") << out;
    EXPECT_NE(out.find("view: closed"), std::string::npos) << out;
    Png const png(snapshot);
    ASSERT_TRUE(png.Ok());
    // The header is drawn at the window's top (no title bar); right of the editor the host
    // window's own white stays.
    EXPECT_GT(png.Colours(0, 0, 767, 50), 4);
    EXPECT_EQ(png.At(790, 300) & 0xffffffu, 0xffffffu);
    std::filesystem::remove(snapshot);
}

#endif
