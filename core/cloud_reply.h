// What the cloud client makes of the bytes a server sent back: the HTTP
// reply split into header and body, the session cookie, the server random
// and the result elements. No sockets here, so any bytes can be tried.
#pragma once

#include <cstddef>
#include <string>

// The reply as received (size bytes, header and body). kCloudOk: body
// (capacity bytes) holds the body with a terminating zero, *bodyLen its
// length, and cookie (cookieSize bytes, may be null) the text after the
// header's first "Set-Cookie:" up to the end of that line, left as it was
// without one. kCloudBadReply: not ending in "</xml>" or no header end;
// kCloudTooBig: the body does not fit. *bodyLen is 0 on every failure.
int ParseCloudReply(const char* data, std::size_t size, char* cookie, int cookieSize, char* body, int capacity,
                    int* bodyLen);

// The text between the first "<rnd>" and the "</rnd>" after it ("" without).
std::string CloudServerRandom(const char* body);

// The integer of the first child element `name` of the reply's root into
// *value (0 without one); false when the body is not an XML document.
bool CloudReplyValue(const char* body, const char* name, int* value);
