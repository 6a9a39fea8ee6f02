// The recording scheduler and alarm-triggered recording.
#include "media/rec_scheme_manager.h"

#include "core/log.h"
#include "core/userinfo.h"
#include "media/control_wrappers.h"
#include "media/rec_targets.h"
#include "media/rtsp_events.h"
#include "media/sink_targets.h"
#include "platform/clock.h"
#include "platform/message.h"
#include "platform/paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr std::uint64_t kGiB = 1024ull * 1024ull * 1024ull;

// Keeps a sink alive while queued work uses it outside g_csDevList.
class SinkUse {
public:
    explicit SinkUse(CRtspEvents* sink) : m_sink(sink)
    {
        if (m_sink)
            m_sink->AddUse();
    }
    ~SinkUse()
    {
        if (m_sink)
            m_sink->ReleaseUse();
    }
    SinkUse(const SinkUse&) = delete;
    SinkUse& operator=(const SinkUse&) = delete;
    CRtspEvents* get() const { return m_sink; }

private:
    CRtspEvents* m_sink;
};

// True while the record is still a node of the device list. Under g_csDevList.
bool Listed(const DeviceInfo* d)
{
    for (const DeviceInfo& e : g_lstDevInfo)
        if (&e == d)
            return true;
    return false;
}

void CopyText(char* dst, size_t size, const std::string& src)
{
    const size_t n = std::min(src.size(), size - 1);
    std::memcpy(dst, src.data(), n);
    dst[n] = 0;
}

std::string SafeComponent(const char* text)
{
    std::string out;
    for (const char* p = text; *p; ++p)
        out.push_back(*p == '/' || *p == '\\' ? '_' : *p);
    if (out.empty() || out == "." || out == "..")
        out = "_" + out;
    return out;
}

const char* StoragePathOf(const RecScheme& plan, int n)
{
    switch (n) {
    case 1:
        return plan.StoragePath1;
    case 2:
        return plan.StoragePath2;
    case 3:
        return plan.StoragePath3;
    default:
        return "";
    }
}

bool SinkHasParams(const CRtspEvents* s)
{
    return s && s->GetVideoParamLength() > 0;
}

} // namespace

// --- folders ------------------------------------------------------------------------------------

std::string RecSafeFolderName(const char* text)
{
    return SafeComponent(text ? text : "");
}

std::string RecDeviceFolderName(const DeviceInfo& dev)
{
    if (dev.DevType == 4)
        return SafeComponent((std::string(dev.DevId) + "-" + dev.DevName).c_str());
    return SafeComponent(dev.DevName);
}

const char* RecKindWord(int startType)
{
    switch (startType) {
    case 0:
        return "Schedule";
    case 1:
        return "Motion";
    case 2:
        return "IO";
    default:
        return nullptr;
    }
}

std::string RecordFolderPath(const char* storagePath, const std::string& devFolder, const char* kind,
                             const std::tm& date)
{
    return qelm::ResolveDrivePath(qelm::MakePath("%s\\Record\\%s\\Local\\%s\\%d\\%d\\%d\\", storagePath,
                                                 devFolder.c_str(), kind, date.tm_year + 1900, date.tm_mon + 1,
                                                 date.tm_mday));
}

