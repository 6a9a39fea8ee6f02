// The record search page's remote replays: device files and recorder days
// through the device-control component, another client's files and days
// through the relay library, and the players' buttons sent to those sources.
#include "playback/search_rec_dlg.h"

#include "controls/media_params.h"
#include "core/log.h"
#include "devices/device_services.h"
#include "media/sink_targets.h"
#include "platform/sync.h"
#include "playback/playback_toll_bar.h"
#include "ui/report_ctrl.h"

#include <QByteArray>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kHeadSize = 20;    // replay block head; the frame kind is byte 14
constexpr int kKindByte = 14;
constexpr int kFrameHeaderSize = int(sizeof(MediaFrameHeader));

// Player button commands of event 4.
enum PlayerCommand : int32_t {
    kCmdContinue = 1,
    kCmdPause = 2,
    kCmdStop = 3,
    kCmdFast = 4,
    kCmdPrevious = 6,
    kCmdNext = 7,
    kCmdSlow = 8,
    kCmdSeek = 9,
    kCmdNormal = 12,
};

// Relay speed code of a fast factor or slow divisor; 1 for anything else,
// 0 for normal speed.
int RelaySpeedCode(int command, int value)
{
    static const struct {
        int command, value, code;
    } kTable[] = {
        {kCmdFast, 2, 2},  {kCmdFast, 4, 3},  {kCmdFast, 8, 4},  {kCmdFast, 16, 5},  {kCmdFast, 32, 6},
        {kCmdSlow, 2, 7},  {kCmdSlow, 4, 8},  {kCmdSlow, 8, 9},  {kCmdSlow, 16, 10}, {kCmdSlow, 32, 11},
    };
    if (command == kCmdNormal)
        return 0;
    for (const auto& e : kTable)
        if (e.command == command && e.value == value)
            return e.code;
    return 1;
}

std::string ElementText(const std::string& xml, const char* tag)
{
    const std::string open = std::string("<") + tag + ">", close = std::string("</") + tag + ">";
    const size_t a = xml.find(open);
    if (a == std::string::npos)
        return {};
    const size_t b = xml.find(close, a + open.size());
    return b == std::string::npos ? std::string() : xml.substr(a + open.size(), b - a - open.size());
}

// The player's records from a peer's descriptions; a peer's configuration
// count is clamped to the record's 256 bytes.
VideoParam BuildVideoParam(const VideoParam& d)
{
    VideoParam v{};
    if (!d.codecName[0])
        return v;
    std::memcpy(v.codecName, d.codecName, strnlen(d.codecName, 255));
    v.width = d.width;
    v.height = d.height;
    v.extra = 0;
    v.frameRate = d.frameRate;
    v.bitRate = d.bitRate;
    const int n = std::clamp<int>(d.configLength, 0, int(sizeof v.config));
    std::memcpy(v.config, d.config, size_t(n));
    v.configLength = int16_t(n);
    return v;
}

AudioParam BuildAudioParam(const AudioParam& d)
{
    AudioParam a{};
    if (!d.codecName[0])
        return a;
    std::memcpy(a.codecName, d.codecName, strnlen(d.codecName, 255));
    a.sampleRate = d.sampleRate;
    a.bitsPerSample = d.bitsPerSample;
    a.channels = d.channels;
    a.extra1 = d.extra1;
    a.extra2 = d.extra2;
    return a;
}

// Bytes a Base64 text decodes to: three per four letters, less the padding.
int32_t DecodedSize(const std::string& text)
{
    size_t pad = 0;
    while (pad < 2 && pad < text.size() && text[text.size() - 1 - pad] == '=')
        ++pad;
    return int32_t(text.size() * 3 / 4 - pad);
}

std::string Base64Of(const void* p, size_t n)
{
    return QByteArray(static_cast<const char*>(p), qsizetype(n)).toBase64().toStdString();
}

// Media parameters of a stream the page feeds, then play.
void StartStream(CPlayBackAtl* p, const VideoParam& v, const AudioParam& a, int seconds)
{
    if (v.codecName[0]) {
        p->SetMediaParam(Base64Of(&v, sizeof v).c_str(), int32_t(sizeof v), PlayBackControl::kVideoParam);
        if (a.codecName[0])
            p->SetMediaParam(Base64Of(&a, sizeof a).c_str(), int32_t(sizeof a), PlayBackControl::kAudioParam);
    }
    p->SetPlaySeconds(0, seconds);
}

