#pragma once

#include "platform/result.h"
#include "platform/sha256_digest.h"
#include "platform/unique_fd.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>
#include <sys/types.h>
#include <unistd.h>

// Files that are never left half written: the content goes into a temporary file in the
// target's own folder, is flushed to disk, and only then renamed over the target. A failure
// at any step removes the temporary file and leaves an existing target as it was.

// Files holding the user's private data (the index, notes exports, spreadsheets, chart pictures,
// settings) are made readable by their owner only.
constexpr mode_t kPrivateFileMode = 0600;
// Gives an existing file of the user's at path kPrivateFileMode.
void TightenToPrivate(const std::string& path);
// The same, and makes the file empty with that mode when it is missing, for a file that another
// library writes and that keeps the mode it finds (SQLite's index, QSettings' settings).
void MakePrivateFile(const std::string& path);
// Files the user makes to pass on (archive copies, saved calls): 0666 less the process's umask.
mode_t SharedFileMode();

// Writes bytes to path. A symbolic link at path is replaced, never followed.
// mode applies to a newly made file; an existing file keeps its permission bits
// unless forceMode is set (the configuration file must stay private).
Result<void> WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode = 0644,
                              bool forceMode = false);

// Copies source to target in the same way and gives the copy the source's modification
// time. Reads in large blocks; a source that fails part way leaves no trace at the target.
Result<void> CopyFileAtomically(const std::string& source, const std::string& target);
// The same copy with the read call supplied by the caller (same contract as ::read), so that
// tests can make a source fail part way as a pulled card does.
using ReadCall = std::function<ssize_t(int fd, void* buffer, std::size_t size)>;
Result<void> CopyFileAtomicallyWith(const std::string& source, const std::string& target, const ReadCall& readCall);

// Creates a temporary file next to path (same folder), returning its descriptor and name;
// fd is -1 on failure. Used by writers that stream large outputs. The name,
// ".NAME.sdvoice-PID.XXXXXX", is hidden and says which process is writing it.
struct TempFile {
    int fd = -1;
    std::string path;
};
TempFile CreateTempFileBeside(const std::string& path, mode_t mode);
// The same for a save of one file: first removes the leftovers of processes that are gone from
// path's folder (RemoveLeftoverTempFiles).
TempFile CreateTempFileForSave(const std::string& path, mode_t mode);
// Flushes temp to disk and closes it, then renames it over target; removes temp on any failure.
Result<void> CommitTempFile(TempFile& temp, const std::string& target);
// Closes and removes temp (after a failed write).
void DiscardTempFile(TempFile& temp);

// Copying many files at the cost of one flush: CopyToTempFile puts the source's bytes and
// modification time into a temporary file beside target (not flushed, nothing renamed; on
// failure no temporary file is left), and CommitTempFiles flushes a batch of them together
// and only then renames each over its target. digest, when given, takes in every byte copied, so
// that the copy's fingerprint costs no second read.
Result<void> CopyToTempFile(const std::string& source, const std::string& target, TempFile& temp,
                            const ReadCall& readCall = ::read, Sha256* digest = nullptr);

struct PendingCopy {
    TempFile temp;
    std::string target;
};
// Flushes the pending copies (temporary files of one folder) with one file-system sync, then
// renames each over its target in order (they may lie in several folders of one file system).
// At the first failure that copy and every later one are
// removed, the ones before it stay in place; the failure's path is that copy's target. pending is
// empty afterwards.
Result<void> CommitTempFiles(std::vector<PendingCopy>& pending);

// Renames from to to, never over an existing file (the failure's error is then EEXIST), and makes
// the rename durable in both folders. Where the file system cannot refuse atomically, the check
// for an existing file comes just before the rename.
Result<void> RenameWithoutReplacing(const std::string& from, const std::string& to);

// Renames from to to in one step, replacing a file at to, and makes the rename durable in both
// folders: for a caller that has kept what to held before.
Result<void> RenameReplacing(const std::string& from, const std::string& to);

// Removes the temporary files of ours in folder whose writing process is gone (killed or crashed
// before it could remove them); those of running processes are left alone. Returns how many.
int RemoveLeftoverTempFiles(const std::string& folder);

// Writes all size bytes to fd, retrying short and interrupted writes; false on an error.
bool WriteAllBytes(int fd, const void* bytes, std::size_t size);

// Copies source into a temporary file beside target, flushes it and renames it to target unless
// a file of that name is there (the failure's error is then EEXIST); the copy keeps the source's
// modification time.
Result<void> CopyFileWithoutReplacing(const std::string& source, const std::string& target);

// Takes an exclusive lock (flock) on folder, held while the returned descriptor is open: writers
// that read a file of the folder, change it and write it back take it so that none loses another's
// change. Invalid (errno set) when the folder cannot be opened or locked.
UniqueFd LockFolder(const std::string& folder);

// Makes the entries of folder (renames, links) durable; a folder that cannot be synced is not an
// error.
void SyncFolder(const std::string& folder);

// Whether both files have the same size and the same bytes; false when either cannot be read.
bool SameSizeAndBytes(const std::string& first, const std::string& second);

// The calls that put written data on the disk, in one place so that tests can record their order
// or make them fail.
struct DiskFlushCalls {
    std::function<int(int fd)> flushFile = ::fdatasync;    // one file's data
    std::function<int(int fd)> flushFileSystem = ::syncfs; // every file of fd's file system
    std::function<int(int fd)> flushFolder = ::fsync;      // a folder's entries
};
// Replaces the calls for the whole process (tests); DiskFlushCalls{} gives the real ones back.
void SetDiskFlushCalls(DiskFlushCalls calls);
