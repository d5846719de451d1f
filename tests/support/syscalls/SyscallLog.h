#pragma once

// Tells, call by call, what a save does with its file and the folder it is in, and makes one of
// those calls fail. The test binary that links the object library syscall_log defines the C
// library's openat, write, fsync, close, linkat, renameat, fchmod and fsetxattr itself: each passes the
// call on to the real one and, while a SyscallLog lives on the calling thread, notes it when it
// is one of the save's. Calls of other threads, and of the C library inside itself (stdio's own
// writes), are not seen.

#include <sys/types.h>

#include <string>
#include <vector>

class SyscallLog
{
public:
    // Starts noting this thread's calls (one log at a time). The save's file is the one created
    // in a folder under a name that starts with `temporaryPrefix`, or opened there under
    // `target` (written in place).
    SyscallLog(char const* temporaryPrefix, char const* target);
    ~SyscallLog();
    SyscallLog(SyscallLog const&) = delete;
    SyscallLog& operator=(SyscallLog const&) = delete;

    // The first call the story names `event` fails with `error` without being made (a close is
    // made and then reported failed, as the system may do).
    void Fail(char const* event, int error);
    // The save's calls so far, in order, joined by ", ": "tmpfile" (an unnamed file made in the
    // folder), "create" (a named temporary file), "open" (the target itself), "set acl", "link"
    // (the unnamed file given its temporary name),
    // "fchmod 640", "write" (one for a run of writes), "fsync", "close", "rename" (over the
    // target), "fsync folder", "close folder"; a failed call ends in "!".
    std::string Story() const;
};

// One way a replacing save goes, for every writer's table: the file saved over, the call made to
// fail, and what the save then does, call by call (SyscallLog::Story) and as the user is told.
struct ReplaceCallRow
{
    enum Told
    {
        Nothing,
        Failure,        // the save failed: said with the reason
        FolderNotSynced // saved, but the folder could not be synced: said with the reason
    };
    char const* what;
    mode_t oldMode;      // the file saved over (0: none)
    char const* failing; // the event made to fail (null: none)
    int error;
    bool saved;
    char const* story;
    Told told;

    // The messages the user is given: `failure` or `done` (how a save whose folder was not synced
    // is told), each with the reason.
    std::vector<std::string> Messages(std::string const& failure, std::string const& done) const;
};

// The rows: a new file, files of modes 0640 and 0600 saved over, a failed write, data sync,
// link, close and rename (the old file stays, the temporary file goes), a folder sync that fails
// (the file is saved) or is not supported (EINVAL: nothing is told), and a file system that keeps
// no unnamed files (a named temporary file is written instead).
std::vector<ReplaceCallRow> ReplaceCallRows();

// One way a replaced file's ACL goes, for every writer's table: the old file's access ACL and its
// folder's default ACL (values as the system stores them, empty for none; AclValue makes them),
// the ACL write made to fail (null: none), and what the new file has.
struct AclRow
{
    char const* what;
    mode_t oldMode;            // the file saved over (0: none)
    std::string oldAcl;        // its access ACL
    std::string folderDefault; // the folder's default ACL
    char const* failing;       // "set acl" made to fail (EOPNOTSUPP), or null
    mode_t newMode;
    std::string newAcl; // the new file's access ACL; "inherited": the one its folder gives
};
// An ACL as the system stores it (system.posix_acl_access or _default): the owner's, each named
// user's (id, permissions), the group's, the mask's and the others' permissions (0..7).
std::string AclValue(unsigned owner, std::vector<std::pair<unsigned, unsigned>> const& users, unsigned group,
                     unsigned mask, unsigned other);
// The rows: a file with an ACL naming a user (the same ACL and mode), a file without one in a
// folder whose default ACL names a user (none: the inherited one removed), a file and folder
// without any, a file whose ACL can't be set (the group limited by the mask), and a new file in
// a folder with a default ACL (which it inherits).
std::vector<AclRow> AclRows();
// Whether the file system of `folder` keeps ACLs (the rows can run there).
bool KeepsAcls(char const* folder);
// The access ACL of a file (empty: none), and the default ACL of a folder set (empty: removed).
std::string AclOf(char const* path);
bool SetDefaultAcl(char const* folder, std::string const& value);
bool SetAcl(char const* path, std::string const& value);
