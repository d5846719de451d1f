#pragma once

// What every replacing writer does with the file it makes and the file it replaces, header only
// so that the host tools, which link none of the plug-in's code, write files the same way:
//  - the new file is made unnamed (O_TMPFILE) where the file system allows, and given a name only
//    once it is complete, so nothing is left behind when the process dies while writing it;
//  - it takes the old file's POSIX ACL exactly: the same one where the old file had one, none
//    where it had none (an ACL inherited from the folder's default is removed).

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

namespace filekeeping
{

inline constexpr char kAclName[] = "system.posix_acl_access";

// An unnamed regular file for writing in the folder open at `folder`, with `mode` less the umask
// (and the folder's default ACL). -1 with errno set on failure (EOPNOTSUPP where /proc, through
// which it is named, is missing).
inline int OpenUnnamed(int folder, mode_t mode)
{
    // An unnamed file is named through /proc: without it, the file is made named at once.
    if (::access("/proc/self/fd", X_OK) != 0)
    {
        errno = EOPNOTSUPP;
        return -1;
    }
    for (;;)
    {
        int const fd = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC | O_NOCTTY, mode);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

// Whether an unnamed open failed because the file system keeps no unnamed files (NFS, CIFS,
// FUSE, older kernels): a named temporary file is made instead.
inline bool KeepsNoUnnamedFiles(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Gives the unnamed file open at `fd` a name in the folder open at `folder`, trying the names
// `nextName` gives until one is free. 0 with the name in `name`, else the errno value.
template <typename Names> int Name(int fd, int folder, Names nextName, std::string& name, int tries = 100)
{
    char self[40];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    for (int attempt = 0; attempt < tries; ++attempt)
    {
        std::string const candidate = nextName();
        if (::linkat(AT_FDCWD, self, folder, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0)
        {
            name = candidate;
            return 0;
        }
        if (errno != EEXIST && errno != EINTR) return errno;
    }
    return EEXIST;
}

// A file's access ACL as it is stored: empty when it has none (or it can't be read).
struct Acl
{
    std::string value;
    bool Present() const { return !value.empty(); }
};

// The ACL of `name` in the folder open at `folder`, the name itself never followed.
inline Acl ReadAcl(int folder, std::string const& name)
{
    std::string const path = "/proc/self/fd/" + std::to_string(folder) + "/" + name;
    Acl acl;
    char buffer[4096];
    ssize_t const n = ::lgetxattr(path.c_str(), kAclName, buffer, sizeof buffer);
    if (n > 0) acl.value.assign(buffer, static_cast<std::size_t>(n));
    return acl;
}

// The mode a file of `mode` with `acl` takes where the ACL can't be set: the group class bits
// (the ACL's mask) become the owning group's own entry limited by the mask, so the group never
// gains what the ACL denied it.
inline mode_t WithoutAcl(mode_t mode, Acl const& acl)
{
    // A version word, then entries of a 16-bit tag, 16-bit permissions and a 32-bit id.
    constexpr std::uint16_t kGroupObject = 0x04;
    constexpr std::uint16_t kMask = 0x10;
    unsigned group = (mode >> 3) & 7u;
    unsigned mask = 7u;
    auto const word = [&](std::size_t at)
    {
        return static_cast<std::uint16_t>(static_cast<unsigned char>(acl.value[at]) |
                                          static_cast<unsigned char>(acl.value[at + 1]) << 8);
    };
    for (std::size_t at = 4; at + 8 <= acl.value.size(); at += 8)
    {
        if (word(at) == kGroupObject) group = word(at + 2) & 7u;
        if (word(at) == kMask) mask = word(at + 2) & 7u;
    }
    return static_cast<mode_t>((mode & ~static_cast<mode_t>(070)) | ((group & mask) << 3));
}

// Gives the new file open at `fd` the old file's mode and ACL: its own ACL removed where the old
// file had none, the mode, then the old ACL. False with errno set when the mode can't be given on
// a file system that keeps modes.
inline bool TakeModeAndAcl(int fd, mode_t mode, Acl const& acl)
{
    if (!acl.Present()) (void)::fremovexattr(fd, kAclName);
    if (::fchmod(fd, mode & 07777) != 0 && errno != EPERM && errno != ENOTSUP) return false;
    if (acl.Present() && ::fsetxattr(fd, kAclName, acl.value.data(), acl.value.size(), 0) != 0)
        return ::fchmod(fd, WithoutAcl(mode & 07777, acl)) == 0 || errno == EPERM || errno == ENOTSUP;
    return true;
}

// Whether the user may write the file `name` in the folder open at `folder` (the system's own
// check, ACLs included: root may write any file).
inline bool MayWrite(int folder, std::string const& name)
{
    return ::faccessat(folder, name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0 || errno != EACCES;
}

} // namespace filekeeping