bool SameDescription(const VideoParam& a, const VideoParam& b)
{
    return strncmp(a.codecName, b.codecName, sizeof a.codecName) == 0 && a.width == b.width &&
           a.height == b.height && a.extra == b.extra;
}

bool SameDescription(const AudioParam& a, const AudioParam& b)
{
    return strncmp(a.codecName, b.codecName, sizeof a.codecName) == 0 && a.sampleRate == b.sampleRate &&
           a.bitsPerSample == b.bitsPerSample && a.channels == b.channels;
}

MediaFrameHeader HeaderOf(const TsFrameInfo& info)
{
    MediaFrameHeader h{};
    h.keyFrame = info.nKeyFrame;
    h.timeStamp = info.dTimeStamp;
    return h;
}

std::string TimeText(int y, int m, int d, int second)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", y, m, d, second / 3600, second % 3600 / 60,
                  second % 60);
    return text;
}

} // namespace

int CSearchRecDlg::FeedFrame(CPlayBackAtl* player, int kind, const uint8_t* data, int length, const uint8_t* header)
{
    const int index = PlayerIndex(player);
    const int r = kind == 0 ? player->InputVideoData(data, length, header, kFrameHeaderSize)
                            : player->InputAudioData(data, length, header, kFrameHeaderSize);
    if (r == 0 && index >= 0)
        ++m_nFramesFed[index];
    return r;
}

const DeviceInfo* CSearchRecDlg::FindNvrChannel(const char* szKey, int nChannel) const
{
    for (const DeviceInfo& d : g_lstDevInfo)
        if (std::strcmp(d.IPAddr, szKey) == 0 && d.DevType == 4 && d.CurNVRChannel == nChannel)
            return &d;
    return nullptr;
}

// ---- device files -------------------------------------------------------------

int CSearchRecDlg::StartDeviceFileReplay(const char* szRemotePath, int nRow)
{
    const DeviceInfo* dev = nullptr;
    for (const DeviceInfo& d : g_lstDevInfo)
        if (std::strcmp(d.DevName, m_oDevInfo.DevName) == 0) {
            dev = &d;
            break;
        }
    if (!dev || !dev->pAuxPtzCtrl)
        return 0;
    CAuxPtzCtrl* aux = dev->pAuxPtzCtrl;
    const int32_t id = dev->AuxPtzId;
    if (aux->Dispatch23(id) == 0)
        return -1;
    const int32_t v = int32_t(aux->Dispatch22(id));
    const int i = ChooseDirectPlayer(true);
    if (i < 0)
        return 0;
    if (auto it = m_map.find(id); it != m_map.end()) {
        if (it->second)
            it->second->Stop();
        aux->ControlReplay(id, 7, 0);
        const int old = PlayerIndex(it->second);
        if (old >= 0) {
            EmptyPlayStatus(m_nPlayRow[old]);
            m_nPlayRow[old] = -1;
        }
        m_map.erase(it);
    }
    CPlayBackAtl* p = m_pPlayer[i];
    m_map[id] = p;
    WriteLog(6, "CSearchRecDlg: m_map insert player%d, AuxPtzId=%ld", i, long(id));
    m_nPlayRow[i] = nRow;
    p->Stop();
    p->Control(8, v);
    aux->StartFileReplay(id, szRemotePath);
    std::snprintf(m_szPlayFile[i], sizeof m_szPlayFile[i], "%s", szRemotePath);
    return 0;
}

