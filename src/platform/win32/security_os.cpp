#include <windows.h>

#include "platform/os_security.h"
#include "platform/system.h"

namespace os {

bool ntfs_data_supported() { return use_wide_api(); }

void enable_restore_privileges(bool* security_enabled) {
  *security_enabled = false;
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
  TOKEN_PRIVILEGES privileges;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueA(nullptr, "SeSecurityPrivilege", &privileges.Privileges[0].Luid) &&
      AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) && GetLastError() == 0)
    *security_enabled = true;
  if (LookupPrivilegeValueA(nullptr, "SeRestorePrivilege", &privileges.Privileges[0].Luid))
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  CloseHandle(token);
}

bool set_file_security(const char* narrow, const WChar* wide, const uint8_t* descriptor, uint32_t information) {
  PSECURITY_DESCRIPTOR sd = const_cast<uint8_t*>(descriptor);
  if (wide && *wide) return SetFileSecurityW(reinterpret_cast<LPCWSTR>(wide), information, sd) != 0;
  return SetFileSecurityA(narrow, information, sd) != 0;
}

}  // namespace os
