// CRecFileManager: the storage cleaner. Every 5 s, for each enabled plan
// whose full-disk rule is "delete the oldest", it measures the free space of
// the plan's drives and, below 20 GiB, deletes whole day folders of the
// recordings on those drives, oldest first, never today's. The plans are
// copied under g_csDevList; scanning and deleting run outside it.
#pragma once

#include "core/recinfo.h"
#include "media/periodic_thread.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class CWnd;

class CRecFileManager : public CPeriodicThread {
public:
    explicit CRecFileManager(CWnd* pParent = nullptr);
    ~CRecFileManager() override;

    // One cycle of the thread; tests drive it directly.
    void RunCycle() override;

    // Deletes a folder's contents (never following symbolic links) and,
    // unless day is today's day of the month, the folder itself.
    static bool DeleteDirectory(const std::string& folder, int day);

private:
    struct PlanCopy {
        bool takesPart = false;
        std::string paths[3];
        std::vector<std::string> devFolders;
    };
    struct DayFolder {
        int date = 0;   // yyyymmdd
        std::string path;
    };

    static std::vector<PlanCopy> CopyPlans();
    // The existing day folders of a plan's member devices under one storage
    // path; empty year and month folders met on the way are removed.
    static void CollectDays(const PlanCopy& plan, const std::string& path, std::vector<DayFolder>& out);
    void CleanPlan(const std::vector<PlanCopy>& plans, const PlanCopy& plan);

    CWnd* m_pParent = nullptr;
};
