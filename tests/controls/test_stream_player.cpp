// Tests of the stream player stand-in: real H.264/H.265 streams made by
// ffmpeg, fed from worker threads, checked on the painted widget.
#include "controls/stream_player.h"

#include "controls/journal.h"
#include "controls/sound_output.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

using Bytes = std::vector<uint8_t>;

// Left half red, right half blue: position and mirror are easy to see.
constexpr int kW = 160;
constexpr int kH = 120;

struct Media {
    QTemporaryDir dir;
    std::vector<Bytes> h264, h265, aacAdts;
    Bytes mulaw, alaw;
    Bytes mulawPcm, alawPcm;  // as ffmpeg decodes them: 16-bit mono
};

Media* g_media = nullptr;

bool RunCmd(const std::string& cmd)
{
    return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0;
}

// Access units (or audio frames) as the raw demuxer's parser cuts them.
std::vector<Bytes> ReadPackets(const std::string& path)
{
    std::vector<Bytes> out;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
        return out;
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(fmt, pkt) >= 0) {
        out.emplace_back(pkt->data, pkt->data + pkt->size);
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
    return out;
}

Bytes ReadAll(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray a = f.readAll();
    return Bytes(a.begin(), a.end());
}

class StreamPlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_media = new Media;
        const std::string d = g_media->dir.path().toStdString();
        const std::string src = "ffmpeg -y -f lavfi -i \"color=c=red:s=80x120:r=25,pad=160:120:0:0:blue\" -frames:v 30 "
                                "-pix_fmt yuv420p ";
        RunCmd(src + "-c:v libx264 -bf 0 -g 25 -f h264 " + d + "/v.h264");
        RunCmd(src + "-c:v libx265 -x265-params bframes=0:keyint=25:log-level=none -f hevc " + d + "/v.h265");
        RunCmd("ffmpeg -y -f lavfi -i sine=frequency=440:sample_rate=8000 -t 1 -f mulaw " + d + "/a.ul");
        RunCmd("ffmpeg -y -f lavfi -i sine=frequency=440:sample_rate=16000 -t 1 -ac 1 -c:a aac -f adts " + d + "/a.aac");
        g_media->h264 = ReadPackets(d + "/v.h264");
        g_media->h265 = ReadPackets(d + "/v.h265");
        g_media->aacAdts = ReadPackets(d + "/a.aac");
        g_media->mulaw = ReadAll(d + "/a.ul");
        RunCmd("ffmpeg -y -f lavfi -i sine=frequency=440:sample_rate=8000 -t 1 -f alaw " + d + "/a.al");
        g_media->alaw = ReadAll(d + "/a.al");
        RunCmd("ffmpeg -y -f mulaw -ar 8000 -ac 1 -i " + d + "/a.ul -f s16le " + d + "/ul.raw");
        RunCmd("ffmpeg -y -f alaw -ar 8000 -ac 1 -i " + d + "/a.al -f s16le " + d + "/al.raw");
        g_media->mulawPcm = ReadAll(d + "/ul.raw");
        g_media->alawPcm = ReadAll(d + "/al.raw");
    }
    static void TearDownTestSuite()
    {
        delete g_media;
        g_media = nullptr;
    }

    static VideoParam Video(const char* codec)
    {
        VideoParam v;
        memset(&v, 0, sizeof v);
        strncpy(v.codecName, codec, sizeof v.codecName - 1);
        v.width = kW;
        v.height = kH;
        v.frameRate = 25;
        return v;
    }
    static AudioParam Audio(const char* codec, int rate)
    {
        AudioParam a;
        memset(&a, 0, sizeof a);
        strncpy(a.codecName, codec, sizeof a.codecName - 1);
        a.sampleRate = rate;
        a.bitsPerSample = 16;
        a.channels = 1;
        return a;
    }

    static bool WaitFor(const std::function<bool()>& pred, int ms = 10000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    static int32_t Feed(StreamPlayerControl& p, int32_t kind, int32_t id, const Bytes& frame, double ts = 0,
                        int key = 0)
    {
        MediaFrameHeader h{key, 0, ts};
        return p.InputData(kind, id, frame.data(), int32_t(frame.size()), reinterpret_cast<const uint8_t*>(&h),
                           int32_t(sizeof h));
    }

    // Feeds every access unit from a worker thread, as the frame-pull thread does.
    static void FeedFromThread(StreamPlayerControl& p, int32_t id, const std::vector<Bytes>& aus,
                               std::atomic<int>* failures)
    {
        std::thread t([&] {
            for (size_t i = 0; i < aus.size(); ++i)
                if (Feed(p, StreamPlayerControl::kVideo, id, aus[i], double(i) * 40, i % 25 == 0) != 0)
                    ++*failures;
        });
        t.join();
    }

    static bool IsRed(QRgb c) { return qRed(c) > 180 && qGreen(c) < 80 && qBlue(c) < 80; }
    static bool IsBlue(QRgb c) { return qBlue(c) > 180 && qRed(c) < 80 && qGreen(c) < 80; }
};

