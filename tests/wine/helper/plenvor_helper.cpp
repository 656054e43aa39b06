// Test-only tool for the Wine suite: sets and reads raw registry values, reads
// the system colours, takes the lock, and plays the windows and the session
// end that a run meets. Usage: see main() and the commands of RunCommand().
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// These need <windows.h> first.
#include <aclapi.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

// The roots the suite names; null for any other, which a command refuses
// rather than touch another branch of the registry.
HKEY RootKey(const std::string& name) {
  if (name == "HKCU") return HKEY_CURRENT_USER;
  if (name == "HKU") return HKEY_USERS;
  if (name == "HKLM") return HKEY_LOCAL_MACHINE;
  return nullptr;
}

std::string ToHex(const std::vector<unsigned char>& bytes) {
  std::string out;
  char pair[3];
  for (unsigned char b : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    out += pair;
  }
  return out;
}

std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(
        static_cast<unsigned char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
  }
  return bytes;
}

// The stored bytes exactly: asking for the size first means the read offers no
// spare room in which the registry could add a NUL.
std::string GetValue(HKEY root, const std::string& path, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "missing";
  DWORD type = 0;
  DWORD size = 0;
  std::string result = "missing";
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    std::vector<unsigned char> data(size);
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, data.data(), &size) == ERROR_SUCCESS) {
      data.resize(size);
      result = std::to_string(type) + " " + ToHex(data);
    }
  }
  RegCloseKey(key);
  return result;
}

// Takes the lock as another run would, and says who may use it.
std::string TakeLock(const std::string& name, DWORD wait_ms) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return "error " + std::to_string(GetLastError());
  const DWORD wait = WaitForSingleObject(mutex, wait_ms);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(mutex);
  char result[16];
  std::snprintf(result, sizeof result, "%lx ", static_cast<unsigned long>(wait));
  std::string out = result;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  char* sddl = nullptr;
  if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                      nullptr, &descriptor) == ERROR_SUCCESS &&
      ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
    out += sddl;
    LocalFree(sddl);
  }
  LocalFree(descriptor);
  CloseHandle(mutex);
  return out;
}

// One line of "plenvor_helper reg" (fields split by tabs), ROOT being HKCU,
// HKU or HKLM ("error unknown root" for any other); what it prints:
//   set ROOT PATH NAME TYPE HEX  creates the key if needed; stores the bytes as given
//   get ROOT PATH NAME           "TYPE HEX" (the exact stored bytes) or "missing"
//   delkey ROOT PATH             deletes the key with everything below it
//   haskey ROOT PATH             "yes" or "no"
//   syscolors                    the 25 GetSysColor values in hex
//   lock NAME MS                 takes the mutex NAME as a run would, waiting up to MS:
//                                the wait's result in hex and the DACL in SDDL, or "error N"
std::string RunCommand(const std::vector<std::string>& f) {
  const std::string& verb = f[0];
  if (verb != "syscolors" && verb != "lock" && f.size() > 1 && RootKey(f[1]) == nullptr)
    return "error unknown root " + f[1];
  if (verb == "set" && f.size() == 6) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(RootKey(f[1]), f[2].c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return "error " + std::to_string(status);
    std::vector<unsigned char> data = FromHex(f[5]);
    const auto count = static_cast<DWORD>(data.size());
    // The registry keeps a NUL that follows a string's bytes as part of it;
    // a byte that is not one keeps the stored bytes exactly as given.
    data.push_back(0xFF);
    status = RegSetValueExA(key, f[3].c_str(), 0, std::strtoul(f[4].c_str(), nullptr, 10),
                            data.data(), count);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? "ok" : "error " + std::to_string(status);
  }
  if (verb == "get" && f.size() == 4) return GetValue(RootKey(f[1]), f[2], f[3]);
  if (verb == "delkey" && f.size() == 3) {
    RegDeleteTreeA(RootKey(f[1]), f[2].c_str());
    return "ok";
  }
  if (verb == "haskey" && f.size() == 3) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(RootKey(f[1]), f[2].c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "no";
    RegCloseKey(key);
    return "yes";
  }
  if (verb == "syscolors") {
    std::string out;
    char text[16];
    for (int i = 0; i < 25; ++i) {
      std::snprintf(text, sizeof text, "%s%08lx", i ? " " : "", GetSysColor(i));
      out += text;
    }
    return out;
  }
  if (verb == "lock" && f.size() == 3)
    return TakeLock(f[1], std::strtoul(f[2].c_str(), nullptr, 10));
  return "error usage";
}

