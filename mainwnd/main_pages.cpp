#include "mainwnd/main_pages.h"

#include <map>
#include <mutex>
#include <string>

namespace {
std::mutex g_factoryLock;

std::map<std::string, PageFactory, std::less<>>& Factories()
{
    static std::map<std::string, PageFactory, std::less<>> factories;
    return factories;
}
} // namespace

void RegisterPageFactory(std::string_view cls, PageFactory factory)
{
    std::lock_guard lock(g_factoryLock);
    if (factory)
        Factories()[std::string(cls)] = std::move(factory);
    else if (auto it = Factories().find(cls); it != Factories().end())
        Factories().erase(it);
}

CDialog* CreateRegisteredPage(std::string_view cls, CWnd* parent)
{
    PageFactory factory;
    {
        std::lock_guard lock(g_factoryLock);
        auto it = Factories().find(cls);
        if (it == Factories().end())
            return nullptr;
        factory = it->second;
    }
    return factory(parent);
}