struct VideoCase {
    const char* codec;
    std::vector<Bytes> Media::*aus;
};

TEST_F(StreamPlayerTest, DecodesAndPaintsFromWorkerThread)
{
    const VideoCase cases[] = {{"H264", &Media::h264}, {"H.264", &Media::h264}, {"H265", &Media::h265},
                               {"H.265", &Media::h265}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codec);
        const auto& aus = g_media->*c.aus;
        ASSERT_GE(aus.size(), 25u) << "ffmpeg made no stream";
        StreamPlayerControl p;
        p.resize(320, 240);
        p.show();
        const int32_t id = p.CreateRender("TEST");
        ASSERT_GT(id, 0);
        VideoParam v = Video(c.codec);
        ASSERT_EQ(p.SetupDecoder(StreamPlayerControl::kVideo, id, reinterpret_cast<const uint8_t*>(&v), sizeof v), 0);
        std::atomic<int> failures{0};
        FeedFromThread(p, id, aus, &failures);
        EXPECT_EQ(failures, 0);
        ASSERT_TRUE(WaitFor([&] { return p.HasPicture(); }));
        EXPECT_GE(p.DecodedPictures(id), int64_t(aus.size()) - 2);  // the decoder may hold the last ones back

        const QImage shot = p.grab().toImage();
        ASSERT_EQ(shot.size(), QSize(320, 240));
        EXPECT_TRUE(IsRed(shot.pixel(60, 120))) << std::hex << shot.pixel(60, 120);
        EXPECT_TRUE(IsBlue(shot.pixel(260, 120))) << std::hex << shot.pixel(260, 120);

        // Flip mirrors left and right; a second flip restores.
        EXPECT_EQ(p.Flip(7, 2), 0);
        const QImage flipped = p.grab().toImage();
        EXPECT_TRUE(IsBlue(flipped.pixel(60, 120)));
        EXPECT_TRUE(IsRed(flipped.pixel(260, 120)));
        p.Flip(7, 2);
        EXPECT_TRUE(IsRed(p.grab().toImage().pixel(60, 120)));
    }
}

TEST_F(StreamPlayerTest, KeepAspectLetterboxesAndFillStretches)
{
    StreamPlayerControl p;
    p.resize(480, 120);  // 4:1 pane for a 4:3 picture
    const int32_t id = p.CreateRender("TEST");
    VideoParam v = Video("H264");
    p.SetupDecoder(1, id, reinterpret_cast<const uint8_t*>(&v), sizeof v);
    for (const Bytes& au : g_media->h264)
        Feed(p, 1, id, au);
    ASSERT_TRUE(WaitFor([&] { return p.HasPicture(); }));
    QImage img = p.grab().toImage();
    EXPECT_EQ(qGray(img.pixel(20, 60)), 0) << "keep aspect leaves black bars";
    EXPECT_TRUE(IsRed(img.pixel(200, 60)));
    EXPECT_TRUE(IsBlue(img.pixel(280, 60)));

    p.SetFullDisplay(1);
    for (const Bytes& au : g_media->h264)  // the next pictures are scaled to the pane
        Feed(p, 1, id, au);
    img = p.grab().toImage();
    EXPECT_TRUE(IsRed(img.pixel(20, 60)));
    EXPECT_TRUE(IsBlue(img.pixel(460, 60)));
}

