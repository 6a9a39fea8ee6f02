// Opening files whose path outside input or another program controls: the
// configuration files, language files, pictures, record folders. A pipe in a
// file's place would make a plain open or read wait for a writer for ever, a
// device node could do worse, and a link could lead anywhere. These open only
// regular files and never wait on anything else.
#pragma once

#include <cstddef>
#include <string>

namespace qelm {

// Opens path when it names a regular file; -1 otherwise, with the reason in
// *why. flags are open(2) flags (O_RDONLY by default; with O_CREAT a missing
// file is created). The open itself never blocks, and the descriptor it
// returns is in blocking mode.
// Without a root a link to a regular file is followed (an installer may link
// a configuration file). With a root (a record storage folder) a link is
// followed only when the file it leads to lies inside that folder.
// Created files never follow a link.
int OpenRegularFile(const std::string& path, int flags = 0, const std::string& root = {}, std::string* why = nullptr);

// The same checks, without keeping the file open.
bool IsRegularFile(const std::string& path, const std::string& root = {}, std::string* why = nullptr);

// The whole file through OpenRegularFile; false when refused or unreadable,
// or when it holds more than maxBytes.
bool ReadRegularFile(const std::string& path, std::string& out, std::string* why = nullptr,
                     std::size_t maxBytes = std::size_t(256) << 20);

} // namespace qelm
