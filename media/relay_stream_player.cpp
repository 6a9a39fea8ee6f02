// The relay stream renderer: a stream player window in a pane, fed from the
// relay library's thread while the UI thread may close it.
#include "media/relay_stream_player.h"

#include "core/log.h"
#include "core/userinfo.h"

#include <QCoreApplication>
#include <QThread>

#include <cstring>

namespace {

// The player's own kind numbers.
constexpr int32_t kPlayerAudio = 0;
constexpr int32_t kPlayerVideo = 1;
// The relay library's.
constexpr int32_t kRelayVideo = 0;
constexpr int32_t kRelayAudio = 1;

bool OnUiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void DestroyPlayer(CStreamPlayerCtrl* player, int32_t renderId)
{
    player->CloseDecoder(kPlayerVideo, renderId);
    player->CloseDecoder(kPlayerAudio, renderId);
    player->DestroyRender(renderId);
    player->DestroyWindow();
    delete player;
}

} // namespace

CRelayStreamPlayer::CRelayStreamPlayer() = default;

CRelayStreamPlayer::~CRelayStreamPlayer()
{
    Close();
}

int32_t CRelayStreamPlayer::Open(CWnd* pParent)
{
    Close();
    if (!pParent) {
        WriteLog(3, "CRelayStreamPlayer::Open(): no parent window.");
        return -1;
    }
    m_pParent = pParent;
    pParent->GetClientRect(&m_rect);

    auto* player = new CStreamPlayerCtrl;
    if (!player->Create(pParent, m_rect)) {
        delete player;
        WriteLog(3, "CRelayStreamPlayer::Open(): cannot create the stream player.");
        return -1;
    }
    const int32_t renderId = player->CreateRender("TEST");
    player->SetFullDisplay(g_DispInfoSetting.FilpMode);
    player->SetZoomMode(renderId, 0);
    player->SetShowLastFrame(g_DispInfoSetting.ShowLastFrame);
    m_nZoomMode = 0;
    memset(&m_videoParam, 0, sizeof m_videoParam);
    memset(&m_audioParam, 0, sizeof m_audioParam);
    SwapPlayer(player, renderId);
    WatchParent(pParent);
    return 0;
}

CStreamPlayerCtrl* CRelayStreamPlayer::SwapPlayer(CStreamPlayerCtrl* player, int32_t renderId)
{
    // A relay thread that feeds without pause would win the lock again and
    // again; the gate makes it step aside after the frame it is handing over.
    ++m_swapping;
    CStreamPlayerCtrl* old = nullptr;
    {
        std::lock_guard lock(m_lock);
        old = m_pPlayer;
        m_pPlayer = player;
        m_nRenderId = renderId;
    }
    --m_swapping;
    return old;
}

void CRelayStreamPlayer::WatchParent(CWnd* pParent)
{
    // A pane that dies with the player still in it would take the window
    // along; keep it out of the pane instead, so Close stays the one place
    // that destroys it.
    QObject::disconnect(m_parentGone);
    m_parentGone = QObject::connect(pParent, &QObject::destroyed, [this] {
        if (m_pPlayer) {
            m_pPlayer->hide();
            m_pPlayer->setParent(nullptr);
        }
    });
}

void CRelayStreamPlayer::SetVideoParam(const VideoParam* param)
{
    if (!m_pPlayer || !param)
        return;
    memcpy(&m_videoParam, param, sizeof m_videoParam);
    m_pPlayer->SetupDecoder(kPlayerVideo, m_nRenderId, reinterpret_cast<const uint8_t*>(&m_videoParam),
                            int32_t(sizeof m_videoParam));
}

void CRelayStreamPlayer::SetAudioParam(const AudioParam* param)
{
    if (!m_pPlayer || !param || param->codecName[0] == '\0')
        return;
    memcpy(&m_audioParam, param, sizeof m_audioParam);
    m_pPlayer->SetupDecoder(kPlayerAudio, m_nRenderId, reinterpret_cast<const uint8_t*>(&m_audioParam),
                            int32_t(sizeof m_audioParam));
}

