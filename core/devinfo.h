// The device record, the device group, their program-wide lists with the one
// lock that guards them, and Config/DevInfo.xml.
#pragma once

#include "controls/onvif.h"
#include "platform/sync.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <list>
#include <type_traits>

class CRtspEvents;
class CAuxPtzCtrl;
class CAuxPTZEvents;
class TiXmlElement;

// Texts are UTF-8 in memory; an array holds every text that fits the file's
// GB2312 field of n bytes (a two-byte character takes three bytes here).
constexpr std::size_t TextSize(std::size_t n)
{
    return n * 3 / 2;
}


// Alarm linkage settings of a device: stored and written back only.
struct AlarmLinkInfo {
    std::int32_t AlarmType;
    std::int32_t OnOff;
    std::int32_t CauseType;
    std::int32_t AlarmTime;
    char VoiceFilePath[TextSize(1024)];
};

// One device channel. Zero-filled before use (DeviceInfo d{}), copied whole.
// Fields marked "saved" are elements of a Dev in DevInfo.xml; the others are
// run-time state and zero after loading.
struct DeviceInfo {
    std::int32_t RecFlag;                    // 1 while a plan or alarm recording runs
    std::int32_t WatchFlag;                  // non-zero while a pane shows the device
    std::int32_t AlarmFlag;                  // 1 while the alarm icon blinks
    char DevSN[TextSize(32)];                // saved; key of FindDevice; host for VisitMod 2
    char DevId[TextSize(256)];               // saved; shared by all records of one device
    char DevName[TextSize(256)];             // saved; NVR channel rows "Channel-%d"
    char GroupName[TextSize(256)];           // saved
    char MACAddr[TextSize(256)];             // saved
    char IPAddr[TextSize(256)];              // saved
    char NetMask[TextSize(256)];             // saved
    char GateWay[TextSize(256)];             // saved
    char DNS1[TextSize(256)];                // saved
    char DNS2[TextSize(256)];                // saved
    char Resolution[TextSize(40)];           // saved; "" main stream, "cif" sub-stream
    char AlarmRes[TextSize(20)];             // stream key of the alarm pane (not saved)
    char DefRes[TextSize(20)];               // saved
    char ProtocolType[TextSize(20)];         // saved, not interpreted
    char LoginName[TextSize(40)];            // saved
    char LoginPsw[TextSize(40)];             // saved
    char Status[TextSize(8)];                // saved, not interpreted
    char SavePath[TextSize(2048)];           // folder of the running recording
    char RecSchemeName[TextSize(260)];       // plan whose recording runs
    char DevDomainName[TextSize(256)];       // saved
    char p2pSvrList[TextSize(1024)];         // saved
    char p2pSvr[TextSize(512)];              // saved
    std::int32_t BlinkCount;
    std::int32_t BlinkState;
    std::int32_t VisitMod;                   // saved; 0 RTSP, 1 relay protocol, 2 host and stream, 3 P2P
    std::int32_t RecTimeDuration;
    std::int32_t DevType;                    // saved; 0 DVS, 1 IPC, 2 decoder, 3 VSS, 4 NVR/DVR, 5 multi decoder
    std::int32_t EnableDHCP;                 // saved
    std::int32_t VideoPort;                  // saved
    std::int32_t Auth;                       // saved
    std::int32_t RtpOverRtsp;                // saved
    std::int32_t PtzPort;                    // saved
    std::int32_t CfgPort;                    // saved
    std::int32_t PtzAddr;                    // saved
    std::int32_t WebPort;                    // saved
    std::int32_t Online;                     // saved; 1 online, 0 offline, -1 refused or cloud error
    std::int32_t CurStreamType;
    std::int32_t WatchStreamType;
    std::int32_t RecAudio;
    std::int32_t CurStoragePath;             // saved; 1..3, 0 none yet
    std::int32_t MotionAlarmType;
    std::int32_t IOAlarmType;
    std::int32_t BroadcastState;
    std::int32_t NVRChannels;                // saved
    std::int32_t CurNVRChannel;              // saved; 0 the NVR's own row, else its channel
    std::int32_t nPltDev;                    // saved; 1 platform (cloud) device
    std::int32_t DovraNvr;                   // saved
    std::int32_t UseP2P;                     // saved
    std::int32_t AuxPtzId;
    std::int32_t StreamId1;
    std::int32_t StreamId2;
    std::int32_t SearchIndex;
    std::int32_t P2pLoginId;
    std::uint8_t SearchRecord[4124];         // the camera-search control's record
    std::int32_t V4Device;
    std::int32_t OnvifDev;                   // saved
    std::int32_t OnvifAlarmHandle;
    char OnvifSerAddr[TextSize(256)];        // saved
    std::int32_t OnvifInfoTries;
    _OVF_DEV_INFO OnvifInfo;
    char ChannelStates[TextSize(128)];
    std::time_t AlarmRecTime;                // local time the alarm recording started
    CRtspEvents* pRtspEvent1;                // owned by the record
    CAuxPtzCtrl* pAuxPtzCtrl;                // shared driver
    CAuxPTZEvents* pAuxPTZEvents;            // shared sink
    CRtspEvents* pRtspEvent2;                // owned by the record
    AlarmLinkInfo AlarmLink[9];              // saved as AlarmLink0..AlarmLink8
};
static_assert(std::is_trivially_copyable_v<DeviceInfo> && std::is_standard_layout_v<DeviceInfo>);

struct DevGroupInfo {
    char GroupName[TextSize(256)];
    std::int32_t nType; // 1 the default group
};

// Records by value: nodes never move, so plans may point at them. Several
// records of one device are adjacent; NVR channel rows follow their NVR row.
extern std::list<DeviceInfo> g_lstDevInfo;
extern std::list<DevGroupInfo> g_lstDevGroupInfo;
extern int g_bAlarmAudio;          // AlarmAudio of the file; 1 plays alarm sounds
extern DeviceInfo g_SelDevInfo;    // copy of the record last selected in the device panel
// The one lock of the device, group and plan lists (re-entrant).
extern CRITICAL_SECTION g_csDevList;

// 0 read; -1 when the template was written (a damaged file is kept aside
// first) or the document has no root element.
int LoadDevInfo();
// Rewrites DevList, GroupList and AlarmAudio of the file from the lists and
// keeps its other elements; writes nothing when the file cannot be loaded.
void SaveDevInfo();

void LoadDevList(const TiXmlElement* list);
void LoadDevGroupList(const TiXmlElement* list);
void SaveDevList(TiXmlElement* list);
void SaveDevGroupList(TiXmlElement* list);

// True when a record has exactly this DevSN and this VisitMod.
bool FindDevice(const char* sn, int visitMod);

// The DevInfo.xml template, byte for byte.
extern const char kDevInfoTemplate[];
