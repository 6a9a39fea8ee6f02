// Posted and sent messages, and the message queues of worker threads.
#include "platform/message.h"

#include "platform/clock.h"
#include "platform/message_internal.h"
#include "platform/sync.h"

#include <QCoreApplication>
#include <QCursor>
#include <QThread>
#include <atomic>
#include <deque>
#include <unordered_map>

namespace qelm::detail {

namespace {
std::atomic<long> g_undeliveredFreed{0};
} // namespace

void CountUndeliveredFreed()
{
    ++g_undeliveredFreed;
}

QEvent::Type PostedEventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QEvent::Type SentEventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

PostedMsgEvent::~PostedMsgEvent()
{
    if (!delivered && deleter) {
        deleter(wParam, lParam);
        CountUndeliveredFreed();
    }
}

void SentMsgEvent::Complete(LRESULT r)
{
    completed = true;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->result = r;
        state->done = true;
    }
    state->cv.notify_all();
}

SentMsgEvent::~SentMsgEvent()
{
    if (!completed)
        Complete(0);
}

void DeliverPosted(CWnd* wnd, PostedMsgEvent* ev)
{
    MSG msg;
    msg.hwnd = ev->hwnd;
    msg.message = ev->msg;
    msg.wParam = ev->wParam;
    msg.lParam = ev->lParam;
    msg.time = timeGetTime();
    const QPoint cursor = QCursor::pos();
    msg.pt.x = cursor.x();
    msg.pt.y = cursor.y();

    // A filter that consumes the message takes its payload with it, as the
    // handler would.
    if (PreTranslateWalk(wnd, &msg)) {
        ev->delivered = true;
        return;
    }
    // The handler may destroy the window: nothing of wnd is touched afterwards
    // but through the handle.
    HWND h = ev->hwnd;
    wnd->WindowProc(ev->msg, ev->wParam, ev->lParam);
    CWnd* still = CWnd::FromHandle(h);
    ev->delivered = still ? still->LastMessageHandled() : true;
}

} // namespace qelm::detail

using namespace qelm::detail;

BOOL PostMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, PayloadDeleter deleter)
{
    if (!hWnd || !QCoreApplication::instance())
        return FALSE;
    std::lock_guard<std::mutex> lock(HandleMutex());
    CWnd* wnd = LookupWndLocked(hWnd);
    if (!wnd)
        return FALSE;
    // Posting under the lock: the window cannot release its handle (and its
    // pending events) between the look-up and the post.
    QCoreApplication::postEvent(wnd, new PostedMsgEvent(hWnd, msg, wParam, lParam, deleter));
    return TRUE;
}

BOOL PostMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return PostMessage(hWnd, msg, wParam, lParam, nullptr);
}

LRESULT SendMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (!hWnd || !QCoreApplication::instance())
        return 0;
    if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
        CWnd* wnd = CWnd::FromHandle(hWnd);
        return wnd ? wnd->WindowProc(msg, wParam, lParam) : 0;
    }
    auto state = std::make_shared<SentState>();
    {
        std::lock_guard<std::mutex> lock(HandleMutex());
        CWnd* wnd = LookupWndLocked(hWnd);
        if (!wnd)
            return 0;
        QCoreApplication::postEvent(wnd, new SentMsgEvent(hWnd, msg, wParam, lParam, state),
                                    Qt::HighEventPriority);
    }
    std::unique_lock<std::mutex> lock(state->mutex);
    state->cv.wait(lock, [&] { return state->done; });
    return state->result;
}

// --- worker thread queues ---------------------------------------------------------

