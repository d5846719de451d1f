#include "editor/TimelinePresetDlg.h"

#include <vector>

#include "editor/CategoryCommands.h"
#include "editor/Layout.h"
#include "editor/NamePopup.h"
#include "editor/TSaveDialog.h"
#include "engine/Torvane.h"
#include "framework/ParameterFile.h"
#include "framework/Paths.h"
#include "framework/PresetManager.h"
#include "framework/SaveReport.h"
#include "platform/MessagePopup.h"
#include "toolkit/GraphicsContext.h"

namespace
{
namespace tp = layout::timelinepreset;

constexpr char const* kUntitled = "<untitled>";
constexpr char const* kLineNames[TimelinePresetDlg::kNumLines] = {"Amplitude", "Voice",      "Wave",
                                                                  "Filter",    "Modulation", "Effects"};

void LoadImage(Image& image, char const* name)
{
    image.LoadFromFile(MakeImagePath(name));
}

String Joined(char const* text, char const* name)
{
    String joined(text);
    joined += name;
    return joined;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Toggle

TimelinePresetDlg::Toggle::Toggle(TimelinePresetDlg& owner, LineInfo& line, int i, long px, long py,
                                  char const* text)
    : dialog(owner), info(line), index(i), label(text)
{
    LoadImage(on, "Toggle On.png");
    LoadImage(off, "Toggle Off.png");
    LoadImage(unavailable, "Toggle Unavailable.png");
    CreateChildWindow(&owner, on.GetWidth() + tp::kToggleLabelWidth, on.GetHeight(), px, py);
}

void TimelinePresetDlg::Toggle::Repaint(GraphicsContext& gc)
{
    // A line the file lacks is named in a muted red, one not wanted in grey: both dimmer than a
    // wanted line's white, both opaque so they read on the dark backdrop.
    if (!info.available)
    {
        unavailable.Draw(&gc, 0, 0);
        gc.SetPenColour(235, 120, 120, 1, 255);
    }
    else if (info.wanted)
    {
        on.Draw(&gc, 0, 0);
        gc.SetPenColour(255, 255, 255, 1, 255);
    }
    else
    {
        off.Draw(&gc, 0, 0);
        gc.SetPenColour(165, 165, 172, 1, 255);
    }
    gc.SetFont(10, nullptr, false, false);
    gc.DrawString(label, 25, 3);
}

void TimelinePresetDlg::Toggle::LButtonDown(long, long)
{
    CaptureMouse();
}

void TimelinePresetDlg::Toggle::LButtonUp(long, long)
{
    ReleaseMouse();
    if (!ReleaseEndsAbandonedPress()) dialog.ToggleUpdate(index);
}

// ---------------------------------------------------------------------------------------------
// Construction

TimelinePresetDlg::TimelinePresetDlg(Window* parent, Torvane& instrument, bool loadMode)
    : torvane(instrument), manager(instrument.GetTimelinePresetManager()), load(loadMode)
{
    try
    {
        Build(parent);
    }
    catch (String const& error)
    {
        String text;
        text.Format("Error in TimelinePresetDlg::Could not load image: %s", static_cast<char const*>(error));
        MessagePopup(text, "Torvane Error");
    }
}

TimelinePresetDlg::~TimelinePresetDlg()
{
    for (std::size_t i = toggles.size(); i-- > 0;)
        toggles[i].reset();
}

void TimelinePresetDlg::Build(Window* parent)
{
    LoadImage(background, "TimelinePresetBackground.png");
    long px = tp::kAt.x;
    long py = tp::kAt.y;
    if (parent != nullptr) parent->ConvertLocalToScreen(px, py);
    layout::Size const size = load ? tp::kLoadSize : tp::kSaveSize;
    CreateFrame(parent, px, py, size.w, size.h);
    EnableDragging(true);

    for (int i = 0; i < kNumLines; ++i)
        toggles[static_cast<std::size_t>(i)] =
            std::make_shared<Toggle>(*this, lineInfos[static_cast<std::size_t>(i)], i, tp::kToggle0.x,
                                     tp::kToggle0.y + tp::kToggleStep * i, kLineNames[i]);
    for (LineInfo& line : lineInfos)
        line = LineInfo{!load, true};

    categoryList.Create(this, kCategoryListId, tp::kCategoryList.x, tp::kCategoryList.y, tp::kListWidth,
                        tp::kListRows);
    categoryList.SetListener(this);
    if (load)
    {
        presetList.Create(this, kPresetListId, tp::kPresetList.x, tp::kPresetList.y, tp::kListWidth,
                          tp::kListRows);
        presetList.SetListener(this);
    }
    categoryList.SetList(&manager->GetList());
    categoryList.SetSelection(0);
    if (load)
    {
        ShowPresetsOfSelectedCategory();
        // The first preset of the first category is previewed at once.
        if (presetList.GetSelection() >= 0)
            PatchListSelection(kPresetListId, presetList.GetSelection(), presetList.GetSelectedItem());
    }
    manager->rebuilt.AddHandler(this, &TimelinePresetDlg::ManagerRebuilt);

    LoadImage(addUp, "AddUpBut.png");
    LoadImage(addDown, "AddDownBut.png");
    addCategoryButton.Create(this, kAddCategoryId, this, tp::kAddCategory.x, tp::kAddCategory.y, &addUp,
                             &addDown);
    deleteCategoryButton.Create(this, kDeleteCategoryId, this, tp::kDeleteCategory.x, tp::kDeleteCategory.y,
                                "DeleteUpBut.png", "DeleteDownBut.png");
    renameCategoryButton.Create(this, kRenameCategoryId, this, tp::kRenameCategory.x, tp::kRenameCategory.y,
                                "RenameUpBut.png", "RenameDownBut.png");
    if (load)
    {
        closeButton.Create(this, kCloseId, this, tp::kClose.x, tp::kClose.y, "CloseUp.png", "CloseDown.png");
        loadButton.Create(this, kLoadId, this, tp::kLoad.x, tp::kLoad.y, "LoadUpBut.png", "LoadDownBut.png");
        renamePresetButton.Create(this, kRenamePresetId, this, tp::kRenamePreset.x, tp::kRenamePreset.y,
                                  "RenameUpBut.png", "RenameDownBut.png");
        deletePresetButton.Create(this, kDeletePresetId, this, tp::kDeletePreset.x, tp::kDeletePreset.y,
                                  "DeleteUpBut.png", "DeleteDownBut.png");
    }
    else
    {
        closeButton.Create(this, kCloseId, this, tp::kSaveClose.x, tp::kSaveClose.y, "CloseUp.png",
                           "CloseDown.png");
        saveButton.Create(this, kSaveId, this, tp::kSave.x, tp::kSave.y, "SaveUpBut.png", "SaveDownBut.png");
    }
    closeBox.Create(this, tp::kCloseBox.x, tp::kCloseBox.y, kCloseId, this);
    if (!load)
    {
        GRectangle const field(tp::kNameField.x, tp::kNameField.y, tp::kNameField.w, tp::kNameField.h);
        nameField.Create(this, field, true, kUntitled);
        nameField.GiveFocus();
    }
    LineInfosUpdated();
}

void TimelinePresetDlg::Repaint(GraphicsContext& gc)
{
    background.Draw(&gc, 0, 0);
    gc.SetPenColour(255, 255, 255, 1, 255);
    gc.SetFont(12, nullptr, true, false);
    gc.DrawString(load ? "Load Timeline preset" : "Save Timeline", tp::kTitle.x, tp::kTitle.y);
    gc.SetFont(10, nullptr, true, false);
    gc.DrawString(load ? "Which items to load:" : "Which items to save:", tp::kItemsCaption.x,
                  tp::kItemsCaption.y);
    gc.DrawString("Category:", tp::kCategoryCaption.x, tp::kCategoryCaption.y);
    if (load) gc.DrawString("Preset:", tp::kPresetCaption.x, tp::kPresetCaption.y);
}

// ---------------------------------------------------------------------------------------------
// Lines

bool TimelinePresetDlg::Save(Writer& w)
{
    std::vector<bool> lines(kNumLines);
    for (int i = 0; i < kNumLines; ++i)
        lines[static_cast<std::size_t>(i)] =
            lineInfos[static_cast<std::size_t>(i)].available && lineInfos[static_cast<std::size_t>(i)].wanted;
    return torvane.SaveTimelinePreset(lines, w);
}

bool TimelinePresetDlg::Load(Reader& r)
{
    std::vector<bool> lines(kNumLines);
    for (int i = 0; i < kNumLines; ++i)
        lines[static_cast<std::size_t>(i)] =
            lineInfos[static_cast<std::size_t>(i)].available && lineInfos[static_cast<std::size_t>(i)].wanted;
    return torvane.LoadTimelinePreset(lines, r);
}

bool TimelinePresetDlg::Preview(Reader& r)
{
    std::vector<bool> lines;
    bool const read = torvane.TimelineLoadAvailableEnvelopes(lines, r);
    for (int i = 0; i < kNumLines; ++i)
        lineInfos[static_cast<std::size_t>(i)].available =
            read && static_cast<std::size_t>(i) < lines.size() && lines[static_cast<std::size_t>(i)];
    LineInfosUpdated();
    return read;
}

void TimelinePresetDlg::ToggleUpdate(int i)
{
    if (i < 0 || i >= kNumLines) return;
    LineInfo& line = lineInfos[static_cast<std::size_t>(i)];
    if (!line.available) return;
    line.wanted = !line.wanted;
    LineInfoUpdated(i);
}

void TimelinePresetDlg::LineInfoUpdated(int i)
{
    if (i < 0 || i >= kNumLines) return;
    if (Toggle* t = toggles[static_cast<std::size_t>(i)].get()) t->ForceRepaint();
}

void TimelinePresetDlg::LineInfosUpdated()
{
    for (int i = 0; i < kNumLines; ++i)
        LineInfoUpdated(i);
}

void TimelinePresetDlg::SetAllWanted(bool wanted)
{
    for (LineInfo& line : lineInfos)
        line.wanted = wanted;
}

void TimelinePresetDlg::SetAllAvailability(bool available)
{
    for (LineInfo& line : lineInfos)
        line.available = available;
}

void TimelinePresetDlg::SyncAvailability()
{
    if (!load) return;
    bool const same = previewed && categoryList.GetSelection() >= 0 && presetList.GetSelection() >= 0 &&
                      categoryList.GetSelectedName() == previewedCategory &&
                      presetList.GetSelectedName() == previewedPreset;
    if (same) return;
    previewed = false;
    SetAllAvailability(false);
    LineInfosUpdated();
}

// ---------------------------------------------------------------------------------------------
// Lists

void TimelinePresetDlg::ShowPresetsOfSelectedCategory()
{
    if (!load) return;
    CascadeList::Item* category = categoryList.GetSelectedItem();
    presetList.SetList(category != nullptr && category->isSubList ? category->subList : nullptr);
}

void TimelinePresetDlg::ManagerRebuilt()
{
    ResetPatchLists(*manager, categoryList, load ? &presetList : nullptr);
    SyncAvailability();
}

void TimelinePresetDlg::PatchListSelection(int listId, int index, CascadeList::Item*)
{
    if (!load) return;
    if (listId == kCategoryListId)
    {
        CascadeList::Item* category = manager->GetList().GetItem(index);
        presetList.SetList(category != nullptr && category->isSubList ? category->subList : nullptr);
        // The first preset shows as selected; its lines are not known until it is clicked.
        SyncAvailability();
        return;
    }
    if (listId != kPresetListId || categoryList.GetSelection() < 0 || presetList.GetSelection() < 0) return;
    std::string const category = categoryList.GetSelectedName();
    std::string const preset = presetList.GetSelectedName();
    ParameterFileReader reader;
    if (!manager->LoadStart(category.c_str(), preset.c_str(), reader))
    {
        SyncAvailability();
        return;
    }
    bool read = false;
    try
    {
        read = Preview(reader);
    }
    catch (...)
    {
        read = false;
    }
    previewed = read;
    previewedCategory = category;
    previewedPreset = preset;
    if (!read)
    {
        SetAllAvailability(false);
        LineInfosUpdated();
        MessagePopup(Joined("Error: Could not open Timeline set: ", preset.c_str()), "Error");
    }
}

// ---------------------------------------------------------------------------------------------
// Buttons

void TimelinePresetDlg::ButtonPressed(int id)
{
    switch (id)
    {
    case kCloseId:
        QuitModal();
        break;
    case kSaveId:
        SaveSelected();
        break;
    case kLoadId:
        LoadSelected();
        break;
    case kAddCategoryId:
        AddCategory();
        break;
    case kDeleteCategoryId:
        DeleteCategory();
        break;
    case kRenameCategoryId:
        RenameCategory();
        break;
    case kDeletePresetId:
        DeletePreset();
        break;
    case kRenamePresetId:
        RenamePreset();
        break;
    default:
        break;
    }
}

void TimelinePresetDlg::SaveSelected()
{
    if (categoryList.GetSelection() < 0)
    {
        MessagePopup("Please create or select a category before saving", "");
        return;
    }
    String const typed = nameField.GetText();
    if (typed.GetLength() == 0 || typed == kUntitled)
    {
        MessagePopup("Please enter a name for the preset", "");
        return;
    }
    if (RefuseSaveName(*manager, typed)) return;
    std::string const category = categoryList.GetSelectedName();
    if (!ConfirmReplace(*manager, category.c_str(), typed)) return;
    ParameterFileWriter writer;
    if (!manager->SaveStart(category.c_str(), typed, writer))
    {
        manager->SaveEnd();
        MessagePopup(
            WithReason(Joined("Error: Could not save Timeline set: ", typed), writer.Outcome()).c_str(),
            "Error");
        return;
    }
    bool written = false;
    try
    {
        written = Save(writer);
    }
    catch (...)
    {
        written = false;
    }
    // The file is complete only once the writer is closed; a writer left open discards it.
    if (!written || !writer.Close()) writer.Discard();
    manager->SaveEnd();
    if (!ReportSave(writer.Outcome(), "Error while saving Timeline set", "The Timeline set was saved",
                    "Error"))
        return;
    QuitModal();
}

void TimelinePresetDlg::LoadSelected()
{
    if (!load || categoryList.GetSelection() < 0 || presetList.GetSelection() < 0) return;
    std::string const category = categoryList.GetSelectedName();
    std::string const preset = presetList.GetSelectedName();
    ParameterFileReader reader;
    if (!manager->LoadStart(category.c_str(), preset.c_str(), reader))
    {
        MessagePopup(Joined("Error: Could not open Timeline set: ", preset.c_str()), "Error");
        return;
    }
    bool loaded = false;
    try
    {
        loaded = Load(reader);
    }
    catch (...)
    {
        loaded = false;
    }
    if (!loaded) MessagePopup("Error while loading Timeline set", "Error");
}

void TimelinePresetDlg::AddCategory()
{
    if (!categorycommands::AddCategory(*manager, categoryList, nullptr,
                                       categorycommands::NameAskerOver(*this)))
        return;
    if (load) presetList.SetList(nullptr);
    SyncAvailability();
}

void TimelinePresetDlg::DeleteCategory()
{
    if (!categorycommands::DeleteCategory(*manager, categoryList, nullptr)) return;
    ShowPresetsOfSelectedCategory();
    SyncAvailability();
}

void TimelinePresetDlg::RenameCategory()
{
    if (!categorycommands::RenameCategory(*manager, categoryList, nullptr,
                                          categorycommands::NameAskerOver(*this)))
        return;
    ShowPresetsOfSelectedCategory();
    SyncAvailability();
}

void TimelinePresetDlg::DeletePreset()
{
    if (!load || !categorycommands::DeletePreset(*manager, categoryList, presetList)) return;
    ShowPresetsOfSelectedCategory();
    SyncAvailability();
}

void TimelinePresetDlg::RenamePreset()
{
    if (!load) return;
    if (!categorycommands::RenamePreset(*manager, categoryList, presetList,
                                        categorycommands::NameAskerOver(*this),
                                        [this] { ShowPresetsOfSelectedCategory(); }))
        return;
    SyncAvailability();
}
