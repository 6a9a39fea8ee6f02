// Rules of the recording-plan page that need no window: the period
// conflict test, the free-space test of a storage folder, folder identity,
// the device items of the page's trees.
#pragma once

#include "core/devinfo.h"
#include "core/recinfo.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace recpage {

inline constexpr std::uint64_t kGiB = 1024ull * 1024ull * 1024ull;
inline constexpr int kMinFreeGiB = 5;

// -1 when a segment of existing and one of candidate share a day (8 meets
// every day) and their times overlap, all bounds inclusive; else 0.
int CheckTimeConflict(const RecScheme& existing, const RecScheme& candidate);

// Free bytes of the whole filesystem holding path (not the caller's quota);
// nullopt when it cannot be asked.
using VolumeFreeFn = std::function<std::optional<std::uint64_t>(const std::string& path)>;
// Tests replace the query; an empty function restores the filesystem's.
void SetVolumeFreeHook(VolumeFreeFn fn);
std::optional<std::uint64_t> VolumeFreeBytes(const std::string& path);
// At least 5 whole GiB free on the filesystem of path.
bool HasFreeSpace(const std::string& path);

// Both texts name one existing directory (same device and inode); texts
// that cannot be looked up are the same folder only when equal.
bool SameFolder(const std::string& a, const std::string& b);

// Devices the page offers: everything but decoders, type 5 and NVR rows.
bool IsPlayable(const DeviceInfo& d);
// "DevId-DevName" for an NVR channel row, DevName otherwise.
std::string DevItemText(const DeviceInfo& d);
// The page's state icon: online with live view and recording 10, live view
// only 7, recording only 6, neither 3; offline or unknown 2.
int DevItemImage(const DeviceInfo& d);

} // namespace recpage
