// CDevTree: the single object, its icons, device registration at start-up
// and the P2P status thread.
#include "devices/dev_tree.h"

#include "core/cloud_client.h"
#include "core/log.h"
#include "core/recinfo.h"
#include "core/userinfo.h"
#include "devices/device_access.h"
#include "media/aux_ptz_events.h"
#include "media/control_wrappers.h"
#include "media/rtsp_events.h"
#include "platform/message.h"
#include "platform/text.h"
#include "platform/xml_guard.h"
#include "res/resources.h"

#include <QBitmap>
#include <QImage>
#include <QPixmap>
#include <QTreeWidget>

#include <tinyxml.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

CAuxPtzCtrl* g_pAuxPtzCtrl = nullptr;
CAuxPTZEvents* g_pAuxPTZEvents = nullptr;
CRtspPullCtrl* g_pRtspPullCtrl = nullptr;

int g_nCurPage = 0;
int g_bVideoTab = 0;
int g_nCfgSubPage = 0;
std::string g_strRClickText;
std::list<Qelm2Node> g_lstRelayServer;

namespace {
IDeviceServices g_noServices;
IDeviceServices* g_pServices = nullptr;

constexpr int kImageRole = Qt::UserRole;
constexpr int kKindRole = Qt::UserRole + 1;
constexpr int kPtrRole = Qt::UserRole + 2;
constexpr int kNameRole = Qt::UserRole + 3;
constexpr int kIdRole = Qt::UserRole + 4;
constexpr int kP2PBufferSize = 20480;
constexpr int kCloudRefused = -8378952;
} // namespace

void SetDeviceServices(IDeviceServices* services)
{
    g_pServices = services;
}

IDeviceServices* DeviceServices()
{
    return g_pServices ? g_pServices : &g_noServices;
}

namespace devtree {

void SetItemImage(QTreeWidgetItem* item, int image)
{
    if (!item)
        return;
    item->setData(0, kImageRole, image);
    const auto& icons = CDevTree::GetInstance()->m_ImageList;
    if (image >= 0 && image < static_cast<int>(icons.size()))
        item->setIcon(0, icons[image]);
}

int GetItemImage(const QTreeWidgetItem* item)
{
    return item ? item->data(0, kImageRole).toInt() : -1;
}

void SetItemData(QTreeWidgetItem* item, TreeData kind, const void* data)
{
    item->setData(0, kKindRole, static_cast<int>(kind));
    item->setData(0, kPtrRole, QVariant::fromValue(reinterpret_cast<quintptr>(data)));
    if (kind == TreeData::Device && data) {
        // The record's key, for lookups that must not trust the pointer.
        const auto* d = static_cast<const DeviceInfo*>(data);
        item->setData(0, kNameRole, QString::fromUtf8(d->DevName));
        item->setData(0, kIdRole, QString::fromUtf8(d->DevId));
    }
}

TreeData ItemKind(const QTreeWidgetItem* item)
{
    return item ? static_cast<TreeData>(item->data(0, kKindRole).toInt()) : TreeData::None;
}

void* ItemPtr(const QTreeWidgetItem* item)
{
    return item ? reinterpret_cast<void*>(item->data(0, kPtrRole).value<quintptr>()) : nullptr;
}

DeviceInfo* ItemDevice(const QTreeWidgetItem* item)
{
    if (ItemKind(item) != TreeData::Device)
        return nullptr;
    auto* p = static_cast<DeviceInfo*>(ItemPtr(item));
    // A record erased since the tree was built must not be touched, and a
    // new record at the same address is not the item's record.
    qelm::CsLock lock(g_csDevList);
    for (DeviceInfo& d : g_lstDevInfo)
        if (&d == p)
            return item->data(0, kIdRole).toString() == QString::fromUtf8(d.DevId) ? p : nullptr;
    return nullptr;
}

DevGroupInfo* ItemGroup(const QTreeWidgetItem* item)
{
    if (ItemKind(item) != TreeData::Group)
        return nullptr;
    auto* p = static_cast<DevGroupInfo*>(ItemPtr(item));
    qelm::CsLock lock(g_csDevList);
    for (DevGroupInfo& g : g_lstDevGroupInfo)
        if (&g == p)
            return item->text(0) == QString::fromUtf8(g.GroupName) ? p : nullptr;
    return nullptr;
}

RecScheme* ItemPlan(const QTreeWidgetItem* item)
{
    if (ItemKind(item) != TreeData::Plan)
        return nullptr;
    auto* p = static_cast<RecScheme*>(ItemPtr(item));
    qelm::CsLock lock(g_csDevList);
    for (RecScheme* plan : g_lstRecSchemeInfo)
        if (plan && plan == p)
            return item->text(0) == QString::fromUtf8(plan->SchemeName) ? p : nullptr;
    return nullptr;
}

RelayDevItem* ItemRelay(const QTreeWidgetItem* item)
{
    return ItemKind(item) == TreeData::Relay ? static_cast<RelayDevItem*>(ItemPtr(item)) : nullptr;
}

std::string RightChars(const char* text, int n)
{
    QString s = QString::fromUtf8(text ? text : "");
    return s.right(n).toStdString();
}

} // namespace devtree

