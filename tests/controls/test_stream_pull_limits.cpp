// Tests of the stream pull control against misbehaving RTSP peers on
// 127.0.0.1: what a peer announces or sends must not decide how much memory a
// connection takes, and the pull must fail or go on cleanly.
#include "controls/media_limits.h"
#include "controls/stream_pull.h"
#include "controls/stream_shaper.h"
#include "platform/logsink.h"
#include "tests/controls/avi_test_util.h"
#include "tests/controls/stream_pull_test_util.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
}

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using pulltest::Advised;
using pulltest::Sink;
using pulltest::WaitFor;

long StatusKb(const char* key)
{
    long kb = -1;
    if (FILE* f = fopen("/proc/self/status", "r")) {
        char line[256];
        while (fgets(line, sizeof line, f))
            if (strncmp(line, key, strlen(key)) == 0)
                kb = atol(line + strlen(key));
        fclose(f);
    }
    return kb;
}

// How far the process's resident memory peaks above where it was when this
// object was made (the kernel's peak is reset then, where it allows it).
class PeakGrowth {
public:
    PeakGrowth()
    {
        bool reset = false;
        if (FILE* f = fopen("/proc/self/clear_refs", "w")) {
            reset = fputs("5", f) >= 0;
            reset = fclose(f) == 0 && reset;
        }
        m_base = reset ? StatusKb("VmRSS:") : StatusKb("VmHWM:");
    }
    long Mb() const { return std::max(0L, StatusKb("VmHWM:") - m_base) / 1024; }

private:
    long m_base;
};

// A misbehaving RTSP server on 127.0.0.1. Each request goes to the test's
// handler on the connection's own thread; the handler writes what it likes
// and returns false to close the connection.
class FakeRtspPeer {
public:
    struct Request {
        std::string method;
        std::string cseq;
        std::string text;
    };
    using Handler = std::function<bool(FakeRtspPeer& peer, int fd, const Request& r)>;

    explicit FakeRtspPeer(Handler handler) : m_handler(std::move(handler))
    {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (m_listen < 0 || bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            listen(m_listen, 16) != 0 || getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        m_port = ntohs(a.sin_port);
        m_accept = std::thread([this] { AcceptLoop(); });
    }
    ~FakeRtspPeer()
    {
        m_stop = true;
        if (m_accept.joinable())
            m_accept.join();
        {
            std::lock_guard<std::mutex> g(m_lock);
            for (int fd : m_open)
                shutdown(fd, SHUT_RDWR);   // ends sends the client no longer takes
        }
        for (std::thread& t : m_connections)
            t.join();
        if (m_listen >= 0)
            close(m_listen);
    }
    FakeRtspPeer(const FakeRtspPeer&) = delete;
    FakeRtspPeer& operator=(const FakeRtspPeer&) = delete;

    int Port() const { return m_port; }
    std::string Url() const { return "rtsp://127.0.0.1:" + std::to_string(m_port) + "/live"; }
    bool Stopped() const { return m_stop; }
    int Count(const std::string& method) const
    {
        std::lock_guard<std::mutex> g(m_lock);
        auto it = m_counts.find(method);
        return it == m_counts.end() ? 0 : it->second;
    }

    // False when the client went away or the peer is stopping.
    bool Send(int fd, const void* p, size_t n) const
    {
        auto* b = static_cast<const char*>(p);
        while (n && !m_stop) {
            ssize_t k = send(fd, b, n, MSG_NOSIGNAL);
            if (k <= 0)
                return false;
            b += k;
            n -= static_cast<size_t>(k);
        }
        return n == 0;
    }
    bool Send(int fd, const std::string& s) const { return Send(fd, s.data(), s.size()); }

    static std::string Reply(const Request& r, const std::string& headers = "", const std::string& body = "")
    {
        std::string s = "RTSP/1.0 200 OK\r\nCSeq: " + r.cseq + "\r\n" + headers;
        if (!body.empty())
            s += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        return s + "\r\n" + body;
    }
    // The SETUP answer for RTP over the RTSP connection, on the channels asked for.
    static std::string SetupReply(const Request& r)
    {
        std::string channels = "0-1";
        size_t p = r.text.find("interleaved=");
        if (p != std::string::npos)
            channels = r.text.substr(p + 12, r.text.find_first_of(";\r", p) - p - 12);
        return Reply(r, "Session: 4711\r\nTransport: RTP/AVP/TCP;unicast;interleaved=" + channels + "\r\n");
    }

private:
    void AcceptLoop()
    {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            int fd = accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                continue;
            std::lock_guard<std::mutex> g(m_lock);
            m_open.push_back(fd);
            m_connections.emplace_back([this, fd] { Serve(fd); });
        }
    }

