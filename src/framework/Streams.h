#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

class String;

// Opens the file at path only when it is a regular file, without ever waiting: the open does not
// block (O_NONBLOCK), the descriptor is then checked with fstat, and a FIFO, socket, device or
// folder is refused (closed again, EINVAL) before anything is read or written. For writing the
// file is created when missing (mode 0666 less the umask) and emptied once it is known to be
// regular. Returns the descriptor in blocking mode, close-on-exec, or -1 with errno set.
int OpenRegularFile(char const* path, bool forWriting);
// The same as a stdio stream ("rb" or "wb"); null with errno set on failure.
std::FILE* OpenRegularStream(char const* path, bool forWriting);

// Creates a new file for writing in the folder open at `folder` (a descriptor, or AT_FDCWD)
// under a name of its own, kTemporaryNamePrefix and six letters or digits: the same length
// whatever the file it stands in for, and never ending in a file name extension the presets use.
// It is made with O_CREAT | O_EXCL | O_NOFOLLOW and `mode` (less the umask), so nothing already
// at the name (a file, a folder, a FIFO or a link) is ever opened; a taken name is passed over for
// another. Returns the descriptor (close-on-exec) with the name in `name`, or -1 with errno set.
inline constexpr char kTemporaryNamePrefix[] = ".torvane-";
int CreateTemporaryFile(int folder, std::string& name, unsigned mode = 0666);
// Where the six characters of a temporary name come from: by default at random. Tests set
// their own to plant something at a name a writer will try; null puts back the default.
using TemporaryNameSource = std::string (*)();
void SetTemporaryNameSource(TemporaryNameSource source);

// What a save ended in, for the message that tells the user.
struct SaveOutcome
{
    bool saved = false;
    int error = 0;           // why it was not saved (an errno value); 0 when no reason is known
    int folderNotSynced = 0; // saved, but the folder could not be synced (an errno value)
    std::string reason;      // why it was not saved in words of its own ("Pad.fxp is read-only"); empty
                             // when the system's words for `error` say it
};
// The text, then ": " and the system's words for `error` when there is one.
std::string WithReason(char const* text, int error);
// The text, then ": " and why the save failed (its own reason, else the system's words).
std::string WithReason(char const* text, SaveOutcome const& outcome);

// Typed binary streams. Every stored form is a sequence of these fields:
//   int, float, unsigned int, long: 4 bytes, little-endian (long is stored as 32 bits)
//   bool: 1 byte, 1 for true; any other byte reads false
//   text through a file: the characters, then a carriage return
//   text through memory: unsigned int n = characters + 1, the characters, a zero byte
// Streams never throw (except when memory runs out). A write or read that fails sets a failure flag
// that stays set until the stream is opened again; a failed read leaves its destination unchanged,
// and every read after a failure fails too.
class Writer
{
public:
    virtual ~Writer() = default;

    virtual void Write(int v);
    virtual void Write(float v);
    virtual void Write(unsigned int v);
    virtual void Write(long v);
    virtual void Write(bool b);
    // Text; the encoding depends on the writer's kind. A null text writes "".
    virtual void Write(char const* s);
    virtual void WriteBytes(void const* data, std::size_t n) = 0;
    // The memory form of a text: length counting the zero, the characters, the zero.
    virtual void WriteString(char const* s);

    bool Failed() const { return failed; }

protected:
    void SetFailed() { failed = true; }
    void ClearFailed() { failed = false; }

private:
    bool failed = false;
};

class Reader
{
public:
    virtual ~Reader() = default;

    // Each read returns true when the whole field was read; on false the destination is unchanged.
    virtual bool Read(int* v);
    virtual bool Read(float* v);
    virtual bool Read(unsigned int* v);
    virtual bool Read(long* v);
    virtual bool Read(bool* b);
    // Text into a buffer of capacity bytes; a longer text is cut to capacity - 1 characters and the rest
    // of the field is skipped. The encoding depends on the reader's kind.
    virtual bool Read(char* buffer, std::size_t capacity);
    template <std::size_t N> bool Read(char (&buffer)[N]) { return Read(buffer, N); }
    // A text in the memory form, in every kind of reader; the String's length counts the stored zero.
    virtual bool Read(String* s);
    virtual bool ReadBytes(void* buffer, std::size_t n) = 0;
    // The memory form of a text.
    virtual bool ReadString(char* buffer, std::size_t capacity);
    // Bytes left to read.
    virtual std::size_t Remaining() const = 0;

    bool Failed() const { return failed; }

protected:
    void SetFailed() { failed = true; }
    void ClearFailed() { failed = false; }

private:
    bool failed = false;
};

class FileWriter : public Writer
{
public:
    FileWriter() = default;
    FileWriter(FileWriter const&) = delete;
    FileWriter& operator=(FileWriter const&) = delete;
    ~FileWriter() override;

