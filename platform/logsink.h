// Where the platform layer reports what it refuses or fails at. The program
// log lives above this layer, so it installs itself here at start-up; until
// then lines go to stderr.
#pragma once

#include <functional>
#include <string>

namespace qelm {

using LogSink = std::function<void(int level, const std::string& line)>;

// Installs the sink (an empty one restores stderr). Thread-safe.
void SetPlatformLogSink(LogSink sink);

// The program log queues its lines; whoever hands a test or a peer an answer
// that the log should already show calls FlushPlatformLog first.
void SetPlatformLogFlush(std::function<void()> flush);
void FlushPlatformLog();

// printf-style; level 3 for errors, 6 for information, as the program log uses.
void PlatformLog(int level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

} // namespace qelm
