// Tests of the cloud-account client against a scripted fake server on
// 127.0.0.1: exact request bytes, the login scrambling, every result code,
// silence, refusal, cut-off and oversized replies.
#include "core/cloud_client.h"

#include "core/textutil.h"
#include "tests/support/fake_cloud_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kTestTimeoutMs = 1000; // short enough for the time-out cases, long for a busy machine

using namespace fakecloud;

const std::string kContentType = "Content-Type: application/x-www-form-urlencoded; charset=UTF-8\t\t\t\t\t   \r\n";

std::string RandomRequest(int port)
{
    return "POST /comm/getrand.php HTTP/1.0\r\nAccept-Language: zh-cn\nAccept: */*;\r\n" + kContentType +
           "User-Agent: Mivra/dev\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nContent-Length: 0\r\nConnection: Keep-Alive\r\n\r\n";
}

std::string LoginRequest(const std::string& cookie, const std::string& body)
{
    return "POST /client/login.php HTTP/1.0\r\nAccept-Language: zh-cn\nAccept: */*;\r\n" + kContentType +
           "User-Agent: Mivra/dev\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: Keep-Alive\r\nCookie:" + cookie + "\r\n\r\n" + body;
}

const std::string kRandomReply =
    Http("<xml><rnd>15</rnd></xml>", "Set-Cookie: PHPSESSID=abc; path=/\r\n");

// Credential of <xml><user>ADMIN</user><pass>ZZZZ~~~~</pass></xml> with the
// random "15", computed independently; it holds "/", "+" and "=".
const std::string kCredential15 = "BRoLXw9fQhUDQghzfX5/LwUZEUAGSlxYQQdLFQw8PGk+GBtLTQ8ZRAMWQ11eFkgIDg0=";

class CloudClientTest : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("QELM2_LOOPBACK_ONLY", "1", 1); // nothing may leave this machine
        SetCloudTimeout(kTestTimeoutMs);
        SetCloudAccountServer("127.0.0.1", m_server.port());
        SetCloudReportServer("127.0.0.1", m_server.port());
        ResetCloudSession();
    }
    void TearDown() override
    {
        SetCloudTimeout(0);
        SetCloudAccountServer(nullptr, 0);
        SetCloudReportServer(nullptr, 0);
        ResetCloudSession();
    }
    int Post(const std::string& request, char* body, int* len, char* cookie = nullptr)
    {
        return HttpPostRaw(cookie, cookie ? kCloudCookieSize : 0, len, "127.0.0.1", m_server.port(),
                           request.data(), static_cast<int>(request.size()), body);
    }
    FakeCloudServer m_server;
};

