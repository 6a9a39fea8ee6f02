// NVR talk-back: the talk answer's parameters, the one decoder, and the
// audio packets the device-control sink hands on (media kind 3).
#include "devices/nvr_talk.h"
#include "media/aux_ptz_events.h"
#include "media/sink_targets.h"
#include "tests/media/audio_test_util.h"

#include <gtest/gtest.h>

#include <string>

using namespace audiotest;

namespace {

std::string Answer(const std::string& attributes)
{
    return "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<XML_TOPIC><MESSAGE_HEADER Msg_type=\"RA_START\"/>"
           "<MESSAGE_BODY><RA_START_RESPONSE " +
           attributes + " /></MESSAGE_BODY></XML_TOPIC>";
}

// The main window's side of the sink, as far as talk goes.
class TalkTargets : public IMediaSinkTargets {
public:
    explicit TalkTargets(CNvrTalkAudio& talk) : m_talk(talk) {}
    HWND MainWnd() override { return nullptr; }
    HWND PtzPanelWnd() override { return nullptr; }
    HWND SearchRecWnd() override { return nullptr; }
    HWND MaintPageWnd() override { return nullptr; }
    void OnNVRSpeakMediaData(int32_t id, const uint8_t* data, int32_t length, const int32_t* value) override
    {
        m_talk.OnNVRSpeakMediaData(id, data, length, value);
    }
    int OnNVRSpeakParam(int32_t id, char* xml) override { return m_talk.OnNVRSpeakParam(id, xml); }
    void OnMediaDataRecv(int32_t, const uint8_t*, int32_t, const int32_t*, int32_t) override {}
    void OnMediaParamRecv(int32_t, char* xml, int32_t) override { qelm::FreeText(xml); }
    void OnNVRReplayEnd(int32_t, int32_t, int32_t) override {}
    void OnTimeDownloadProgress(int32_t, int32_t) override {}
    bool IsAlarmPane(CWnd*) override { return false; }
    bool IsMapPane(CWnd*) override { return false; }
    void ResetWatchInfo(CWnd*) override {}

private:
    CNvrTalkAudio& m_talk;
};

class NvrTalkTest : public ::testing::Test {
protected:
    int Param(const std::string& xml) { return m_talk.OnNVRSpeakParam(5, qelm::NewText(xml.c_str())); }
    void Packet(uint32_t key)
    {
        const auto p = MakePacket(key, 160, FillOf(key));
        int32_t value = 0;
        m_talk.OnNVRSpeakMediaData(5, p.data(), int32_t(p.size()), &value);
    }

    ScopedLog m_log{"nvr_talk"};
    std::shared_ptr<FakeAudioState> m_state = std::make_shared<FakeAudioState>();
    ScopedFakeAudio m_fake{m_state};
    CNvrTalkAudio m_talk;
};

} // namespace

TEST_F(NvrTalkTest, AnswerSetsTheDecoderParameters)
{
    struct Case {
        const char* what;
        std::string attributes;
        int type, rate, bits, channels;
        int ring;
    } cases[] = {
        {"all given", "AudioCodec=\"G711U\" Samplerate=\"16000\" BitsPerSample=\"16\" Channels=\"1\"", 0, 16000, 16, 1,
         10240},
        {"no sample rate", "AudioCodec=\"G711\" BitsPerSample=\"16\" Channels=\"1\"", 0, 8000, 16, 1, 10240},
        {"AAC anywhere in the name", "AudioCodec=\"MPEG4-AAC-LC\" Samplerate=\"16000\"", 1, 16000, 16, 1, 20480},
        {"lower-case aac is not AAC", "AudioCodec=\"aac\"", 0, 8000, 16, 1, 10240},
        {"nothing given", "", 0, 8000, 16, 1, 10240},
        {"numbers a device should not send", "Samplerate=\"99999999999\" BitsPerSample=\"-3\" Channels=\"40000\"", 0,
         8000, 16, 1, 10240},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Param(Answer(c.attributes)), 0) << c.what;
        const CAudioCodec* codec = m_talk.GetAudioCodec();
        ASSERT_NE(codec, nullptr) << c.what;
        EXPECT_TRUE(codec->IsOpen()) << c.what;
        EXPECT_EQ(codec->m_nAudioType, c.type) << c.what;
        EXPECT_EQ(codec->m_nSampleRate, c.rate) << c.what;
        EXPECT_EQ(codec->m_nBitsPerSample, c.bits) << c.what;
        EXPECT_EQ(codec->m_nChannels, c.channels) << c.what;
        EXPECT_EQ(m_state->ringBytes, c.ring) << c.what;
        EXPECT_EQ(m_state->alive, 1) << c.what;  // one decoder, one device
    }
    EXPECT_TRUE(m_log.Has("OnNVRSpeakParam(): m_pAudioCodec OpenDec success. audio_type=0, samplerate=16000, "
                          "bitspersample=16, channels=1"));
    EXPECT_TRUE(m_log.Has("OnNVRSpeakParam(): m_pAudioCodec OpenDec success. audio_type=1, samplerate=16000"));
}

TEST_F(NvrTalkTest, TwoAnswersLeaveOneDecoderWithTheSecondParameters)
{
    ASSERT_EQ(Param(Answer("AudioCodec=\"G711\" Samplerate=\"8000\"")), 0);
    ASSERT_EQ(Param(Answer("AudioCodec=\"G711\" Samplerate=\"16000\"")), 0);
    ASSERT_NE(m_talk.GetAudioCodec(), nullptr);
    EXPECT_EQ(m_talk.GetAudioCodec()->m_nSampleRate, 16000);
    EXPECT_EQ(m_state->alive, 1);  // the first decoder is gone with its device
}

