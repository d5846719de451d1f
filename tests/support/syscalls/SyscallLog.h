#pragma once

// Records the file system calls a test's own thread makes, in order, with the descriptors and
// names they were made on, and makes chosen ones fail. The test binary that links the object
// library syscall_log defines the C library's open, openat, write, fsync, fdatasync, close,
// renameat, unlinkat, fchmod and fchown itself: each passes the call on to the real one (found
// with dlsym(RTLD_NEXT)), and notes it while a SyscallLog lives on the calling thread. Calls of
// other threads, and of the C library inside itself (stdio's own writes), are not seen.

#include <sys/types.h>

#include <string>
#include <vector>

enum class Syscall
{
    Open, // open and openat (fd: the folder given, or AT_FDCWD; result: the new descriptor)
    Write,
    Fsync,
    Fdatasync,
    Close,
    Rename, // renameat (fd: old folder, name: old name; other: new folder, otherName: new name)
    Unlink, // unlinkat
    Fchmod, // mode: the mode given
    Fchown,
};

struct SyscallRecord
{
    Syscall call;
    int fd = -1;
    std::string name;
    int other = -1;
    std::string otherName;
    int flags = 0;
    unsigned mode = 0;
    int result = 0;
    int error = 0; // errno when it failed
};

// What a failure is aimed at: any call of its kind, or only those on the temporary file (its
// descriptor, or its name in an open, rename or unlink) or on the folder it was created in.
enum class SyscallTarget
{
    Any,
    Temporary,
    Folder,
};

class SyscallLog
{
public:
    // Starts recording the calls of this thread (one log at a time). A file created (O_CREAT)
    // under a name that starts with `temporaryPrefix` is the temporary file.
    explicit SyscallLog(char const* temporaryPrefix);
    ~SyscallLog();
    SyscallLog(SyscallLog const&) = delete;
    SyscallLog& operator=(SyscallLog const&) = delete;

    // The nth call (from 1) of that kind on the target from now on fails with `error` without
    // being made (a close is made and then reported failed, as the system may do). One rule
    // per kind.
    void Fail(Syscall call, int error, SyscallTarget target = SyscallTarget::Any, int nth = 1);
    // What was recorded so far.
    std::vector<SyscallRecord> Records() const;
};

// The name of the kind of call ("fsync").
char const* SyscallName(Syscall call);

// The calls a save made on its temporary file (created under a name that starts with `prefix`)
// and on the folder it was made in, in order: "open folder", "create", "fchown", "fchmod 640",
// "write" (one for a run of writes), "fsync", "close", "rename" (over `target`), "unlink",
// "fsync folder", "close folder"; a failed call ends in "!". Empty when no temporary file was
// made.
std::vector<std::string> SaveStory(std::vector<SyscallRecord> const& records, std::string const& prefix,
                                   std::string const& target);

// One way a replacing save goes, for every writer's table: the file saved over, the call made to
// fail, and what the save then does, call by call (SaveStory) and as the user is told.
struct ReplaceCallRow
{
    char const* what;
    mode_t oldMode;   // the file saved over (0: none)
    Syscall failing;  // the call made to fail
    SyscallTarget on; // where
    int error;        // with this (0: none fails)
    bool saved;
    std::vector<std::string> story;
    bool toldFailure; // the failure is told, with the reason
    bool toldFolder;  // the folder that was not synced is told, with the reason
};

// The rows: a new file, files of modes 0640 and 0600 saved over, a failed write, data sync,
// close and rename (the old file stays, the temporary file goes, the reason is told), and a
// folder sync that fails (the file is saved, which is told) or is not supported (EINVAL: nothing
// is told).
std::vector<ReplaceCallRow> ReplaceCallRows();