    void Serve(int fd)
    {
        std::string buf;
        bool open = true;
        while (open && !m_stop) {
            if (!buf.empty() && buf[0] == '$') {   // the client's RTCP on its channel: skip it
                if (buf.size() >= 4) {
                    size_t len = 4 + ((static_cast<uint8_t>(buf[2]) << 8) | static_cast<uint8_t>(buf[3]));
                    if (buf.size() >= len) {
                        buf.erase(0, len);
                        continue;
                    }
                }
            } else if (size_t end = buf.find("\r\n\r\n"); end != std::string::npos) {
                Request r;
                r.text = buf.substr(0, end + 4);
                buf.erase(0, end + 4);
                r.method = r.text.substr(0, r.text.find(' '));
                size_t c = r.text.find("CSeq:");
                if (c != std::string::npos) {
                    size_t b = r.text.find_first_not_of(' ', c + 5);
                    r.cseq = r.text.substr(b, r.text.find('\r', b) - b);
                }
                {
                    std::lock_guard<std::mutex> g(m_lock);
                    ++m_counts[r.method];
                }
                open = m_handler(*this, fd, r);
                continue;
            }
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            char chunk[4096];
            ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            buf.append(chunk, static_cast<size_t>(n));
        }
        std::lock_guard<std::mutex> g(m_lock);
        m_open.erase(std::find(m_open.begin(), m_open.end(), fd));
        close(fd);
    }

    Handler m_handler;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_accept;
    mutable std::mutex m_lock;
    std::vector<int> m_open;
    std::vector<std::thread> m_connections;
    std::map<std::string, int> m_counts;
};

using Request = FakeRtspPeer::Request;

// A peer announcing a session description of 2 GB and sending it as fast as
// the client takes it: the attempt fails without the memory, and says so.
TEST(StreamPullLimits, AHugeSessionDescriptionFailsTheAttemptWithoutTakingTheMemory)
{
    FakeRtspPeer peer([](FakeRtspPeer& peer, int fd, const Request& r) {
        if (r.method == "OPTIONS")
            return peer.Send(fd, FakeRtspPeer::Reply(r, "Public: DESCRIBE, SETUP, PLAY, TEARDOWN\r\n"));
        if (r.method != "DESCRIBE")
            return peer.Send(fd, FakeRtspPeer::Reply(r));
        const size_t announced = 2000000000;   // fits the client's int
        if (!peer.Send(fd, "RTSP/1.0 200 OK\r\nCSeq: " + r.cseq +
                               "\r\nContent-Type: application/sdp\r\nContent-Length: " + std::to_string(announced) +
                               "\r\n\r\n"))
            return false;
        std::vector<char> body(1 << 20, 'v');
        for (size_t sent = 0; sent < announced && peer.Send(fd, body.data(), body.size()); sent += body.size()) {
        }
        return false;
    });
    ASSERT_GT(peer.Port(), 0);
    PeakGrowth growth;
    StreamPullControl c;
    Sink sink;
    Advised adv(c, sink);
    int32_t id = c.AddStream(peer.Url(), "", "", 1);
    ASSERT_TRUE(WaitFor([&] { return sink.Count(id, StreamPullControl::kStatusFailed) > 0; }, 30000));
    EXPECT_EQ(sink.Count(id, StreamPullControl::kStatusConnected), 0);
    EXPECT_GE(peer.Count("DESCRIBE"), 1);
    c.DelStream(id);
    EXPECT_LT(growth.Mb(), 100) << "a connection attempt took the memory the peer announced";
}