int RegistryCommands() {
  for (std::string text; std::getline(std::cin, text);) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty()) continue;
    std::vector<std::string> fields(1);
    for (const char c : text) {
      if (c == '\t') {
        fields.emplace_back();
      } else {
        fields.back() += c;
      }
    }
    std::printf("%s\n", RunCommand(fields).c_str());
  }
  std::fflush(stdout);
  return 0;
}

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

void Touch(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  CloseHandle(file);
}

FILE* listen_log = nullptr;
const char* watched_path = nullptr;  // under HKEY_USERS
const char* watched_name = nullptr;
const char* stop_file = nullptr;

// What the helper's answering windows share: a timer that ends them once the
// stop file exists.
LRESULT StoppableWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_TIMER:
      if (FileExists(stop_file)) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

// Marks the window ready, then answers its messages until it is stopped.
void AnswerUntilStopped(HWND window, const char* ready) {
  SetTimer(window, 1, 50, nullptr);
  Touch(ready);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SETTINGCHANGE: {
      // What a desktop would re-read as the message arrives.
      std::fprintf(listen_log, "settingchange %lx %s\n", static_cast<unsigned long>(wparam),
                   GetValue(HKEY_USERS, watched_path, watched_name).c_str());
      std::fflush(listen_log);
      return 0;
    }
    case WM_SYSCOLORCHANGE:
      std::fprintf(listen_log, "syscolorchange\n");
      std::fflush(listen_log);
      return 0;
    default:
      return StoppableWindowProc(window, message, wparam, lparam);
  }
}

// Hidden unless asked: a visible window that stops answering blocks the
// colour change.
HWND MakeWindow(const char* name, WNDPROC proc, bool visible = false, const char* title = nullptr,
                HMENU menu = nullptr, RECT place = {0, 0, 100, 100}) {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = proc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  window_class.lpszClassName = name;
  RegisterClassA(&window_class);
  return CreateWindowExA(0, name, title ? title : name,
                         WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), place.left, place.top,
                         place.right - place.left, place.bottom - place.top, nullptr, menu,
                         window_class.hInstance, nullptr);
}

int Listen(const char* path, const char* name, const char* log_path, const char* ready,
           const char* stop) {
  watched_path = path;
  watched_name = name;
  listen_log = std::fopen(log_path, "w");
  if (listen_log == nullptr) return 2;
  stop_file = stop;
  HWND window = MakeWindow("PlenvorListener", ListenerProc);
  AnswerUntilStopped(window, ready);
  std::fclose(listen_log);
  return 0;
}

int WaitForStop(const char* ready, const char* stop) {
  Touch(ready);
  while (!FileExists(stop)) Sleep(50);
  return 0;
}

int Hang(const char* ready, const char* stop, bool visible) {
  HWND window = MakeWindow("PlenvorHung", DefWindowProcA, visible);
  // Drain what showing the window queued, then never read a message again.
  MSG msg;
  while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  return WaitForStop(ready, stop);
}

DWORD slow_ms = 0;

LRESULT CALLBACK SlowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_SETTINGCHANGE) {
    Sleep(slow_ms);
    return 0;
  }
  return StoppableWindowProc(window, message, wparam, lparam);
}

int Slow(const char* ms, const char* ready, const char* stop) {
  slow_ms = std::strtoul(ms, nullptr, 10);
  stop_file = stop;
  AnswerUntilStopped(MakeWindow("PlenvorSlow", SlowProc), ready);
  return 0;
}

int HoldEvent(const char* name, const char* ready, const char* stop) {
  return CreateEventA(nullptr, TRUE, FALSE, name) == nullptr ? 2 : WaitForStop(ready, stop);
}

