#include "editor/TWaveBrowser.h"

#include <algorithm>
#include <cmath>
#include <string>

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
#include "toolkit/FileDialog.h"
#include "toolkit/GraphicsContext.h"

namespace
{
void Load(Image& image, char const* name)
{
    image.LoadFromFile(MakeImagePath(name));
}
} // namespace

void TWaveBrowser::Create(Window* parent, int waveSlot, long px, long py, Torvane* torvane)
{
    if (torvane == nullptr) return;
    slot = waveSlot;
    instrument = torvane;
    manager = instrument->GetWaveformPresetManager();
    try
    {
        Load(background, "WaveformBrowser.png");
        CreateFrame(parent, px, py, background.GetWidth(), background.GetHeight());
        ForceRepaint();
        Build();
    }
    catch (String const& error)
    {
        MessagePopup(error, "Torvane error in TWaveBrowser::Create");
        return;
    }
    RunModal();
}

void TWaveBrowser::Build()
{
    namespace wb = layout::wavebrowser;
    categoryList.Create(this, kCategoryListId, wb::kCategoryList.x, wb::kCategoryList.y, wb::kListWidth,
                        wb::kListRows);
    categoryList.SetList(&manager->GetList());
    categoryList.SetListener(this);
    waveList.Create(this, kWaveListId, wb::kWaveList.x, wb::kWaveList.y, wb::kListWidth, wb::kListRows);
    ShowSubList(manager->GetList().GetItem(0));
    waveList.SetListener(this);
    waveList.SetSelection(-1);
    manager->rebuilt.AddHandler(this, &TWaveBrowser::ManagerRebuilt);

    Load(closeUp, "CloseUp.png");
    Load(closeDown, "CloseDown.png");
    closeButton.Create(this, kCloseId, this, wb::kClose.x, wb::kClose.y, &closeUp, &closeDown);
    closeBox.Create(this, wb::kCloseBox.x, wb::kCloseBox.y, kCloseId, this);
    Load(importUp, "ImportUpBut.png");
    Load(importDown, "ImportDownBut.png");
    importButton.Create(this, kImportId, this, wb::kImport.x, wb::kImport.y, &importUp, &importDown);
    Load(saveUp, "SaveUpBut.png");
    Load(saveDown, "SaveDownBut.png");
    saveButton.Create(this, kSaveId, this, wb::kSave.x, wb::kSave.y, &saveUp, &saveDown);
    Load(addUp, "AddUpBut.png");
    Load(addDown, "AddDownBut.png");
    addButton.Create(this, kAddCategoryId, this, wb::kAddCategory.x, wb::kAddCategory.y, &addUp, &addDown);
    deleteCategoryButton.Create(this, kDeleteCategoryId, this, wb::kDeleteCategory.x, wb::kDeleteCategory.y,
                                "DeleteUpBut.png", "DeleteDownBut.png");
    renameCategoryButton.Create(this, kRenameCategoryId, this, wb::kRenameCategory.x, wb::kRenameCategory.y,
                                "RenameUpBut.png", "RenameDownBut.png");
    deleteWaveButton.Create(this, kDeleteWaveId, this, wb::kDeleteWave.x, wb::kDeleteWave.y,
                            "DeleteUpBut.png", "DeleteDownBut.png");
    renameWaveButton.Create(this, kRenameWaveId, this, wb::kRenameWave.x, wb::kRenameWave.y,
                            "RenameUpBut.png", "RenameDownBut.png");
    preview.Create(this, instrument);
    shapes.Create(this);
}

void TWaveBrowser::Repaint(GraphicsContext& gc)
{
    background.Draw(&gc, 0, 0);
}

void TWaveBrowser::ShowSubList(CascadeList::Item* category)
{
    waveList.SetList(category != nullptr && category->isSubList ? category->subList : nullptr);
}

void TWaveBrowser::ManagerRebuilt()
{
    ResetPatchLists(*manager, categoryList, &waveList);
}

// ---------------------------------------------------------------------------------------------
// Choices

void TWaveBrowser::PatchListSelection(int listId, int index, CascadeList::Item*)
{
    if (listId == kCategoryListId)
    {
        CascadeList::Item* category = manager->GetList().GetItem(index);
        if (category == nullptr || !category->isSubList) return;
        waveList.SetList(category->subList);
        // Choosing a category loads its first waveform; an empty one shows nothing.
        if (waveList.GetSelectedItem() != nullptr)
            LoadSelectedWave();
        else
            preview.SetWaveDef(-1, nullptr);
    }
    else if (listId == kWaveListId)
    {
        LoadSelectedWave();
    }
}

