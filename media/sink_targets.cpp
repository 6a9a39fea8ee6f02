// Registration of the sinks' targets and the heap texts they hand on.
#include "media/sink_targets.h"

#include <atomic>
#include <cstring>

namespace {
std::atomic<IMediaSinkTargets*> g_targets{nullptr};
}

DevConfigResponse::~DevConfigResponse() { qelm::FreeText(text); }

namespace qelm {

char* NewText(const char* text)
{
    if (!text)
        text = "";
    const size_t n = std::strlen(text);
    char* copy = new char[n + 1];
    std::memcpy(copy, text, n + 1);
    return copy;
}

void FreeText(char* text) { delete[] text; }

BOOL PostText(HWND hWnd, UINT msg, WPARAM wParam, const char* text)
{
    char* copy = NewText(text);
    BOOL ok = ::PostMessage(hWnd, msg, wParam, reinterpret_cast<LPARAM>(copy),
                            [](WPARAM, LPARAM l) { FreeText(reinterpret_cast<char*>(l)); });
    if (!ok)
        FreeText(copy);
    return ok;
}

BOOL PostPtzAnswer(HWND hWnd, const PtzAnswerSource& source, const char* text)
{
    auto* who = new PtzAnswerSource(source);
    char* copy = NewText(text);
    auto release = [](WPARAM w, LPARAM l) {
        delete reinterpret_cast<PtzAnswerSource*>(w);
        FreeText(reinterpret_cast<char*>(l));
    };
    BOOL ok = ::PostMessage(hWnd, WM_PTZ_RESPONSE, reinterpret_cast<WPARAM>(who), reinterpret_cast<LPARAM>(copy),
                            release);
    if (!ok)
        release(reinterpret_cast<WPARAM>(who), reinterpret_cast<LPARAM>(copy));
    return ok;
}

} // namespace qelm

void SetMediaSinkTargets(IMediaSinkTargets* targets) { g_targets.store(targets); }
IMediaSinkTargets* GetMediaSinkTargets() { return g_targets.load(); }
