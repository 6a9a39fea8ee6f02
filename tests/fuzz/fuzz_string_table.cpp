// Fuzz target: the string-table parser that reads language files.
#include "res/strings.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::map<UINT, std::string> table;
    std::string error;
    if (qelm::res::ParseStringTable(bytes, table, &error)) {
        // Every text came from one line: no text is longer than the input.
        for (const auto& [id, text] : table)
            if (id > 65535 || text.size() > size)
                std::abort();
    } else if (error.empty() || !table.empty()) {
        std::abort(); // a refusal says why and hands back nothing
    }
    return 0;
}
