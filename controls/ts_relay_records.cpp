// The relay library's allocations: every record and array it hands to the
// program is known here until TS_Delete (or the window layer, for a message
// never delivered) gives it back, so a pointer it never gave out, or one
// given back already, is refused instead of freed.
#include "controls/ts_relay.h"

#include "controls/journal.h"
#include "controls/ts_relay_internal.h"
#include "platform/logsink.h"
#include "platform/text.h"

#include <mutex>
#include <unordered_map>
#include <vector>

namespace qelm::ts {

namespace {

struct Allocation {
    int mode = TS_DELETE_RECORD;
    void (*destroy)(void*) = nullptr;
    void* owner = nullptr;             // arrays: the record they hang on
    std::vector<void*> children;       // records: arrays released with them
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<void*, Allocation> live;
};

Registry& TheRegistry()
{
    static Registry* r = new Registry; // records may come back from static destructors
    return *r;
}

void DeleteCharArray(void* p)
{
    delete[] static_cast<char*>(p);
}

void DeleteDevArray(void* p)
{
    delete[] static_cast<RelayDevRecord*>(p);
}

void* RegisterArray(void* owner, void* p, void (*destroy)(void*))
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    Allocation a;
    a.mode = TS_DELETE_ARRAY;
    a.destroy = destroy;
    if (owner) {
        auto it = r.live.find(owner);
        if (it != r.live.end() && it->second.mode == TS_DELETE_RECORD) {
            a.owner = owner;
            it->second.children.push_back(p);
        } else {
            PlatformLog(3, "TS: array owner %p is not a live record; the array stands alone", owner);
        }
    }
    r.live[p] = std::move(a);
    return p;
}

} // namespace

void* RegisterRecord(void* p, void (*destroy)(void*))
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    Allocation a;
    a.mode = TS_DELETE_RECORD;
    a.destroy = destroy;
    r.live[p] = std::move(a);
    return p;
}

char* NewArray(void* owner, std::size_t bytes)
{
    char* p = new char[bytes ? bytes : 1]();
    RegisterArray(owner, p, DeleteCharArray);
    return p;
}

RelayDevRecord* NewDevArray(void* owner, int count)
{
    if (count <= 0)
        return nullptr;
    RelayDevRecord* p = new RelayDevRecord[static_cast<std::size_t>(count)]();
    RegisterArray(owner, p, DeleteDevArray);
    return p;
}

std::size_t LiveAllocations()
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.live.size();
}

// Gives an allocation back: a record together with the arrays still hanging
// on it. Returns the mode it was given out with, 0 when it is not ours.
int ReleaseAllocation(void* p)
{
    if (!p)
        return 0;
    std::vector<std::pair<void*, void (*)(void*)>> doomed;
    int mode = 0;
    {
        Registry& r = TheRegistry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.live.find(p);
        if (it == r.live.end())
            return 0;
        Allocation a = std::move(it->second);
        r.live.erase(it);
        mode = a.mode;
        doomed.emplace_back(p, a.destroy);
        for (void* c : a.children) {
            // Only arrays still owned by this record: the handler may have
            // released one, and its address may belong to another by now.
            auto ci = r.live.find(c);
            if (ci != r.live.end() && ci->second.owner == p) {
                doomed.emplace_back(c, ci->second.destroy);
                r.live.erase(ci);
            }
        }
    }
    for (auto& [q, destroy] : doomed)
        destroy(q);
    return mode;
}

bool IsLiveRecord(const void* p)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.live.find(const_cast<void*>(p));
    return it != r.live.end() && it->second.mode == TS_DELETE_RECORD;
}

void PackRelayDevItem(const RelayDevItem& item, const char* szDevSN, RelayDevRecord* out)
{
    *out = RelayDevRecord{};
    out->DevType = item.Type;
    CopyToGbField(out->Ip, sizeof out->Ip, item.Ip);
    CopyToGbField(out->DevName, sizeof out->DevName, item.DevName);
    CopyToGbField(out->DevSN, sizeof out->DevSN, szDevSN ? szDevSN : "");
    CopyToGbField(out->Mac, sizeof out->Mac, item.Mac);
    out->ParentIndex = item.ParentIndex;
    out->Index = item.Index;
    out->State = item.State;
    out->SecondStream = item.StreamFlag;
}

RelayDevItem UnpackRelayDevItem(const RelayDevRecord& rec)
{
    RelayDevItem item;
    item.Type = rec.DevType;
    CopyBounded(item.Ip, sizeof item.Ip, ReadGbField(rec.Ip, sizeof rec.Ip));
    CopyBounded(item.DevName, sizeof item.DevName, ReadGbField(rec.DevName, sizeof rec.DevName));
    CopyBounded(item.Mac, sizeof item.Mac, ReadGbField(rec.Mac, sizeof rec.Mac));
    item.ParentIndex = rec.ParentIndex;
    item.Index = rec.Index;
    item.State = rec.State;
    item.StreamFlag = rec.SecondStream;
    return item;
}

} // namespace qelm::ts

int TS_Delete(void* p, int nMode)
{
    int given = qelm::ts::ReleaseAllocation(p);
    if (!given) {
        qelm::PlatformLog(3, "TS_Delete(): %p (mode %d) was not given out by the library, or was given back already; "
                             "refused", p, nMode);
        qelm::Journal::Call("TS_Delete", {p, nMode}, 0);
        return 0;
    }
    if (given != nMode)
        qelm::PlatformLog(3, "TS_Delete(): %p was given out as mode %d, released as mode %d", p, given, nMode);
    qelm::Journal::Call("TS_Delete", {p, nMode}, 1);
    return 1;
}
