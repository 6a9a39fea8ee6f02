// The relay library stand-in: its journal, what it answers without peers,
// the ownership of the records it hands to the message window, and its
// callbacks on its own thread.
#include "controls/ts_relay.h"

#include "controls/journal.h"
#include "platform/message.h"
#include "platform/wnd.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include "tests/support/scoped_env.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using qelm::Journal;
using qelmtest::ScopedEnv;

namespace {

const char kName[] = "00:11:22:33:44:55:127.0.0.9";

void Pump()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Waits (pumping the UI thread) until cond holds; false after a generous deadline.
bool PumpUntil(const std::function<bool()>& cond)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Everything queued on the library's thread before this call has run when it
// returns: the question travels the same queue.
void DrainCallbackThread()
{
    TS_SetGetUserIdCallback([](const char*, void*) { return 77; }, nullptr);
    ASSERT_EQ(qelm::ts::QueryUserId("barrier"), 77);
}

std::vector<std::string> ReadLines(const fs::path& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

class TsRelayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TS_Init();
        m_baseline = qelm::ts::LiveAllocations();
    }
    void TearDown() override
    {
        TS_Release();
        Pump();
        EXPECT_EQ(qelm::ts::LiveAllocations(), m_baseline) << "library records leaked";
    }
    std::size_t m_baseline = 0;
};

// --- journal and the answers of a library without peers ----------------------------

struct CallCase {
    const char* what;
    std::function<int()> call;
    std::vector<std::string> fields; // the journal line
};

