// ShellExecuteA: hands a file to the desktop's opener. Journaled like the
// other stand-ins, so tests see which names were tried and in what order.
#pragma once

#include "platform/types.h"

#include <cstdint>
#include <functional>
#include <string>

// Results as the system gives them: above 32 success, else an error code
// (2 file not found, 31 no program for it).
intptr_t ShellExecuteA(HWND hwnd, const char* verb, const char* file, const char* params, const char* dir,
                       int show);

// Tests replace the opener of an existing file (the default starts the
// desktop's "xdg-open"); an empty function restores it. Returns the result.
using ShellOpener = std::function<intptr_t(const std::string& file, const std::string& params)>;
void SetShellOpener(ShellOpener opener);