// A description of thousands of media sections: a few streams are taken
// (each one is set up with the peer and probed), not thousands.
TEST(StreamPullLimits, ThousandsOfMediaSectionsTakeOnlyAFewStreams)
{
    std::string sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=many\r\nt=0 0\r\n";
    for (int i = 0; i < 5000; ++i)
        sdp += "m=" + std::string(i % 5 ? "video" : "application") + " 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
               "a=control:track" + std::to_string(i) + "\r\n";
    FakeRtspPeer peer([&sdp](FakeRtspPeer& peer, int fd, const Request& r) {
        if (r.method == "DESCRIBE")
            return peer.Send(fd, FakeRtspPeer::Reply(r, "Content-Type: application/sdp\r\n", sdp));
        if (r.method == "SETUP")
            return peer.Send(fd, FakeRtspPeer::SetupReply(r));
        if (r.method == "PLAY") {
            peer.Send(fd, FakeRtspPeer::Reply(r, "Session: 4711\r\n"));
            return false;   // and no media
        }
        return peer.Send(fd, FakeRtspPeer::Reply(r, "Public: DESCRIBE, SETUP, PLAY, TEARDOWN\r\n"));
    });
    ASSERT_GT(peer.Port(), 0);
    PeakGrowth growth;
    StreamPullControl c;
    Sink sink;
    Advised adv(c, sink);
    int32_t id = c.AddStream(peer.Url(), "", "", 1);
    ASSERT_TRUE(WaitFor([&] { return sink.Count(id, StreamPullControl::kStatusFailed) > 0; }, 60000));
    c.DelStream(id);
    EXPECT_GE(peer.Count("SETUP"), 1);
    EXPECT_LE(peer.Count("SETUP"), int(StreamPullControl::kMaxMediaStreams));
    EXPECT_LT(growth.Mb(), 100);
}

// RTP over the RTSP connection, H.264 in single-NAL and FU-A packets.
class RtpSender {
public:
    RtpSender(FakeRtspPeer& peer, int fd) : m_peer(peer), m_fd(fd) {}

    bool Packet(const uint8_t* payload, size_t n, bool marker, uint32_t ts)
    {
        uint8_t h[16] = {'$', 0, static_cast<uint8_t>((n + 12) >> 8), static_cast<uint8_t>(n + 12), 0x80,
                         static_cast<uint8_t>((marker ? 0x80 : 0) | 96), static_cast<uint8_t>(m_seq >> 8),
                         static_cast<uint8_t>(m_seq), static_cast<uint8_t>(ts >> 24), static_cast<uint8_t>(ts >> 16),
                         static_cast<uint8_t>(ts >> 8), static_cast<uint8_t>(ts), 0x12, 0x34, 0x56, 0x78};
        ++m_seq;
        return m_peer.Send(m_fd, h, sizeof h) && m_peer.Send(m_fd, payload, n);
    }

    bool AccessUnit(const std::vector<uint8_t>& au, uint32_t ts)
    {
        auto nals = mp4test::NalUnits(au);
        for (size_t i = 0; i < nals.size(); ++i) {
            const auto& nal = nals[i];
            bool last = i + 1 == nals.size();
            if (nal.size() <= kMtu) {
                if (!Packet(nal.data(), nal.size(), last, ts))
                    return false;
                continue;
            }
            for (size_t pos = 1; pos < nal.size(); pos += kMtu) {
                size_t n = std::min(kMtu, nal.size() - pos);
                bool end = pos + n == nal.size();
                uint8_t header = static_cast<uint8_t>((pos == 1 ? 0x80 : 0) | (end ? 0x40 : 0) | (nal[0] & 0x1F));
                std::vector<uint8_t> p = {static_cast<uint8_t>((nal[0] & 0xE0) | 28), header};
                p.insert(p.end(), nal.begin() + long(pos), nal.begin() + long(pos + n));
                if (!Packet(p.data(), p.size(), last && end, ts))
                    return false;
            }
        }
        return true;
    }

    static constexpr size_t kMtu = 1400;

private:
    FakeRtspPeer& m_peer;
    int m_fd;
    uint16_t m_seq = 0;
};

