#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <string>

// A file a command-line host writes (the WAV file, the saved state, a screenshot). Prepared before
// the plug-in is loaded, so a folder that is missing or can't be written to is found at once:
//  - a descriptor the program was started with, named /dev/stdout, /dev/stderr, /dev/fd/N or
//    /proc/self/fd/N (or the process's own number), is written through that descriptor as it
//    is: from its offset, appended to where it was opened to append, nothing before the offset
//    cut. A descriptor not open, open only for reading or on a folder is refused. Another
//    process's descriptor path (/proc/PID/fd/N) is opened in place. None is ever resolved and
//    renamed over;
//  - a symbolic link is followed to the file it leads to, which is written and the link left;
//  - a file the user may not write (root may write any) is refused;
//  - a missing or regular file is written to a new unnamed file in its folder (O_TMPFILE), given
//    the old file's owner, group, mode and ACL (none where it had none) before any data; only
//    when Commit finds everything written and synced is it named (".vsthost-" and six random
//    characters) and renamed over the target; the folder is synced after the rename. Where the
//    file system keeps no unnamed files, the temporary file is made named at once (exclusively,
//    never through a link). A failed run leaves no partial file and the old file as it was, and
//    a run ended by SIGINT, SIGTERM or SIGHUP leaves none (RemoveTemporariesOnSignals);
//  - where the folder refuses a temporary file but the file itself may be written, the file is
//    written in place and synced: a power cut or a failure part-way may leave it damaged, and
//    Note says so; Reserve makes room for the whole file first;
//  - an existing file that is not regular (/dev/null, a FIFO) is written in place; a FIFO is
//    opened without waiting and refused when nothing reads it;
//  - a folder is refused.
// Replacing a file breaks its other hard links and drops its extended attributes other than the
// ACL. A prepared file that is never committed is removed when the object goes.
class OutputFile
{
public:
    // What a path names as an output, to tell two outputs, or an output and an input, of one
    // file apart: the file (device and inode) where it exists, else its folder and name.
    struct Identity
    {
        dev_t device = 0;
        ino_t inode = 0;
        std::string name; // empty when the file exists
        bool characterDevice = false;
        bool operator==(Identity const& other) const
        {
            return device == other.device && inode == other.inode && name == other.name;
        }
    };
    // False when the path can't be looked at (its reason then comes from Prepare).
    static bool Identify(std::string const& path, Identity& identity);
    // What an open descriptor writes to.
    static bool IdentifyDescriptor(int fd, Identity& identity);
    // Notes the descriptors open now, at the program's start: only those may be named as outputs.
    static void NoteStartingDescriptors();
    // Has SIGINT, SIGTERM and SIGHUP remove every named temporary file, then end the program by
    // the signal (on; one ignored from the start stays ignored), or puts back the actions there
    // were (off).
    static void RemoveTemporariesOnSignals(bool on);

    OutputFile() = default;
    OutputFile(OutputFile const&) = delete;
    OutputFile& operator=(OutputFile const&) = delete;
    ~OutputFile();

    // False with the reason in `error` ("cannot write the <what> <path>: ...").
    bool Prepare(std::string const& path, char const* what, std::string& error);
    bool IsPrepared() const { return stream != nullptr; }
    std::string const& Path() const { return path; }
    // True when the output goes to this process's standard output.
    bool IsStandardOutput() const { return way == Way::Descriptor && own == 1; }
    // Where the contents go until Commit; null before Prepare.
    std::FILE* Stream() const { return stream; }
    // Makes room for `size` bytes before a file written in place is written over, so that a
    // full disk refuses before its first byte. False with the reason in `error` (the file then
    // discarded, as it was).
    bool Reserve(unsigned long long size, std::string& error);
    // Appends bytes; false once any write failed.
    bool Write(void const* data, std::size_t size);
    // Marks the contents as incomplete: Commit then fails.
    void Fail() { failed = true; }
    // Flushes, syncs and closes the file and puts it in place; false with the reason in `error`
    // when any write, the sync, the close or the rename failed (the old file is then left as it
    // was). A folder that could not be synced after the rename leaves the file saved and a Note.
    bool Commit(std::string& error);
    // Drops what was written (a temporary file is removed).
    void Discard();
    // What the user should know of the way the file is written (in place) or was saved (the
    // folder not synced), once; empty when nothing.
    std::string TakeNote();

private:
    enum class Way
    {
        Replace,   // a temporary file renamed over the target
        InPlace,   // the file itself
        Descriptor // our own standard output or error
    };
    static ssize_t WriteOut(void* cookie, char const* data, std::size_t size);
    bool OpenStream(int fd, std::string& error);
    void CloseFolder();

    std::string path;
    std::string what;
    Way way = Way::Replace;
    int descriptor = -1; // where the bytes go (a copy of 1 or 2 for our own output)
    int own = -1;        // 1 or 2 when written through our own output
    bool regular = false;
    int folder = -1;            // the target's folder, for a replacement
    bool folderReadable = true; // false: opened only as a path, so it can't be synced
    std::string name;           // the target's name in it
    std::string temporary;      // the temporary file's name in it; empty when written in place or unnamed
    bool unnamed = false;       // the file written has no name yet
    int registered = -1;        // its slot among the files a signal removes
    std::FILE* stream = nullptr;
    bool failed = false;
    int writeError = 0;
    unsigned long long written = 0;
    std::string note;
};