TEST_F(StreamPlayerTest, FilledPanesOfOddSizesShowBothHalves)
{
    // The planes are scaled before conversion: odd and tiny sizes round the
    // chroma planes and must still fill the pane with the right colours.
    const QSize panes[] = {{321, 241}, {97, 53}, {159, 119}, {3, 3}, {1, 1}, {1201, 7}};
    for (const QSize& size : panes) {
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        StreamPlayerControl p;
        p.resize(size);
        p.SetFullDisplay(1);
        const int32_t id = p.CreateRender("TEST");
        VideoParam v = Video("H264");
        p.SetupDecoder(1, id, reinterpret_cast<const uint8_t*>(&v), sizeof v);
        for (const Bytes& au : g_media->h264)
            ASSERT_EQ(Feed(p, 1, id, au), 0);
        ASSERT_TRUE(WaitFor([&] { return p.HasPicture(); }));
        const QImage img = p.grab().toImage();
        ASSERT_EQ(img.size(), size);
        if (size.width() >= 3) {
            EXPECT_TRUE(IsRed(img.pixel(0, size.height() / 2))) << std::hex << img.pixel(0, size.height() / 2);
            EXPECT_TRUE(IsBlue(img.pixel(size.width() - 1, size.height() / 2)));
        }
    }
}

TEST_F(StreamPlayerTest, ZoomInShowsTheSelectedPartAndOffRestores)
{
    StreamPlayerControl p;
    p.resize(320, 240);
    const int32_t id = p.CreateRender("TEST");
    VideoParam v = Video("H264");
    p.SetupDecoder(1, id, reinterpret_cast<const uint8_t*>(&v), sizeof v);
    for (const Bytes& au : g_media->h264)
        Feed(p, 1, id, au);
    p.grab();  // paint once so the control knows the picture's size
    ASSERT_EQ(p.SetZoomMode(id, StreamPlayerControl::kZoomIn), 0);
    auto mouse = [&](QEvent::Type type, QPoint pt) {
        QMouseEvent e(type, QPointF(pt), QPointF(p.mapToGlobal(pt)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&p, &e);
    };
    // Select the red left quarter of the picture.
    mouse(QEvent::MouseButtonPress, {10, 60});
    mouse(QEvent::MouseMove, {70, 180});
    mouse(QEvent::MouseButtonRelease, {70, 180});
    for (const Bytes& au : g_media->h264)
        Feed(p, 1, id, au);
    QImage img = p.grab().toImage();
    EXPECT_TRUE(IsRed(img.pixel(300, 120))) << "zoomed into the red half";

    EXPECT_EQ(p.SetZoomMode(id, StreamPlayerControl::kZoomOff), 0);
    for (const Bytes& au : g_media->h264)
        Feed(p, 1, id, au);
    img = p.grab().toImage();
    EXPECT_TRUE(IsBlue(img.pixel(300, 120)));
    EXPECT_EQ(p.SetZoomMode(id, 9), -1);
    EXPECT_EQ(p.SetZoomMode(id + 1000, 1), -1);
}

TEST_F(StreamPlayerTest, SnapShotWritesPicturesOfTheStreamSize)
{
    StreamPlayerControl p;
    p.resize(320, 240);
    const int32_t id = p.CreateRender("TEST");
    const QString dir = g_media->dir.path();
    const std::string none = (dir + "/none.jpg").toStdString();
    p.SnapShot(id, 1, none.c_str());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(none))) << "no picture yet, no file";

    VideoParam v = Video("H265");
    p.SetupDecoder(1, id, reinterpret_cast<const uint8_t*>(&v), sizeof v);
    for (const Bytes& au : g_media->h265)
        Feed(p, 1, id, au);
    struct {
        int format;
        const char* name;
        const char* readAs;
    } cases[] = {{1, "shot.jpg", "jpeg"}, {2, "shot.bmp", "bmp"}, {5, "other.jpg", "jpeg"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = (dir + "/" + c.name).toStdString();
        p.SnapShot(id, c.format, path.c_str());
        QImageReader reader(QString::fromStdString(path));
        EXPECT_EQ(reader.format().toStdString(), c.readAs);
        const QImage img = reader.read();
        ASSERT_EQ(img.size(), QSize(kW, kH));
        EXPECT_TRUE(IsRed(img.pixel(20, 60)));
        EXPECT_TRUE(IsBlue(img.pixel(140, 60)));
    }
    // Format 0: raw planar YUV 4:2:0 of the picture.
    const std::string yuv = (dir + "/shot.yuv").toStdString();
    p.SnapShot(id, 0, yuv.c_str());
    const Bytes raw = ReadAll(yuv);
    ASSERT_EQ(raw.size(), size_t(kW * kH * 3 / 2));
    const size_t redChroma = size_t(10 * (kW / 2) + 10);  // row 10, column 10 of a chroma plane
    EXPECT_LT(raw[size_t(kW * kH) + redChroma], 128) << "U of red is low";
    EXPECT_GT(raw[size_t(kW * kH * 5 / 4) + redChroma], 200) << "V of red is high";
}

