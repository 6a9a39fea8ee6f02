// The audio broadcast page of the system settings: which devices take part
// in a broadcast (the members) and its audio format, kept in
// Config/BroadcastInfo.xml. The video toolbar starts and stops the broadcast
// with the members and the format read from here.
#pragma once

#include "platform/dialog.h"

#include <QIcon>

#include <cstdint>
#include <string>
#include <vector>

class CAuxPtzCtrl;
class QTreeWidget;
class QTreeWidgetItem;
struct DeviceInfo;

// What the page reaches above media/: the device tree's state icons, the
// device-control driver, the toolbar's broadcast flag and button, and the
// main window's message box. Every call defaults to nothing.
class IBroadcastServices {
public:
    virtual ~IBroadcastServices() = default;
    // CDevTree's state icons; null leaves the items without icons.
    virtual const std::vector<QIcon>* StateIcons() { return nullptr; }
    // The process-wide device-control driver.
    virtual CAuxPtzCtrl* AuxPtzCtrl() { return nullptr; }
    // The video toolbar's broadcast-running flag.
    virtual bool IsBroadcastRunning() { return false; }
    // Clears that flag and gives the toolbar's broadcast button its idle
    // picture (PNG resource 967).
    virtual void SetBroadcastStopped() {}
    // A string-table text in the main window's message box.
    virtual void ShowMsg(unsigned stringId, int mode)
    {
        (void)stringId;
        (void)mode;
    }
};

// UI thread; null unregisters.
void SetBroadcastServices(IBroadcastServices* services);

// A member of the broadcast. Kept by name, not by record, so that a deleted
// device is simply not found any more.
struct BroadcastMember {
    std::string DevId;
    std::string DevName;
    bool operator==(const BroadcastMember&) const = default;
};

class CDlgBroadcast : public CDialog {
public:
    enum {
        IDD = 337,
        IDC_BTN_ADD = 1144,
        IDC_BTN_REMOVE = 1145,
        IDC_STATIC_BROADCAST = 1374,
        IDC_STATIC_ORIGINAL = 1375,
        IDC_TREE_BROADCAST = 1376,
        IDC_TREE_DEVICE = 1377,
        IDC_RADIO_G711 = 1378,
        IDC_RADIO_AAC = 1379,
        IDC_RADIO_MONO = 1381,
        IDC_RADIO_STEREO = 1382,
        IDC_RADIO_8000 = 1383,
        IDC_RADIO_16000 = 1384,
        IDC_RADIO_48000 = 1385,
        IDC_GROUP_AUDIO = 1386,
        IDC_STATIC_FORMAT = 1387,
        IDC_STATIC_CHANNEL = 1388,
        IDC_STATIC_RATE = 1389,
        IDC_BTN_OK = 1000,
    };
    static constexpr UINT kLoadTimer = 1020;
    static constexpr UINT kLoadDelayMs = 3000;
    // Audio formats.
    enum { kFormatG711 = 0, kFormatAAC = 1 };

    explicit CDlgBroadcast(CWnd* pParent = nullptr);
    ~CDlgBroadcast() override;

    BOOL OnInitDialog() override;
    void OnTimer(UINT_PTR nIDEvent) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

    void RefreshDeviceTree();
    void RefreshBroadcastTree();
    // Loads the members and the format from BroadcastInfo.xml (timer 1020);
    // writes the template when the file cannot be read.
    void LoadBroadcastInfo();

    void OnBnClickedBtnAdd();
    void OnBnClickedBtnRemove();
    void OnBnClickedOk();
    // A click on a tree item; wasChecked is the item's check state before
    // the click. Children follow the item's new state.
    void OnClickTreeItem(QTreeWidget* tree, QTreeWidgetItem* item, bool wasChecked);

    // Read by the video toolbar.
    const std::vector<BroadcastMember>& GetMembers() const { return m_vecMembers; }
    int GetAudioFormat() const { return m_nAudioFormat; }
    int GetSampleRate() const { return m_nSampleRate; }
    int GetMono() const { return m_nMono; }

    // The record of a member: the first record of g_lstDevInfo with its
    // DevId and DevName that is not an NVR's own row, or null once the
    // device is gone. Call under g_csDevList and use the record inside it.
    static DeviceInfo* FindMemberRecord(const BroadcastMember& member);
    // Item text: DevName, "<NVR DevId>-<DevName>" for an NVR channel row.
    static std::string ItemText(const DeviceInfo& d);
    // State icon index of a record.
    static int StateIcon(const DeviceInfo& d);

    QTreeWidget* BroadcastTree() const { return m_pBroadcastTree; }
    QTreeWidget* DeviceTree() const { return m_pDeviceTree; }
    QTreeWidgetItem* BroadcastRoot() const { return m_hBroadcastRoot; }

    static constexpr const char* kFileName = "BroadcastInfo.xml";
    static const char kTemplate[];

protected:
    void CreateControls() override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    QTreeWidgetItem* InsertDeviceItem(QTreeWidgetItem* parent, const DeviceInfo& d);
    static BroadcastMember ItemMember(const QTreeWidgetItem* item);
    DECLARE_MESSAGE_MAP()

    QTreeWidget* m_pBroadcastTree = nullptr;
    QTreeWidget* m_pDeviceTree = nullptr;
    QTreeWidgetItem* m_hBroadcastRoot = nullptr;
    std::vector<BroadcastMember> m_vecMembers;
    int m_nAudioFormat = kFormatG711;
    int m_nSampleRate = 8000;
    int m_nMono = 1;
    bool m_bPressedChecked = false;
};