void CSearchRecDlg::OnMediaParamRecv(int32_t auxPtzId, char* xml, int32_t kind)
{
    const std::string text = xml ? xml : "";
    qelm::FreeText(xml);
    const std::string video = ElementText(text, "VideoParam");
    const std::string audio = ElementText(text, "AudioParam");
    auto it = m_map.find(auxPtzId);
    CPlayBackAtl* p = it == m_map.end() ? nullptr : it->second;

    if (kind == 4) {
        if (!p)
            return;
        const int i = PlayerIndex(p);
        bool restarted = false;
        if (!video.empty()) {
            const bool changed = i >= 0 && m_strPlayerVideo[i] != video;
            if (p->GetMediaState(0) <= 0 || changed) {
                p->Stop();
                SendMessage(WM_PLAYER_STOP, 0, reinterpret_cast<LPARAM>(p));
                p->SetPlaySeconds(0, kBlockSeconds);
                p->SetMediaParam(video.c_str(), int32_t(sizeof(VideoParam)), PlayBackControl::kVideoParam);
                p->SetPlaySeconds(1, 0);
                p->Play();
                p->EnableStreamInput(1);
                if (i >= 0)
                    m_strPlayerVideo[i] = video;
                restarted = changed;
            }
        }
        if (!audio.empty() && (p->GetMediaState(1) <= 0 || restarted))
            p->SetMediaParam(audio.c_str(), int32_t(sizeof(AudioParam)), PlayBackControl::kAudioParam);
        return;
    }

    WriteLog(6, "CSearchRecDlg: receive media param, AuxPtzId=%ld, MediaData=%s", long(auxPtzId), text.c_str());
    int32_t v = 0;
    for (const DeviceInfo& d : g_lstDevInfo)
        if (d.AuxPtzId == auxPtzId) {
            v = d.pAuxPtzCtrl ? int32_t(d.pAuxPtzCtrl->Dispatch22(auxPtzId)) : 0;
            break;
        }
    if (!p)
        return;
    p->Stop();
    p->Control(8, v);
    p->SetMediaParam(video.c_str(), DecodedSize(video), PlayBackControl::kVideoParam);
    const int32_t na = DecodedSize(audio);
    if (na > 0)
        p->SetMediaParam(audio.c_str(), na, PlayBackControl::kAudioParam);
    p->SetPlaySeconds(0, std::atoi(ElementText(text, "VideoSeconds").c_str()));
    p->SetPlaySeconds(1, 0);
    p->Play();
    p->EnableStreamInput(1);
    WriteLog(6, "CSearchRecDlg: set media param success.");
}

void CSearchRecDlg::OnMediaDataRecv(int32_t auxPtzId, const uint8_t* data, int32_t length, const uint8_t* header)
{
    auto it = m_map.find(auxPtzId);
    CPlayBackAtl* p = it == m_map.end() ? nullptr : it->second;
    // A block shorter than its head has no payload.
    if (!p || !data || length < kHeadSize || !header)
        return;
    const int kind = data[kKindByte];
    const uint8_t* payload = data + kHeadSize;
    const int n = length - kHeadSize;
    const int i = PlayerIndex(p);
    switch (kind) {
    case 0:
    case 1: FeedFrame(p, kind, payload, n, header); break;
    case 2: {
        MediaFrameHeader h;
        std::memcpy(&h, header, sizeof h);
        const int64_t t = int64_t(h.timeStamp);
        const int64_t offset = t % (int64_t(kBlockSeconds) * 1000);
        const int blockStart = int(t / 1000 - offset / 1000);
        for (PlayBackStatus& cell : m_oPBStatus)
            if (cell.bPlaying && cell.nPlayer == i && i >= 0) {
                cell.nFileStartSec = blockStart;
                break;
            }
        if (p->GetMediaState(2) == -1)
            p->SetPlaySeconds(1, int(offset / 1000));
        FeedFrame(p, 0, payload, n, header);
        break;
    }
    case 3: {
        if (p->GetMediaState(1) <= 0) {
            const DeviceInfo* dev = nullptr;
            for (const DeviceInfo& d : g_lstDevInfo)
                if (d.AuxPtzId == auxPtzId) {
                    dev = &d;
                    break;
                }
            if (dev) {
                for (const PlayBackStatus& cell : m_oPBStatus) {
                    if (std::strcmp(cell.szDevKey, dev->IPAddr) != 0 || cell.oDayMap.nChannel != dev->CurNVRChannel)
                        continue;
                    if (!cell.bPlaying && cell.nPlayer == -1) {
                        WriteLog(6, "OnMediaDataRecv: player stop, refuse input media data.");
                        return;
                    }
                    break;
                }
            }
        }
        FeedFrame(p, 1, payload, n, header);
        break;
    }
    default: break;
    }
}

// ---- recorder days -------------------------------------------------------------