TEST_F(TsRelayTest, EveryCallIsJournaledWithItsArgumentsAndAnswer)
{
    char dir[] = "/tmp/qelm2-ts-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const fs::path journal = fs::path(dir) / "journal.txt";
    ScopedEnv env("QELM2_JOURNAL", journal.c_str());

    VideoParam video{};
    std::strcpy(video.codecName, "H264");
    TsSystemTime end{2026, 12, 5, 11, 23, 59, 58, 0};
    int live = 0;

    std::vector<CallCase> cases = {
        {"serve on a local address", [] { return TS_StartTS("127.0.0.1", 7000, 16, 8); },
         {"call", "TS_StartTS", "127.0.0.1", "7000", "16", "8", "=1"}},
        {"limits changed while serving", [] { return TS_ModifyChannelCount(32, 4); },
         {"call", "TS_ModifyChannelCount", "32", "4", "=1"}},
        {"no limits of zero", [] { return TS_ModifyChannelCount(0, 4); },
         {"call", "TS_ModifyChannelCount", "0", "4", "=0"}},
        {"stop", [] { return TS_StopTS(); }, {"call", "TS_StopTS", "=1"}},
        {"stop again", [] { return TS_StopTS(); }, {"call", "TS_StopTS", "=0"}},
        {"limits refused when not serving", [] { return TS_ModifyChannelCount(32, 4); },
         {"call", "TS_ModifyChannelCount", "32", "4", "=0"}},
        {"no server on a host name", [] { return TS_StartTS("server.example", 7000, 16, 8); },
         {"call", "TS_StartTS", "server.example", "7000", "16", "8", "=0"}},
        {"no server on port 0", [] { return TS_StartTS("127.0.0.1", 0, 16, 8); },
         {"call", "TS_StartTS", "127.0.0.1", "0", "16", "8", "=0"}},
        {"login to nobody is refused, digest not written",
         [] { return TS_Login("127.0.0.1", 9000, "admin", "E10ADC3949BA59ABBE56E057F20F883E"); },
         {"call", "TS_Login", "127.0.0.1", "9000", "admin", "***", "=0"}},
        {"unknown login: list not asked", [] { return TS_InviteDeviceList(5); },
         {"call", "TS_InviteDeviceList", "5", "=0"}},
        {"unknown login: not inner", [] { return TS_IsInnerIp(5); }, {"call", "TS_IsInnerIp", "5", "=0"}},
        {"video invitation", [] { return TS_InviteDeviceVideo(5, kName, 1, 3); },
         {"call", "TS_InviteDeviceVideo", "5", kName, "1", "3", "=0"}},
        {"PTZ direction", [] { return TS_SetPtzDirection(5, kName, 1, 0, 9, 4, 6); },
         {"call", "TS_SetPtzDirection", "5", kName, "1", "0", "9", "4", "6", "=0"}},
        {"preset text with line breaks",
         [] { return TS_SetPtzPreset(5, kName, 0, 2, 3, "<xml>\n<cmd>callpreset</cmd>\n</xml>"); },
         {"call", "TS_SetPtzPreset", "5", kName, "0", "2", "3", "<xml>\n<cmd>callpreset</cmd>\n</xml>", "=0"}},
        {"nobody waits for a preset list", [] { return TS_RspInvitePreset(kName, 0, 0, "1^1^"); },
         {"call", "TS_RspInvitePreset", kName, "0", "0", "1^1^", "=0"}},
        {"relay file search",
         [&] { return TS_InviteReplaySearch(5, kName, 2, 0, 3, 1, 1, 0, 46361.5, &end, -2, 1048576); },
         {"call", "TS_InviteReplaySearch", "5", kName, "2", "0", "3", "1", "1", "0", "46361.5", "2026-12-11 23:59:58",
          "-2", "1048576", "=0"}},
        {"download start refused", [] { return TS_InviteDloadStart(5, kName, 1, 0, 1, "/rec/a.avi"); },
         {"call", "TS_InviteDloadStart", "5", kName, "1", "0", "1", "/rec/a.avi", "=0"}},
        {"device list answer", [] { return TS_RspDeviceList(0, 12, nullptr, 0); },
         {"call", "TS_RspDeviceList", "0", "12", "0", "0", "=1"}},
        {"a count without items is not sent", [] { return TS_RspDeviceList(0, 12, nullptr, 3); },
         {"call", "TS_RspDeviceList", "0", "12", "0", "3", "=0"}},
        {"refused video answer opens no session",
         [] { return TS_RspDeviceVideo(1, kName, 1, 0, 9, 44, nullptr, nullptr); },
         {"call", "TS_RspDeviceVideo", "1", kName, "1", "0", "9", "44", "", "", "=0"}},
        {"video answer opens a live session",
         [&] { return live = TS_RspDeviceVideo(0, kName, 1, 0, 9, 45, &video, nullptr); },
         {"call", "TS_RspDeviceVideo", "0", kName, "1", "0", "9", "45", "H264", "", "=live"}},
    };
    for (const CallCase& c : cases)
        c.call();
    EXPECT_GT(live, 0);
    cases.back().fields.back() = "=" + std::to_string(live);

    TsFrameInfo info{1, 0, 40.0, 1, 0};
    TS_ReportAVData(live, kName, 1, 0, 0, "abcd", 4, &info);
    TS_CloseDeviceVideo(live);
    TS_ReportAVData(live, kName, 1, 0, 0, "abcd", 4, &info);

    const std::vector<std::string> lines = ReadLines(journal);
    ASSERT_EQ(lines.size(), cases.size() + 3);
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(Journal::ParseLine(lines[i]), cases[i].fields) << cases[i].what;
    const std::string h = std::to_string(live);
    EXPECT_EQ(Journal::ParseLine(lines[cases.size()]),
              (std::vector<std::string>{"call", "TS_ReportAVData", h, kName, "1", "0", "0", "4", "1", "1", "=1"}));
    EXPECT_EQ(Journal::ParseLine(lines[cases.size() + 1]),
              (std::vector<std::string>{"call", "TS_CloseDeviceVideo", h, "=1"}));
    EXPECT_EQ(Journal::ParseLine(lines[cases.size() + 2]),
              (std::vector<std::string>{"call", "TS_ReportAVData", h, kName, "1", "0", "0", "4", "1", "1", "=0"}))
        << "frames of a closed session go nowhere";
    fs::remove_all(dir);
}

// --- records ----------------------------------------------------------------------