TEST_F(NvrTalkTest, MalformedAnswerKeepsThePreviousDecoder)
{
    ASSERT_EQ(Param(Answer("Samplerate=\"8000\"")), 0);
    const CAudioCodec* before = m_talk.GetAudioCodec();
    const std::string deep = std::string(2000, '<').insert(0, "<a>");
    std::string nested;
    for (int i = 0; i < 1000; ++i)
        nested += "<a>";
    const std::string bad[] = {"not xml at all", "<XML_TOPIC><MESSAGE_BODY>", "", nested, deep};
    for (const std::string& text : bad) {
        EXPECT_EQ(Param(text), -1) << text.substr(0, 40);
        EXPECT_EQ(m_talk.GetAudioCodec(), before);
    }
    EXPECT_EQ(m_talk.OnNVRSpeakParam(5, nullptr), -1);
    EXPECT_TRUE(m_log.Has("OnNVRSpeakParam(): xml parse failed. xml=not xml at all"));
    EXPECT_TRUE(before->IsOpen());
}

TEST_F(NvrTalkTest, PacketsReachTheDecoderAndAudioWithoutOneIsDropped)
{
    Packet(0);
    EXPECT_TRUE(m_log.Has("OnNVRSpeakMediaData(): m_pAudioCodec is null,but recv nvr speak media data."));

    ASSERT_EQ(Param(Answer("AudioCodec=\"G711\"")), 0);
    for (uint32_t k = 0; k < 10; ++k)
        Packet(k);
    ASSERT_TRUE(WaitUntil([&] { return m_state->writeCount >= 1; }));
    EXPECT_EQ(m_state->FirstSamples()[0], SampleOf(0));

    // The end of the talk: keep 1 does nothing, keep 0 deletes the decoder.
    EXPECT_EQ(m_talk.ReleaseAudioCodec(1), 0);
    EXPECT_NE(m_talk.GetAudioCodec(), nullptr);
    EXPECT_EQ(m_talk.ReleaseAudioCodec(0), 0);
    EXPECT_EQ(m_talk.GetAudioCodec(), nullptr);
    EXPECT_EQ(m_state->alive, 0);
    EXPECT_EQ(m_talk.ReleaseAudioCodec(0), 0);
}

// A decoder that cannot be made leaves no pointer to the one deleted before.
TEST_F(NvrTalkTest, FailedDecoderCreationLeavesNoDanglingDecoder)
{
    ASSERT_EQ(Param(Answer("AudioCodec=\"G711\"")), 0);
    m_talk.SetCodecFactory([] { return std::unique_ptr<CAudioCodec>(); });
    EXPECT_EQ(Param(Answer("AudioCodec=\"G711\"")), -3);
    EXPECT_TRUE(m_log.Has("OnNVRSpeakParam(): new audiocodec failed."));
    EXPECT_EQ(m_talk.GetAudioCodec(), nullptr);
    EXPECT_EQ(m_state->alive, 0);
    Packet(1);  // dropped with the log line, not fed to a deleted decoder
    EXPECT_TRUE(m_log.Has("OnNVRSpeakMediaData(): m_pAudioCodec is null,but recv nvr speak media data."));
    EXPECT_EQ(m_talk.ReleaseAudioCodec(0), 0);
}

TEST_F(NvrTalkTest, DecoderThatCannotOpenStaysAndRefusesPackets)
{
    ScopedFakeAudio noDevice(nullptr);
    EXPECT_EQ(Param(Answer("AudioCodec=\"G711\"")), -2);
    ASSERT_NE(m_talk.GetAudioCodec(), nullptr);
    EXPECT_FALSE(m_talk.GetAudioCodec()->IsOpen());
    Packet(0);
    EXPECT_TRUE(m_log.Has("OnNVRSpeakParam(): m_pAudioCodec OpenDec failed."));
    EXPECT_TRUE(m_log.Has("CAudioCodec: decode hav't open,decode refuse."));
}

// The device-control sink's media events of kind 3 drive the decoder.
TEST_F(NvrTalkTest, SinkTalkEventsPlayThroughTheDecoder)
{
    TalkTargets targets(m_talk);
    SetMediaSinkTargets(&targets);
    CAuxPTZEvents sink;
    sink.MediaParamRecv(5, Answer("AudioCodec=\"G711\" Samplerate=\"8000\" BitsPerSample=\"16\" Channels=\"1\"").c_str(), 3);
    ASSERT_NE(m_talk.GetAudioCodec(), nullptr);
    EXPECT_TRUE(m_talk.GetAudioCodec()->IsOpen());
    const uint32_t keys[] = {3, 1, 0, 2, 9, 8, 7, 6, 5, 4};
    for (uint32_t k : keys) {
        const auto p = MakePacket(k, 160, FillOf(k));
        int32_t value = 0;
        sink.MediaDataRecv(5, p.data(), int32_t(p.size()), &value, 3);
    }
    // Another kind is not talk audio.
    const auto video = MakePacket(0, 160, 0x11, 0);
    sink.MediaDataRecv(5, video.data(), int32_t(video.size()), nullptr, 1);
    ASSERT_TRUE(WaitUntil([&] { return m_state->writeCount >= 3; }));
    const std::vector<int16_t> first = m_state->FirstSamples();
    EXPECT_EQ(first[0], SampleOf(0));
    EXPECT_EQ(first[1], SampleOf(1));
    EXPECT_EQ(first[2], SampleOf(2));
    SetMediaSinkTargets(nullptr);
    EXPECT_TRUE(m_log.Has("CAuxPTZEvents: recv nvr speak param."));
}
