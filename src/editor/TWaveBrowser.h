#pragma once

#include <string>
#include <vector>

#include "editor/CloseBut.h"
#include "editor/TButton.h"
#include "editor/TPatchList.h"
#include "framework/Events.h"
#include "framework/String.h"
#include "toolkit/CustomButton.h"
#include "toolkit/Frame.h"
#include "toolkit/Image.h"

class PresetManager;
class Torvane;
class VectorMipOscWaveDef;

// The modal browser through which the user fills one wave slot of the current layer: from a
// stored waveform (a category list and a waveform list over the instrument's waveform manager),
// from one of four standard shapes, or from an imported WAV file. It also saves the slot as a
// waveform file and manages the categories and files. Every choice acts on the layer at once;
// there is no cancel. Whenever the manager rebuilds its lists (here or in a dialog over the
// browser), the browser sets its lists again, keeping the selections by name. Built on the
// opener's stack, used for one run. Editor thread only.
class TWaveBrowser : public Frame, public TPatchListListener, public ButtonListener, public EventHandler
{
public:
    enum Id
    {
        kCloseId = 0,
        kImportId = 1,
        kSaveId = 2,
        kAddCategoryId = 3,
        kDeleteCategoryId = 4,
        kRenameCategoryId = 5,
        kDeleteWaveId = 6,
        kRenameWaveId = 7,
    };
    static constexpr int kCategoryListId = 0;
    static constexpr int kWaveListId = 1;

    // The slot's first-level cycle, copied from the layer when drawn (never the live table).
    class WavePreview : public Window
    {
    public:
        void Create(Window* parent, Torvane* instrument);
        // Slot -1 (or no waves) shows nothing.
        void SetWaveDef(int slot, VectorMipOscWaveDef const* waves);
        bool Showing() const { return slot >= 0; }
        void Repaint(GraphicsContext& gc) override;

    private:
        Torvane* instrument = nullptr;
        int slot = -1;
        std::vector<float> points;
    };

    // The strip of standard shapes: saw, square, sine, silence, 16 pixels each.
    class StandardWaveButtons : public Window
    {
    public:
        void Create(TWaveBrowser* browser);
        // 1-4 on a shape, 5 on the strip's last pixels, 0 outside.
        int HitTest(long x, long y) const;
        void GetWaveRect(GRectangle& r, int number) const;
        int Hovered() const { return hovered; }
        void MouseMoved(long x, long y) override;
        void LButtonUp(long x, long y) override;
        void Repaint(GraphicsContext& gc) override;

    private:
        TWaveBrowser* browser = nullptr;
        int hovered = 0;
    };

    TWaveBrowser() = default;
    ~TWaveBrowser() override = default;

    // Builds the browser for slot `slot` of the current layer at (x, y) on the screen and runs
    // it; returns when it is closed. Nothing is loaded at opening. A missing picture is shown
    // ("Torvane error in TWaveBrowser::Create") and nothing runs.
    void Create(Window* parent, int slot, long x, long y, Torvane* instrument);

    void PatchListSelection(int listId, int index, CascadeList::Item* item) override;
    void ButtonPressed(int id) override;
    void Repaint(GraphicsContext& gc) override;
    // A standard shape (1-4) into the slot; any number then clears the proposed name and the
    // waveform selection.
    void StandardShapeChosen(int number);

    TPatchList& GetCategoryList() { return categoryList; }
    TPatchList& GetWaveList() { return waveList; }
    WavePreview& GetPreview() { return preview; }
    StandardWaveButtons& GetStandardShapes() { return shapes; }
    String const& ProposedName() const { return proposedName; }

protected:
    // Close is the browser's only way out: Escape and Return both press it (a chosen wave is
    // already in the slot).
    bool CancelByKey() override
    {
        ButtonPressed(kCloseId);
        return true;
    }
    bool DefaultByKey() override { return CancelByKey(); }

private:
    void Build();
    void ShowSubList(CascadeList::Item* category);
    void LoadSelectedWave();
    // Selects the waveform last loaded from a file in the waveform list when the shown category
    // holds it, else nothing.
    void ShowLoadedWave();
    void Import();
    void Save();
    void AddCategory();
    void DeleteCategory();
    void RenameCategory();
    void DeleteWave();
    void RenameWave();
    void ManagerRebuilt();

    StandardWaveButtons shapes;
    int slot = 0;
    Torvane* instrument = nullptr;
    PresetManager* manager = nullptr;
    TPatchList categoryList;
    TPatchList waveList;
    String proposedName;
    // The category and name of the waveform file the slot was last loaded from (empty when it
    // holds anything else).
    std::string loadedCategory;
    std::string loadedWave;
    Image background;
    Image closeUp, closeDown;
    CustomButton closeButton;
    CloseBut closeBox;
    Image importUp, importDown;
    CustomButton importButton;
    Image saveUp, saveDown;
    CustomButton saveButton;
    Image addUp, addDown;
    CustomButton addButton;
    TButton deleteCategoryButton;
    TButton renameCategoryButton;
    TButton deleteWaveButton;
    TButton renameWaveButton;
    WavePreview preview;
};