TEST(TsRelayRecords, DeviceEntryPacksIntoTheFixedFormCutAtACharacter)
{
    struct Case {
        const char* what;
        std::string name;
        std::string expected;
    };
    std::string hundred, hundredThirty, cut;
    for (int i = 0; i < 100; ++i)
        hundred += "\xE5\x8D\x97"; // 南: 3 bytes UTF-8, 2 bytes GB18030
    for (int i = 0; i < 130; ++i)
        hundredThirty += "\xE5\x8D\x97";
    for (int i = 0; i < 127; ++i)
        cut += "\xE5\x8D\x97"; // 255 bytes of field hold 127 whole characters
    const std::vector<Case> cases = {
        {"plain", "Gate-1", "Gate-1"},
        {"100 characters of 300 bytes fit the 256-byte field", hundred, hundred},
        {"130 characters are cut after 127", hundredThirty, cut},
    };
    for (const Case& c : cases) {
        RelayDevItem item;
        item.Type = 4;
        std::strcpy(item.Ip, "127.0.0.5");
        std::memcpy(item.DevName, c.name.data(), c.name.size());
        std::strcpy(item.Mac, "00:11:22:33:44:55");
        item.ParentIndex = 2;
        item.Index = 7;
        item.State = 3;
        item.StreamFlag = 1;
        RelayDevRecord rec;
        std::memset(&rec, 0xAB, sizeof rec);
        qelm::ts::PackRelayDevItem(item, "SN-0042", &rec);
        EXPECT_EQ(rec.DevName[sizeof rec.DevName - 1], '\0') << c.what;
        EXPECT_STREQ(rec.DevSN, "SN-0042");
        const RelayDevItem back = qelm::ts::UnpackRelayDevItem(rec);
        EXPECT_EQ(std::string(back.DevName), c.expected) << c.what;
        EXPECT_STREQ(back.Ip, "127.0.0.5");
        EXPECT_STREQ(back.Mac, "00:11:22:33:44:55");
        EXPECT_EQ(back.Type, 4);
        EXPECT_EQ(back.ParentIndex, 2);
        EXPECT_EQ(back.Index, 7);
        EXPECT_EQ(back.State, 3);
        EXPECT_EQ(back.StreamFlag, 1);
    }
    // The byte positions a peer reads.
    RelayDevRecord rec{};
    rec.SecondStream = 0x01020304;
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&rec)[356], 0x04);
}

TEST_F(TsRelayTest, DeleteRefusesWhatTheLibraryDidNotGiveOrGotBack)
{
    TsNameRecord onStack{};
    auto* onHeap = new TsNameRecord{};
    auto* ours = qelm::ts::NewRecord<TsNameRecord>();
    char* array = qelm::ts::NewArray(nullptr, 64);

    EXPECT_EQ(TS_Delete(nullptr, TS_DELETE_RECORD), 0);
    EXPECT_EQ(TS_Delete(&onStack, TS_DELETE_RECORD), 0);
    EXPECT_EQ(TS_Delete(onHeap, TS_DELETE_RECORD), 0);
    EXPECT_EQ(TS_Delete(reinterpret_cast<char*>(ours) + 4, TS_DELETE_RECORD), 0) << "inside a record";
    EXPECT_EQ(TS_Delete(ours, TS_DELETE_RECORD), 1);
    EXPECT_EQ(TS_Delete(array, TS_DELETE_ARRAY), 1);
    EXPECT_EQ(qelm::ts::LiveAllocations(), m_baseline);
    delete onHeap; // still the caller's
}

TEST_F(TsRelayTest, ArraysGoWithTheirRecordUnlessReleasedFirst)
{
    // The handler releases the array first, as it should.
    auto* list = qelm::ts::NewRecord<TsDevListRecord>();
    list->pItems = qelm::ts::NewDevArray(list, 3);
    list->nCount = 3;
    EXPECT_EQ(TS_Delete(list->pItems, TS_DELETE_ARRAY), 1);
    EXPECT_EQ(TS_Delete(list, TS_DELETE_RECORD), 1);

    // The handler forgot the array: it goes with the record, once.
    auto* end = qelm::ts::NewRecord<TsSearchEnd>();
    end->pText = qelm::ts::NewArray(end, 100);
    char* text = end->pText;
    EXPECT_EQ(TS_Delete(end, TS_DELETE_RECORD), 1);
    EXPECT_EQ(TS_Delete(text, TS_DELETE_ARRAY), 0);
    EXPECT_EQ(qelm::ts::LiveAllocations(), m_baseline);
}

// --- delivery to the message window ------------------------------------------------