CDevTree* CDevTree::GetInstance()
{
    // Never destroyed: trees of pages that outlive the main window still use its icons.
    static CDevTree* instance = new CDevTree;
    return instance;
}

CDevTree::CDevTree()
{
    LoadImageList();
}

void CDevTree::LoadImageList()
{
    m_ImageList.clear();
    QImage strip;
    if (const AppResource* r = FindAppResource("BITMAP", 143))
        strip.loadFromData(r->data, static_cast<int>(r->size), "BMP");
    for (int i = 0; i < 14; ++i) {
        QImage piece = strip.isNull() ? QImage(16, 16, QImage::Format_RGB32) : strip.copy(i * 16, 0, 16, 16);
        if (strip.isNull())
            piece.fill(Qt::gray);
        QPixmap pm = QPixmap::fromImage(piece);
        pm.setMask(QBitmap::fromImage(piece.createMaskFromColor(qRgb(255, 0, 255), Qt::MaskInColor)));
        m_ImageList.emplace_back(pm);
    }
}

QTreeWidgetItem* CDevTree::InsertItem(QTreeWidget* tree, QTreeWidgetItem* parent, const std::string& text, int image,
                                      TreeData kind, const void* data)
{
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
    item->setText(0, QString::fromUtf8(text.c_str()));
    devtree::SetItemImage(item, image);
    devtree::SetItemData(item, kind, data);
    return item;
}

