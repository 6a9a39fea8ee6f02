// The returning audio of an NVR talk: the main window owns one CNvrTalkAudio
// and forwards the device-control sink's talk events to it (its
// OnNVRSpeakParam, OnNVRSpeakMediaData and ReleaseAudioCodec). One decoder at
// a time, whichever NVR sends: the talk answer makes it, the end of an NVR
// pane's talk deletes it. UI thread.
#pragma once

#include "media/audio_codec.h"
#include "platform/types.h"

#include <cstdint>
#include <functional>
#include <memory>

class CNvrTalkAudio {
public:
    explicit CNvrTalkAudio(HWND hMainWnd = nullptr) : m_hMainWnd(hMainWnd) {}
    CNvrTalkAudio(const CNvrTalkAudio&) = delete;
    CNvrTalkAudio& operator=(const CNvrTalkAudio&) = delete;

    // The talk start answer (a heap text of qelm::NewText, freed here):
    // 0 decoder open, -1 not XML, -3 no decoder could be made, else the
    // error of CAudioCodec::OpenDec.
    int OnNVRSpeakParam(int32_t auxPtzId, char* xml);
    // One talk packet (PacketHead and payload), handed to the decoder; 0.
    int OnNVRSpeakMediaData(int32_t auxPtzId, const uint8_t* packet, int32_t length, const int32_t* header);
    // keep 0 deletes the decoder; 0.
    int ReleaseAudioCodec(int keep);

    CAudioCodec* GetAudioCodec() const { return m_pAudioCodec.get(); }
    void SetMainWnd(HWND hWnd) { m_hMainWnd = hWnd; }

    // Tests make the decoder creation fail with a factory returning null.
    using CodecFactory = std::function<std::unique_ptr<CAudioCodec>()>;
    void SetCodecFactory(CodecFactory factory) { m_makeCodec = std::move(factory); }

    static constexpr int kMaxAnswerBytes = 65536;

private:
    HWND m_hMainWnd = nullptr;
    std::unique_ptr<CAudioCodec> m_pAudioCodec;
    CodecFactory m_makeCodec;
};