class CRelayHostWnd : public CWnd {
public:
    std::atomic<int> handled{0};
    std::atomic<int> released{0};
    std::vector<std::string> names;
    std::vector<LPARAM> handles;
    std::thread::id handlerThread;
    int loginCheckAnswer = 0;

protected:
    LRESULT OnVideoReq(WPARAM w, LPARAM l)
    {
        auto* rec = reinterpret_cast<TsVideoRequest*>(w);
        handlerThread = std::this_thread::get_id();
        names.emplace_back(rec->szName);
        handles.push_back(l);
        Release(rec);
        return 0;
    }
    LRESULT OnDevList(WPARAM w, LPARAM)
    {
        auto* rec = reinterpret_cast<TsDevListRecord*>(w);
        if (rec->pItems)
            released += TS_Delete(rec->pItems, TS_DELETE_ARRAY);
        Release(rec);
        return 0;
    }
    LRESULT OnAlarm(WPARAM w, LPARAM l)
    {
        released += TS_Delete(reinterpret_cast<void*>(l), TS_DELETE_RECORD);
        Release(reinterpret_cast<void*>(w));
        return 0;
    }
    LRESULT OnLoginCheck(WPARAM w, LPARAM l)
    {
        names.emplace_back(reinterpret_cast<const char*>(w));
        names.emplace_back(reinterpret_cast<const char*>(l));
        return loginCheckAnswer;
    }
    void Release(void* rec)
    {
        ++handled;
        released += TS_Delete(rec, TS_DELETE_RECORD);
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CRelayHostWnd, CWnd)
    ON_MESSAGE(WM_TS_VIDEO_REQ, &CRelayHostWnd::OnVideoReq)
    ON_MESSAGE(WM_TS_DEVLIST, &CRelayHostWnd::OnDevList)
    ON_MESSAGE(WM_TS_ALARM, &CRelayHostWnd::OnAlarm)
    ON_MESSAGE(WM_TS_LOGIN_CHECK, &CRelayHostWnd::OnLoginCheck)
END_MESSAGE_MAP()

TEST_F(TsRelayTest, RequestReachesTheMessageWindowOnTheUiThread)
{
    CRelayHostWnd wnd;
    ASSERT_TRUE(wnd.Create(nullptr, CRect(0, 0, 10, 10)));
    TS_SetMsgWnd(wnd.m_hWnd);

    std::thread library([] {
        auto* req = qelm::ts::NewRecord<TsVideoRequest>();
        std::strcpy(req->szName, kName);
        req->nStreamType = 1;
        EXPECT_TRUE(qelm::ts::DeliverToWindow(WM_TS_VIDEO_REQ, reinterpret_cast<WPARAM>(req), 31));
    });
    library.join();
    ASSERT_TRUE(PumpUntil([&] { return wnd.handled == 1; }));
    EXPECT_EQ(wnd.handlerThread, std::this_thread::get_id());
    EXPECT_EQ(wnd.names, std::vector<std::string>{kName});
    EXPECT_EQ(wnd.handles, std::vector<LPARAM>{31});
    EXPECT_EQ(wnd.released, 1);
    TS_SetMsgWnd(nullptr);
}

struct UndeliveredCase {
    const char* what;
    UINT msg;
    bool withWindow;
    bool posted;
};

TEST_F(TsRelayTest, UndeliveredRecordsAreReleasedOnce)
{
    const std::vector<UndeliveredCase> cases = {
        {"no handler for the message", WM_TS_PTZ, true, true},
        {"an alarm without handler releases both records", WM_TS_ALARM, false, false},
        {"no message window", WM_TS_VIDEO_REQ, false, false},
        {"a number the library does not post", WM_USER + 8001, true, false},
    };
    for (const UndeliveredCase& c : cases) {
        CWnd wnd; // maps nothing
        ASSERT_TRUE(wnd.Create(nullptr, CRect(0, 0, 10, 10)));
        TS_SetMsgWnd(c.withWindow ? wnd.m_hWnd : nullptr);
        const long freedBefore = qelm::UndeliveredPayloadsFreed();
        auto* rec = qelm::ts::NewRecord<TsPtzRequest>();
        LPARAM l = 5;
        if (c.msg == WM_TS_ALARM)
            l = reinterpret_cast<LPARAM>(qelm::ts::NewRecord<_ALARM_INFO>());
        EXPECT_EQ(qelm::ts::DeliverToWindow(c.msg, reinterpret_cast<WPARAM>(rec), l), c.posted) << c.what;
        Pump();
        EXPECT_EQ(qelm::ts::LiveAllocations(), m_baseline) << c.what;
        EXPECT_EQ(qelm::UndeliveredPayloadsFreed() - freedBefore, c.posted ? 1 : 0) << c.what;
    }
    TS_SetMsgWnd(nullptr);
}

TEST_F(TsRelayTest, ForeignRecordIsNeitherPostedNorFreed)
{
    CRelayHostWnd wnd;
    ASSERT_TRUE(wnd.Create(nullptr, CRect(0, 0, 10, 10)));
    TS_SetMsgWnd(wnd.m_hWnd);
    TsVideoRequest onStack{};
    EXPECT_FALSE(qelm::ts::DeliverToWindow(WM_TS_VIDEO_REQ, reinterpret_cast<WPARAM>(&onStack), 1));
    EXPECT_FALSE(qelm::ts::DeliverToWindow(WM_TS_VIDEO_REQ, 0, 1));
    Pump();
    EXPECT_EQ(wnd.handled, 0);
    TS_SetMsgWnd(nullptr);
}

TEST_F(TsRelayTest, StormOfDeliveriesToAWindowDestroyedMeanwhile)
{
    auto* wnd = new CRelayHostWnd;
    ASSERT_TRUE(wnd->Create(nullptr, CRect(0, 0, 10, 10)));
    TS_SetMsgWnd(wnd->m_hWnd);
    const long freedBefore = qelm::UndeliveredPayloadsFreed();

    constexpr int kThreads = 4;
    constexpr int kEach = 300;
    std::atomic<int> posted{0};
    std::atomic<int> started{0};
    std::vector<std::thread> library;
    for (int t = 0; t < kThreads; ++t) {
        library.emplace_back([&, t] {
            ++started;
            for (int i = 0; i < kEach; ++i) {
                bool ok = false;
                switch ((i + t) % 3) {
                case 0: {
                    auto* req = qelm::ts::NewRecord<TsVideoRequest>();
                    std::strcpy(req->szName, kName);
                    ok = qelm::ts::DeliverToWindow(WM_TS_VIDEO_REQ, reinterpret_cast<WPARAM>(req), i);
                    break;
                }
                case 1: {
                    auto* list = qelm::ts::NewRecord<TsDevListRecord>();
                    list->nCount = 1 + i % 4;
                    list->pItems = qelm::ts::NewDevArray(list, list->nCount);
                    ok = qelm::ts::DeliverToWindow(WM_TS_DEVLIST, reinterpret_cast<WPARAM>(list), 3);
                    break;
                }
                default: {
                    auto* name = qelm::ts::NewRecord<TsNameRecord>();
                    auto* alarm = qelm::ts::NewRecord<_ALARM_INFO>();
                    ok = qelm::ts::DeliverToWindow(WM_TS_ALARM, reinterpret_cast<WPARAM>(name),
                                                   reinterpret_cast<LPARAM>(alarm));
                    break;
                }
                }
                if (ok)
                    ++posted;
            }
        });
    }
    // Let some be handled, then destroy the window while the rest arrive.
    ASSERT_TRUE(PumpUntil([&] { return wnd->handled >= 50; }));
    const int handledBeforeDestroy = wnd->handled;
    const int releasedBeforeDestroy = wnd->released;
    delete wnd;
    for (auto& t : library)
        t.join();
    Pump();

    EXPECT_EQ(qelm::ts::LiveAllocations(), m_baseline) << "every record released";
    // Whatever was posted was either handled or released by the window layer.
    EXPECT_EQ(handledBeforeDestroy + (qelm::UndeliveredPayloadsFreed() - freedBefore), posted.load());
    EXPECT_GE(releasedBeforeDestroy, handledBeforeDestroy);
    TS_SetMsgWnd(nullptr);
}

TEST_F(TsRelayTest, LoginCheckIsAskedOfTheWindow)
{
    CRelayHostWnd wnd;
    ASSERT_TRUE(wnd.Create(nullptr, CRect(0, 0, 10, 10)));
    EXPECT_EQ(qelm::ts::AskLoginCheck("admin", "ABC"), 1) << "no window: refused";
    TS_SetMsgWnd(wnd.m_hWnd);
    for (int answer : {0, 1}) {
        wnd.loginCheckAnswer = answer;
        std::atomic<int> got{-1};
        std::thread peer([&] { got = qelm::ts::AskLoginCheck("admin", "ABC"); });
        ASSERT_TRUE(PumpUntil([&] { return got != -1; }));
        peer.join();
        EXPECT_EQ(got, answer);
    }
    EXPECT_EQ(wnd.names, (std::vector<std::string>{"admin", "ABC", "admin", "ABC"}));
    TS_SetMsgWnd(nullptr);
}

// --- callbacks -----------------------------------------------------------------------

struct Recorder {
    std::mutex mutex;
    std::vector<std::thread::id> threads;
    std::vector<std::string> items;
    std::atomic<int> calls{0};

