// Paths: the program and data folders, the system's "\"-separated paths and
// drive letters, and the mounted filesystems that stand in for drives.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace qelm {

// Folder of the executable, with a trailing '/'. Computed once.
const std::string& ProgramDir();

// $QELM2_DATA (with a trailing '/') when set, else ProgramDir(). Read each call.
std::string DataDir();

// '\' becomes '/', runs of separators fold into one; case is kept.
std::string NormalizePath(std::string path);

// printf-style formatting, then NormalizePath.
std::string MakePath(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// "D:\Record\x" (any drive letter, either separator) -> DataDir() + "Record/x";
// any other path is only normalized.
std::string ResolveDrivePath(std::string path);

// The folders that play the drives D: to K: (each with a trailing '/'):
// $QELM2_DRIVES (':'-separated) when set, else DrivesFromMounts of
// /proc/self/mounts and DataDir(). At most eight either way.
std::vector<std::string> DriveList();

// The drives of a mount table (the format of /proc/self/mounts), in mount
// order: the root filesystem's drive, and that of the filesystem holding the
// data folder, is the data folder itself; every other mounted, writable, real
// filesystem is its mount point. Folders that cannot be written are left out.
std::vector<std::string> DrivesFromMounts(std::istream& mounts, const std::string& dataDir);

struct DiskSpace {
    std::uint64_t available = 0; // bytes an unprivileged user may still write
    std::uint64_t total = 0;
};

// Space of the filesystem holding path (or its nearest existing ancestor, so
// a folder not yet created reports the drive it will be on).
std::optional<DiskSpace> FreeSpace(const std::string& path);

// True when both paths (or their nearest existing ancestors) are on one filesystem.
bool SameDrive(const std::string& a, const std::string& b);

} // namespace qelm