TEST_F(StreamPlayerTest, DestroyingRendersWhileAThreadFeedsIsSafe)
{
    for (int round = 0; round < 4; ++round) {
        auto* p = new StreamPlayerControl;
        p->resize(160, 120);
        const int32_t id = p->CreateRender("TEST");
        VideoParam v = Video("H264");
        p->SetupDecoder(1, id, reinterpret_cast<const uint8_t*>(&v), sizeof v);
        std::atomic<bool> stop{false};
        std::atomic<int> calls{0};
        // The feeder holds the control pointer the way the sink does: it
        // stops before the control itself is deleted, but renders go away
        // under it at any time.
        std::thread feeder([&] {
            for (size_t i = 0; !stop; i = (i + 1) % g_media->h264.size()) {
                Feed(*p, 1, id, g_media->h264[i]);
                ++calls;
            }
        });
        WaitFor([&] { return calls > 5 + round * 7; });
        if (round % 2 == 0)
            EXPECT_EQ(p->DestroyRender(id), 0);
        else
            EXPECT_EQ(p->ReleaseWithoutWait(), 0);
        const int after = calls;
        WaitFor([&] { return calls > after + 3; });
        EXPECT_EQ(Feed(*p, 1, id, g_media->h264[0]), -1) << "render is gone";
        EXPECT_EQ(p->DecodedPictures(id), -1);
        stop = true;
        feeder.join();
        delete p;
    }
}

// What the sound output of a control was given, in place of an audio device.
struct SoundRecorder : qelm::SoundTap {
    SoundRecorder() { qelm::SoundOutput::SetTap(this); }
    ~SoundRecorder() override { qelm::SoundOutput::SetTap(nullptr); }
    void OnSound(const void* owner, int r, int c, const QByteArray& pcm) override
    {
        owners.push_back(owner);
        rate = r;
        channels = c;
        all.insert(all.end(), pcm.begin(), pcm.end());
    }
    std::vector<const void*> owners;
    int rate = 0, channels = 0;
    Bytes all;
};