    void Add(const std::string& item)
    {
        std::lock_guard<std::mutex> lock(mutex);
        threads.push_back(std::this_thread::get_id());
        items.push_back(item);
        ++calls;
    }
};

int RealData(const char* name, int stream, int channel, int kind, const char* data, int len,
             const TsFrameInfo* info, void* user)
{
    static_cast<Recorder*>(user)->Add(std::string(name) + "/" + std::to_string(stream) + "/" +
                                      std::to_string(channel) + "/" + std::to_string(kind) + "/" +
                                      std::string(data, static_cast<std::size_t>(len)) + "/" +
                                      std::to_string(info->nSeq));
    return 1;
}

int ReplayData(int login, const TsReplayKey*, int, int, int kind, const char*, int len, const TsFrameInfo*,
               const char* path, void* user)
{
    static_cast<Recorder*>(user)->Add("R" + std::to_string(login) + path + ":" + std::to_string(kind) + ":" +
                                      std::to_string(len));
    return 1;
}

int ByDateData(int login, const char* name, int channel, int, const char*, int, const TsFrameInfo*,
               const VideoParam* video, const AudioParam*, int newFile, int, int startSec, void* user)
{
    static_cast<Recorder*>(user)->Add("D" + std::to_string(login) + name + ":" + std::to_string(channel) + ":" +
                                      (video ? video->codecName : "-") + ":" + std::to_string(newFile) + ":" +
                                      std::to_string(startSec));
    return 1;
}

int DownloadData(int login, const char*, int, int, int, const char*, int len, int64_t received, int64_t total,
                 const char* path, void* user)
{
    static_cast<Recorder*>(user)->Add("L" + std::to_string(login) + path + ":" + std::to_string(len) + ":" +
                                      std::to_string(received) + "/" + std::to_string(total));
    return 1;
}

TEST_F(TsRelayTest, CallbacksRunOnTheLibraryThreadWithTheirData)
{
    Recorder rec;
    TS_SetRealDataCallback(RealData, kName, 1, 2, &rec);
    TS_SetRealReplayCallback(ReplayData, &rec);
    TS_SetReplayByDateCallback(ByDateData, &rec);
    TS_SetDownloadRealDataCallback(DownloadData, &rec);
    TS_SetGetUserIdCallback(
        [](const char* name, void* user) {
            static_cast<Recorder*>(user)->Add(std::string("U") + name);
            return 12;
        },
        &rec);

    TsFrameInfo info{1, 0, 80.0, 5, 0};
    VideoParam video{};
    std::strcpy(video.codecName, "H264");
    TsReplayKey key{};
    ASSERT_TRUE(qelm::ts::FeedRealData(kName, 1, 2, 0, "frame", 5, info));
    ASSERT_TRUE(qelm::ts::FeedRealData(kName, 0, 2, 0, "other stream", 12, info)); // nobody registered
    ASSERT_TRUE(qelm::ts::FeedReplayData(3, key, 1, "abc", 3, info, "/r/a.avi"));
    ASSERT_TRUE(qelm::ts::FeedReplayDataByDate(3, kName, 2, 0, "abcd", 4, info, &video, nullptr, 1, 600, 3600));
    ASSERT_TRUE(qelm::ts::FeedDownloadData(3, kName, 0, 0, "0123456789", 10, 10, 4294967306LL, "/r/b.avi"));
    EXPECT_EQ(qelm::ts::QueryUserId(kName), 12);

    std::lock_guard<std::mutex> lock(rec.mutex);
    EXPECT_EQ(rec.items, (std::vector<std::string>{
                             std::string(kName) + "/1/2/0/frame/5",
                             "R3/r/a.avi:1:3",
                             "D3" + std::string(kName) + ":2:H264:1:3600",
                             "L3/r/b.avi:10:10/4294967306",
                             "U" + std::string(kName),
                         }));
    for (const std::thread::id& id : rec.threads)
        EXPECT_NE(id, std::this_thread::get_id()) << "a callback ran on the UI thread";
}

// A callback held inside until the test lets it go.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    std::atomic<int> entered{0};
    std::atomic<int> returned{0};