TEST(CloudScrambleTest, LoginKeyAndEncodedCredential)
{
    char key[129];
    EXPECT_EQ(BuildLoginKey("12345", key), 128);
    EXPECT_STREQ(key, "827ccb0eea8a706c4c34a16891f84e7b5c61fe65f294e6880b5cbeea038ae420"
                      "da1df62d0428280179d0170450c8d639a38ddaf102a8224f5b0dbc7b88562bc7");
    EXPECT_EQ(BuildLoginKey("", key), 128);
    EXPECT_EQ(std::string(key, 32), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(BuildLoginKey(nullptr, key), -2);
    EXPECT_EQ(BuildLoginKey("1", nullptr), -2);

    std::vector<char> out(kCloudCredentialSize);
    const std::string xml = "<xml><user>ADMIN</user><pass>ZZZZ~~~~</pass></xml>";
    EXPECT_EQ(EncodeLoginXml("15", xml.data(), static_cast<int>(xml.size()), out.data()),
              static_cast<int>(kCredential15.size()));
    EXPECT_EQ(out.data(), kCredential15);
    EXPECT_EQ(EncodeLoginXml(nullptr, xml.data(), 3, out.data()), -2);
    EXPECT_EQ(EncodeLoginXml("15", xml.data(), 0, out.data()), 0);
    EXPECT_STREQ(out.data(), "");

    // One and a half times the length may reach 10,239, not more.
    std::string big(6827, 'a');
    EXPECT_EQ(EncodeLoginXml("15", big.data(), 6826, out.data()), 9104);
    EXPECT_EQ(EncodeLoginXml("15", big.data(), 6827, out.data()), -1001);

    char md5[33];
    Md5HexLower("abc", 3, md5);
    EXPECT_STREQ(md5, "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(CloudClientTest, LoginSendsBothRequestsByteForByte)
{
    m_server.Script({Reply(kRandomReply), Reply(Http("<xml><err>0</err><msg>ok</msg></xml>"))});
    char body[4096];
    int len = sizeof body;
    ASSERT_EQ(CloudLogin("127.0.0.1", m_server.port(), "ADMIN", "ZZZZ~~~~", body, &len), kCloudOk);
    EXPECT_STREQ(body, "<xml><err>0</err><msg>ok</msg></xml>");
    EXPECT_EQ(len, static_cast<int>(std::strlen(body)));

    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], RandomRequest(m_server.port()));
    std::string credential = kCredential15;
    credential.replace(credential.find('+'), 1, "%2B");
    EXPECT_EQ(requests[1], LoginRequest(" PHPSESSID=abc; path=/", "authcode=" + credential))
        << "Content-Length counts the escaped body";
}

TEST_F(CloudClientTest, LoginDeviceAddsTheEscapedDeviceId)
{
    m_server.Script({Reply(kRandomReply), Reply(Http("<xml><err>0</err></xml>"))});
    char body[1024];
    int len = sizeof body;
    ASSERT_EQ(CloudLoginDevice("127.0.0.1", m_server.port(), "ADMIN", "ZZZZ~~~~", "dev 1&x=2", body, &len), kCloudOk);
    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    std::string credential = kCredential15;
    credential.replace(credential.find('+'), 1, "%2B");
    EXPECT_EQ(requests[1], LoginRequest(" PHPSESSID=abc; path=/", "authcode=" + credential + "&devid=dev%201%26x%3D2"));
}

// Decodes the credential of a login request back to the XML it carries.
std::string LoginXml(const std::string& request, const std::string& random)
{
    std::string code = request.substr(request.find("authcode=") + 9);
    for (std::size_t at; (at = code.find("%2B")) != std::string::npos;)
        code.replace(at, 3, "+");
    std::vector<unsigned char> raw(code.size());
    int n = Base64DecodeBuf(code.data(), static_cast<int>(code.size()), raw.data(), static_cast<int>(raw.size()));
    char key[129];
    BuildLoginKey(random.c_str(), key);
    std::string xml;
    for (int i = 0; i < n; ++i)
        xml.push_back(static_cast<char>(raw[static_cast<std::size_t>(i)] ^ key[i % 128]));
    return xml;
}

TEST_F(CloudClientTest, LoginXmlEscapesReservedCharacters)
{
    m_server.Script({Reply(kRandomReply), Reply(Http("<xml><err>0</err></xml>"))});
    char body[1024];
    int len = sizeof body;
    ASSERT_EQ(CloudLogin("127.0.0.1", m_server.port(), "a<b>&\"c'", "p</pass><x>", body, &len), kCloudOk);
    EXPECT_EQ(LoginXml(m_server.Requests().at(1), "15"),
              "<xml><user>a&lt;b&gt;&amp;&quot;c&apos;</user><pass>p&lt;/pass&gt;&lt;x&gt;</pass></xml>");
}

TEST_F(CloudClientTest, RandomWithoutRndStillLogsIn)
{
    m_server.Script({Reply(Http("<xml><other/></xml>", "Set-Cookie:k=v\r\n")), Reply(Http("<xml><err>3</err></xml>"))});
    char body[1024];
    int len = sizeof body;
    ASSERT_EQ(CloudLogin("127.0.0.1", m_server.port(), "u", "p", body, &len), kCloudOk);
    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].find("\r\nCookie:k=v\r\n"), std::string::npos);
    EXPECT_EQ(LoginXml(requests[1], ""), "<xml><user>u</user><pass>p</pass></xml>") << "scrambled with the empty random's key";
}