int CDevTree::Init()
{
    WriteLog(6, "CDevTree::Init(): Begin initialize... ... ");
    StopP2PStatusThread();
    m_hNotifyWnd = DeviceServices()->MainWnd();

    if (!g_pAuxPtzCtrl)
        g_pAuxPtzCtrl = new CAuxPtzCtrl;
    if (!g_pAuxPtzCtrl->GetControl())
        g_pAuxPtzCtrl->CreateDispatch();
    if (!g_pAuxPTZEvents) {
        g_pAuxPTZEvents = new CAuxPTZEvents;
        g_pAuxPtzCtrl->Advise(g_pAuxPTZEvents);
    }
    if (!g_pRtspPullCtrl)
        g_pRtspPullCtrl = new CRtspPullCtrl;
    if (!g_pRtspPullCtrl->GetControl())
        g_pRtspPullCtrl->CreateDispatch();

    char lastServer[256] = "";
    m_lstP2PDev.clear();
    const DispInfoSetting& cfg = g_DispInfoSetting;

    // Workers may walk the list while the records' fields change.
    qelm::CsLock lock(g_csDevList);
    for (DeviceInfo& d : g_lstDevInfo) {
        d.pAuxPtzCtrl = g_pAuxPtzCtrl;
        d.pAuxPTZEvents = g_pAuxPTZEvents;
        d.pRtspEvent1 = new CRtspEvents(nullptr, g_pRtspPullCtrl);
        d.pRtspEvent2 = new CRtspEvents(nullptr, g_pRtspPullCtrl);

        if (d.nPltDev == 1 || d.UseP2P != 0) {
            // Sized for the longest fields: a cut URL would log in elsewhere.
            std::string url;
            if (d.DevType == 1)
                url = std::string("p2p://") + d.DevId + "@" + d.p2pSvr + "/mpeg4cif#" + d.p2pSvrList +
                      "\r\nonlylogin=true";
            else if (d.DevType == 4 && d.CurNVRChannel == 0)
                url = std::string("p2p://") + d.DevId + "@" + d.p2pSvr + "/mpeg4cif#" + d.p2pSvrList + "-" +
                      std::to_string(d.CurNVRChannel) + "\r\nonlylogin=true";
            if (!url.empty())
                d.P2pLoginId = g_pRtspPullCtrl->AddStream(url.c_str(), d.LoginName, d.LoginPsw, d.RtpOverRtsp);
        }
        if (cfg.LoginType != 0)
            continue;

        if (d.UseP2P != 0) {
            if (d.DevType == 1 || d.DevType == 4)
                m_lstP2PDev.push_back(d);
            continue;
        }
        if (d.OnvifDev == 1) {
            d.pRtspEvent1->SetUseProfileSize(1);
            d.pRtspEvent2->SetUseProfileSize(1);
            DeviceServices()->AddOnvifEntry(&d);
            continue;
        }
        if (d.DevType == 0 && std::strcmp(d.IPAddr, lastServer) == 0)
            continue; // a further stream row of the server just registered
        d.AuxPtzId = d.VisitMod == 2
                         ? g_pAuxPtzCtrl->AddDeviceEx(d.IPAddr, static_cast<uint16_t>(d.PtzPort), d.LoginName,
                                                      d.LoginPsw)
                         : g_pAuxPtzCtrl->AddDevice(d.IPAddr, d.PtzPort, d.LoginName, d.LoginPsw);
        GiveDeviceControlStream(g_pAuxPtzCtrl, d);
        // The password stays out of the log and its network copy.
        WriteLog(6, "CDevTree::Init():Add a device channel, DevName=%s, AuxPtzId=%ld, ip=%s, port=%d, name=%s",
                 d.DevName, static_cast<long>(d.AuxPtzId), d.IPAddr, d.PtzPort, d.LoginName);
        if (d.DevType == 0) {
            qelm::CopyBounded(lastServer, sizeof lastServer, d.IPAddr);
            continue;
        }
        g_pAuxPtzCtrl->SetTimeSync(d.AuxPtzId, cfg.SyncTimeEnable, cfg.SyncTimeDiff, cfg.SyncTimeInterval);
    }

    if (!m_lstP2PDev.empty()) {
        {
            std::lock_guard<std::mutex> g(m_stopMutex);
            m_bStop = false;
        }
        m_p2pThread = std::thread([this] { P2PStatusThread(); });
    }
    return 0;
}

void CDevTree::StopP2PStatusThread()
{
    if (!m_p2pThread.joinable())
        return;
    {
        std::lock_guard<std::mutex> g(m_stopMutex);
        m_bStop = true;
    }
    m_stopCv.notify_all();
    m_p2pThread.join();
}