    void Pass()
    {
        ++entered;
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return open; });
        ++returned;
    }
    void Open()
    {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        cv.notify_all();
    }
};

int GatedRealData(const char*, int, int, int, const char*, int, const TsFrameInfo*, void* user)
{
    static_cast<Gate*>(user)->Pass();
    return 1;
}

int GatedReplay(int, const TsReplayKey*, int, int, int, const char*, int, const TsFrameInfo*, const char*,
                void* user)
{
    static_cast<Gate*>(user)->Pass();
    return 1;
}

int GatedByDate(int, const char*, int, int, const char*, int, const TsFrameInfo*, const VideoParam*,
                const AudioParam*, int, int, int, void* user)
{
    static_cast<Gate*>(user)->Pass();
    return 1;
}

int GatedDownload(int, const char*, int, int, int, const char*, int, int64_t, int64_t, const char*, void* user)
{
    static_cast<Gate*>(user)->Pass();
    return 1;
}

struct CloseCase {
    const char* what;
    std::function<void(Gate*)> registerCb;
    std::function<bool()> feed;
    std::function<void()> close;
    std::function<void()> reopen; // null: nothing reopens it
};

TEST_F(TsRelayTest, NothingIsCalledOnceARegistrationOrSessionIsGone)
{
    const TsFrameInfo info{};
    const TsReplayKey key{};
    const std::vector<CloseCase> cases = {
        {"live channel closed by the client",
         [](Gate* g) { TS_SetRealDataCallback(GatedRealData, kName, 1, 0, g); },
         [&] { return qelm::ts::FeedRealData(kName, 1, 0, 0, "f", 1, info); },
         [] { TS_InviteCloseDeviceVideo(4, kName, 1, 0); }, nullptr},
        {"live callback removed",
         [](Gate* g) { TS_SetRealDataCallback(GatedRealData, kName, 0, 3, g); },
         [&] { return qelm::ts::FeedRealData(kName, 0, 3, 0, "f", 1, info); },
         [] { TS_SetRealDataCallback(nullptr, kName, 0, 3, nullptr); }, nullptr},
        {"replay stopped",
         [](Gate* g) { TS_SetRealReplayCallback(GatedReplay, g); },
         [&] { return qelm::ts::FeedReplayData(4, key, 0, "f", 1, info, "/r/x.avi"); },
         [&] { TS_InviteReplayStop(4, &key, 0, 0, "/r/x.avi"); },
         [] { TS_InviteReplayStart(4, kName, 1, 0, 1, "/r/x.avi"); }},
        {"by-date replay stopped",
         [](Gate* g) { TS_SetReplayByDateCallback(GatedByDate, g); },
         [&] {
             return qelm::ts::FeedReplayDataByDate(4, kName, 1, 0, "f", 1, info, nullptr, nullptr, 0, 0, 0);
         },
         [] { TS_InviteReplayStopByDate(4, kName, 1); },
         [] { TS_InviteReplayStartByDate(4, kName, 1, 46361.0, 0); }},
        {"download stopped",
         [](Gate* g) { TS_SetDownloadRealDataCallback(GatedDownload, g); },
         [&] { return qelm::ts::FeedDownloadData(4, kName, 0, 0, "f", 1, 1, 10, "/r/y.avi"); },
         [] { TS_InviteDloadStop(4, kName, 1, 0, "/r/y.avi"); },
         [] { TS_InviteDloadStart(4, kName, 1, 0, 1, "/r/y.avi"); }},
        {"replay callback removed",
         [](Gate* g) { TS_SetRealReplayCallback(GatedReplay, g); },
         [&] { return qelm::ts::FeedReplayData(4, key, 0, "f", 1, info, "/r/z.avi"); },
         [] { TS_SetRealReplayCallback(nullptr, nullptr); }, nullptr},
        {"parent server logged out",
         [](Gate* g) { TS_SetDownloadRealDataCallback(GatedDownload, g); },
         [&] { return qelm::ts::FeedDownloadData(6, kName, 0, 0, "f", 1, 1, 10, "/r/v.avi"); },
         [] { TS_LoginOut(6); }, nullptr},
    };
    for (const CloseCase& c : cases) {
        Gate gate;
        c.registerCb(&gate);
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(c.feed()) << c.what;
        ASSERT_TRUE(PumpUntil([&] { return gate.entered == 1; })) << c.what;

        // The first call is inside its callback; the close must wait it out
        // and drop the four queued behind it.
        std::thread opener([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            gate.Open();
        });
        c.close();
        EXPECT_EQ(gate.returned, 1) << c.what << ": the close returned while the callback ran";
        opener.join();
        ASSERT_TRUE(c.feed()) << c.what;
        DrainCallbackThread();
        EXPECT_EQ(gate.entered, 1) << c.what << ": called after the close";

        if (c.reopen) {
            c.reopen();
            ASSERT_TRUE(c.feed());
            DrainCallbackThread();
            EXPECT_EQ(gate.entered, 2) << c.what << ": a new session of the same name is delivered";
        }
        TS_SetRealReplayCallback(nullptr, nullptr);
        TS_SetReplayByDateCallback(nullptr, nullptr);
        TS_SetDownloadRealDataCallback(nullptr, nullptr);
    }
}