TEST_F(StreamPlayerTest, LiveG711ReachesTheSoundOutputAsItsSamples)
{
    struct Case {
        const char* codec;
        const Bytes* source;
        const Bytes* pcm;
    } cases[] = {{"G711", &g_media->mulaw, &g_media->mulawPcm}, {"G711A", &g_media->alaw, &g_media->alawPcm}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codec);
        ASSERT_FALSE(c.source->empty() || c.pcm->empty());
        SoundRecorder rec;
        StreamPlayerControl p;
        const int32_t id = p.CreateRender("TEST");
        AudioParam a = Audio(c.codec, 8000);
        ASSERT_EQ(p.SetupDecoder(0, id, reinterpret_cast<const uint8_t*>(&a), sizeof a), 0);
        ASSERT_EQ(p.SetSound(id, 1), 0);
        const size_t whole = c.source->size() / 160 * 160;
        for (size_t at = 0; at < whole; at += 160)
            ASSERT_EQ(Feed(p, 0, id, Bytes(c.source->begin() + long(at), c.source->begin() + long(at + 160))), 0);
        ASSERT_TRUE(WaitFor([&] { return rec.all.size() >= whole * 2; }));
        EXPECT_EQ(rec.rate, 8000);
        EXPECT_EQ(rec.channels, 1);
        EXPECT_EQ(rec.owners.front(), &p);
        EXPECT_TRUE(rec.all == Bytes(c.pcm->begin(), c.pcm->begin() + long(whole * 2)));
    }
}

TEST_F(StreamPlayerTest, AudioDecodesG711AndAacInItsForms)
{
    StreamPlayerControl p;
    const int32_t id = p.CreateRender("TEST");
    ASSERT_FALSE(g_media->mulaw.empty());
    AudioParam g = Audio("G711", 8000);
    ASSERT_EQ(p.SetupDecoder(0, id, reinterpret_cast<const uint8_t*>(&g), sizeof g), 0);
    EXPECT_EQ(p.SetSound(id, 1), 0);
    for (size_t at = 0; at + 160 <= g_media->mulaw.size(); at += 160)
        EXPECT_EQ(Feed(p, 0, id, Bytes(g_media->mulaw.begin() + long(at), g_media->mulaw.begin() + long(at + 160))), 0);
    EXPECT_EQ(p.DecodedAudioFrames(id), int64_t(g_media->mulaw.size() / 160));

    // AAC as ADTS, ADTS behind 4 bytes, raw behind an RFC 3640 AU header, and raw.
    ASSERT_GT(g_media->aacAdts.size(), 10u);
    enum Form { kAdts, kPrefixedAdts, kAuHeader, kRaw };
    for (Form form : {kAdts, kPrefixedAdts, kAuHeader, kRaw}) {
        SCOPED_TRACE(int(form));
        for (const char* name : {"MPEG4-GENERIC", "AAC"}) {
            AudioParam a = Audio(name, 16000);
            ASSERT_EQ(p.SetupDecoder(0, id, reinterpret_cast<const uint8_t*>(&a), sizeof a), 0);
            const int64_t before = p.DecodedAudioFrames(id);
            for (const Bytes& adts : g_media->aacAdts) {
                const size_t hdr = (adts[1] & 1) ? 7 : 9;
                Bytes raw(adts.begin() + long(hdr), adts.end());
                Bytes frame;
                switch (form) {
                case kAdts: frame = adts; break;
                case kPrefixedAdts: frame = {1, 2, 3, 4}; frame.insert(frame.end(), adts.begin(), adts.end()); break;
                case kAuHeader:
                    frame = {0x00, 0x10, uint8_t(raw.size() >> 5), uint8_t((raw.size() & 31) << 3)};
                    frame.insert(frame.end(), raw.begin(), raw.end());
                    break;
                case kRaw: frame = raw; break;
                }
                EXPECT_EQ(Feed(p, 0, id, frame), 0);
            }
            EXPECT_GT(p.DecodedAudioFrames(id) - before, int64_t(g_media->aacAdts.size()) / 2);
        }
    }
}

