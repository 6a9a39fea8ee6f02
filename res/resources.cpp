// Lookup of the pictures that the skin generator compiled into the program.
#include "res/resources.h"

#include <strings.h>

const AppResource* FindAppResource(const char* type, UINT id)
{
    using namespace qelm::res::detail;
    if (!type)
        return nullptr;
    for (std::size_t i = 0; i < kResourceCount; ++i) {
        const ResourceEntry& e = kResources[i];
        if (e.id == id && strcasecmp(e.type, type) == 0)
            return &e.data;
    }
    return nullptr;
}