// The by-date callback sends to a page window (the player stop); the UI
// thread stopping the library meanwhile must not deadlock with it.
constexpr UINT WM_TEST_PLAYER_STOP = WM_USER + 6001;

class CPageWnd : public CWnd {
public:
    std::atomic<int> stops{0};

protected:
    LRESULT OnPlayerStop(WPARAM, LPARAM)
    {
        ++stops;
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CPageWnd, CWnd)
    ON_MESSAGE(WM_TEST_PLAYER_STOP, &CPageWnd::OnPlayerStop)
END_MESSAGE_MAP()

struct SendingCallback {
    Gate gate;
    HWND page = nullptr;
};

int SendingByDate(int, const char*, int, int, const char*, int, const TsFrameInfo*, const VideoParam*,
                  const AudioParam*, int, int, int, void* user)
{
    auto* s = static_cast<SendingCallback*>(user);
    s->gate.Pass();
    SendMessage(s->page, WM_TEST_PLAYER_STOP, 0, 0);
    return 1;
}

TEST_F(TsRelayTest, StopWaitsOutACallbackThatSendsToTheUiThread)
{
    CPageWnd page;
    ASSERT_TRUE(page.Create(nullptr, CRect(0, 0, 10, 10)));
    SendingCallback cb;
    cb.page = page.m_hWnd;
    TS_SetReplayByDateCallback(SendingByDate, &cb);
    const TsFrameInfo info{};
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(qelm::ts::FeedReplayDataByDate(4, kName, 1, 0, "f", 1, info, nullptr, nullptr, 0, 0, 0));
    ASSERT_TRUE(PumpUntil([&] { return cb.gate.entered == 1; }));
    cb.gate.Open(); // it now sends to this thread, which is about to stop the library
    EXPECT_EQ(TS_StopTS(), 0);
    EXPECT_EQ(page.stops, 1);
    EXPECT_EQ(cb.gate.returned, 1);
    EXPECT_EQ(cb.gate.entered, 1) << "what was queued behind it is dropped";

    // The library serves callbacks again after a stop.
    ASSERT_TRUE(qelm::ts::FeedReplayDataByDate(4, kName, 1, 0, "f", 1, info, nullptr, nullptr, 0, 0, 0));
    ASSERT_TRUE(PumpUntil([&] { return page.stops == 2; }));
}

TEST_F(TsRelayTest, ReleasedLibraryTakesNoMedia)
{
    Recorder rec;
    TS_SetRealDataCallback(RealData, kName, 1, 0, &rec);
    TS_Release();
    EXPECT_FALSE(qelm::ts::FeedRealData(kName, 1, 0, 0, "f", 1, TsFrameInfo{}));
    EXPECT_EQ(qelm::ts::QueryUserId(kName), 0);
    TS_Init();
    ASSERT_TRUE(qelm::ts::FeedRealData(kName, 1, 0, 0, "f", 1, TsFrameInfo{}));
    DrainCallbackThread();
    EXPECT_EQ(rec.calls, 0) << "the release forgot the registration";
}

} // namespace