int CSearchRecDlg::OnNVRReplay(PlayBackStatus cell, int nSecond)
{
    const int ch = cell.oDayMap.nChannel;
    const DeviceInfo* dev = FindNvrChannel(cell.szDevKey, ch);
    if (!dev || !dev->pAuxPtzCtrl)
        return -1;
    const std::string time = TimeText(cell.nYear, cell.nMonth, cell.nDay, nSecond);
    const int i = ChooseDayPlayer();
    if (i < 0)
        return -1;
    CAuxPtzCtrl* aux = dev->pAuxPtzCtrl;
    const int32_t id = dev->AuxPtzId;
    if (auto it = m_map.find(id); it != m_map.end()) {
        if (it->second)
            it->second->Stop();
        aux->ControlNvrReplay(id, ch, 7, 0, nullptr);
        WriteLog(6, "OnNVRReplay: m_map erase player%d, AuxPtzId=%ld", PlayerIndex(it->second), long(id));
        m_map.erase(it);
    }
    m_map[id] = m_pPlayer[i];
    const int r = aux->StartNvrReplay(id, ch, time.c_str());
    WriteLog(6, "OnNVRReplay: m_map insert player%d, AuxPtzId=%ld, Channel=%ld, PlayTime=%s", i, long(id), long(ch),
             time.c_str());
    if (r == -6)
        ShowMsgId(1481);
    if (r != 0) {
        // A replay that did not start must not route later frames to this player.
        m_map.erase(id);
        return -1;
    }
    return i;
}

void CSearchRecDlg::OnNVRReplayEnd(int32_t auxPtzId, int32_t code, int32_t channel)
{
    if (code != 7)
        return;
    auto it = m_map.find(auxPtzId);
    if (it == m_map.end())
        return;
    const int i = PlayerIndex(it->second);
    if (i >= 0)
        EmptyPlayStatus(m_nPlayRow[i]);
    if (it->second)
        it->second->Stop();
    m_map.erase(it);
    std::string key;
    {
        qelm::CsLock lock(g_csDevList);
        for (const DeviceInfo& d : g_lstDevInfo)
            if (d.AuxPtzId == auxPtzId && d.CurNVRChannel == channel) {
                key = d.IPAddr;
                break;
            }
    }
    if (key.empty())
        return;
    for (PlayBackStatus& cell : m_oPBStatus)
        if (key == cell.szDevKey && cell.oDayMap.nChannel == channel && cell.bPlaying) {
            cell.nFileStartSec = 0;
            cell.bPlaying = 0;
            cell.nPlayer = -1;
        }
}

void CSearchRecDlg::OnCtrolNVRReplay(int command, int value, PlayBackStatus& cell)
{
    const int ch = cell.oDayMap.nChannel;
    const DeviceInfo* dev = FindNvrChannel(cell.szDevKey, ch);
    if (!dev || !dev->pAuxPtzCtrl)
        return;
    if (command == kCmdSeek) {
        int b = m_pTimeBar ? m_pTimeBar->GetRowPos(cell.nIndex) : 0;
        b -= b % kBlockSeconds;
        const int s = std::clamp(b + value, 0, 86399);
        const std::string time = TimeText(cell.nYear, cell.nMonth, cell.nDay, s);
        dev->pAuxPtzCtrl->ControlNvrReplay(dev->AuxPtzId, ch, kCmdSeek, value, time.c_str());
        WriteLog(6, "OnCtrolNVRReplay: seek time = %s", time.c_str());
        if (value >= kBlockSeconds || value <= -kBlockSeconds)
            cell.nFileStartSec += value;
        return;
    }
    if (command == kCmdFast && (value == 0 || value == 1))
        return;
    dev->pAuxPtzCtrl->ControlNvrReplay(dev->AuxPtzId, ch, command, value, nullptr);
}

LRESULT CSearchRecDlg::OnPlayerStop(WPARAM, LPARAM lParam)
{
    auto* p = reinterpret_cast<CPlayBackAtl*>(lParam);
    if (PlayerIndex(p) >= 0)
        p->Control(8, 0);
    return 0;
}

// ---- player buttons ---------------------------------------------------------------

