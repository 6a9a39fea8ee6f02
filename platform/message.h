// Posted and sent messages between threads and windows, and the message
// queues of worker threads.
#pragma once

#include "platform/types.h"
#include "platform/wnd.h"

// Frees a heap payload carried by a message that is never delivered.
using PayloadDeleter = void (*)(WPARAM wParam, LPARAM lParam);

// Queues a message for the window's thread (the UI thread) and returns at
// once; any thread. FALSE when the handle is not a live window: the caller
// still owns its payload. Once queued, the handler owns the payload; when the
// window dies before delivery, or no handler takes the message, the layer
// runs `deleter` (if any) exactly once.
BOOL PostMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, PayloadDeleter deleter);
BOOL PostMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
inline BOOL PostMessageA(HWND h, UINT m, WPARAM w, LPARAM l) { return PostMessage(h, m, w, l); }

// Posts a heap object as lParam; the layer frees it with delete when it is
// not delivered. On FALSE the caller still owns it.
template <class T>
BOOL PostPayload(HWND hWnd, UINT msg, WPARAM wParam, T* payload)
{
    return PostMessage(hWnd, msg, wParam, reinterpret_cast<LPARAM>(payload),
                       [](WPARAM, LPARAM l) { delete reinterpret_cast<T*>(l); });
}

// Runs the window's handler and returns its result. From the UI thread the
// handler runs at once; from another thread the caller blocks until the UI
// thread has run it (the UI thread must not be waiting for that caller).
// 0 for a dead handle, or when the window dies first.
LRESULT SendMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
inline LRESULT SendMessageA(HWND h, UINT m, WPARAM w, LPARAM l) { return SendMessage(h, m, w, l); }

// --- worker thread queues -----------------------------------------------------

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

// A thread gets its queue on its first GetMessage/PeekMessage call; posting to
// a thread without one fails. Pending payloads are freed with their deleters
// when the thread ends.
BOOL PostThreadMessage(DWORD idThread, UINT msg, WPARAM wParam, LPARAM lParam, PayloadDeleter deleter = nullptr);
inline BOOL PostThreadMessageA(DWORD t, UINT m, WPARAM w, LPARAM l) { return PostThreadMessage(t, m, w, l); }
// Waits for a message of the calling thread's queue; 0 for WM_QUIT, else 1.
// The hWnd argument must be null (worker queues carry no windows).
BOOL GetMessage(MSG* pMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
BOOL PeekMessage(MSG* pMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
void PostQuitMessage(int nExitCode);

namespace qelm {
// Number of payloads freed by the layer because they were not delivered
// (a diagnostic for tests and the log).
long UndeliveredPayloadsFreed();

// On the UI thread: runs the messages other threads are sending to its
// windows and waiting on. For a UI-thread wait on a worker that may be
// inside SendMessage; elsewhere it does nothing.
void ProcessSentMessages();
} // namespace qelm