void CDevTree::QueryP2PDevice(DeviceInfo& copy, char* buffer, int capacity)
{
    const char* dot = std::strchr(copy.DevDomainName, '.');
    std::string host = dot ? dot + 1 : copy.DevDomainName;
    int length = capacity;
    if (CloudGetDevInfo(host.c_str(), m_nCloudPort, copy.DevId, copy.LoginName, copy.LoginPsw, buffer, &length) != 0)
        return;
    std::string body(buffer, static_cast<std::size_t>(length > 0 ? length : 0));
    if (!qelm::XmlNestingWithin(body))
        return;
    TiXmlDocument doc;
    doc.Parse(body.c_str());
    const TiXmlElement* root = doc.RootElement();
    if (!root)
        return;
    for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const char* text = e->GetText() ? e->GetText() : "";
        if (e->ValueStr() == "err" && std::atoi(text) == kCloudRefused) {
            copy.Online = -1;
            return;
        }
        if (e->ValueStr() != "ls")
            continue;
        int channels = 0;
        std::string states;
        for (const TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) {
            const char* t = c->GetText() ? c->GetText() : "";
            if (c->ValueStr() == "devisonline")
                copy.Online = std::atoi(t) > 0 ? 1 : 0;
            else if (c->ValueStr() == "devchannelcount")
                channels = std::atoi(t);
            else if (c->ValueStr() == "devchannelstate")
                states = std::string(t).substr(0, 127);
        }
        if (copy.DevType != 4)
            continue;
        for (int i = 0; i < channels; ++i) {
            int state = i < static_cast<int>(states.size()) && states[i] >= '0' && states[i] <= '9' ? states[i] - '0'
                                                                                                    : 0;
            for (DeviceInfo& ch : m_lstP2PDev)
                if (ch.DevType == 4 && std::strcmp(ch.DevId, copy.DevId) == 0 && ch.CurNVRChannel == i + 1) {
                    ch.Online = state;
                    break;
                }
        }
    }
}

void CDevTree::P2PStatusThread()
{
    {
        std::unique_lock<std::mutex> g(m_stopMutex);
        if (m_stopCv.wait_for(g, std::chrono::milliseconds(m_nP2PDelayMs.load()), [this] { return m_bStop; }))
            return;
    }
    auto buffer = std::make_unique<char[]>(kP2PBufferSize);
    for (DeviceInfo& copy : m_lstP2PDev) {
        {
            std::lock_guard<std::mutex> g(m_stopMutex);
            if (m_bStop)
                return;
        }
        if (copy.DevType == 4 && copy.CurNVRChannel > 0)
            continue;
        QueryP2PDevice(copy, buffer.get(), kP2PBufferSize);
    }
    {
        qelm::CsLock lock(g_csDevList);
        for (const DeviceInfo& copy : m_lstP2PDev)
            for (DeviceInfo& d : g_lstDevInfo)
                if (d.DevType == copy.DevType && d.CurNVRChannel == copy.CurNVRChannel &&
                    std::strcmp(d.DevId, copy.DevId) == 0) {
                    d.Online = copy.Online;
                    break;
                }
    }
    m_lstP2PDev.clear();
    PostMessage(m_hNotifyWnd, WM_DEVLIST_RELOAD, 0, 0);
}

// --- icon rules ---

int CDevTree::IconRuleA(const DeviceInfo& d)
{
    if (d.Online != 1)
        return 2;
    if (d.WatchFlag == 1)
        return d.RecFlag == 1 ? 10 : 7;
    return d.RecFlag == 1 ? 6 : 3;
}

int CDevTree::IconRuleC(const DeviceInfo& d)
{
    int image = IconRuleA(d);
    return image == 2 && d.Online == -1 ? 13 : image;
}

int CDevTree::IconRuleB(const DeviceInfo& d)
{
    if (d.Online > 0 && d.WatchFlag == 1 && d.RecFlag == 1)
        return 10;
    if (d.DevType == 4 && d.CurNVRChannel == 0)
        return d.Online == -1 ? 12 : 0;
    if (d.Online > 0)
        return d.WatchFlag == 1 ? 7 : (d.RecFlag == 1 ? 6 : 3);
    return d.Online == -1 ? 13 : 2;
}

int CDevTree::RelayStateIcon(int state)
{
    static constexpr int kIcons[] = {2, 3, 7, 6, 10};
    return state >= 0 && state <= 4 ? kIcons[state] : -1;
}

bool CDevTree::StreamRowsShown()
{
    return g_bVideoTab == 1 || g_nCurPage == 4;
}

void CDevTree::ExpandAllSelectRoot(QTreeWidget* tree, QTreeWidgetItem* root)
{
    tree->expandAll();
    tree->setCurrentItem(root);
}
