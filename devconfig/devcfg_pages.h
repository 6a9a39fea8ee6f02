// What the device page needs of the configuration manager's other pages
// (recording plans, maintenance). settings/ registers it; until then every
// call does nothing and answers "no page".
#pragma once

struct DeviceInfo;

class IDevCfgPages {
public:
    virtual ~IDevCfgPages() = default;
    // The recording page exists.
    virtual bool HasRecordPage() { return false; }
    // The default plan was created during this run.
    virtual bool DefaultSchemeCreated() { return false; }
    virtual void AddDeviceToDefaultStrategy(const DeviceInfo&) {}
    virtual void EnsureDefaultStrategy() {}
    // The maintenance page's row of this device shows its new name.
    virtual void UpdateMaintDeviceName(const DeviceInfo&) {}
};

// UI thread. Null unregisters.
void SetDevCfgPages(IDevCfgPages* pages);
// Never null.
IDevCfgPages* DevCfgPages();
