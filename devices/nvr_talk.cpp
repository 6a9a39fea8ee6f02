// NVR talk-back: the talk answer's audio parameters and the decoder's life.
#include "devices/nvr_talk.h"

#include "core/config_store.h"
#include "core/log.h"
#include "media/sink_targets.h"
#include "platform/xml_guard.h"

#include <tinyxml.h>

#include <cstring>
#include <new>
#include <string>
#include <string_view>

namespace {

// Frees the handed-over answer text on every way out.
struct OwnedText {
    char* text;
    ~OwnedText() { qelm::FreeText(text); }
};

const TiXmlElement* Child(const TiXmlElement* parent, const char* name)
{
    for (const TiXmlElement* e = parent ? parent->FirstChildElement() : nullptr; e; e = e->NextSiblingElement())
        if (e->ValueStr() == name)
            return e;
    return nullptr;
}

bool ParseAnswer(const char* xml, TiXmlDocument& doc)
{
    const std::string_view text(xml, strnlen(xml, CNvrTalkAudio::kMaxAnswerBytes + 1));
    if (text.size() > size_t(CNvrTalkAudio::kMaxAnswerBytes) || !qelm::XmlNestingWithin(text))
        return false;
    doc.Parse(std::string(text).c_str());
    return !doc.Error() && doc.RootElement();
}

} // namespace

int CNvrTalkAudio::OnNVRSpeakParam(int32_t, char* xml)
{
    OwnedText owned{xml};
    int audioType = CAudioCodec::kG711Mulaw, sampleRate = 8000, bits = 16, channels = 1;

    TiXmlDocument doc;
    if (!xml || !ParseAnswer(xml, doc)) {
        WriteLog(3, "OnNVRSpeakParam(): xml parse failed. xml=%.512s", xml ? xml : "");
        return -1;
    }
    if (const TiXmlElement* resp = Child(Child(doc.RootElement(), "MESSAGE_BODY"), "RA_START_RESPONSE")) {
        if (const char* codec = resp->Attribute("AudioCodec"))
            audioType = std::strstr(codec, "AAC") ? CAudioCodec::kOtherCodec : CAudioCodec::kG711Mulaw;
        if (const char* v = resp->Attribute("Samplerate"))
            sampleRate = qelm::cfg::ParseDecimal(v);
        if (const char* v = resp->Attribute("BitsPerSample"))
            bits = qelm::cfg::ParseDecimal(v);
        if (const char* v = resp->Attribute("Channels"))
            channels = qelm::cfg::ParseDecimal(v);
    }

    // The old decoder goes first; the pointer never outlives it.
    m_pAudioCodec.reset();
    if (m_makeCodec)
        m_pAudioCodec = m_makeCodec();
    else
        m_pAudioCodec.reset(new (std::nothrow) CAudioCodec);
    if (!m_pAudioCodec) {
        WriteLog(3, "OnNVRSpeakParam(): new audiocodec failed.");
        return -3;
    }
    CAudioCodec& codec = *m_pAudioCodec;
    codec.m_nAudioType = audioType;
    codec.m_nSampleRate = sampleRate;
    codec.m_nBitsPerSample = bits;
    codec.m_nChannels = channels;
    const int result = codec.OpenDec(m_hMainWnd);
    if (result == 0)
        WriteLog(6,
                 "OnNVRSpeakParam(): m_pAudioCodec OpenDec success. audio_type=%d, samplerate=%d, bitspersample=%d, "
                 "channels=%d",
                 codec.m_nAudioType, codec.m_nSampleRate, codec.m_nBitsPerSample, codec.m_nChannels);
    else
        WriteLog(3, "OnNVRSpeakParam(): m_pAudioCodec OpenDec failed.");
    return result;
}

int CNvrTalkAudio::OnNVRSpeakMediaData(int32_t, const uint8_t* packet, int32_t length, const int32_t*)
{
    if (!m_pAudioCodec) {
        WriteLog(3, "OnNVRSpeakMediaData(): m_pAudioCodec is null,but recv nvr speak media data.");
        return 0;
    }
    m_pAudioCodec->InputData(packet, length);
    return 0;
}

int CNvrTalkAudio::ReleaseAudioCodec(int keep)
{
    if (keep == 0)
        m_pAudioCodec.reset();
    return 0;
}
