#include "devconfig/devcfg_pages.h"

namespace {
IDevCfgPages g_none;
IDevCfgPages* g_pages = nullptr;
} // namespace

void SetDevCfgPages(IDevCfgPages* pages)
{
    g_pages = pages;
}

IDevCfgPages* DevCfgPages()
{
    return g_pages ? g_pages : &g_none;
}
