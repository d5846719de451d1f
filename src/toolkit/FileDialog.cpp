#include "toolkit/FileDialog.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "framework/Paths.h"
#include "platform/gfx/Surface.h"
#include "toolkit/CustomButton.h"
#include "toolkit/Frame.h"
#include "toolkit/GraphicsContext.h"
#include "toolkit/MacWindowManager.h"
#include "toolkit/Responders.h"
#include "toolkit/TextControl.h"

namespace
{
String& Last()
{
    static auto* last = new String;
    return *last;
}

bool IsFolder(std::string const& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Parent(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return path.substr(0, slash);
}

std::string Join(std::string const& folder, std::string const& name)
{
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

constexpr long kWidth = 420;
constexpr long kHeight = 330;
constexpr long kRow = 16;
constexpr long kListX = 10, kListY = 50, kListW = 400, kListH = 224;

struct Entry
{
    std::string name;
    bool folder;
};

class FileDialogFrame;

// The listing: one row an entry; a click selects, a double click opens or chooses.
class EntryList : public Window
{
public:
    FileDialogFrame* dialog = nullptr;
    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void LDoubleClick(long x, long y) override;
};

class FileDialogFrame : public Frame, public ButtonListener
{
public:
    enum
    {
        kUp = 1,
        kOpen,
        kCancel
    };

    FileDialogFrame(char const* title, FileDialog::TypeList const& t) : types(t), heading(title ? title : "")
    {
        long px = 100, py = 100;
        if (gfx::Surface* owner = MacWindowManager::OwnerSurface())
        {
            gfx::Point o = owner->ScreenOrigin();
            px = o.x + (owner->Width() - kWidth) / 2;
            py = o.y + (owner->Height() - kHeight) / 2;
        }
        CreateFrame(nullptr, px, py, kWidth, kHeight);
        list.dialog = this;
        list.CreateChildWindow(this, kListW, kListH, kListX, kListY);
        up.Create(this, kUp, this, kListX, 22, 50, 20, "Up", CaptionButton::PlainFace());
        field.Create(this, GRectangle(kListX, kListY + kListH + 8, kListW, 20), true, nullptr);
        open.Create(this, kOpen, this, kWidth - 170, kHeight - 28, 75, 20, "Open",
                    CaptionButton::DefaultFace());
        cancel.Create(this, kCancel, this, kWidth - 85, kHeight - 28, 75, 20, "Cancel",
                      CaptionButton::PlainFace());
        std::string start = FileDialog::LastFolder().ToStdString();
        if (start.empty() || !IsFolder(start))
        {
            char const* home = std::getenv("HOME");
            start = home && IsFolder(home) ? home : "/";
        }
        Enter(start);
        field.GiveFocus(); // typing goes to the path; Return and Escape reach the dialog
    }

    bool Run(String& path)
    {
        RunModal();
        if (chosen.empty()) return false;
        path = chosen.c_str();
        return true;
    }

    void Enter(std::string const& path)
    {
        folder = path;
        entries.clear();
        selected = -1;
        scroll = 0;
        std::vector<String> folders, files;
        PathManager::BuildDirectoryList(folder.c_str(), &folders, &files); // unreadable: empty
        auto add = [&](String const& full, bool isFolder)
        {
            std::string name = PathManager::ExtractFilenameFromPath(full).ToStdString();
            if (name.empty() || name[0] == '.') return;
            if (FileDialog::MyNavObjectFilterProc(full, isFolder, types))
                entries.push_back(Entry{name, isFolder});
        };
        for (String const& f : folders)
            add(f, true);
        for (String const& f : files)
            add(f, false);
        field.SetText("");
        ForceRepaint();
        list.ForceRepaint();
    }

    void Select(int index)
    {
        if (index < 0 || index >= static_cast<int>(entries.size())) return;
        selected = index;
        long rows = kListH / kRow;
        if (selected < scroll) scroll = selected;
        if (selected >= scroll + rows) scroll = selected - rows + 1;
        field.SetText(entries[selected].name.c_str());
        list.ForceRepaint();
    }

    void Activate(int index)
    {
        if (index < 0 || index >= static_cast<int>(entries.size())) return;
        std::string full = Join(folder, entries[index].name);
        if (entries[index].folder)
            Enter(full);
        else
            Choose(full);
    }

    void Choose(std::string const& full)
    {
        chosen = full;
        Last() = Parent(full).c_str();
        QuitModal();
    }

    // Open: the typed text (a name in this folder or an absolute path), else the selection.
    void OpenTyped()
    {
        std::string typed = field.GetText().ToStdString();
        if (typed.empty())
        {
            Activate(selected);
            return;
        }
        std::string full = typed[0] == '/' ? typed : Join(folder, typed);
        if (IsFolder(full))
            Enter(full);
        else if (PathManager::Exists(full.c_str()) &&
                 FileDialog::MyNavObjectFilterProc(full.c_str(), false, types))
            Choose(full);
    }

    void ButtonPressed(int id) override
    {
        switch (id)
        {
        case kUp:
            Enter(Parent(folder));
            break;
        case kOpen:
            OpenTyped();
            break;
        case kCancel:
            QuitModal();
            break;
        }
    }

    // Return opens, as the Open button does; Escape cancels. The arrows move the selection.
    bool DefaultByKey() override
    {
        ButtonPressed(kOpen);
        return true;
    }
    bool CancelByKey() override
    {
        ButtonPressed(kCancel);
        return true;
    }

    bool KeyDown(unsigned key, char const* text) override
    {
        switch (key)
        {
        case gfx::kKeyUp:
            Select(selected <= 0 ? 0 : selected - 1);
            return true;
        case gfx::kKeyDown:
            Select(selected + 1);
            return true;
        default:
            return Frame::KeyDown(key, text);
        }
    }

    void Repaint(GraphicsContext& gc) override
    {
        FillBackground(gc, Colour(44, 44, 50, 255));
        gc.SetPenColour(255, 255, 255, 1, 255);
        gc.SetFont(11, nullptr, true, false);
        gc.DrawString(heading.c_str(), 8, 2);
        gc.SetPenColour(190, 190, 200, 1, 255);
        gc.SetFont(10, nullptr, false, false);
        gc.DrawString(folder.c_str(), 66, 24);
    }

    FileDialog::TypeList const& types;
    std::string heading;
    std::string folder;
    std::vector<Entry> entries;
    int selected = -1;
    long scroll = 0;
    std::string chosen;
    EntryList list;
    CaptionButton up, open, cancel;
    TextControl field;
};

void EntryList::Repaint(GraphicsContext& gc)
{
    FillBackground(gc, Colour(28, 28, 32, 255));
    gc.SetFont(10, nullptr, false, false);
    long rows = height / kRow;
    for (long r = 0; r < rows; ++r)
    {
        long i = dialog->scroll + r;
        if (i >= static_cast<long>(dialog->entries.size())) break;
        Entry const& e = dialog->entries[i];
        if (i == dialog->selected)
        {
            gc.SetPenColour(45, 85, 170, 1, 255);
            gc.DrawFilledRect(0, r * kRow, width - 1, kRow - 1);
        }
        gc.SetPenColour(e.folder ? 230 : 255, e.folder ? 200 : 255, e.folder ? 120 : 255, 1, 255);
        gc.DrawString(e.name.c_str(), 4, r * kRow + 2);
    }
}

void EntryList::LButtonDown(long, long y)
{
    dialog->Select(static_cast<int>(dialog->scroll + y / kRow));
}

void EntryList::LDoubleClick(long, long y)
{
    dialog->Activate(static_cast<int>(dialog->scroll + y / kRow));
}
} // namespace

void FileDialog::TypeList::Add(char const* name, char const* extension)
{
    names.push_back(String(name));
    extensions.push_back(String(extension));
}

bool FileDialog::MyNavObjectFilterProc(char const* path, bool isFolder, TypeList const& types)
{
    if (isFolder) return true;
    String extension = PathManager::ExtractExtension(path);
    for (String const& e : types.extensions)
        if (std::strcmp(extension, e) == 0) return true;
    return false;
}

bool FileDialog::OpenDialog(char const* title, TypeList const& types, String& path, bool)
{
    if (auto answer = Responders::TakeFileDialog())
    {
        if (!*answer) return false;
        path = (*answer)->c_str();
        Last() = Parent(**answer).c_str();
        return true;
    }
    FileDialogFrame dialog(title, types);
    return dialog.Run(path);
}

String const& FileDialog::LastFolder()
{
    return Last();
}

void FileDialog::SetLastFolder(char const* folder)
{
    Last() = folder ? folder : "";
}
