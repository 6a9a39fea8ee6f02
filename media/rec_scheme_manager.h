// CRecSchemeManager: the recording scheduler. Every 200 ms it walks the
// recording plans and keeps each member device recording into today's folder
// on the right storage path; alarm plans record for DetRecTime after a motion
// or IO alarm. The lists are read and written under g_csDevList; the slow
// work (disk, files, streams, reports) runs after the lock is released.
#pragma once

#include "core/devinfo.h"
#include "core/recinfo.h"
#include "media/periodic_thread.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

class CWnd;

// The device's folder under "Record": DevName, or DevId-DevName for an NVR
// channel row, with path separators and "." / ".." made harmless.
std::string RecDeviceFolderName(const DeviceInfo& dev);
// One folder name made from a user or cloud text the same way.
std::string RecSafeFolderName(const char* text);
// "Schedule", "Motion", "IO" for StartType 0, 1, 2; null otherwise.
const char* RecKindWord(int startType);
// "<storage>/Record/<device>/Local/<kind>/<Y>/<M>/<D>/" of a date.
std::string RecordFolderPath(const char* storagePath, const std::string& devFolder, const char* kind,
                             const std::tm& date);
// The stream URL (or stream name, byName) the recorder opens for D on behalf
// of R; false when there is no form for the device or the text would not fit
// 255 characters.
bool BuildRecordUrl(const DeviceInfo& d, const DeviceInfo& r, int streamType, std::string& url, bool& byName);

class CRecSchemeManager : public CPeriodicThread {
public:
    explicit CRecSchemeManager(CWnd* pParent = nullptr);
    ~CRecSchemeManager() override;

    // Stops the recordings under a plan name (timeDuration 0: any segment).
    void OnStopRecord(RecScheme* plan, const char* schemeName, int timeDuration);
    void ReportRecordState(DeviceInfo* dev, int state);
    static bool CreateDirPath(const char* path);
    int AddWatch(DeviceInfo* dev, int streamType, int preRecSeconds, int recordAudio);
    void StartAlarmRec(DeviceInfo* dev);
    void OnStopAlmRecord(const char* devName, int startType);

    // One pass of the thread; tests drive it directly.
    void RunPass();


private:
    void RunCycle() override { RunPass(); }

    // Work queued under g_csDevList and run after it is released.
    using Jobs = std::vector<std::function<void()>>;
    struct PassState {
        std::map<std::string, std::uint64_t> freeBytes;   // storage path -> free bytes
        std::set<const DeviceInfo*> busy;                  // records with queued work
        std::time_t now = 0;
        std::tm local{};
    };

    void PassLocked(PassState& st, Jobs& jobs);
    void DeviceStepsLocked(RecScheme* plan, const RecTime& seg, int length, DeviceInfo* d, PassState& st,
                           Jobs& jobs);
    void StartScheduledLocked(RecScheme* plan, const RecTime& seg, int length, DeviceInfo* d,
                              const std::string& folder, PassState& st, Jobs& jobs);
    void ArmAlarmLocked(RecScheme* plan, DeviceInfo* d, Jobs& jobs);
    void RestartLocked(RecScheme* plan, int length, DeviceInfo* d, const std::string& folder, bool storageSwitch,
                       Jobs& jobs);
    void StartAlarmRecLocked(DeviceInfo* d, PassState& st, Jobs& jobs);
    void OnStopRecordLocked(RecScheme* plan, const char* schemeName, int timeDuration, Jobs& jobs);
    void OnStopAlmRecordLocked(const char* devName, int startType, Jobs& jobs);
    void ReportRecordStateLocked(const DeviceInfo* dev, int state, Jobs& jobs);
    int AddWatchLocked(DeviceInfo* r, int streamType, int preRecSeconds, int recordAudio, Jobs& jobs);
    static void RunJobs(Jobs& jobs);
    static void PostMainRefresh();

    CWnd* m_pParent = nullptr;
    std::set<const DeviceInfo*> m_onvifPending;   // under g_csDevList
};