void CSearchRecDlg::OnPlayerCommand(int32_t ctrlId, int32_t command, int32_t value)
{
    const int p = ctrlId - int(kFirstPlayerId);
    CPlayBackAtl* player = GetPlayer(p);
    if (!player)
        return;
    switch (command) {
    case kCmdContinue: case kCmdPause: case kCmdStop: case kCmdFast: case kCmdPrevious: case kCmdNext:
    case kCmdSlow: case kCmdSeek: case kCmdNormal: break;
    default: return;
    }
    for (int i = 0; i < kSlots; ++i) {
        PlayBackStatus& cell = m_oPBStatus[i];
        if (cell.nPlayer == p && cell.bPlaying) {
            if (command == kCmdStop) {
                cell.bPlaying = 0;
                cell.nPlayer = -1;
                cell.nFileStartSec = 0;
                if (m_pTimeBar)
                    m_pTimeBar->SetRowPos(cell.nIndex, 0);
            }
            if (cell.oDayMap.nChannel >= 1) {
                if (command == kCmdNext)
                    OnCtrolNVRReplay(kCmdSeek, kBlockSeconds, cell);
                else if (command == kCmdPrevious)
                    OnCtrolNVRReplay(kCmdSeek, -kBlockSeconds, cell);
                else
                    OnCtrolNVRReplay(command, value, cell);
            }
            return;
        }
        std::unique_lock<std::mutex> lock(m_csRelay);
        RelayDayStatus& slot = m_oRelayDayStatus[i];
        if (slot.nPlayer != p || !slot.bPlaying)
            continue;
        const std::string name = slot.szName;
        const int ch = slot.nChannel;
        lock.unlock();
        const int login = FindRelayLoginId(name.c_str());
        switch (command) {
        case kCmdContinue: TS_InvitePeplayContinueByDate(login, name.c_str(), ch); break;
        case kCmdPause: TS_InviteReplayPauseByDate(login, name.c_str(), ch); break;
        case kCmdStop: {
            TS_InviteReplayStopByDate(login, name.c_str(), ch);
            lock.lock();
            if (m_pTimeBar)
                m_pTimeBar->SetRowPos(slot.nIndex, 0);
            player->Stop();
            slot.bPlaying = 0;
            slot.nPlayer = -1;
            slot.nStartSec = 0;
            slot.oVideoParam = VideoParam{};
            slot.oAudioParam = AudioParam{};
            break;
        }
        case kCmdFast:
            if (value == 0)
                TS_InviteModuleReplayByDatePause(login, name.c_str(), ch);
            else if (value == 1)
                TS_InviteModulePeplayByDateContinue(login, name.c_str(), ch);
            else
                TS_InviteReplaySpeedByDate(login, name.c_str(), ch, RelaySpeedCode(command, value));
            break;
        case kCmdSlow:
        case kCmdNormal: TS_InviteReplaySpeedByDate(login, name.c_str(), ch, RelaySpeedCode(command, value)); break;
        case kCmdPrevious: TS_InviteReplayPreByDate(login, name.c_str(), ch); break;
        case kCmdNext: TS_InviteReplayNextByDate(login, name.c_str(), ch); break;
        case kCmdSeek: {
            int second;
            {
                std::lock_guard<std::mutex> g(m_csRelay);
                second = value + slot.nStartSec;
                slot.nSeekSec = second;
            }
            TS_InviteReplaySeekByDate(login, name.c_str(), ch, second);
            break;
        }
        default: break;
        }
        return;
    }

    std::unique_lock<std::mutex> lock(m_csRelay);
    if (!m_szRelayReplay[p][0])
        return;
    const std::string file = m_szRelayReplay[p];
    const int login = m_nRelayLogin[p];
    const TsReplayKey key = m_oRelayKey[p];
    lock.unlock();
    if (!player->IsPlaying())
        return;
    const int a = key.nValueA, b = key.nValueB;
    switch (command) {
    case kCmdContinue: TS_InvitePeplayContinue(login, &key, a, b, file.c_str()); break;
    case kCmdPause: TS_InviteReplayPause(login, &key, a, b, file.c_str()); break;
    case kCmdStop: {
        TS_InviteReplayStop(login, &key, a, b, file.c_str());
        player->Stop();
        std::lock_guard<std::mutex> g(m_csRelay);
        m_szRelayReplay[p][0] = '\0';
        m_nRelayLogin[p] = -1;
        m_oRelayKey[p] = TsReplayKey{};
        break;
    }
    case kCmdFast:
        if (value == 0)
            TS_InviteModuleReplayPause(login, &key, a, b, file.c_str());
        else if (value == 1)
            TS_InviteModulePeplayContinue(login, &key, a, b, file.c_str());
        else
            TS_InviteReplaySpeed(login, &key, a, b, RelaySpeedCode(command, value), file.c_str());
        break;
    case kCmdSlow:
    case kCmdNormal: TS_InviteReplaySpeed(login, &key, a, b, RelaySpeedCode(command, value), file.c_str()); break;
    case kCmdPrevious: TS_InviteReplayPre(login, &key, a, b, file.c_str()); break;
    case kCmdNext: TS_InviteReplayNext(login, &key, a, b, file.c_str()); break;
    case kCmdSeek: TS_InviteReplaySeek(login, &key, a, b, value, file.c_str()); break;
    default: break;
    }
}

