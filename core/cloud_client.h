// Cloud-account HTTP client: a blocking HTTP POST on a TCP socket, the six
// requests of the account and report services, and the login scrambling.
#pragma once

// Result codes of the transport and the requests.
enum : int {
    kCloudOk = 0,
    kCloudNoHost = 1,       // host empty, not resolved, or not allowed (loopback mode)
    kCloudNoStack = 2,      // kept for the code table; never happens here
    kCloudNoSocket = 3,
    kCloudRcvBuf = 4,       // receive buffer size refused
    kCloudConnect = 5,      // refused, unreachable or not connected within the time-out
    kCloudSend = 6,         // request not sent whole (also when the exchange ran out of time)
    kCloudTimeout = 7,      // nothing received within the time-out, or the reply not whole by the deadline
    kCloudRecv = 8,         // receive error
    kCloudBadReply = 9,     // reply not ending in "</xml>", without a header, or not XML
    kCloudTooBig = 10,      // body larger than the caller's buffer
    kCloudNoBuffer = 11,
    kCloudNoDevId = 12,
    kCloudNoUser = 13,
    kCloudNoCookie = 99,    // the random reply carried no session cookie
};

inline constexpr int kCloudCookieSize = 1024;      // session cookie with its terminator
inline constexpr int kCloudRecvSize = 2097152;     // largest reply
inline constexpr int kCloudCredentialSize = 10240; // scrambled login text
inline constexpr int kCloudTimeoutMs = 8000;       // default connect and read wait
// An exchange (connect, send and the whole reply) ends this many waits after
// it began: a connect and one reply wait, however the peer paces its bytes.
inline constexpr int kCloudExchangeWaits = 2;

// The transport. body holds *bodyLen bytes on entry; on success it receives
// the reply body with a terminating zero and *bodyLen its length (0 on every
// failure). cookie (cookieSize bytes, may be null) receives the text after
// the reply's first "Set-Cookie:" up to the end of that line; it is left as
// it was when the reply has none.
int HttpPostRaw(char* cookie, int cookieSize, int* bodyLen, const char* host, int port, const char* request,
                int requestLen, char* body);

// Random request, then login; on success the login reply is in body.
int CloudLogin(const char* host, int port, const char* user, const char* password, char* body, int* bodyLen);
// The same with the device id added to the login body.
int CloudLoginDevice(const char* host, int port, const char* user, const char* password, const char* devId,
                     char* body, int* bodyLen);
int CloudGetDevInfo(const char* host, int port, const char* devId, const char* devUser, const char* devPass,
                    char* body, int* bodyLen);
// The reply's err value (0 without one), or the transport code.
int CloudPostReport(const char* devId, int conStat, int p2pType);
// The transport code.
int CloudPostPhonePv();
// The reply's ret value (0 without one); -1 when the exchange failed. name is UTF-8.
int CloudSetDevName(const char* devId, const char* name, const char* user, const char* password);

// MD5 of len bytes as 32 lower-case hex digits; out holds 33 bytes.
void Md5HexLower(const void* data, int len, char* out);
// The 128-character login key of the server random; out holds 129 bytes.
// 128, or -2 when random or out is missing.
int BuildLoginKey(const char* random, char* out);
// XOR of the XML with the key, in Base64, into out (kCloudCredentialSize
// bytes). Its length; the key builder's code; -1001 when the XML is too long.
int EncodeLoginXml(const char* random, const char* xml, int len, char* out);

// Where the rename goes (the account service) and where the reports go (the
// report service). Until set, QELM2_CLOUD_ACCOUNT and QELM2_CLOUD_REPORT
// ("host" or "host:port") are used; without them the host is empty and the
// requests fail with kCloudNoHost. The port defaults to 80; a null host
// returns to the environment's setting.
void SetCloudAccountServer(const char* host, int port);
void SetCloudReportServer(const char* host, int port);
// Connect and read wait in milliseconds (kCloudTimeoutMs by default); it
// also sets each exchange's deadline (kCloudExchangeWaits of them).
void SetCloudTimeout(int ms);
// Forgets the session cookie of the last account login.
void ResetCloudSession();