TEST_F(CloudClientTest, LoginRefusals)
{
    char body[1024];
    int len = sizeof body;
    EXPECT_EQ(CloudLogin("127.0.0.1", m_server.port(), "", "p", body, &len), kCloudNoUser);
    EXPECT_EQ(CloudLogin("127.0.0.1", m_server.port(), "u", nullptr, body, &len), kCloudNoUser);
    EXPECT_EQ(CloudLogin("127.0.0.1", m_server.port(), "u", "p", nullptr, &len), kCloudNoBuffer);
    EXPECT_TRUE(m_server.Requests().empty());

    // No session cookie: no login request follows.
    m_server.Script({Reply(Http("<xml><rnd>1</rnd></xml>"))});
    len = sizeof body;
    EXPECT_EQ(CloudLogin("127.0.0.1", m_server.port(), "u", "p", body, &len), kCloudNoCookie);
    EXPECT_EQ(len, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(m_server.Requests().size(), 1u);

    // A transport failure of the random request is returned as it is.
    m_server.Script({Exchange{Exchange::Silent, {}, false}});
    len = sizeof body;
    EXPECT_EQ(CloudLoginDevice("127.0.0.1", m_server.port(), "u", "p", "d", body, &len), kCloudTimeout);
}

TEST_F(CloudClientTest, GetDevInfoRequestAndChecks)
{
    m_server.Script({Reply(Http("<xml><err>0</err><ls><devisonline>1</devisonline></ls></xml>"))});
    char body[1024];
    int len = sizeof body;
    ASSERT_EQ(CloudGetDevInfo("127.0.0.1", m_server.port(), "D1", "admin", "p&s=s+w", body, &len), kCloudOk);
    const std::string content = "devid=D1&devuser=admin&devpass=p%26s%3Ds%2Bw";
    EXPECT_EQ(m_server.Requests().at(0),
              "POST /client/getdevinfo.php HTTP/1.0\r\nAccept-Language: zh-cn\nAccept: */*;\r\n" + kContentType +
                  "User-Agent: Mivra/dev\nHost: 127.0.0.1:" + std::to_string(m_server.port()) +
                  "\r\nContent-Length: " + std::to_string(content.size()) +
                  "\r\nConnection: Keep-Alive\r\n\r\n" + content);

    len = sizeof body;
    EXPECT_EQ(CloudGetDevInfo("127.0.0.1", m_server.port(), "", "u", "p", body, &len), kCloudNoDevId);
    EXPECT_EQ(CloudGetDevInfo("127.0.0.1", m_server.port(), nullptr, "u", "p", body, &len), kCloudNoDevId);
    EXPECT_EQ(CloudGetDevInfo("127.0.0.1", m_server.port(), "D1", "u", "p", nullptr, &len), kCloudNoBuffer);
}

TEST_F(CloudClientTest, ReportRequestsAndTheirResults)
{
    struct {
        const char* name;
        std::string reply;
        int result;
    } cases[] = {
        {"err given", Http("<xml><msg>x</msg><err>5</err><err>6</err></xml>"), 5},
        {"no err", Http("<xml><msg>x</msg></xml>"), 0},
        {"empty err", Http("<xml><err></err></xml>"), 0},
        {"negative err", Http("<xml><err>-8378952</err></xml>"), -8378952},
        {"not XML", Http("not a document</xml>"), kCloudBadReply},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_server.Script({Reply(c.reply)});
        EXPECT_EQ(CloudPostReport("D 9", 1, 0), c.result);
    }
    const std::string content = "devid=D%209&constat=1&p2ptype=0";
    EXPECT_EQ(m_server.Requests().at(0),
              "POST /report/postreport.php HTTP/1.1\r\nx-requested-with:XMLHttpRequest\r\n"
              "Accept-Language: zh-cn\r\nReferer: http://127.0.0.1/\r\nAccept: */*\r\n" +
                  kContentType + "User-Agent: Mozilla/4.0\r\nHost: 127.0.0.1\r\nContent-Length:" +
                  std::to_string(content.size()) + "\r\n\r\n" + content);

    m_server.Script({Reply(Http("<xml><err>1</err></xml>"))});
    EXPECT_EQ(CloudPostPhonePv(), kCloudOk) << "the reply is not read";
    EXPECT_EQ(m_server.Requests().back(),
              "POST /report/postphonepv.php HTTP/1.1\r\nx-requested-with: XMLHttpRequest\r\n"
              "Accept-Language: zh-cn\r\nReferer: http://127.0.0.1/\r\nAccept: */*\r\n" +
                  kContentType + "User-Agent: Mozilla/4.0\r\nHost: 127.0.0.1\r\nContent-Length: 6\r\n\r\ntype=3");
}

std::string RenameRequest(const std::string& cookie, const std::string& content)
{
    return "POST /client/setdevname.php HTTP/1.0\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n"
           "Content-Type: application/x-www-form-urlencoded; charset=UTF-8\r\nUser-Agent: Parlund/v1.1\r\n"
           "Host: 127.0.0.1\r\nConnection:Keep-Alive\r\nCookie:" +
           cookie + "\r\nContent-Length:" + std::to_string(content.size()) + "\r\n\r\n" + content;
}

TEST_F(CloudClientTest, RenameCarriesTheSessionCookie)
{
    m_server.Script({Reply(Http("<xml><ret>0</ret></xml>"))});
    EXPECT_EQ(CloudSetDevName("D1", "前门", "admin", "pw"), 0);
    const std::string content = "devid=D1&devname=%E5%89%8D%E9%97%A8&u=admin&p=pw";
    EXPECT_EQ(m_server.Requests().at(0), RenameRequest("", content)) << "no login yet: an empty cookie";

    m_server.Script({Reply(kRandomReply), Reply(Http("<xml><err>0</err></xml>")), Reply(Http("<xml><ret>4</ret></xml>"))});
    char body[1024];
    int len = sizeof body;
    ASSERT_EQ(CloudLogin("127.0.0.1", m_server.port(), "u", "p", body, &len), kCloudOk);
    EXPECT_EQ(CloudSetDevName("D1", "Gate", "admin", "pw"), 4);
    EXPECT_EQ(m_server.Requests().back(),
              RenameRequest(" PHPSESSID=abc; path=/", "devid=D1&devname=Gate&u=admin&p=pw"));

    // A device login does not replace the session cookie.
    m_server.Script({Reply(Http("<xml><rnd>1</rnd></xml>", "Set-Cookie: other\r\n")), Reply(Http("<xml></xml>")),
                     Reply(Http("<xml><ret>0</ret></xml>"))});
    len = sizeof body;
    ASSERT_EQ(CloudLoginDevice("127.0.0.1", m_server.port(), "u", "p", "D1", body, &len), kCloudOk);
    EXPECT_EQ(CloudSetDevName("D1", "Gate", "admin", "pw"), 0);
    EXPECT_NE(m_server.Requests().back().find("\r\nCookie: PHPSESSID=abc; path=/\r\n"), std::string::npos);

    m_server.Script({Exchange{Exchange::Close, {}, false}});
    EXPECT_EQ(CloudSetDevName("D1", "Gate", "admin", "pw"), -1) << "a failed exchange";
    m_server.Script({Reply(Http("junk</xml>"))});
    EXPECT_EQ(CloudSetDevName("D1", "Gate", "admin", "pw"), -1) << "a reply that is not XML";
}

TEST_F(CloudClientTest, TransportResults)
{
    const std::string request = "POST /x HTTP/1.0\r\nContent-Length: 0\r\n\r\n";
    struct {
        const char* name;
        Exchange step;
        int result;
        const char* body;
    } cases[] = {
        {"whole reply", Reply(Http("<xml>1</xml>")), kCloudOk, "<xml>1</xml>"},
        {"empty body", Reply("HTTP/1.0 200 OK\r\n\r\n</xml>"), kCloudOk, "</xml>"},
        {"closed without </xml>", Reply(Http("<xml>1</xml>\n")), kCloudBadReply, ""},
        {"closed before a word", Exchange{Exchange::Close, {}, false}, kCloudBadReply, ""},
        {"no header separator", Reply("<xml>1</xml>"), kCloudBadReply, ""},
        {"silence", Exchange{Exchange::Silent, {}, false}, kCloudTimeout, ""},
        {"stalls after part of a reply", Reply("HTTP/1.0 200 OK\r\n\r\n<xml>", true), kCloudTimeout, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_server.Script({c.step});
        char body[256];
        std::memset(body, 'x', sizeof body);
        body[sizeof body - 1] = '\0';
        int len = sizeof body;
        EXPECT_EQ(Post(request, body, &len), c.result);
        if (c.result == kCloudOk) {
            EXPECT_STREQ(body, c.body);
        }
        EXPECT_EQ(len, static_cast<int>(std::strlen(c.body)));
    }
    EXPECT_EQ(m_server.Requests().front(), request);
}

TEST_F(CloudClientTest, ReplyEndingInXmlEndsTheReadAtOnce)
{
    m_server.Script({Reply(Http("<xml>fast</xml>"), /*hold=*/true)});
    SetCloudTimeout(5000);
    char body[256];
    int len = sizeof body;
    auto start = Clock::now();
    EXPECT_EQ(Post("GET\r\n\r\n", body, &len), kCloudOk);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
    EXPECT_STREQ(body, "<xml>fast</xml>");
}

TEST_F(CloudClientTest, ReplyPacedSlowerThanTheDeadlineTimesOut)
{
    // A byte every 50 ms never lets a single wait run out; the whole reply
    // would take about 20 s.
    const std::string reply = Http("<xml>" + std::string(380, 'd') + "</xml>");
    ASSERT_GT(reply.size(), 400u);
    m_server.Script({Paced(reply, 1, 50)});
    char body[1024];
    int len = sizeof body;
    auto start = Clock::now();
    EXPECT_EQ(Post("x\r\n\r\n", body, &len), kCloudTimeout);
    EXPECT_EQ(len, 0);
    // The deadline is kCloudExchangeWaits waits; allow a busy machine plenty.
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(10 * kCloudExchangeWaits * kTestTimeoutMs));

    // Pieces with short gaps that end well within the deadline still make a reply.
    SetCloudTimeout(3000);
    m_server.Script({Paced(Http("<xml>slow but whole</xml>"), 20, 100)});
    len = sizeof body;
    EXPECT_EQ(Post("x\r\n\r\n", body, &len), kCloudOk);
    EXPECT_STREQ(body, "<xml>slow but whole</xml>");
}

TEST_F(CloudClientTest, BodyTooLargeLeavesTheCookieAlone)
{
    m_server.Script({Reply(Http("<xml>0123456789</xml>", "Set-Cookie: new\r\n"))});
    char cookie[kCloudCookieSize] = "old";
    char body[21]; // the body needs 22 with its zero
    int len = sizeof body;
    EXPECT_EQ(Post("x\r\n\r\n", body, &len, cookie), kCloudTooBig);
    EXPECT_EQ(len, 0);
    EXPECT_STREQ(cookie, "old");

    m_server.Script({Reply(Http("<xml>0123456789</xml>", "Set-Cookie: new\r\nX: 1\r\n"))});
    char fits[22];
    len = sizeof fits;
    EXPECT_EQ(Post("x\r\n\r\n", fits, &len, cookie), kCloudOk);
    EXPECT_EQ(len, 21);
    EXPECT_STREQ(cookie, " new");
}

TEST_F(CloudClientTest, CookieIsTakenFromTheHeaderOnly)
{
    m_server.Script({Reply("HTTP/1.0 200 OK\r\nX: y\r\n\r\n<xml>Set-Cookie: body</xml>")});
    char cookie[kCloudCookieSize] = "kept";
    char body[256];
    int len = sizeof body;
    EXPECT_EQ(Post("x\r\n\r\n", body, &len, cookie), kCloudOk);
    EXPECT_STREQ(cookie, "kept");

    // A long cookie is cut to the buffer, never past it.
    const std::string longCookie(3000, 'c');
    m_server.Script({Reply(Http("<xml></xml>", "Set-Cookie:" + longCookie + "\r\n"))});
    len = sizeof body;
    EXPECT_EQ(Post("x\r\n\r\n", body, &len, cookie), kCloudOk);
    EXPECT_EQ(std::string(cookie), std::string(kCloudCookieSize - 1, 'c'));
}

TEST_F(CloudClientTest, TooMuchDataIsAFailure)
{
    std::string flood = "HTTP/1.0 200 OK\r\n\r\n" + std::string(kCloudRecvSize + 4096, 'z');
    m_server.Script({Reply(flood)});
    std::vector<char> body(1024);
    int len = static_cast<int>(body.size());
    EXPECT_EQ(Post("x\r\n\r\n", body.data(), &len), kCloudBadReply);
    EXPECT_EQ(len, 0);
}

TEST_F(CloudClientTest, RefusedAndForbiddenConnections)
{
    // A port nobody listens on.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t alen = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &alen);
    close(fd);
    const int deadPort = ntohs(a.sin_port);

    char body[256];
    int len = sizeof body;
    SetCloudTimeout(5000);
    auto start = Clock::now();
    EXPECT_EQ(HttpPostRaw(nullptr, 0, &len, "127.0.0.1", deadPort, "x", 1, body), kCloudConnect);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000)) << "a refusal does not wait for the time-out";
    SetCloudTimeout(kTestTimeoutMs);

    // Outside the loopback network nothing is sent, and names are not looked up.
    len = sizeof body;
    EXPECT_EQ(HttpPostRaw(nullptr, 0, &len, "192.0.2.1", 80, "x", 1, body), kCloudConnect);
    EXPECT_EQ(HttpPostRaw(nullptr, 0, &len, "cloud.example.com", 80, "x", 1, body), kCloudNoHost);
    EXPECT_EQ(HttpPostRaw(nullptr, 0, &len, "", 80, "x", 1, body), kCloudNoHost);
    EXPECT_EQ(HttpPostRaw(nullptr, 0, &len, "127.0.0.1", 0, "x", 1, body), kCloudConnect);
    EXPECT_EQ(HttpPostRaw(nullptr, 0, nullptr, "127.0.0.1", deadPort, "x", 1, body), kCloudNoBuffer);
    EXPECT_EQ(HttpPostRaw(nullptr, 0, &len, "127.0.0.1", deadPort, "x", 1, nullptr), kCloudNoBuffer);

    // Unconfigured services have no host.
    SetCloudReportServer(nullptr, 0);
    SetCloudAccountServer(nullptr, 0);
    unsetenv("QELM2_CLOUD_REPORT");
    unsetenv("QELM2_CLOUD_ACCOUNT");
    EXPECT_EQ(CloudPostReport("d", 1, 1), kCloudNoHost);
    EXPECT_EQ(CloudSetDevName("d", "n", "u", "p"), -1);

    // The environment names them.
    setenv("QELM2_CLOUD_REPORT", ("127.0.0.1:" + std::to_string(m_server.port())).c_str(), 1);
    m_server.Script({Reply(Http("<xml><err>2</err></xml>"))});
    EXPECT_EQ(CloudPostReport("d", 1, 1), 2);
    unsetenv("QELM2_CLOUD_REPORT");
}

TEST_F(CloudClientTest, ConnectionThatNeverCompletesTimesOut)
{
    // A listener whose backlog is full: further handshakes get no answer.
    int lfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t alen = sizeof a;
    getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &alen);
    ASSERT_EQ(listen(lfd, 0), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int f = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(f);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    char body[256];
    int len = sizeof body;
    auto start = Clock::now();
    EXPECT_EQ(HttpPostRaw(nullptr, 0, &len, "127.0.0.1", ntohs(a.sin_port), "x", 1, body), kCloudConnect);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(kTestTimeoutMs - 50));
    for (int f : fillers)
        close(f);
    close(lfd);
}

TEST_F(CloudClientTest, PeerThatResetsDuringTheSendGivesSendFailure)
{
    // Far more than the socket buffers hold, so the send is still going when
    // the peer resets the connection.
    m_server.Script({Exchange{Exchange::Reset, {}, false}});
    std::string huge(16 * 1024 * 1024, 'q');
    char body[256];
    int len = sizeof body;
    EXPECT_EQ(Post(huge, body, &len), kCloudSend);
}

} // namespace