TEST_F(StreamPlayerTest, SoundIsMadeOnlyForTheRenderWithSoundOn)
{
    StreamPlayerControl p;
    const int32_t a = p.CreateRender("TEST");
    const int32_t b = p.CreateRender("TEST");
    AudioParam g = Audio("G711", 8000);
    for (int32_t id : {a, b})
        ASSERT_EQ(p.SetupDecoder(0, id, reinterpret_cast<const uint8_t*>(&g), sizeof g), 0);
    auto feedSecond = [&](int32_t id) {
        std::thread t([&] {
            for (size_t at = 0; at + 160 <= g_media->mulaw.size(); at += 160)
                Feed(p, 0, id, Bytes(g_media->mulaw.begin() + long(at), g_media->mulaw.begin() + long(at + 160)));
        });
        t.join();
        // Let the UI thread hand the PCM to the output (or drop it without one).
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(60);
        WaitFor([&] { return std::chrono::steady_clock::now() > end; });
    };
    feedSecond(a);
    EXPECT_EQ(p.SoundBytes(a), 0) << "sound is off";
    ASSERT_EQ(p.SetSound(a, 1), 0);
    feedSecond(a);
    EXPECT_EQ(p.SoundBytes(a), int64_t(g_media->mulaw.size() / 160 * 160 * 2)) << "16-bit PCM of every sample";
    const int64_t before = p.SoundBytes(a);
    ASSERT_EQ(p.SetSound(b, 1), 0);  // one render plays at a time
    feedSecond(a);
    feedSecond(b);
    EXPECT_EQ(p.SoundBytes(a), before);
    EXPECT_GT(p.SoundBytes(b), 0);
    EXPECT_EQ(p.SetSound(b, 0), 0);
    EXPECT_EQ(p.SetSound(a + b + 1000, 1), -1);
    EXPECT_EQ(p.DestroyRender(b), 0);
}

TEST_F(StreamPlayerTest, RefusesWhatItCannotTake)
{
    StreamPlayerControl p;
    const int32_t id = p.CreateRender("TEST");
    VideoParam v = Video("H264");
    AudioParam a = Audio("G711", 8000);
    const auto* vb = reinterpret_cast<const uint8_t*>(&v);
    const auto* ab = reinterpret_cast<const uint8_t*>(&a);
    EXPECT_EQ(p.SetupDecoder(1, id, vb, 535), -1);
    EXPECT_EQ(p.SetupDecoder(1, id, ab, sizeof a), -1) << "audio record as video";
    EXPECT_EQ(p.SetupDecoder(0, id, vb, sizeof v), -1);
    EXPECT_EQ(p.SetupDecoder(1, id + 1000, vb, sizeof v), -1);
    EXPECT_EQ(p.SetupDecoder(1, id, nullptr, sizeof v), -1);
    VideoParam bad = Video("VP9");
    EXPECT_EQ(p.SetupDecoder(1, id, reinterpret_cast<const uint8_t*>(&bad), sizeof bad), -1);
    memset(bad.codecName, 'H', sizeof bad.codecName);  // no terminator
    EXPECT_EQ(p.SetupDecoder(1, id, reinterpret_cast<const uint8_t*>(&bad), sizeof bad), -1);

    // Without a decoder, with a short header or no data: nothing is taken.
    EXPECT_EQ(Feed(p, 1, id, g_media->h264[0]), -1);
    ASSERT_EQ(p.SetupDecoder(1, id, vb, sizeof v), 0);
    MediaFrameHeader h{};
    const Bytes& au = g_media->h264[0];
    EXPECT_EQ(p.InputData(1, id, au.data(), int32_t(au.size()), reinterpret_cast<const uint8_t*>(&h), 8), -1);
    EXPECT_EQ(p.InputData(1, id, au.data(), 0, reinterpret_cast<const uint8_t*>(&h), 16), -1);
    // Garbage and a parameter set far larger than the record allows do not hurt.
    Bytes junk(5000);
    for (size_t i = 0; i < junk.size(); ++i)
        junk[i] = uint8_t(i * 131 + 7);
    junk[0] = junk[1] = junk[2] = 0;
    junk[3] = 1;
    Feed(p, 1, id, junk);
    v.configLength = 30000;
    EXPECT_EQ(p.SetupDecoder(1, id, vb, sizeof v), 0);
    for (const Bytes& f : g_media->h264)
        Feed(p, 1, id, f);
    EXPECT_TRUE(p.HasPicture());
    EXPECT_EQ(p.CloseDecoder(1, id), 0);
    EXPECT_FALSE(p.HasPicture()) << "ShowLastFrame is off";
    EXPECT_EQ(p.DestroyRender(id), 0);
    EXPECT_EQ(p.DestroyRender(id), -1);
}

