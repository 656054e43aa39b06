#include "platform/windows_platform_ops.h"

#include <array>
#include <cstdio>

#include "platform/windows_interrupt_guard.h"

namespace plenvor {
namespace {

// Predefined roots such as HKEY_USERS are integers cast to a handle.
// NOLINTNEXTLINE(performance-no-int-to-ptr)
HKEY ToHkey(RegKey key) { return reinterpret_cast<HKEY>(key); }

// NOLINTNEXTLINE(performance-no-int-to-ptr)
HANDLE ToHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

// A call that waits on other programs' windows, run on a worker thread. Each
// kind of call is a struct of its arguments with a Run() that makes the call.
template <typename BoundedCall>
DWORD WINAPI RunOnWorker(void* param) {
  static_cast<const BoundedCall*>(param)->Run();
  return 0;
}

// Makes `call` and waits for it at most bound_ms. The worker gets a copy on
// the heap, off the caller's stack, since it may still be running after the
// caller has given up on it and returned; the copy is freed only once the
// call has returned. Without a copy or a thread the call is made here.
template <typename BoundedCall>
Bounded RunBounded(const BoundedCall& call, DWORD bound_ms) {
  auto* copy = static_cast<BoundedCall*>(::HeapAlloc(::GetProcessHeap(), 0, sizeof(BoundedCall)));
  HANDLE worker = nullptr;
  if (copy != nullptr) {
    *copy = call;
    worker = ::CreateThread(nullptr, 0, RunOnWorker<BoundedCall>, copy, 0, nullptr);
  }
  if (worker == nullptr) {
    call.Run();
    ::HeapFree(::GetProcessHeap(), 0, copy);
    return Bounded::kReturned;
  }
  const DWORD wait = ::WaitForSingleObject(worker, bound_ms);
  ::CloseHandle(worker);
  if (wait != WAIT_OBJECT_0) {
    return Bounded::kStillRunning;
  }
  ::HeapFree(::GetProcessHeap(), 0, copy);
  return Bounded::kReturned;
}

struct Broadcast {
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  UINT flags;
  UINT timeout_ms;

  void Run() const {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutA(HWND_BROADCAST, message, wparam, lparam, flags, timeout_ms, &result);
  }
};

struct SystemParameter {
  UINT action;
  UINT param;
  void* data;
  UINT flags;

  void Run() const { ::SystemParametersInfoA(action, param, data, flags); }
};

// The lists themselves, not pointers to the caller's, with room for every
// element the colour step sets.
struct ColorChange {
  int count;
  std::array<INT, kSystemColorCount> elements;
  std::array<COLORREF, kSystemColorCount> colors;

  void Run() const { ::SetSysColors(count, elements.data(), colors.data()); }
};

// SYSTEM and the Administrators group, full access; no one else anything.
// The SIDs and the list live as long as the process, as the descriptor
// points at them. False when the descriptor could not be built.
bool MakeLockSecurity(SECURITY_ATTRIBUTES& attributes) {
  static SECURITY_DESCRIPTOR descriptor;
  // Room for the list and two ACEs with SIDs of at most two sub-authorities.
  static std::array<DWORD, 32> acl_space;
  static std::array<DWORD, 4> system_sid;
  static std::array<DWORD, 4> admins_sid;
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID system = system_sid.data();
  PSID admins = admins_sid.data();
  auto* acl = reinterpret_cast<PACL>(acl_space.data());
  if (::InitializeSid(system, &nt_authority, 1) == FALSE ||
      ::InitializeSid(admins, &nt_authority, 2) == FALSE) {
    return false;
  }
  *::GetSidSubAuthority(system, 0) = SECURITY_LOCAL_SYSTEM_RID;
  *::GetSidSubAuthority(admins, 0) = SECURITY_BUILTIN_DOMAIN_RID;
  *::GetSidSubAuthority(admins, 1) = DOMAIN_ALIAS_RID_ADMINS;
  if (::InitializeAcl(acl, sizeof(DWORD) * acl_space.size(), ACL_REVISION) == FALSE ||
      ::AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, system) == FALSE ||
      ::AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, admins) == FALSE ||
      ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) == FALSE ||
      ::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) == FALSE) {
    return false;
  }
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = &descriptor;
  attributes.bInheritHandle = FALSE;
  return true;
}

}  // namespace

WindowsPlatformOps::WindowsPlatformOps() { interrupt_guard::Initialize(); }

