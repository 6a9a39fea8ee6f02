// Shared by the stream pull tests: an event sink that records what it gets,
// advising it for a scope, and waiting while the UI event loop runs.
#pragma once

#include "controls/stream_pull.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <unistd.h>

#include <chrono>
#include <functional>
#include <utility>
#include <vector>

namespace pulltest {

struct Sink : IStreamPullEvents {
    std::vector<std::pair<int32_t, int32_t>> statuses;
    std::vector<std::pair<int32_t, StreamMediaParam>> params;

    void OnStreamStatus(int32_t id, int32_t status, const char*, const void*) override
    {
        statuses.emplace_back(id, status);
    }
    void MediaRecv(int32_t id, int32_t type, const StreamMediaParam* p, int32_t) override
    {
        if (type == StreamPullControl::kMediaTypeParams && p)
            params.emplace_back(id, *p);
    }
    int Count(int32_t id, int32_t status) const
    {
        int n = 0;
        for (auto& [i, s] : statuses)
            n += i == id && s == status;
        return n;
    }
    const StreamMediaParam* LastParams(int32_t id) const
    {
        for (auto it = params.rbegin(); it != params.rend(); ++it)
            if (it->first == id)
                return &it->second;
        return nullptr;
    }
};

// Runs the UI event loop until pred holds or ms pass.
inline bool WaitFor(const std::function<bool()>& pred, int ms)
{
    using Clock = std::chrono::steady_clock;
    auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (Clock::now() > until)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(2000);
    }
    return true;
}

struct Advised {
    StreamPullControl& c;
    Sink& s;
    int32_t cookie;
    Advised(StreamPullControl& c_, Sink& s_) : c(c_), s(s_), cookie(c_.Advise(&s_)) {}
    ~Advised() { c.Unadvise(cookie); }
};

} // namespace pulltest
