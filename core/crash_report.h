// Crash report: a fatal signal or std::terminate appends one entry (time,
// exception code, fault address, registers, call stack) to "<program>.RPT"
// beside the program, then the process dies of the signal as it would have.
#pragma once

#include <cstdint>

// One process-wide object, meant to be a static of the program (constructed
// before main, destroyed at exit). Handles SIGSEGV, SIGBUS, SIGILL, SIGFPE,
// SIGTRAP and SIGABRT on an alternate stack, and std::terminate.
//
// The entry is written with async-signal-safe calls only. Lines of the call
// stack read "address  frame  segment:offset module", where offset is the
// distance from the module's load base (what addr2line -e module takes) and
// segment numbers the module's mappings from 1; code outside any module
// (generated code) shows 0000:00000000 and no module.
class CExceptionReport {
public:
    CExceptionReport();
    ~CExceptionReport();
    CExceptionReport(const CExceptionReport&) = delete;
    CExceptionReport& operator=(const CExceptionReport&) = delete;

    // Gives the calling thread its own alternate signal stack, so that a stack
    // overflow there is reported too. No-op before installation or when the
    // thread already has one. CThread calls it for its threads.
    static void PrepareThread();

    // The report file: $QELM2_CRASH_REPORT when set, else the program's path
    // with its extension (three or more characters) replaced by "RPT", or
    // ".RPT" appended ("Corvane" -> "Corvane.RPT").
    static const char* GetReportPath();
    static void SetReportPath(const char* path);

    // The system's exception code for a signal and its si_code, and its name
    // ("" for a code without one).
    static std::uint32_t ExceptionCode(int sig, int code);
    static const char* ExceptionName(std::uint32_t code);
};