int32_t CRelayStreamPlayer::InputData(int32_t kind, const uint8_t* frame, int32_t length, const void* info)
{
    if ((kind != kRelayVideo && kind != kRelayAudio) || m_swapping > 0)
        return -1;
    // Held for the whole hand-over: Close waits for at most this one frame.
    std::lock_guard lock(m_lock);
    if (!m_pPlayer)
        return -1;
    MediaFrameHeader& header = kind == kRelayVideo ? m_videoHeader : m_audioHeader;
    if (info) {
        MediaFrameHeader given;
        memcpy(&given, info, sizeof given);
        header.keyFrame = given.keyFrame;
        header.timeStamp = given.timeStamp;
    }
    return m_pPlayer->InputData(kind == kRelayVideo ? kPlayerVideo : kPlayerAudio, m_nRenderId, frame, length,
                                reinterpret_cast<const uint8_t*>(&header), int32_t(sizeof header));
}

int32_t CRelayStreamPlayer::Resize()
{
    if (m_pPlayer && m_pParent && IsWindow(m_pParent->GetSafeHwnd())) {
        m_pParent->GetClientRect(&m_rect);
        m_pPlayer->MoveWindow(m_rect, TRUE);
    }
    return 0;
}

int32_t CRelayStreamPlayer::SetParentWnd(CWnd* pParent)
{
    if (!pParent)
        return -1;
    m_pParent = pParent;
    pParent->GetClientRect(&m_rect);
    if (m_pPlayer) {
        m_pPlayer->SetParentWnd(pParent);
        m_pPlayer->MoveWindow(m_rect, TRUE);
        m_pPlayer->ShowWindow(SW_SHOW);
        WatchParent(pParent);
    }
    return 1;
}

void CRelayStreamPlayer::Close()
{
    const int32_t renderId = m_nRenderId;
    CStreamPlayerCtrl* player = SwapPlayer(nullptr, 0);
    QObject::disconnect(m_parentGone);
    m_parentGone = {};
    if (!player)
        return;
    if (OnUiThread()) {
        DestroyPlayer(player, renderId);
        return;
    }
    // Windows are destroyed on the UI thread only. Should the pane die
    // before this runs, the window went with it.
    WriteLog(3, "CRelayStreamPlayer::Close(): called off the UI thread, the player is destroyed there.");
    QPointer<CStreamPlayerCtrl> later(player);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [later, renderId] {
            if (later)
                DestroyPlayer(later.data(), renderId);
        },
        Qt::QueuedConnection);
}

int32_t CRelayStreamPlayer::SnapShot(const char* path)
{
    if (!m_pPlayer)
        return -1;
    m_pPlayer->SnapShot(m_nRenderId, 1, path);
    return 0;
}

int32_t CRelayStreamPlayer::SetFullDisplay(int32_t flag)
{
    return m_pPlayer ? m_pPlayer->SetFullDisplay(flag) : -1;
}

int32_t CRelayStreamPlayer::SetShowLastFrame()
{
    if (!m_pPlayer)
        return -1;
    m_pPlayer->SetShowLastFrame(g_DispInfoSetting.ShowLastFrame);
    return 0;
}

int32_t CRelayStreamPlayer::OpenSound()
{
    return m_pPlayer ? m_pPlayer->SetSound(m_nRenderId, 1) : -1;
}

int32_t CRelayStreamPlayer::CloseSound()
{
    return m_pPlayer ? m_pPlayer->SetSound(m_nRenderId, 0) : -1;
}

int32_t CRelayStreamPlayer::SetZoomMode(int32_t mode)
{
    m_nZoomMode = mode;
    if (m_pPlayer)
        m_pPlayer->SetZoomMode(m_nRenderId, mode);
    return 0;
}

MediaFrameHeader CRelayStreamPlayer::GetVideoHeader()
{
    std::lock_guard lock(m_lock);
    return m_videoHeader;
}

MediaFrameHeader CRelayStreamPlayer::GetAudioHeader()
{
    std::lock_guard lock(m_lock);
    return m_audioHeader;
}