// ---- relay ----------------------------------------------------------------------

int CSearchRecDlg::FindRelayLoginId(const char* szName) const
{
    if (!szName)
        return -1;
    const char* colon = std::strchr(szName, ':');
    if (!colon)
        return -1;
    const std::string mac(szName, size_t(colon - szName));
    const std::string ip(colon + 1);
    for (const Qelm2Node& s : g_lstRelayServer) {
        if (!s.pDevList)
            continue;
        for (const RelayDevItem& r : *s.pDevList)
            if (ip == r.Ip && mac == r.Mac)
                return s.LoginId;
    }
    return -1;
}

void CSearchRecDlg::OnRelayReplayStarted(const VideoParam& video, const AudioParam& audio, int nLength,
                                         const char* szFile, const TsReplayKey& key, int nLoginId)
{
    const VideoParam v = BuildVideoParam(video);
    const AudioParam a = BuildAudioParam(audio);
    const std::string file = szFile ? szFile : "";
    int row = -1;
    if (m_pList)
        for (int r = 0; r < m_pList->GetItemCount(); ++r)
            if (m_pList->GetItemText(r, 0) == file) {
                row = r;
                break;
            }
    const int i = ChooseDirectPlayer(false);
    if (i < 0) {
        TS_InviteReplayStop(nLoginId, &key, key.nValueA, key.nValueB, file.c_str());
        return;
    }
    CPlayBackAtl* p = m_pPlayer[i];
    {
        std::lock_guard<std::mutex> lock(m_csRelay);
        std::snprintf(m_szRelayReplay[i], sizeof m_szRelayReplay[i], "%s", file.c_str());
        m_nRelayLogin[i] = nLoginId;
        m_oRelayKey[i] = key;
    }
    m_nPlayRow[i] = row;
    p->Stop();
    p->Control(8, 0);
    StartStream(p, v, a, nLength);
    p->SetPlaySeconds(1, 0);
    p->Play();
    p->EnableStreamInput(1);
    SetTimer(kStatusTimer, 1000);
}

int CSearchRecDlg::OnRelayReplayData(int kind, const char* data, int length, const TsFrameInfo& info,
                                     const char* szFile)
{
    if (!szFile || !data || length <= 0 || (kind != 0 && kind != 1))
        return 0;
    const MediaFrameHeader h = HeaderOf(info);
    std::lock_guard<std::mutex> lock(m_csRelay);
    for (int i = 0; i < kSlots; ++i)
        if (m_pPlayer[i] && std::strcmp(m_szRelayReplay[i], szFile) == 0) {
            FeedFrame(m_pPlayer[i], kind, reinterpret_cast<const uint8_t*>(data), length,
                      reinterpret_cast<const uint8_t*>(&h));
            return 1;
        }
    return 0;
}

int CSearchRecDlg::OnRelayReplayDataByDate(const char* szName, int nChannel, int kind, const char* data, int length,
                                           const TsFrameInfo& info, const VideoParam* video, const AudioParam* audio,
                                           int bNewFile, int nSeconds, int nFileStartSec)
{
    if (!szName)
        return 0;
    const MediaFrameHeader h = HeaderOf(info);
    std::lock_guard<std::mutex> lock(m_csRelay);
    for (int i = 0; i < kSlots; ++i) {
        RelayDayStatus& slot = m_oRelayDayStatus[i];
        if (!slot.bPlaying || slot.nChannel != nChannel || std::strcmp(slot.szName, szName) != 0)
            continue;
        CPlayBackAtl* p = GetPlayer(slot.nPlayer);
        if (!p)
            return 0;
        if (bNewFile) {
            const VideoParam v = video ? *video : VideoParam{};
            const AudioParam a = audio ? *audio : AudioParam{};
            RelayDaySetup& setup = m_oRelaySetup[i];
            if (!SameDescription(v, slot.oVideoParam) || !SameDescription(a, slot.oAudioParam)) {
                slot.oVideoParam = v;
                slot.oAudioParam = a;
                setup.restart = 1;
            }
            setup.seconds = nSeconds;
            setup.position = int(info.dTimeStamp / 1000);
            slot.nStartSec = nFileStartSec;
            // The player is set up on the UI thread; this thread goes on.
            if (!setup.pending) {
                setup.pending = 1;
                ::PostMessage(GetSafeHwnd(), WM_RELAY_DAY_SETUP, WPARAM(i), 0);
            }
        }
        if (!data || length <= 0 || (kind != 0 && kind != 1))
            return 1;
        FeedFrame(p, kind, reinterpret_cast<const uint8_t*>(data), length, reinterpret_cast<const uint8_t*>(&h));
        return 1;
    }
    return 0;
}

