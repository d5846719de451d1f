#include "framework/ParameterFile.h"

#include <cerrno>
#include <cstring>

#include "framework/Paths.h"

namespace
{
// A name that a reader finds again exactly: the reader drops leading spaces and ends the
// line at a carriage return.
bool IsStorableFormatName(char const* name)
{
    if (!name) return true; // written as ""
    std::size_t n = std::strlen(name);
    return n <= ParameterFileFormat::kMaxFormatNameLength && name[0] != ' ' && !std::strchr(name, '\r');
}

} // namespace

// ---------------------------------------------------------------------------------------------
// ParameterFileWriter

bool ParameterFileWriter::Create(char const* path)
{
    Discard();
    return FileWriter::Create(path);
}

bool ParameterFileWriter::Open(char const* path, bool)
{
    Discard();
    if (!path || !*path)
    {
        Refuse(ENOENT);
        return false;
    }
    if (!IsStorableFormatName(format.formatName))
    {
        Refuse(EINVAL);
        return false;
    }
    if (!ReplacingFileWriter::Open(path))
    {
        // A missing folder is created (with every missing folder above it) and the file tried
        // once more; any other reason stands.
        if (Error() != ENOENT) return false;
        String folder(path);
        PathManager::PathMakeParent(folder);
        if (folder.GetLength() == 0 || PathManager::Exists(folder)) return false;
        if (!PathManager::CreateFolder(folder))
        {
            Refuse(errno != 0 ? errno : ENOENT);
            return false;
        }
        if (!ReplacingFileWriter::Open(path)) return false;
    }
    Write(format.formatName);
    Write(format.version);
    if (Failed())
    {
        Discard();
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// ParameterFileReader

bool ParameterFileReader::Open(char const* path)
{
    Close();
    if (!path || !FileReader::Open(path)) return false;

    // One byte more than the longest name, so that a longer line never matches a name.
    char name[ParameterFileFormat::kMaxFormatNameLength + 2];
    float version = 0.0f;
    char const* wanted = format.formatName ? format.formatName : "";
    if (Read(name) && std::strcmp(name, wanted) == 0 && Read(&version) && format.acceptMin <= version &&
        version <= format.acceptMax)
    {
        format.version = version;
        return true;
    }
    Close();
    return false;
}
