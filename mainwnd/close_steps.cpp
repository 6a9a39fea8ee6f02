#include "mainwnd/close_steps.h"

#include <algorithm>
#include <list>

namespace {
struct Step {
    int id;
    CloseStage stage;
    std::string name;
    std::function<void()> run;
};

std::list<Step>& Steps()
{
    static std::list<Step> steps;
    return steps;
}
int g_nextId = 1;
} // namespace

int RegisterCloseStep(CloseStage stage, std::string name, std::function<void()> step)
{
    const int id = g_nextId++;
    Steps().push_back({id, stage, std::move(name), std::move(step)});
    return id;
}

void UnregisterCloseStep(int id)
{
    Steps().remove_if([id](const Step& s) { return s.id == id; });
}

void RunCloseSteps(CloseStage stage)
{
    std::vector<int> ids;
    for (const Step& s : Steps())
        if (s.stage == stage)
            ids.push_back(s.id);
    for (int id : ids) {
        // Looked up again: an earlier step may have removed this one.
        auto it = std::find_if(Steps().begin(), Steps().end(), [id](const Step& s) { return s.id == id; });
        if (it == Steps().end() || !it->run)
            continue;
        std::function<void()> run = it->run;
        run();
    }
}

std::vector<std::string> CloseStepNames(CloseStage stage)
{
    std::vector<std::string> names;
    for (const Step& s : Steps())
        if (s.stage == stage)
            names.push_back(s.name);
    return names;
}