LRESULT CSearchRecDlg::OnRelayDaySetup(WPARAM wParam, LPARAM)
{
    const int i = int(wParam);
    if (i < 0 || i >= kSlots)
        return 0;
    RelayDaySetup setup;
    VideoParam v{};
    AudioParam a{};
    CPlayBackAtl* p = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_csRelay);
        setup = m_oRelaySetup[i];
        m_oRelaySetup[i] = RelayDaySetup{};
        const RelayDayStatus& slot = m_oRelayDayStatus[i];
        if (!setup.pending || !slot.bPlaying)
            return 0;
        p = GetPlayer(slot.nPlayer);
        v = BuildVideoParam(slot.oVideoParam);
        a = BuildAudioParam(slot.oAudioParam);
    }
    if (!p)
        return 0;
    if (setup.restart) {
        p->Stop();
        OnPlayerStop(0, reinterpret_cast<LPARAM>(p));
        StartStream(p, v, a, setup.seconds);
        p->Play();
        p->EnableStreamInput(1);
    } else {
        p->SetPlaySeconds(0, setup.seconds);
    }
    p->SetPlaySeconds(1, setup.position);
    return 0;
}

void CSearchRecDlg::OnRelayReplayStopped(const char* szFile)
{
    if (!szFile)
        return;
    for (int i = 0; i < kSlots; ++i) {
        CPlayBackAtl* p = m_pPlayer[i];
        if (!p || !p->IsPlaying())
            continue;
        std::lock_guard<std::mutex> lock(m_csRelay);
        if (std::strcmp(m_szRelayReplay[i], szFile) != 0)
            continue;
        p->Stop();
        m_szRelayReplay[i][0] = '\0';
        m_nRelayLogin[i] = -1;
        return;
    }
}

void CSearchRecDlg::OnRelayReplayByDateStopped(const char* szName, int nChannel)
{
    if (!szName)
        return;
    std::lock_guard<std::mutex> lock(m_csRelay);
    for (RelayDayStatus& slot : m_oRelayDayStatus) {
        if (!slot.bPlaying || slot.nChannel != nChannel || std::strcmp(slot.szName, szName) != 0)
            continue;
        CPlayBackAtl* p = GetPlayer(slot.nPlayer);
        if (!p)
            continue;
        p->Stop();
        if (m_pTimeBar)
            m_pTimeBar->SetRowPos(slot.nIndex, 0);
        slot.nPlayer = -1;
        slot.bPlaying = 0;
        slot.nStartSec = 0;
        slot.oVideoParam = VideoParam{};
        slot.oAudioParam = AudioParam{};
        return;
    }
}

void CSearchRecDlg::StopAllRelayReplay()
{
    struct Stop {
        int login;
        TsReplayKey key;
        std::string name;
        int channel;
    };
    std::vector<Stop> files, days;
    {
        std::lock_guard<std::mutex> lock(m_csRelay);
        for (int i = 0; i < kSlots; ++i)
            if (m_szRelayReplay[i][0] && m_pPlayer[i] && m_pPlayer[i]->IsPlaying() && m_nRelayLogin[i] > 0)
                files.push_back({m_nRelayLogin[i], m_oRelayKey[i], m_szRelayReplay[i], 0});
        for (const RelayDayStatus& slot : m_oRelayDayStatus)
            if (slot.bPlaying)
                days.push_back({0, {}, slot.szName, slot.nChannel});
    }
    for (const Stop& s : files)
        TS_InviteReplayStop(s.login, &s.key, s.key.nValueA, s.key.nValueB, s.name.c_str());
    for (const Stop& s : days)
        TS_InviteReplayStopByDate(FindRelayLoginId(s.name.c_str()), s.name.c_str(), s.channel);
}