namespace {

struct QueuedMsg {
    MSG msg;
    PayloadDeleter deleter = nullptr;
};

struct ThreadQueue {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<QueuedMsg> items;
    bool closed = false;
};

std::mutex g_queuesMutex;
std::unordered_map<DWORD, std::shared_ptr<ThreadQueue>>& Queues()
{
    static std::unordered_map<DWORD, std::shared_ptr<ThreadQueue>> queues;
    return queues;
}

// Owns the calling thread's queue; at thread exit the queue is closed and
// the payloads still in it are freed.
struct ThreadQueueHolder {
    std::shared_ptr<ThreadQueue> queue;
    DWORD id = 0;
    ~ThreadQueueHolder()
    {
        if (!queue)
            return;
        {
            std::lock_guard<std::mutex> lock(g_queuesMutex);
            Queues().erase(id);
        }
        std::deque<QueuedMsg> left;
        {
            std::lock_guard<std::mutex> lock(queue->mutex);
            queue->closed = true;
            left.swap(queue->items);
        }
        for (auto& q : left) {
            if (q.deleter) {
                q.deleter(q.msg.wParam, q.msg.lParam);
                CountUndeliveredFreed();
            }
        }
    }
};

ThreadQueue& OwnQueue()
{
    thread_local ThreadQueueHolder holder;
    if (!holder.queue) {
        holder.queue = std::make_shared<ThreadQueue>();
        holder.id = GetCurrentThreadId();
        std::lock_guard<std::mutex> lock(g_queuesMutex);
        Queues()[holder.id] = holder.queue;
    }
    return *holder.queue;
}

bool InFilter(UINT m, UINT lo, UINT hi)
{
    return (lo == 0 && hi == 0) || (m >= lo && m <= hi);
}

bool TakeMatching(ThreadQueue& q, MSG* out, UINT lo, UINT hi, bool remove)
{
    for (auto it = q.items.begin(); it != q.items.end(); ++it) {
        if (it->msg.message == WM_QUIT || InFilter(it->msg.message, lo, hi)) {
            *out = it->msg;
            if (remove)
                q.items.erase(it);
            return true;
        }
    }
    return false;
}

} // namespace

BOOL PostThreadMessage(DWORD idThread, UINT msg, WPARAM wParam, LPARAM lParam, PayloadDeleter deleter)
{
    std::shared_ptr<ThreadQueue> q;
    {
        std::lock_guard<std::mutex> lock(g_queuesMutex);
        auto it = Queues().find(idThread);
        if (it == Queues().end())
            return FALSE;
        q = it->second;
    }
    {
        std::lock_guard<std::mutex> lock(q->mutex);
        if (q->closed)
            return FALSE;
        QueuedMsg item;
        item.msg.message = msg;
        item.msg.wParam = wParam;
        item.msg.lParam = lParam;
        item.msg.time = timeGetTime();
        item.deleter = deleter;
        q->items.push_back(item);
    }
    q->cv.notify_all();
    return TRUE;
}

BOOL GetMessage(MSG* pMsg, HWND, UINT lo, UINT hi)
{
    ThreadQueue& q = OwnQueue();
    std::unique_lock<std::mutex> lock(q.mutex);
    q.cv.wait(lock, [&] { return TakeMatching(q, pMsg, lo, hi, false); });
    TakeMatching(q, pMsg, lo, hi, true);
    return pMsg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessage(MSG* pMsg, HWND, UINT lo, UINT hi, UINT wRemoveMsg)
{
    ThreadQueue& q = OwnQueue();
    std::lock_guard<std::mutex> lock(q.mutex);
    return TakeMatching(q, pMsg, lo, hi, (wRemoveMsg & PM_REMOVE) != 0) ? TRUE : FALSE;
}

void PostQuitMessage(int nExitCode)
{
    auto* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        QCoreApplication::exit(nExitCode);
        return;
    }
    OwnQueue();
    PostThreadMessage(GetCurrentThreadId(), WM_QUIT, static_cast<WPARAM>(nExitCode), 0);
}

namespace qelm {
long UndeliveredPayloadsFreed()
{
    return g_undeliveredFreed.load();
}

void ProcessSentMessages()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return;
    QCoreApplication::sendPostedEvents(nullptr, SentEventType());
}
} // namespace qelm
