#include "framework/ParameterFile.h"

#include <cstring>
#include <filesystem>
#include <system_error>

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

// True when nothing is at path, or a regular file (possibly through a link).
bool MayReplace(char const* path)
{
    std::error_code ec;
    std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) return true;
    return !ec && std::filesystem::is_regular_file(status);
}
} // namespace

// ---------------------------------------------------------------------------------------------
// ParameterFileWriter

ParameterFileWriter::~ParameterFileWriter()
{
    Discard();
}

void ParameterFileWriter::Discard()
{
    FileWriter::Close();
    if (target.GetLength() > 0) PathManager::RemoveFile(scratch);
    target = "";
    scratch = "";
}

bool ParameterFileWriter::Create(char const* path)
{
    Discard();
    return FileWriter::Create(path);
}

bool ParameterFileWriter::Open(char const* path, bool)
{
    Discard();
    if (!path || !*path || !IsStorableFormatName(format.formatName) || !MayReplace(path)) return false;

    String temporary(path);
    temporary += ".tmp";
    if (!FileWriter::Create(temporary))
    {
        String folder(path);
        PathManager::PathMakeParent(folder);
        if (folder.GetLength() > 0) PathManager::CreateFolder(folder);
        if (!FileWriter::Create(temporary)) return false;
    }
    target = path;
    scratch = temporary;

    Write(format.formatName);
    Write(format.version);
    if (Failed())
    {
        Discard();
        return false;
    }
    return true;
}

bool ParameterFileWriter::Close()
{
    bool wasOpen = IsOpen();
    bool written = FileWriter::Close() && wasOpen;
    if (target.GetLength() == 0) return written;
    // The old file is replaced only by a complete new one.
    bool saved = written && PathManager::Rename(scratch, target);
    if (!saved)
    {
        SetFailed();
        PathManager::RemoveFile(scratch);
    }
    target = "";
    scratch = "";
    return saved;
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