void TWaveBrowser::LoadSelectedWave()
{
    if (categoryList.GetSelection() < 0 || waveList.GetSelection() < 0) return;
    std::string const category = categoryList.GetSelectedName();
    std::string const wave = waveList.GetSelectedName();
    ParameterFileReader reader;
    bool loaded = false;
    VectorMipOscWaveDef* waves = nullptr;
    if (manager->LoadStart(category.c_str(), wave.c_str(), reader))
        waves = instrument->LoadWaveform(-1, slot, reader, &loaded);
    if (!loaded)
    {
        // A file that doesn't open or is refused leaves the slot, the preview and the proposed
        // name as they were; the list goes back to what the slot holds.
        ShowLoadedWave();
        String text("Error: Could not load waveform file ");
        text += wave.c_str();
        MessagePopup(text, "File error");
        return;
    }
    preview.SetWaveDef(slot, waves);
    proposedName = "";
    loadedCategory = category;
    loadedWave = wave;
}

void TWaveBrowser::ShowLoadedWave()
{
    bool const shown = !loadedWave.empty() && categoryList.GetSelection() >= 0 &&
                       categoryList.GetSelectedName() == loadedCategory;
    waveList.SetSelection(shown ? waveList.FindItem(loadedWave.c_str()) : -1);
}

void TWaveBrowser::StandardShapeChosen(int number)
{
    if (number <= 0) return;
    if (number <= 4)
    {
        preview.SetWaveDef(slot, instrument->LoadStandardWaveform(-1, slot, number - 1));
        loadedCategory.clear();
        loadedWave.clear();
    }
    proposedName = "";
    waveList.SetSelection(-1);
}

void TWaveBrowser::ButtonPressed(int id)
{
    switch (id)
    {
    case kCloseId:
        QuitModal();
        break;
    case kImportId:
        Import();
        break;
    case kSaveId:
        Save();
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
    case kDeleteWaveId:
        DeleteWave();
        break;
    case kRenameWaveId:
        RenameWave();
        break;
    default:
        break;
    }
}

void TWaveBrowser::Import()
{
    FileDialog::TypeList types;
    types.Add("Wave (*.wav)", "wav");
    String path;
    if (!FileDialog::OpenDialog("wav", types, path)) return;
    String fileName = PathManager::ExtractFilenameFromPath(path);
    if (fileName.GetLength() == 0) fileName = path;
    std::string whyNot;
    if (!instrument->ImportWave(-1, slot, path, &whyNot))
    {
        // Nothing changed: the slot, the lists and the proposed name stay.
        String text("Error: Could not import the wave file ");
        text += fileName;
        if (!whyNot.empty())
        {
            text += ": ";
            text += whyNot.c_str();
        }
        MessagePopup(text, "File error");
        return;
    }
    preview.SetWaveDef(slot, &instrument->GetVoiceDef(-1)->waveDef);
    loadedCategory.clear();
    loadedWave.clear();
    categoryList.SetSelection(-1);
    waveList.SetList(nullptr);
    PathManager::RemoveExtension(fileName);
    proposedName = fileName;
}

void TWaveBrowser::Save()
{
    String defaultName;
    int categoryIndex = -1;
    if (waveList.GetSelection() >= 0)
    {
        defaultName = waveList.GetSelectedName().c_str();
        categoryIndex = categoryList.GetSelection();
    }
    else
    {
        if (proposedName.GetLength() == 0) return;
        defaultName = proposedName;
    }
    long px = 30;
    long py = 30;
    ConvertLocalToScreen(px, py);
    String category;
    String chosen;
    TSaveDialog dialog;
    if (!dialog.Create(this, px, py, manager, category, chosen, "Save waveform", categoryIndex, defaultName))
        return;
    VoiceDef* def = instrument->GetVoiceDef(-1);
    SaveOutcome outcome;
    instrument->SaveWaveform(def != nullptr ? &def->waveDef : nullptr, slot, category, chosen, &outcome);
    if (!ReportSave(outcome, "Error: Could not save waveform", "The waveform was saved", "File error"))
        return;
    // The slot holds what was saved: the lists show the new file, and nothing is loaded.
    categoryList.SetList(&manager->GetList());
    int const found = categoryList.FindItem(category);
    if (found >= 0)
    {
        categoryList.SetSelection(found);
        ShowSubList(categoryList.GetSelectedItem());
        waveList.SetSelection(static_cast<char const*>(SavedPresetName(chosen)));
        loadedCategory = static_cast<char const*>(category);
        loadedWave = static_cast<char const*>(SavedPresetName(chosen));
    }
    else
    {
        waveList.SetList(nullptr);
    }
    proposedName = "";
}

