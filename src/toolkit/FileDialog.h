#pragma once

#include <vector>

#include "framework/String.h"

// The open-file dialog: a drawn modal frame listing a folder's sub-folders and the files
// whose extension the type list accepts (exactly, case counts), by name, without dot
// entries. A folder opens with a double click (or Open), Up goes to the parent, a file is
// chosen with a double click or Open; a typed path goes there. It starts in the folder of
// the last file chosen, else the home folder.
class FileDialog
{
public:
    class TypeList
    {
    public:
        void Add(char const* name, char const* extension);
        std::vector<String> names;
        std::vector<String> extensions;
    };

    // True with the chosen file's whole path in path; false (path unchanged) when cancelled.
    static bool OpenDialog(char const* title, TypeList const& types, String& path, bool unused = false);
    // Whether the dialog lists an entry: every folder, and files with a listed extension.
    static bool MyNavObjectFilterProc(char const* path, bool isFolder, TypeList const& types);
    // The folder the next dialog starts in ("" until a file was chosen).
    static String const& LastFolder();
    static void SetLastFolder(char const* folder);
};
