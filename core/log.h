// Program log: "clientlog.txt" in the log folder, every line also sent as one
// UDP datagram to the local log listener; thread-safe, rotates at 10 MiB.
// Lines are queued in memory and written and sent in batches a few
// milliseconds later by a thread of the log, at CloseLog, at exit and by the
// crash report; FlushLog writes them at once.
#pragma once

// Writes "[Qelm2]:<first 19 chars of asctime(local time)>  <message>\n" to the
// file and as a datagram, while the log is open. level: 6 information,
// 3 errors; a level without a bit in 0xFF writes nothing. Any thread.
void WriteLog(int level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Writes "YY-MM-DD hh:mm:ss <message>\n" to the file only (no datagram).
void WriteLogTime(int level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Opens the log file at path (system form allowed: "D:\Qelm-Log\clientlog.txt"
// resolves under the data folder) in append mode. The folder must exist.
// 0 ok, -1 already open, -2 the file cannot be opened, -4 its size cannot be read.
int OpenLog(const char* path);

// Creates the folder "D:\<title>-Log" and opens "clientlog.txt" in it; the
// result of OpenLog, or -2 when the folder cannot be created.
int OpenProgramLog(const char* title);

// Closes the file: 0, or -3 when the log is not open. Later lines are dropped.
int CloseLog();

bool IsLogOpen();

// Writes and sends every line queued so far; returns when they are in the file.
void FlushLog();

// For the crash report's signal handler: appends the queued lines to the file
// with async-signal-safe calls, skipping them if a lock stays held.
void FlushLogAfterCrash();

// The user name written into the trailer of a rotated file.
void SetLogUserName(const char* user);

// The listener's UDP port (3000 unless a test moves it).
void SetLogUdpPort(unsigned short port);
unsigned short LogUdpPort();
