#include "mainwnd/main_hooks.h"

namespace {
MainWindowHooks& Hooks()
{
    static MainWindowHooks hooks;
    return hooks;
}
} // namespace

void SetMainWindowHooks(MainWindowHooks hooks)
{
    Hooks() = std::move(hooks);
}

const MainWindowHooks& MainHooks()
{
    return Hooks();
}