// A camera whose one picture is a slice in fragments that go on for 70 MB
// before they end. That unit is dropped and logged, nothing over the limit
// reaches the readers, and the pictures after it still do.
TEST(StreamPullLimits, FragmentsThatNeverEndAreDroppedAndTheStreamGoesOn)
{
    const std::string file = avitest::Streams::Get().H264(3);
    ASSERT_FALSE(file.empty()) << "ffmpeg made no test stream";
    const std::vector<mp4test::Frame> aus = mp4test::SplitStream(file, "h264");
    ASSERT_EQ(aus.size(), 75u);
    const std::string sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=cam\r\nt=0 0\r\nm=video 0 RTP/AVP 96\r\n"
                            "a=rtpmap:96 H264/90000\r\na=fmtp:96 packetization-mode=1\r\na=control:track0\r\n";
    FakeRtspPeer peer([&](FakeRtspPeer& peer, int fd, const Request& r) {
        if (r.method == "DESCRIBE")
            return peer.Send(fd, FakeRtspPeer::Reply(r, "Content-Type: application/sdp\r\n", sdp));
        if (r.method == "SETUP")
            return peer.Send(fd, FakeRtspPeer::SetupReply(r));
        if (r.method != "PLAY")
            return peer.Send(fd, FakeRtspPeer::Reply(r, "Public: DESCRIBE, SETUP, PLAY, TEARDOWN\r\n"));
        if (!peer.Send(fd, FakeRtspPeer::Reply(r, "Session: 4711\r\n")))
            return false;
        RtpSender rtp(peer, fd);
        uint32_t ts = 0;
        for (size_t i = 0; i < 25; ++i, ts += 3600)
            if (!rtp.AccessUnit(aus[i].data, ts))
                return false;
        std::vector<uint8_t> piece(60000, 0xFF);   // as large as interleaved packets go
        piece[0] = 0x5C;                            // FU-A of a non-IDR slice
        const size_t pieces = (70u << 20) / piece.size();
        for (size_t k = 0; k < pieces; ++k) {
            piece[1] = static_cast<uint8_t>((k == 0 ? 0x80 : 0) | (k + 1 == pieces ? 0x40 : 0) | 1);
            if (!rtp.Packet(piece.data(), piece.size(), k + 1 == pieces, ts))
                return false;
        }
        ts += 3600;
        for (size_t i = 25; i < aus.size(); ++i, ts += 3600)
            if (!rtp.AccessUnit(aus[i].data, ts))
                return false;
        while (!peer.Stopped())
            usleep(20000);
        return false;
    });
    ASSERT_GT(peer.Port(), 0);

    std::mutex logLock;
    std::vector<std::string> log;
    qelm::SetPlatformLogSink([&](int, const std::string& line) {
        std::lock_guard<std::mutex> g(logLock);
        log.push_back(line);
    });
    StreamPullControl c;
    Sink sink;
    Advised adv(c, sink);
    int32_t id = c.AddStream(peer.Url(), "", "", 1);
    std::vector<uint8_t> buf(2 * qelm::AccessUnitAssembler::kMaxAccessUnit);
    int frames = 0, tooLarge = 0;
    WaitFor(
        [&] {
            int32_t len = static_cast<int32_t>(buf.size());
            MediaFrameHeader h{};
            int32_t hlen = sizeof h;
            int32_t r = c.ReadVideoFrame(id, id, buf.data(), &len, reinterpret_cast<uint8_t*>(&h), &hlen);
            frames += r == 0;
            tooLarge += r == -3;
            return frames >= 60;
        },
        180000);   // 70 MB through libav's parser takes seconds under the sanitizers
    c.DelStream(id);
    qelm::SetPlatformLogSink({});
    EXPECT_EQ(tooLarge, 0) << "a unit over the limit was queued";
    EXPECT_GE(frames, 60) << "the pictures after the long unit did not come";
    EXPECT_EQ(sink.Count(id, StreamPullControl::kStatusFailed), 0);
    std::lock_guard<std::mutex> g(logLock);
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& l) {
        return l.find("access unit of over") != std::string::npos && l.find("dropped") != std::string::npos;
    }));
}

// The cap refuses blocks no real stream needs and leaves room for those a
// 4K or 8K stream does.
TEST(MediaAllocationCap, RefusesHugeBlocksAndStillDecodesA4KKeyFrame)
{
    qelm::LimitMediaAllocations();
    for (size_t n : {qelm::kMaxMediaAllocation + 1, size_t(2000000000)}) {
        void* p = av_malloc(n);
        EXPECT_EQ(p, nullptr) << n;
        av_free(p);
    }
    uint8_t* planes[4] = {};
    int strides[4] = {};
    EXPECT_GT(av_image_alloc(planes, strides, 7680, 4320, AV_PIX_FMT_YUV420P, 1), 0) << "an 8K YUV snapshot";
    av_freep(&planes[0]);

    const std::string file = avitest::Streams::Get().Make(
        "uhd.h264", "-f lavfi -i testsrc2=size=3840x2160:rate=25 -frames:v 1 -c:v libx264 -preset ultrafast "
                    "-pix_fmt yuv420p -f h264");
    ASSERT_FALSE(file.empty());
    const std::vector<uint8_t> frame = mp4test::ReadFile(file);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ASSERT_TRUE(ctx);
    ASSERT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* f = av_frame_alloc();
    ASSERT_EQ(av_new_packet(pkt, static_cast<int>(frame.size())), 0);
    memcpy(pkt->data, frame.data(), frame.size());
    EXPECT_EQ(avcodec_send_packet(ctx, pkt), 0);
    avcodec_send_packet(ctx, nullptr);
    EXPECT_EQ(avcodec_receive_frame(ctx, f), 0);
    EXPECT_EQ(f->width, 3840);
    EXPECT_EQ(f->height, 2160);
    av_frame_free(&f);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
}

} // namespace