    void WriteBytes(void const* data, std::size_t n) override;
    // The text, then a carriage return; no length and no zero.
    void WriteString(char const* s) override;
    // Creates or truncates a regular file; false when it can't be opened or is anything else
    // (never waits on a FIFO or device).
    virtual bool Create(char const* path);
    // True when no write, flush or close has failed since the file was created.
    virtual bool Close();
    // Hands what is buffered to the file.
    bool Flush();
    bool IsOpen() const { return fd >= 0; }
    // Why the first failure since the file was opened happened (an errno value); 0 when nothing
    // failed or the reason is unknown.
    int Error() const { return error; }

protected:
    // Writes to a descriptor opened for writing from now on (closing the file before); the
    // descriptor is closed on failure.
    bool Adopt(int fd);
    // The descriptor written to; -1 when none is open.
    int Descriptor() const { return fd; }
    // Flushes and has the system put the file's data on the disk (fsync).
    bool Sync();
    // Marks the writer failed; the first reason is the one kept.
    void Fail(int number);
    // Forgets every failure (a new file is started).
    void Restart();
    // Closes the file without writing what is buffered; failures are not recorded.
    void Drop();

private:
    // Bytes are gathered here and written in blocks of this size.
    static constexpr std::size_t kBufferSize = 64 * 1024;

    int fd = -1;
    int error = 0;
    std::string buffer;
};

// A file that takes the place of the one at a path only once it is complete, and that survives
// a power cut as the old file or the new one. Every step works in the target's folder, opened
// once (openat, linkat, renameat), so the path may be as long as the system allows:
//  - Open creates an unnamed file there (O_TMPFILE); where the file system keeps no unnamed
//    files, a named temporary file (CreateTemporaryFile). When a regular file is replaced, the
//    new file is given its owner and group where the user may, then its mode and its ACL (none
//    where it had none), before anything is written, so a private file stays private. A new
//    file gets 0666 less the umask (and the folder's default ACL).
//  - Close flushes the data and syncs them to the disk, gives an unnamed file a temporary name,
//    closes it, renames it over the target and syncs the folder. A failed write, sync, link,
//    close or rename leaves the old file as it was and no temporary file. The folder is synced
//    after the rename: when that fails the file is saved all the same, and Outcome says so.
//  - Discard (or destroying the writer unclosed) removes the temporary file. A process that dies
//    while writing leaves nothing, except a named temporary file where the file system keeps no
//    unnamed ones (nothing here handles signals: the host owns them).
// The target may be missing, a regular file the user may write (root may write any) or a link,
// which is replaced itself: what a link leads to is never written. A read-only file, a folder,
// FIFO, socket or device at the target is refused, and Outcome says why in words of its own.
// Replacing a file breaks its other hard links and drops its extended attributes other than the
// ACL.
class ReplacingFileWriter : public FileWriter
{
public:
    ReplacingFileWriter() = default;
    ~ReplacingFileWriter() override;

    // False, with nothing created, when the target can't be replaced or the temporary file
    // can't be created (a missing folder among the reasons); Error() tells why.
    virtual bool Open(char const* path);
    // True when a file was open, every write, the sync and the close succeeded and the new file
    // has replaced the old one; on false the old file is left as it was.
    bool Close() override;
    // Closes without saving: the old file stays, the temporary file is removed.
    void Discard();
    // What the last Open and Close came to.
    SaveOutcome Outcome() const;
    // Records that a save was refused before anything was opened (a name no file may have):
    // discards an unfinished file, and Outcome gives `number` as the reason.
    void Refuse(int number);

private:
    // Refuses the target open now: `number`, and `why` in words of its own.
    void Refuse(int number, std::string const& why);
    // Forgets the last save (an unfinished file is discarded).
    void Begin();
    void CloseFolder();

    int folder = -1;            // the target's folder, open while a file is written
    std::string target;         // the name in it that a successful Close replaces; empty when none
    std::string scratch;        // the temporary file being written
    bool folderReadable = true; // false: the folder was opened only as a path and can't be synced
    bool unnamed = false;       // the file written has no name yet
    std::string reason;         // why the target was refused, in words of its own
    bool saved = false;
    int folderNotSynced = 0;
};

class FileReader : public Reader
{
public:
    FileReader() = default;
    FileReader(FileReader const&) = delete;
    FileReader& operator=(FileReader const&) = delete;
    ~FileReader() override;

    bool ReadBytes(void* buffer, std::size_t n) override;
    // A line: leading spaces skipped, up to a carriage return (consumed, not stored) or the end of the file.
    bool ReadString(char* buffer, std::size_t capacity) override;
    std::size_t Remaining() const override;
    // Opens a regular file for reading; false for a missing file, a folder, a FIFO, a socket or a
    // device (never waits on any of them).
    virtual bool Open(char const* path);
    void Close();
    bool IsOpen() const { return stream != nullptr; }

private:
    std::FILE* stream = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
};

// Appends to a caller's String: the bytes overwrite its terminating zero and a new zero follows.
// A short capacity grows at least twofold (to the new length when that is more).
class StringWriter : public Writer
{
public:
    void WriteBytes(void const* data, std::size_t n) override;
    void Open(String* target);
    void Close();

private:
    String* target = nullptr;
};

// Reads a block of size bytes; it never reads past its end.
class StringReader : public Reader
{
public:
    bool ReadBytes(void* buffer, std::size_t n) override;
    // Passes over n bytes; false (and failed) when fewer are left.
    bool Skip(std::size_t n);
    std::size_t Remaining() const override;
    // Starts reading the block at its first byte.
    void Open(char const* data, std::size_t size);
    void Close();

private:
    char const* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
};