void TWaveBrowser::AddCategory()
{
    std::optional<int> const added = categorycommands::AddCategory(*manager, categoryList, &waveList,
                                                                   categorycommands::NameAskerOver(*this));
    if (added && *added >= 0) preview.SetWaveDef(-1, nullptr);
}

void TWaveBrowser::DeleteCategory()
{
    categorycommands::DeleteCategory(*manager, categoryList, &waveList);
}

void TWaveBrowser::RenameCategory()
{
    categorycommands::RenameCategory(*manager, categoryList, &waveList,
                                     categorycommands::NameAskerOver(*this));
}

void TWaveBrowser::DeleteWave()
{
    if (categorycommands::DeletePreset(*manager, categoryList, waveList))
        ShowSubList(categoryList.GetSelectedItem());
}

void TWaveBrowser::RenameWave()
{
    categorycommands::RenamePreset(*manager, categoryList, waveList, categorycommands::NameAskerOver(*this),
                                   [this] { ShowSubList(categoryList.GetSelectedItem()); });
}

// ---------------------------------------------------------------------------------------------
// Preview

void TWaveBrowser::WavePreview::Create(Window* parent, Torvane* torvane)
{
    namespace wb = layout::wavebrowser;
    instrument = torvane;
    name = "WavePreview";
    CreateChildWindow(parent, wb::kPreview.w, wb::kPreview.h, wb::kPreview.x, wb::kPreview.y);
}

void TWaveBrowser::WavePreview::SetWaveDef(int newSlot, VectorMipOscWaveDef const* waves)
{
    slot = waves != nullptr ? newSlot : -1;
    ForceRepaint();
}

void TWaveBrowser::WavePreview::Repaint(GraphicsContext& gc)
{
    gc.SetPenColour(30, 30, 100, 1, 100);
    if (slot < 0 || instrument == nullptr) return;
    long const n = instrument->CopyWaveCycle(-1, slot, points);
    if (n < 2) return;
    float const middle = static_cast<float>(height / 2);
    float const step = static_cast<float>(width) / static_cast<float>(n);
    auto row = [&](float v)
    {
        if (!std::isfinite(v)) v = 0.0f;
        return static_cast<long>(std::clamp(middle - v * middle, -100000.0f, 100000.0f));
    };
    gc.MoveTo(0, row(points[0]));
    for (long i = 1; i < n; ++i)
        gc.LineTo(static_cast<long>(static_cast<float>(i) * step), row(points[static_cast<std::size_t>(i)]));
    gc.EndLine();
}

// ---------------------------------------------------------------------------------------------
// Standard shapes

void TWaveBrowser::StandardWaveButtons::Create(TWaveBrowser* owner)
{
    namespace wb = layout::wavebrowser;
    browser = owner;
    name = "StandardWaveButtons";
    CreateChildWindow(owner, wb::kStandardShapes.w, wb::kStandardShapes.h, wb::kStandardShapes.x,
                      wb::kStandardShapes.y);
    hovered = 0;
}

int TWaveBrowser::StandardWaveButtons::HitTest(long px, long py) const
{
    if (px < 0 || py < 0 || px > 66 || py > 18) return 0;
    return static_cast<int>(px / layout::wavebrowser::kStandardShapeStep) + 1;
}

void TWaveBrowser::StandardWaveButtons::GetWaveRect(GRectangle& r, int number) const
{
    namespace wb = layout::wavebrowser;
    r.Set(wb::kStandardShapeStep * number - wb::kStandardShapeStep, 0, wb::kStandardShapeIcon,
          wb::kStandardShapeIcon);
}

void TWaveBrowser::StandardWaveButtons::MouseMoved(long px, long py)
{
    int const number = HitTest(px, py);
    if (number != 0)
        CaptureMouse();
    else
        ReleaseMouse();
    hovered = number;
    ForceRepaint();
}

void TWaveBrowser::StandardWaveButtons::Repaint(GraphicsContext& gc)
{
    if (hovered == 0) return;
    GRectangle r;
    GetWaveRect(r, hovered);
    gc.SetPenColour(100, 100, 255, 1, 70);
    gc.DrawFilledRect(r);
}

void TWaveBrowser::StandardWaveButtons::LButtonUp(long px, long py)
{
    if (browser != nullptr && !ReleaseEndsAbandonedPress()) browser->StandardShapeChosen(HitTest(px, py));
}
