#include "platform/windows_interrupt_guard.h"

#include "platform/bounds.h"
#include "platform/platform_ops.h"

namespace plenvor::interrupt_guard {
namespace {

// The console handler and the end-session window run on threads of their
// own, so what they need lives here. `lock` is held around every store, so
// that the guard's store can neither overlap one of the run's nor be
// followed by one.
struct Guard {
  CRITICAL_SECTION lock;
  bool armed;
  HKEY key;
  const char* name;
  char text[kMaxValueBytes + 1];  // any value text a step reads, and its NUL
  DWORD length;
};
Guard guard;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

// Arming waits for the end-session window at most bounds::kEndSessionWindowMs.
// Making a window takes milliseconds; past that the run goes on with the
// console handler alone.
bool window_started = false;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

// The guard's store, when armed, then the end of the process. Still holding
// the lock at the end: a store the run tries after the guard's never happens.
[[noreturn]] void StoreAndEnd() {
  ::EnterCriticalSection(&guard.lock);
  if (guard.armed) {
    ::RegSetValueExA(guard.key, guard.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(guard.text),
                     guard.length);
  }
  EndProcessNow(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

// Ctrl-C, Ctrl-Break and the console closing, at any moment of the run: a
// bounded call may still stand inside user32 on its worker, where the default
// handler's ExitProcess would detach DLLs around it.
BOOL WINAPI OnConsoleEvent(DWORD /*event*/) { StoreAndEnd(); }

LRESULT CALLBACK EndSessionProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_QUERYENDSESSION:
      return TRUE;  // never holds up a logoff or a shutdown
    case WM_ENDSESSION:
      // The session ends: once this returns, Windows may end the process at
      // any moment, so it ends here, armed or not. FALSE: another program
      // cancelled the logoff, and the run goes on.
      if (wparam != FALSE) {
        StoreAndEnd();
      }
      return 0;
    default:
      // Everything else, the run's own broadcasts among it, is answered at once.
      return ::DefWindowProcA(window, message, wparam, lparam);
  }
}

// Makes the window, tells Arm whether it exists, then pumps its messages
// until the process ends. Top-level and hidden; not message-only, since a
// message-only window receives no end-session messages.
DWORD WINAPI EndSessionThread(void* ready) {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = EndSessionProc;
  window_class.hInstance = ::GetModuleHandleA(nullptr);
  window_class.lpszClassName = "PlenvorEndSession";
  HWND window = nullptr;
  if (::RegisterClassA(&window_class) != 0) {
    window = ::CreateWindowExA(0, window_class.lpszClassName, "Plenvor", WS_OVERLAPPED, 0, 0, 0, 0,
                               nullptr, nullptr, window_class.hInstance, nullptr);
  }
  ::SetEvent(static_cast<HANDLE>(ready));
  if (window == nullptr) {
    return 1;
  }
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::DispatchMessageA(&msg);
  }
  return 0;
}

// The window lasts as long as the process, so it is made at most once.
void StartEndSessionWindow() {
  if (window_started) {
    return;
  }
  window_started = true;
  HANDLE ready = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (ready == nullptr) {
    return;
  }
  HANDLE thread = ::CreateThread(nullptr, 0, EndSessionThread, ready, 0, nullptr);
  if (thread == nullptr) {
    ::CloseHandle(ready);
    return;
  }
  // On time-out the thread still owns the event; a handle is all it costs.
  if (::WaitForSingleObject(ready, bounds::kEndSessionWindowMs) == WAIT_OBJECT_0) {
    ::CloseHandle(ready);
  }
  ::CloseHandle(thread);
}

}  // namespace

void Initialize() {
  ::InitializeCriticalSection(&guard.lock);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void EndProcessNow(UINT status) {
  ::TerminateProcess(::GetCurrentProcess(), status);
  // TerminateProcess may return before the end; nothing more of this thread
  // may run meanwhile.
  for (;;) {
    ::Sleep(INFINITE);
  }
}

LONG SetValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD count) {
  ::EnterCriticalSection(&guard.lock);
  const LONG status = ::RegSetValueExA(key, name, 0, type, data, count);
  ::LeaveCriticalSection(&guard.lock);
  return status;
}

void Arm(HKEY key, const char* name, const char* text) {
  StartEndSessionWindow();
  ::EnterCriticalSection(&guard.lock);
  guard.key = key;
  guard.name = name;
  DWORD length = 0;
  for (; text[length] != '\0' && length < kMaxValueBytes; ++length) {
    guard.text[length] = text[length];
  }
  guard.length = length;
  guard.armed = true;
  ::LeaveCriticalSection(&guard.lock);
}

void Disarm() {
  ::EnterCriticalSection(&guard.lock);
  guard.armed = false;
  ::LeaveCriticalSection(&guard.lock);
}

}  // namespace plenvor::interrupt_guard