TEST_F(StreamPlayerTest, ShowLastFrameKeepsThePictureAfterClose)
{
    StreamPlayerControl p;
    p.resize(160, 120);
    const int32_t id = p.CreateRender("TEST");
    p.SetShowLastFrame(1);
    VideoParam v = Video("H264");
    p.SetupDecoder(1, id, reinterpret_cast<const uint8_t*>(&v), sizeof v);
    for (const Bytes& f : g_media->h264)
        Feed(p, 1, id, f);
    EXPECT_EQ(p.CloseDecoder(1, id), 0);
    EXPECT_TRUE(p.HasPicture());
    EXPECT_TRUE(IsRed(p.grab().toImage().pixel(20, 60)));
}

TEST_F(StreamPlayerTest, RecordAndTalkMarksArePainted)
{
    StreamPlayerControl p;
    p.resize(240, 240);
    p.CreateRender("TEST");
    auto markAt = [&](int x) { return p.grab().toImage().pixel(x, 15); };  // d = 10: marks at y 10..20
    EXPECT_EQ(qGray(markAt(225)), 0);
    p.SetRecordMark(3, 1);
    EXPECT_TRUE(IsRed(markAt(225)) || qRed(markAt(225)) > 200);
    p.SetTalkMark(3, 1);
    EXPECT_GT(qGreen(markAt(205)), 150);
    p.SetRecordMark(3, 0);
    p.SetTalkMark(3, 0);
    EXPECT_EQ(qGray(markAt(225)), 0);
}

TEST_F(StreamPlayerTest, CallsAreJournaled)
{
    QTemporaryDir dir;
    const QByteArray path = (dir.path() + "/journal.txt").toUtf8();
    setenv("QELM2_JOURNAL", path.constData(), 1);
    {
        StreamPlayerControl p;
        const int32_t id = p.CreateRender("TEST");
        VideoParam v = Video("H.265");
        p.SetupDecoder(1, id, reinterpret_cast<const uint8_t*>(&v), sizeof v);
        p.SetBufferTick(300);
        p.SnapShot(id, 2, "");
    }
    unsetenv("QELM2_JOURNAL");
    QFile f(QString::fromUtf8(path));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    std::vector<std::vector<std::string>> lines;
    while (!f.atEnd())
        lines.push_back(qelm::Journal::ParseLine(f.readLine().toStdString()));
    auto has = [&](std::vector<std::string> want) {
        for (const auto& l : lines)
            if (l.size() >= want.size() && std::equal(want.begin(), want.end(), l.begin()))
                return true;
        return false;
    };
    EXPECT_TRUE(has({"call", "CStreamPlayerCtrl::CreateRender", "TEST"}));
    EXPECT_TRUE(has({"call", "CStreamPlayerCtrl::SetupDecoder", "1"}));
    EXPECT_TRUE(has({"call", "CStreamPlayerCtrl::SetBufferTick", "300", "=0"}));
    EXPECT_TRUE(has({"call", "CStreamPlayerCtrl::SnapShot"}));
}

} // namespace