bool CRecSchemeManager::CreateDirPath(const char* path)
{
    if (!path || !*path)
        return false;
    std::string p = qelm::ResolveDrivePath(path);
    if (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (p.empty())
        return false;
    struct stat st;
    if (stat(p.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const size_t slash = p.rfind('/');
    if (slash != std::string::npos) {
        const std::string parent = slash == 0 ? std::string("/") : p.substr(0, slash);
        if (!CreateDirPath(parent.c_str()))
            return false;
    }
    if (mkdir(p.c_str(), 0777) == 0)
        return true;
    return errno == EEXIST && stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// --- thread -------------------------------------------------------------------------------------

CRecSchemeManager::CRecSchemeManager(CWnd* pParent)
    : CPeriodicThread(200, "CRecSchemeManager: Start record thread.", "Forcing killing record thread.",
                      "CRecSchemeManager:Record thread exit... ..."),
      m_pParent(pParent)
{
}

CRecSchemeManager::~CRecSchemeManager()
{
    Stop();
    Kill();
}

void CRecSchemeManager::RunJobs(Jobs& jobs)
{
    // A job may queue more (a start that succeeded reports its state).
    for (size_t i = 0; i < jobs.size(); ++i) {
        auto job = std::move(jobs[i]);
        job();
    }
    jobs.clear();
}

void CRecSchemeManager::PostMainRefresh()
{
    IMediaSinkTargets* targets = GetMediaSinkTargets();
    HWND main = targets ? targets->MainWnd() : nullptr;
    if (main)
        PostMessage(main, WM_DEVSTATUS_REFRESH, 0, 0);
}

// --- the pass -----------------------------------------------------------------------------------

void CRecSchemeManager::RunPass()
{
    PassState st;
    // Disk queries first, outside the lock: one per storage path in use.
    std::vector<std::string> paths;
    {
        qelm::CsLock lock(g_csDevList);
        for (const RecScheme* plan : g_lstRecSchemeInfo) {
            if (!plan || !plan->OnOff)
                continue;
            for (int n = 1; n <= 3; ++n) {
                const char* p = StoragePathOf(*plan, n);
                if (p[0])
                    paths.emplace_back(p);
            }
        }
    }
    for (const std::string& p : paths) {
        if (!st.freeBytes.count(p))
            st.freeBytes[p] = qelm::DriveFreeBytes(p).value_or(0);
    }

    Jobs jobs;
    {
        qelm::CsLock lock(g_csDevList);
        PassLocked(st, jobs);
    }
    RunJobs(jobs);
}

void CRecSchemeManager::PassLocked(PassState& st, Jobs& jobs)
{
    for (DeviceInfo& d : g_lstDevInfo) {
        if (d.RecFlag == 0 && !st.busy.count(&d))
            StartAlarmRecLocked(&d, st, jobs);
    }

    st.now = qelm::WallNow();
    localtime_r(&st.now, &st.local);
    const int wday = st.local.tm_wday + 1;
    const int tod = st.local.tm_hour * 3600 + st.local.tm_min * 60 + st.local.tm_sec;

    for (RecScheme* plan : g_lstRecSchemeInfo) {
        if (!plan)
            continue;
        if (!plan->OnOff) {
            OnStopRecordLocked(plan, plan->SchemeName, 0, jobs);
            continue;
        }
        for (const RecTime& seg : plan->lstRecTime) {
            if (seg.StartTime == kInvalidTimeOfDay || seg.EndTime == kInvalidTimeOfDay)
                continue;
            const bool dayMatch = seg.DayOfWeek == wday || seg.DayOfWeek == 8;
            const bool active = dayMatch && seg.StartTime < tod && tod < seg.EndTime;
            if (!active) {
                if (dayMatch && seg.EndTime <= tod)
                    OnStopRecordLocked(plan, plan->SchemeName, seg.TimeDuration, jobs);
                continue;
            }
            const int length = seg.EndTime - seg.StartTime;
            if (!plan->OnOff)
                break;   // switched off by the storage rule during this walk
            const std::list<DeviceInfo*> members = plan->lstDev;
            for (const DeviceInfo* member : members) {
                if (!member)
                    continue;
                for (DeviceInfo& d : g_lstDevInfo) {
                    if (std::strcmp(d.DevName, member->DevName) == 0 && std::strcmp(d.DevId, member->DevId) == 0)
                        DeviceStepsLocked(plan, seg, length, &d, st, jobs);
                }
            }
        }
    }
}

void CRecSchemeManager::DeviceStepsLocked(RecScheme* plan, const RecTime& seg, int length, DeviceInfo* d,
                                          PassState& st, Jobs& jobs)
{
    if (st.busy.count(d))
        return;   // work for it is queued already; the next pass looks again
    const char* kind = RecKindWord(plan->StartType);
    if (!kind) {
        WriteLog(6, "CRecSchemeManager: The record start type not find. can't crate record storage folder.");
        return;
    }
    const std::string devFolder = RecDeviceFolderName(*d);
    if (plan->StartType == 1 || plan->StartType == 2)
        ArmAlarmLocked(plan, d, jobs);

    const int cur = d->CurStoragePath;
    const char* drive = "";
    if (cur >= 1 && cur <= 3)
        drive = StoragePathOf(*plan, cur);
    else
        WriteLog(6, "CRecSchemeManager: switch current storage path failed. nCurrentStoragePth=%d", cur);

    if (!drive[0]) {
        if (d->RecFlag == 1)
            OnStopRecordLocked(plan, plan->SchemeName, 0, jobs);
        int first = 0;
        for (int n = 1; n <= 3 && !first; ++n)
            if (StoragePathOf(*plan, n)[0])
                first = n;
        if (!first) {
            WriteLog(3, "CRecSchemeManager: All storage path is NULL, DevName=%s record can't begin.", d->DevName);
            return;
        }
        d->CurStoragePath = first;
    } else {
        auto it = st.freeBytes.find(drive);
        const std::uint64_t freeBytes = it != st.freeBytes.end() ? it->second : 0;
        if (freeBytes / kGiB < 5) {
            WriteLog(6, "CRecSchemeManager:The current storage space = %llu Bytes, less than 5G, nCurDisk=%d",
                     static_cast<unsigned long long>(freeBytes), cur);
            const bool has2 = plan->StoragePath2[0] != 0, has3 = plan->StoragePath3[0] != 0;
            const bool has1 = plan->StoragePath1[0] != 0;
            bool disable = false;
            int target = 0;
            if (cur == 1) {
                disable = !has2 && !has3 && plan->StorageScheme == 0;
                target = has2 ? 2 : has3 ? 3 : 0;
            } else if (cur == 2) {
                disable = !has3 && plan->StorageScheme == 0;
                target = has3 ? 3 : has1 ? 1 : 0;
            } else {
                disable = plan->StorageScheme == 0;
                target = has1 ? 1 : has2 ? 2 : 0;
            }
            if (disable) {
                OnStopRecordLocked(plan, plan->SchemeName, 0, jobs);
                plan->OnOff = 0;
                return;
            }
            if (!target) {
                WriteLog(6, "CRecSchemeManager: Only one storage path, the storage space less than 5G, record will "
                            "stop.");
            } else {
                d->CurStoragePath = target;
                WriteLog(6,
                         "CRecSchemeManager:DevName=%s,Disk=%s storage space less than 5G, change the storage disk "
                         "to path%d",
                         d->DevName, drive, target);
                const std::string folder =
                    RecordFolderPath(StoragePathOf(*plan, target), devFolder, kind, st.local);
                CopyText(d->SavePath, sizeof d->SavePath, folder);
                RestartLocked(plan, length, d, folder, true, jobs);
                st.busy.insert(d);
                return;
            }
        }
    }

    std::string folder;
    const int m = d->CurStoragePath;
    if (m >= 1 && m <= 3 && StoragePathOf(*plan, m)[0])
        folder = RecordFolderPath(StoragePathOf(*plan, m), devFolder, kind, st.local);
    else
        WriteLog(6, "CRecSchemeManager: Have't find current storage path.");

    if (d->RecFlag != 0) {
        if (folder != d->SavePath) {
            WriteLog(6, "CRecSchemeManager:Change the storage path... ...");
            CopyText(d->SavePath, sizeof d->SavePath, folder);
            RestartLocked(plan, length, d, folder, false, jobs);
            st.busy.insert(d);
        }
        if ((plan->StartType == 1 || plan->StartType == 2) && d->RecFlag != 0) {
            const int det = plan->DetRecTime;
            const std::time_t until = d->AlarmRecTime + (det / 60) * 60 + det % 60;
            if (st.now >= until) {
                OnStopAlmRecordLocked(d->DevName, plan->StartType, jobs);
                jobs.push_back([] { PostMainRefresh(); });
                st.busy.insert(d);
            }
        }
        return;
    }

    d->CurStreamType = plan->RecStreamType;
    CopyText(d->SavePath, sizeof d->SavePath, folder);
    if (plan->StartType != 0) {
        if (!folder.empty())
            jobs.push_back([folder] { CreateDirPath(folder.c_str()); });
        return;
    }
    StartScheduledLocked(plan, seg, length, d, folder, st, jobs);
}

void CRecSchemeManager::StartScheduledLocked(RecScheme* plan, const RecTime& seg, int length, DeviceInfo* d,
                                             const std::string& folder, PassState& st, Jobs& jobs)
{
    const int t = g_DispInfoSetting.LoginType == 1 ? 0 : plan->RecStreamType;
    CRtspEvents* s1 = d->pRtspEvent1;
    CRtspEvents* s2 = d->pRtspEvent2;
    CRtspEvents* sink = nullptr;
    int which = 0;
    bool paneSink = false;

    auto byType = [&] {
        const bool carries = (s1 && s1->GetStreamType() == t) || (s2 && s2->GetStreamType() == t);
        if (!carries)
            AddWatchLocked(d, t, 0, 0, jobs);
        if (s1 && s1->GetStreamType() == t && SinkHasParams(s1)) {
            sink = s1;
            which = 1;
        } else if (s2 && s2->GetStreamType() == t && SinkHasParams(s2)) {
            sink = s2;
            which = 2;
        } else {
            WriteLog(3, "CRecSchemeManager:DevName=%s waiting record stream", d->DevName);
        }
    };

    if (d->WatchFlag != 0 && (d->DevType == 1 || d->DevType == 4)) {
        if (t == d->WatchStreamType) {
            if (s1 && s1->IsRenderMedia() && SinkHasParams(s1)) {
                sink = s1;
                which = 1;
            } else if (s2 && s2->IsRenderMedia() && SinkHasParams(s2)) {
                sink = s2;
                which = 2;
            } else {
                WriteLog(6, "CRecSchemeManager:Have't find media render stream, record refued.DevName=%s", d->DevName);
            }
            paneSink = sink != nullptr;
        } else {
            byType();
        }
    } else if (d->WatchFlag != 0 && d->DevType == 0) {
        if (s1 && s1->IsRenderMedia()) {
            if (SinkHasParams(s1)) {
                sink = s1;
                which = 1;
                paneSink = true;
            } else {
                WriteLog(6, "CRecSchemeManager:Havn't receive media param, DevName=%s , waiting for record.",
                         d->DevName);
            }
        }
    } else if (d->WatchFlag != 0) {
        return;
    } else {
        byType();
    }

    if (!sink) {
        if (!folder.empty())
            jobs.push_back([folder] { CreateDirPath(folder.c_str()); });
        return;
    }

    auto use = std::make_shared<SinkUse>(sink);
    const int32_t streamId = sink->GetStreamId();
    const int recAudio = plan->RecAudio, fileTime = plan->RecFileTime, backEnd = plan->ReccordType;
    const int newType = paneSink ? d->WatchStreamType : t;
    const int duration = seg.TimeDuration;
    const std::string scheme = plan->SchemeName;
    const std::string devName = d->DevName;
    st.busy.insert(d);
    jobs.push_back([this, use, streamId, recAudio, length, fileTime, folder, backEnd, newType, duration, scheme,
                    devName, d, which, &jobs] {
        CreateDirPath(folder.c_str());
        CRtspEvents* s = use->get();
        s->SetRecordAudio(recAudio);
        const int32_t fileId = s->StartRecord(streamId, length, fileTime, folder.c_str(), backEnd, 0);
        const char* name = which == 1 ? "pRtspEvent1" : "pRtspEvent2";
        if (fileId <= 0) {
            WriteLog(6, "CRecSchemeManager:%s start record failed.error=%d, StreamId=%ld, DevName=%s, SavePath=%s",
                     name, int(fileId), long(streamId), devName.c_str(), folder.c_str());
            return;
        }
        qelm::CsLock lock(g_csDevList);
        if (!Listed(d) || (which == 1 ? d->pRtspEvent1 : d->pRtspEvent2) != s) {
            s->StopRecord();   // the record went away meanwhile
            return;
        }
        d->CurStreamType = newType;
        d->RecFlag = 1;
        d->RecTimeDuration = duration;
        CopyText(d->RecSchemeName, sizeof d->RecSchemeName, scheme);
        ReportRecordStateLocked(d, 2, jobs);
        WriteLog(6, "CRecSchemeManager:%s start record success, FileId=%ld, DevName=%s, SavePath=%s", name,
                 long(fileId), devName.c_str(), folder.c_str());
    });
}

void CRecSchemeManager::RestartLocked(RecScheme* plan, int length, DeviceInfo* d, const std::string& folder,
                                      bool storageSwitch, Jobs& jobs)
{
    CRtspEvents* sink = nullptr;
    int which = 0;
    if (d->pRtspEvent1 && d->pRtspEvent1->IsRecording()) {
        sink = d->pRtspEvent1;
        which = 1;
    } else if (d->pRtspEvent2 && d->pRtspEvent2->IsRecording()) {
        sink = d->pRtspEvent2;
        which = 2;
    }
    if (!sink) {
        WriteLog(6, storageSwitch ? "CRecSchemeManager: Have't find the record RtspEvent."
                                  : "CRecSchemeManager: Have't find RtspEvent is record.");
        jobs.push_back([folder] { CreateDirPath(folder.c_str()); });
        return;
    }
    auto use = std::make_shared<SinkUse>(sink);
    const int32_t streamId = sink->GetStreamId();
    const int fileTime = plan->RecFileTime, backEnd = plan->ReccordType;
    const std::string devName = d->DevName;
    jobs.push_back([use, streamId, length, fileTime, folder, backEnd, devName, which, storageSwitch] {
        CreateDirPath(folder.c_str());
        CRtspEvents* s = use->get();
        s->CloseRecordFile();
        const int32_t fileId = s->StartRecord(streamId, length, fileTime, folder.c_str(), backEnd, 5);
        const char* name = which == 1 ? "pRtspEvent1" : "pRtspEvent2";
        if (storageSwitch)
            WriteLog(6, "CRecSchemeManager:%s reset record, FileId = %ld, DevName = %s, StreamId = %ld, StoragePath=%s",
                     name, long(fileId), devName.c_str(), long(streamId), folder.c_str());
        else
            WriteLog(6, "CRecSchemeManager:%s reset record, FileId = %ld, DevName = %s, SavePath=%s", name,
                     long(fileId), devName.c_str(), folder.c_str());
    });
}

// --- stopping -----------------------------------------------------------------------------------

void CRecSchemeManager::OnStopRecord(RecScheme* plan, const char* schemeName, int timeDuration)
{
    Jobs jobs;
    {
        qelm::CsLock lock(g_csDevList);
        OnStopRecordLocked(plan, schemeName, timeDuration, jobs);
    }
    RunJobs(jobs);
}

void CRecSchemeManager::OnStopRecordLocked(RecScheme* plan, const char* schemeName, int timeDuration, Jobs& jobs)
{
    if (!plan || !schemeName)
        return;
    bool logged = false;
    for (const DeviceInfo* member : plan->lstDev) {
        if (!member)
            continue;
        for (DeviceInfo& d : g_lstDevInfo) {
            if (std::strcmp(d.DevName, member->DevName) != 0 || std::strcmp(d.RecSchemeName, schemeName) != 0)
                continue;
            if (timeDuration > 0 && d.RecTimeDuration != timeDuration)
                continue;
            if (timeDuration > 0 && !logged) {
                WriteLog(6, "CRecSchemeManager:pRtspEvent2 stop record, szSchemeName = %s,nTime=%d", schemeName,
                         timeDuration);
                logged = true;
            }
            int n = 1;
            for (CRtspEvents* sink : {d.pRtspEvent1, d.pRtspEvent2}) {
                const int idx = n++;
                if (!sink)
                    continue;
                const bool stopRec = sink->GetStreamId() != 0 && sink->IsRecording();
                const bool dropStream = !sink->IsRenderMedia();
                if (stopRec)
                    WriteLog(6, "CRecSchemeManager::OnStopRecord(): RtspEvent%d Stop Record, DevName=%s", idx, d.DevName);
                bool deleteStream = false;
                if (dropStream) {
                    WriteLog(6, "CRecSchemeManager::OnStopRecord(): RtspEvent%d Stop decoder delete stream id=%d, "
                                "DevName=%s",
                             idx, int(sink->GetStreamId()), d.DevName);
                    deleteStream = !sink->IsRelayFeeding();
                    (idx == 1 ? d.StreamId1 : d.StreamId2) = 0;
                }
                if (stopRec || dropStream) {
                    auto use = std::make_shared<SinkUse>(sink);
                    jobs.push_back([use, stopRec, dropStream, deleteStream] {
                        if (stopRec)
                            use->get()->StopRecord();
                        if (dropStream) {
                            if (deleteStream)
                                use->get()->DeleteStream();
                            use->get()->CloseAllDecoder();
                        }
                    });
                }
            }
            d.RecFlag = 0;
            d.RecTimeDuration = 0;
            d.MotionAlarmType = 0;
            d.IOAlarmType = 0;
            d.RecSchemeName[0] = 0;
            ReportRecordStateLocked(&d, 3, jobs);
        }
    }
}

void CRecSchemeManager::ReportRecordState(DeviceInfo* dev, int state)
{
    Jobs jobs;
    {
        qelm::CsLock lock(g_csDevList);
        ReportRecordStateLocked(dev, state, jobs);
    }
    RunJobs(jobs);
}

void CRecSchemeManager::ReportRecordStateLocked(const DeviceInfo* dev, int state, Jobs& jobs)
{
    if (!dev)
        return;
    IRecordTargets* targets = GetRecordTargets();
    std::string name = (targets ? targets->LocalMac() : std::string()) + ":" + dev->IPAddr;
    if (name.size() > 259)
        name.resize(259);
    int channel = 0;
    if (dev->DevType == 0 || dev->DevType == 4) {
        const char* dash = std::strrchr(dev->DevName, '-');
        channel = dash ? std::atoi(dash + 1) : 0;
    }
    jobs.push_back([targets, name, channel, state] {
        if (targets)
            targets->TsReportDeviceState(name.c_str(), channel, state);
        PostMainRefresh();
        if (HWND page = targets ? targets->RecPageWnd() : nullptr)
            PostMessage(page, WM_RECPAGE_REFRESH, 0, 0);
    });
}

// --- alarm recording ----------------------------------------------------------------------------

void CRecSchemeManager::ArmAlarmLocked(RecScheme* plan, DeviceInfo* d, Jobs& jobs)
{
    const int t = plan->RecStreamType;
    CRtspEvents* s1 = d->pRtspEvent1;
    CRtspEvents* s2 = d->pRtspEvent2;
    if (d->WatchFlag != 0 && t == d->WatchStreamType) {
        CRtspEvents* sink = s1 && s1->GetStreamType() == t ? s1 : s2 && s2->GetStreamType() == t ? s2 : nullptr;
        if (sink)
            sink->SetPreRecTime(plan->PreRecTime, plan->RecAudio);
        return;
    }
    if ((s1 && s1->GetStreamType() == t) || (s2 && s2->GetStreamType() == t))
        return;
    WriteLog(6, "CRecSchemeManager:Req the motion alarm record stream. streamtype=%d, DevName=%s", t, d->DevName);
    AddWatchLocked(d, t, plan->PreRecTime, plan->RecAudio, jobs);
}

void CRecSchemeManager::StartAlarmRec(DeviceInfo* dev)
{
    PassState st;
    Jobs jobs;
    {
        qelm::CsLock lock(g_csDevList);
        if (dev)
            StartAlarmRecLocked(dev, st, jobs);
    }
    RunJobs(jobs);
}

void CRecSchemeManager::StartAlarmRecLocked(DeviceInfo* d, PassState& st, Jobs& jobs)
{
    const std::time_t now = qelm::WallNow();
    std::tm local{};
    localtime_r(&now, &local);
    const int wday = local.tm_wday + 1;
    const int tod = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;

    for (RecScheme* plan : g_lstRecSchemeInfo) {
        if (!plan || !plan->OnOff)
            continue;
        const bool motion = plan->StartType == 1 && d->MotionAlarmType == 14;
        const bool io = plan->StartType == 2 && (d->IOAlarmType == 15 || d->IOAlarmType == 16);
        if (!motion && !io)
            continue;
        for (const RecTime& seg : plan->lstRecTime) {
            if (seg.StartTime == kInvalidTimeOfDay || seg.EndTime == kInvalidTimeOfDay)
                continue;
            if (!(seg.DayOfWeek == wday || seg.DayOfWeek == 8) || !(seg.StartTime < tod && tod < seg.EndTime))
                continue;
            for (const DeviceInfo* member : plan->lstDev) {
                if (!member || std::strcmp(member->DevName, d->DevName) != 0)
                    continue;
                const int t = plan->RecStreamType;
                CRtspEvents* s1 = d->pRtspEvent1;
                CRtspEvents* s2 = d->pRtspEvent2;
                CRtspEvents* sink = nullptr;
                int which = 0;
                if (s1 && s1->GetStreamType() == t && SinkHasParams(s1)) {
                    sink = s1;
                    which = 1;
                } else if (s2 && s2->GetStreamType() == t && SinkHasParams(s2)) {
                    sink = s2;
                    which = 2;
                }
                if (!sink) {
                    WriteLog(6, "CRecSchemeManager::StartAlarmRec(): Start alarm record failed. haven't find RtspEvnt.");
                    return;
                }
                auto use = std::make_shared<SinkUse>(sink);
                const int32_t streamId = sink->GetStreamId();
                const std::string folder = member->SavePath;
                const std::string devName = d->DevName;
                const std::string scheme = plan->SchemeName;
                const int recAudio = plan->RecAudio, det = plan->DetRecTime, fileTime = plan->RecFileTime;
                const int backEnd = plan->ReccordType, pre = plan->PreRecTime, duration = seg.TimeDuration;
                const int32_t auxPtzId = d->AuxPtzId;
                const int iframeArg = 1 - d->WatchStreamType;
                CAuxPtzCtrl* aux = d->pAuxPtzCtrl;
                st.busy.insert(d);
                jobs.push_back([use, streamId, folder, devName, scheme, recAudio, det, fileTime, backEnd, pre,
                                duration, auxPtzId, iframeArg, aux, t, d, which] {
                    CRtspEvents* s = use->get();
                    CreateDirPath(folder.c_str());
                    s->SetRecordAudio(recAudio);
                    const int32_t fileId = s->StartRecord(streamId, det, fileTime, folder.c_str(), backEnd, pre);
                    const char* name = which == 1 ? "pRtspEvent1" : "pRtspEvent2";
                    if (fileId <= 0) {
                        WriteLog(6,
                                 "CRecSchemeManager::StartAlarmRec():%s start alarm record failed.error=%d, "
                                 "StreamId=%ld, DevName=%s, SavePath=%s",
                                 name, int(fileId), long(streamId), devName.c_str(), folder.c_str());
                        return;
                    }
                    WriteLog(6, "CRecSchemeManager::StartAlarmRec():%s start alarm record success. DevName=%s, "
                                "SavePath=%s",
                             name, devName.c_str(), folder.c_str());
                    WriteLog(6, "CRecSchemeManager::StartAlarmRec(): Create IFrame, lAuxPtzId=%ld", long(auxPtzId));
                    if (aux)
                        aux->CreateIFrame(auxPtzId, iframeArg);
                    {
                        qelm::CsLock lock(g_csDevList);
                        if (!Listed(d) || (which == 1 ? d->pRtspEvent1 : d->pRtspEvent2) != s) {
                            s->StopRecord();
                            return;
                        }
                        d->RecFlag = 1;
                        d->CurStreamType = t;
                        d->AlarmRecTime = qelm::WallNow();
                        CopyText(d->RecSchemeName, sizeof d->RecSchemeName, scheme);
                        d->RecTimeDuration = duration;
                    }
                    if (which == 1)
                        PostMainRefresh();
                });
                return;
            }
        }
    }
}

void CRecSchemeManager::OnStopAlmRecord(const char* devName, int startType)
{
    Jobs jobs;
    {
        qelm::CsLock lock(g_csDevList);
        OnStopAlmRecordLocked(devName, startType, jobs);
    }
    RunJobs(jobs);
}

void CRecSchemeManager::OnStopAlmRecordLocked(const char* devName, int startType, Jobs& jobs)
{
    if (!devName)
        return;
    WriteLog(3, "CRecSchemeManager:Stop alarm record, DevName=%s", devName);
    for (DeviceInfo& d : g_lstDevInfo) {
        if (std::strcmp(d.DevName, devName) != 0)
            continue;
        CRtspEvents* sink = nullptr;
        if (d.pRtspEvent1 && d.pRtspEvent1->GetStreamId() != 0 && d.pRtspEvent1->IsRecording()) {
            WriteLog(6, "CRecSchemeManager::OnStopAlmRecord(): RtspEvent1 Stop Record, DevName=%s", d.DevName);
            sink = d.pRtspEvent1;
        } else if (d.pRtspEvent2 && d.pRtspEvent2->GetStreamId() != 0 && d.pRtspEvent2->IsRecording()) {
            WriteLog(6, "CRecSchemeManager::OnStopAlmRecord(): RtspEvent2 Stop Record, DevName=%s", d.DevName);
            sink = d.pRtspEvent2;
        }
        if (sink) {
            auto use = std::make_shared<SinkUse>(sink);
            jobs.push_back([use] { use->get()->StopRecord(); });
        }
        d.RecFlag = 0;
        d.RecTimeDuration = 0;
        if (startType == 1)
            d.MotionAlarmType = 0;
        else if (startType == 2)
            d.IOAlarmType = 0;
        d.RecSchemeName[0] = 0;
    }
}
