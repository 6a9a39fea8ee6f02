// The process's table of control class ids: enabled flag and factory.
#include "controls/control_registry.h"

#include <map>
#include <mutex>

namespace qelm {
namespace {

struct ClassEntry {
    bool enabled = false;
    std::type_index type = std::type_index(typeid(void));
    std::function<std::shared_ptr<void>()> make;
};

std::mutex& TableMutex()
{
    static std::mutex m;
    return m;
}

std::map<std::string, ClassEntry>& Table()
{
    static std::map<std::string, ClassEntry> t;
    return t;
}

} // namespace

void RegisterControlFactoryRaw(const std::string& clsid, std::type_index type, std::function<std::shared_ptr<void>()> make)
{
    std::lock_guard lock(TableMutex());
    ClassEntry& e = Table()[clsid];
    e.type = type;
    e.make = std::move(make);
}

void EnableControlClass(const std::string& clsid)
{
    std::lock_guard lock(TableMutex());
    Table()[clsid].enabled = true;
}

void ResetControlClasses()
{
    std::lock_guard lock(TableMutex());
    for (auto& [id, e] : Table())
        e.enabled = false;
}

bool IsControlClassEnabled(const std::string& clsid)
{
    std::lock_guard lock(TableMutex());
    auto it = Table().find(clsid);
    return it != Table().end() && it->second.enabled;
}

std::shared_ptr<void> CreateControlRaw(const std::string& clsid, std::type_index type)
{
    std::function<std::shared_ptr<void>()> make;
    {
        std::lock_guard lock(TableMutex());
        auto it = Table().find(clsid);
        if (it == Table().end() || !it->second.enabled || !it->second.make || it->second.type != type)
            return nullptr;
        make = it->second.make;
    }
    return make(); // outside the lock: a control's constructor may ask the table
}

} // namespace qelm

extern "C" int qelm2_EnableControlClass(const char* clsid)
{
    if (!clsid || !*clsid)
        return -1;
    qelm::EnableControlClass(clsid);
    return 0;
}