std::int32_t WindowsPlatformOps::OpenKey(RegKey root, const char* subkey, std::uint32_t options,
                                         std::uint32_t access, RegKey* key) {
  HKEY opened = nullptr;
  const LONG status = ::RegOpenKeyExA(ToHkey(root), subkey, options, access, &opened);
  *key = reinterpret_cast<RegKey>(opened);
  return status;
}

std::int32_t WindowsPlatformOps::QueryValue(RegKey key, const char* name, std::uint32_t* type,
                                            std::uint8_t* data, std::uint32_t* count) {
  DWORD value_type = 0;
  DWORD value_count = *count;
  const LONG status =
      ::RegQueryValueExA(ToHkey(key), name, nullptr, &value_type, data, &value_count);
  *type = value_type;
  *count = value_count;
  return status;
}

std::int32_t WindowsPlatformOps::SetValue(RegKey key, const char* name, std::uint32_t type,
                                          const std::uint8_t* data, std::uint32_t count) {
  return interrupt_guard::SetValue(ToHkey(key), name, type, data, count);
}

std::int32_t WindowsPlatformOps::CloseKey(RegKey key) { return ::RegCloseKey(ToHkey(key)); }

Bounded WindowsPlatformOps::BroadcastMessage(std::uint32_t message, std::uint32_t wparam,
                                             std::int32_t lparam, std::uint32_t flags,
                                             std::uint32_t timeout_ms, std::uint32_t bound_ms) {
  return Note(RunBounded(Broadcast{message, wparam, lparam, flags, timeout_ms}, bound_ms));
}

Bounded WindowsPlatformOps::ApplySystemParameter(std::uint32_t action, std::uint32_t param,
                                                 void* data, std::uint32_t flags,
                                                 std::uint32_t bound_ms) {
  return Note(RunBounded(SystemParameter{action, param, data, flags}, bound_ms));
}

Bounded WindowsPlatformOps::SetSysColors(std::int32_t count, const std::int32_t* elements,
                                         const std::uint32_t* colors, std::uint32_t bound_ms) {
  ColorChange change{};
  // The colour step passes at most kSystemColorCount, the lists' own size; a
  // count beyond it would break that contract, and is kept inside the lists.
  change.count = count < 0 ? 0 : (count > kSystemColorCount ? kSystemColorCount : count);
  // Indexing, not at(): at() would bring the C++ library's exception
  // machinery into the program.
  for (int i = 0; i < change.count; ++i) {
    const auto at = static_cast<std::size_t>(i);
    change.elements[at] = elements[i];
    change.colors[at] = colors[i];
  }
  return Note(RunBounded(change, bound_ms));
}

std::int32_t WindowsPlatformOps::CreateNamedMutex(const char* name, Handle* mutex) {
  SECURITY_ATTRIBUTES attributes;
  // Should the descriptor not build (only on a broken system), the mutex
  // gets the default security of the creator's token.
  const bool secured = MakeLockSecurity(attributes);
  HANDLE created = ::CreateMutexA(secured ? &attributes : nullptr, FALSE, name);
  *mutex = reinterpret_cast<Handle>(created);
  return created != nullptr ? ERROR_SUCCESS : static_cast<std::int32_t>(::GetLastError());
}

std::uint32_t WindowsPlatformOps::WaitForObject(Handle object, std::uint32_t timeout_ms) {
  return ::WaitForSingleObject(ToHandle(object), timeout_ms);
}

std::int32_t WindowsPlatformOps::ReleaseMutex(Handle mutex) {
  return ::ReleaseMutex(ToHandle(mutex));
}

std::int32_t WindowsPlatformOps::CloseHandle(Handle object) {
  return ::CloseHandle(ToHandle(object));
}

void WindowsPlatformOps::ArmInterruptGuard(RegKey key, const char* name, const char* text) {
  interrupt_guard::Arm(ToHkey(key), name, text);
}

void WindowsPlatformOps::DisarmInterruptGuard() { interrupt_guard::Disarm(); }

Bounded WindowsPlatformOps::Note(Bounded call) {
  call_left_running_ = call_left_running_ || call == Bounded::kStillRunning;
  return call;
}

void WindowsPlatformOps::EndRun(int status) const {
  if (call_left_running_) {
    (void)std::fflush(stdout);
    interrupt_guard::EndProcessNow(static_cast<UINT>(status));
  }
}

}  // namespace plenvor
