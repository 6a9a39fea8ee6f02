// Fuzz target: the registry hive loader takes any file content, and what it
// reads is written and read back unchanged.
#include "platform/registry.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string xml(reinterpret_cast<const char*>(data), size);
    auto roots = qelm::ParseRegistryHive(xml);
    if (!roots)
        return 0;
    auto again = qelm::ParseRegistryHive(qelm::FormatRegistryHive(*roots));
    if (!again || *again != *roots)
        std::abort();
    return 0;
}