// Delivers console control event EVENT (0 Ctrl-C, 1 Ctrl-Break, 2 the
// console closed) to each running copy of EXE as Windows does: a new thread
// in the process runs the system's CtrlRoutine with the event, which calls
// the handlers the process registered (HandlerRoutine's documentation: "the
// system creates a new thread in the process to execute the function").
// Prints "sent N" with the number of copies reached.
int SendConsoleEvent(const char* event, const char* exe) {
  HMODULE kernelbase = GetModuleHandleA("kernelbase.dll");
  FARPROC found = kernelbase != nullptr ? GetProcAddress(kernelbase, "CtrlRoutine") : nullptr;
  LPTHREAD_START_ROUTINE routine = nullptr;
  static_assert(sizeof routine == sizeof found);
  std::memcpy(&routine, &found, sizeof routine);
  if (routine == nullptr) {
    std::printf("error no CtrlRoutine\n");
    return 2;
  }
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 2;
  int sent = 0;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, exe) != 0) continue;
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID);
    if (process == nullptr) continue;
    HANDLE thread = CreateRemoteThread(
        process, nullptr, 0, routine,
        reinterpret_cast<void*>(static_cast<ULONG_PTR>(std::strtoul(event, nullptr, 0))), 0,
        nullptr);
    if (thread != nullptr) {
      ++sent;
      CloseHandle(thread);
    }
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  std::printf("sent %d\n", sent);
  std::fflush(stdout);
  return 0;
}

// Holds the mutex NAME as another run holding the lock does, until STOP.
int HoldLock(const char* name, const char* ready, const char* stop) {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
  if (mutex == nullptr) return 2;
  const int result = WaitForStop(ready, stop);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  return result;
}

constexpr UINT kForcedEnd = 0xDEAD;

struct Session {
  DWORD process;
  LPARAM reason;
  WPARAM ending;  // WM_ENDSESSION's wParam: FALSE when another program cancelled
  int windows = 0;
  int agreed = 0;
};

BOOL CALLBACK EndWindowSession(HWND window, LPARAM param) {
  auto* session = reinterpret_cast<Session*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != session->process) return TRUE;
  ++session->windows;
  DWORD_PTR answer = 0;
  if (SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, session->reason, SMTO_ABORTIFHUNG, 5000,
                          &answer) &&
      answer != 0) {
    ++session->agreed;
  }
  SendMessageTimeoutA(window, WM_ENDSESSION, session->ending, session->reason, SMTO_ABORTIFHUNG,
                      5000, &answer);
  return TRUE;
}

// As Windows ends a program that loads user32 at logoff or shutdown: the two
// end-session messages to each of its top-level windows, then, after a grace,
// the end of the process, with kForcedEnd, a status the program never gives.
// Cancelled (another program refused), the second message says so and the
// process goes on. A copy is first given up to 30 s to have a top-level window
// at all (on a loaded machine a run may store "0" before its window is up),
// and the grace is 20 s: what is tested is how the program ends, not the
// machine's speed. Prints "windows N agreed M ended MS" for each process: how
// long it took to end by itself after the messages, -1 when it had to be
// ended or was left to run.
int EndSession(const char* exe, const char* reason, bool cancelled) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 2;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, exe) != 0) continue;
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
    Session session{entry.th32ProcessID, static_cast<LPARAM>(std::strtoul(reason, nullptr, 0)),
                    static_cast<WPARAM>(cancelled ? FALSE : TRUE)};
    const DWORD asked = GetTickCount();
    EnumWindows(EndWindowSession, reinterpret_cast<LPARAM>(&session));
    while (session.windows == 0 && GetTickCount() - asked < 30000) {
      Sleep(50);
      EnumWindows(EndWindowSession, reinterpret_cast<LPARAM>(&session));
    }
    long ended = -1;
    if (process != nullptr && !cancelled) {
      const DWORD start = GetTickCount();
      if (WaitForSingleObject(process, 20000) == WAIT_OBJECT_0) {
        ended = static_cast<long>(GetTickCount() - start);
      } else {
        TerminateProcess(process, kForcedEnd);
        WaitForSingleObject(process, 10000);
      }
    }
    if (process != nullptr) CloseHandle(process);
    std::printf("windows %d agreed %d ended %ld\n", session.windows, session.agreed, ended);
  }
  CloseHandle(snapshot);
  std::fflush(stdout);
  return 0;
}

