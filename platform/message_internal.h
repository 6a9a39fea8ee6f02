// Internals shared by wnd.cpp and message.cpp: the handle table and the Qt
// events that carry posted and sent messages.
#pragma once

#include "platform/message.h"

#include <QEvent>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace qelm::detail {

// The handle table. Windows and controls register on the UI thread; any
// thread may look a handle up while holding HandleMutex().
std::mutex& HandleMutex();
HWND RegisterHandle(QWidget* w, CWnd* wnd);       // takes the lock
void UnregisterHandle(HWND h);                     // takes the lock
QWidget* LookupWidgetLocked(HWND h);               // lock held by caller
CWnd* LookupWndLocked(HWND h);                     // lock held by caller

QEvent::Type PostedEventType();
QEvent::Type SentEventType();

// A posted message. Destroyed undelivered (dead window, application gone),
// it frees the payload.
class PostedMsgEvent : public QEvent {
public:
    PostedMsgEvent(HWND h, UINT m, WPARAM w, LPARAM l, PayloadDeleter d)
        : QEvent(PostedEventType()), hwnd(h), msg(m), wParam(w), lParam(l), deleter(d) {}
    ~PostedMsgEvent() override;
    PostedMsgEvent(const PostedMsgEvent&) = delete;
    PostedMsgEvent& operator=(const PostedMsgEvent&) = delete;

    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    PayloadDeleter deleter;
    bool delivered = false; // the handler took the payload
};

struct SentState {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    LRESULT result = 0;
};

// A message sent from another thread; the sender waits on `state`.
class SentMsgEvent : public QEvent {
public:
    SentMsgEvent(HWND h, UINT m, WPARAM w, LPARAM l, std::shared_ptr<SentState> s)
        : QEvent(SentEventType()), hwnd(h), msg(m), wParam(w), lParam(l), state(std::move(s)) {}
    ~SentMsgEvent() override; // wakes the sender even when never delivered
    SentMsgEvent(const SentMsgEvent&) = delete;
    SentMsgEvent& operator=(const SentMsgEvent&) = delete;

    void Complete(LRESULT r);

    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    std::shared_ptr<SentState> state;
    bool completed = false;
};

// Delivers a posted message to its window: the PreTranslateMessage walk, then
// the message map. Called by CWnd::event on the UI thread.
void DeliverPosted(CWnd* wnd, PostedMsgEvent* ev);

// Installs the application-wide filter that offers input to PreTranslateMessage.
void EnsureInputFilter();

// Walks PreTranslateMessage from `from` up through its parents.
bool PreTranslateWalk(CWnd* from, MSG* msg);

void CountUndeliveredFreed();

} // namespace qelm::detail
