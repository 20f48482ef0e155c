// Whole-file helpers used by every Part that touches the file system.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace text {

// what() is GBK text for the operator: what failed, the file and the system's reason, e.g.
// "无法写入 /srv/txt/FF.bin：设备上没有空间".
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// Whole file as bytes, or nothing when it cannot be opened.
std::optional<std::string> ReadFile(const std::string& path);
// Whole file as bytes; throws FileError ("无法读取 <path>：<reason>") when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// A file that another program writes, read without trusting it: only a regular file is read,
// never one reached through a symbolic link (the name itself must be the file), and the open
// never waits, so a FIFO or a device put in its place cannot hold the caller; at most `limit`
// bytes of it are read, so memory follows the file's size up to that limit.
struct LimitedRead {
    std::optional<std::string> bytes; // nothing when the file could not be read
    bool cut = false;                 // the file is longer than the limit: its first bytes only
    std::string error;                // why nothing was read (GBK)
};
LimitedRead ReadRegularFile(const std::string& path, std::size_t limit);

// How far a replacement must reach before the rename: to the disk (configuration, menu and image
// files, which must survive a power cut) or only to the page cache (the exchange files, which are
// rewritten for every request and matter only while the program runs).
enum class Durability { Synced, Cached };

// Writes to a temporary file in the same directory and renames it over the old one, so that a
// reader never sees half a file. Throws FileError with the system's reason on failure; the old
// file is then untouched. The temporary file is named ".dcrelay-<writer's pid>-XXXXXX". The new
// file keeps the read and write permissions of an old regular file of that name (never its
// set-user-ID, set-group-ID, sticky or execute bits); in place of anything else, a symbolic link
// included, whose target is never looked at, it is a new file of mode 0644.
void WriteFileAtomic(const std::string& path, const std::string& bytes,
                     Durability durability = Durability::Synced);

// Removes from `dir` the temporary files of WriteFileAtomic whose writer died before its rename
// (killed, a power cut): regular files named by its pattern whose writer process no longer
// runs, and those of the older pattern without a pid (".dcrelay-XXXXXX"), whose writer cannot be
// told. Everything else stays. Returns how many were removed.
int RemoveLeftoverTemporaries(const std::string& dir);

// True when a process with this id exists (also one of another user).
bool ProcessRuns(long pid);
// Replaces several files that belong together (path, bytes): every new content is written and
// synced to a temporary file beside its file first, and only when all of them are written are
// they renamed over the old files, in the order given. A failure to write any of them (a
// read-only directory, a full disk) throws FileError with the system's reason and leaves every
// file as it was; no temporary file stays behind, also when a rename fails.
void WriteFilesAtomic(const std::vector<std::pair<std::string, std::string>>& files);

// The path of `name` inside `dir` (dir is used as given, names are appended directly): the exact
// name when it exists, else the first entry of dir that matches it without regard to ASCII case,
// else dir + name. This lets "R1.TXT"/"R1.txt" and "txt/"/"Txt/" name one file.
std::string FindNoCase(const std::string& dir, const std::string& name);

// The names of the entries of a directory, without "." and ".."; none when it cannot be read.
std::vector<std::string> EntryNames(const std::string& dir);

// The directory part of a path including its final '/', or "" when there is none.
std::string DirName(const std::string& path);

} // namespace text