// As a windowed program (one with no console of its own, as the Task
// Scheduler's session starts them) starts another: the helper gives up its
// console first, so that a console program it starts without
// CREATE_NO_WINDOW gets a console window of its own. Prints the child's
// exit status in hex, or "error N".
int Spawn(const char* flags, const char* exe) {
  FILE* out = stdout;
  FreeConsole();
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::string command = std::string("\"") + exe + "\"";
  if (!CreateProcessA(exe, command.data(), nullptr, nullptr, FALSE,
                      static_cast<DWORD>(std::strtoul(flags, nullptr, 0)), nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(out, "error %lu\n", GetLastError());
    std::fflush(out);
    return 0;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  std::fprintf(out, "%lx\n", static_cast<unsigned long>(status));
  std::fflush(out);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

// The processes now running EXE, by id.
std::vector<DWORD> ProcessesOf(const char* exe) {
  std::vector<DWORD> found;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, exe) == 0) found.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return found;
}

struct Watch {
  std::vector<DWORD> processes;
  std::vector<HWND> windows, visible;
};

void Note(std::vector<HWND>& seen, HWND window) {
  for (HWND known : seen) {
    if (known == window) return;
  }
  seen.push_back(window);
}

BOOL CALLBACK WatchWindow(HWND window, LPARAM param) {
  auto* watch = reinterpret_cast<Watch*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  for (DWORD watched : watch->processes) {
    if (watched != process) continue;
    Note(watch->windows, window);
    if (IsWindowVisible(window)) Note(watch->visible, window);
  }
  return TRUE;
}

// Asks Windows itself, every few milliseconds from the moment a copy of EXE
// runs (waiting up to 30 s for one) until none does, which top-level windows
// its copies have and which of them IsWindowVisible says are visible: what
// the desktop would show, caption and taskbar button, whatever their size.
// Prints "windows N visible M", each window counted once.
int WatchWindows(const char* exe) {
  Watch watch;
  for (DWORD waited = 0; (watch.processes = ProcessesOf(exe)).empty() && waited < 30000;
       waited += 5) {
    Sleep(5);
  }
  while (!(watch.processes = ProcessesOf(exe)).empty()) {
    EnumWindows(WatchWindow, reinterpret_cast<LPARAM>(&watch));
    Sleep(5);
  }
  std::printf("windows %zu visible %zu\n", watch.windows.size(), watch.visible.size());
  std::fflush(stdout);
  return 0;
}

// The sample window: a caption, a menu bar, a push button, a scroll bar, a
// list with a selected line, and a swatch of each of the 25 display elements
// filled with its system-colour brush, all drawn by Wine's own user32.
std::vector<std::string> element_names;
constexpr int kSwatchTop = 120, kSwatchWidth = 160, kSwatchHeight = 22, kLabelHeight = 16;

RECT SwatchRect(int element) {
  const int column = element % 5, row = element / 5;
  const int left = 8 + column * (kSwatchWidth + 8);
  const int top = kSwatchTop + row * (kSwatchHeight + kLabelHeight + 6) + kLabelHeight;
  return RECT{left, top, left + kSwatchWidth, top + kSwatchHeight};
}

LRESULT CALLBACK SampleProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
      for (int element = 0; element < 25; ++element) {
        RECT swatch = SwatchRect(element);
        FillRect(dc, &swatch, GetSysColorBrush(element));
        FrameRect(dc, &swatch, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        RECT label = {swatch.left, swatch.top - kLabelHeight, swatch.right, swatch.top};
        char text[32];
        std::snprintf(text, sizeof text, "%d %s", element,
                      element_names.at(static_cast<std::size_t>(element)).c_str());
        DrawTextA(dc, text, -1, &label, DT_LEFT | DT_SINGLELINE | DT_VCENTER);
      }
      EndPaint(window, &paint);
      return 0;
    }
    default:
      return StoppableWindowProc(window, message, wparam, lparam);
  }
}

// Writes "window L T R B" and "swatch I L T R B" lines (screen coordinates,
// right and bottom exclusive, the swatch's black frame left out).
void WriteLayout(HWND window, const char* path) {
  FILE* out = std::fopen(path, "w");
  if (out == nullptr) return;
  RECT frame;
  GetWindowRect(window, &frame);
  std::fprintf(out, "window %ld %ld %ld %ld\n", frame.left, frame.top, frame.right, frame.bottom);
  for (int element = 0; element < 25; ++element) {
    RECT swatch = SwatchRect(element);
    POINT corners[2] = {{swatch.left + 1, swatch.top + 1}, {swatch.right - 1, swatch.bottom - 1}};
    ClientToScreen(window, &corners[0]);
    ClientToScreen(window, &corners[1]);
    std::fprintf(out, "swatch %d %ld %ld %ld %ld\n", element, corners[0].x, corners[0].y,
                 corners[1].x, corners[1].y);
  }
  std::fclose(out);
}

int Sample(const char* names, const char* layout, const char* ready, const char* stop) {
  std::ifstream in(names);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') element_names.push_back(line);
  }
  if (element_names.size() != 25) return 2;
  stop_file = stop;
  HMENU menu = CreateMenu();
  AppendMenuA(menu, MF_STRING, 1, "&File");
  AppendMenuA(menu, MF_STRING, 2, "&Edit");
  AppendMenuA(menu, MF_STRING, 3, "&View");
  AppendMenuA(menu, MF_STRING | MF_GRAYED, 4, "&Help");
  HWND window = MakeWindow("PlenvorSample", SampleProc, true, "Plenvor sample window", menu,
                           {16, 16, 876, 416});
  HINSTANCE instance = GetModuleHandleA(nullptr);
  CreateWindowExA(0, "BUTTON", "Push button", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 8, 8, 120, 28,
                  window, nullptr, instance, nullptr);
  CreateWindowExA(0, "SCROLLBAR", "", WS_CHILD | WS_VISIBLE | SBS_HORZ, 8, 48, 250, 18, window,
                  nullptr, instance, nullptr);
  CreateWindowExA(0, "EDIT", "Edit control", WS_CHILD | WS_VISIBLE | WS_BORDER, 8, 76, 250, 24,
                  window, nullptr, instance, nullptr);
  HWND list = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL,
                              280, 8, 240, 96, window, nullptr, instance, nullptr);
  for (const char* line : {"A line", "The selected line", "Another line", "One more line",
                           "And the last line", "Below the fold"}) {
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
  }
  SendMessageA(list, LB_SETCURSEL, 1, 0);
  SetFocus(list);
  UpdateWindow(window);
  WriteLayout(window, layout);
  AnswerUntilStopped(window, ready);
  return 0;
}

}  // namespace

// listen PATH NAME LOG: logs the broadcasts, each with the value NAME under
// HKEY_USERS\PATH as it is then; hang: a hidden window that never answers,
// hang-visible a visible one; sample: a window drawn in the system colours,
// with a swatch of each, labelled with the names in file NAMES, and their
// screen places in LAYOUT; slow MS: a hidden window that takes MS over each
// WM_SETTINGCHANGE; hold-event NAME: an event that holds NAME; hold-lock
// NAME: a mutex of that name, owned. Each one
// touches READY once it is up, and ends once STOP exists. endsession: see
// EndSession(); spawn FLAGS EXE: see Spawn(); watch-windows EXE: see
// WatchWindows().
int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "reg") return RegistryCommands();
  if (mode == "listen" && argc == 7) return Listen(argv[2], argv[3], argv[4], argv[5], argv[6]);
  if (mode == "hang" && argc == 4) return Hang(argv[2], argv[3], false);
  if (mode == "hang-visible" && argc == 4) return Hang(argv[2], argv[3], true);
  if (mode == "sample" && argc == 6) return Sample(argv[2], argv[3], argv[4], argv[5]);
  if (mode == "slow" && argc == 5) return Slow(argv[2], argv[3], argv[4]);
  if (mode == "hold-event" && argc == 5) return HoldEvent(argv[2], argv[3], argv[4]);
  if (mode == "hold-lock" && argc == 5) return HoldLock(argv[2], argv[3], argv[4]);
  if (mode == "console-event" && argc == 4) return SendConsoleEvent(argv[2], argv[3]);
  if (mode == "endsession" && (argc == 4 || (argc == 5 && std::strcmp(argv[4], "cancel") == 0)))
    return EndSession(argv[2], argv[3], argc == 5);
  if (mode == "spawn" && argc == 4) return Spawn(argv[2], argv[3]);
  if (mode == "watch-windows" && argc == 3) return WatchWindows(argv[2]);
  std::fprintf(
      stderr,
      "usage: plenvor_helper reg | listen PATH NAME LOG READY STOP | hang[-visible] READY STOP"
      " | sample NAMES LAYOUT READY STOP | slow MS READY STOP | hold-(event|lock) NAME READY STOP"
      " | endsession EXE LPARAM [cancel] | spawn FLAGS EXE | watch-windows EXE\n");
  return 2;
}
