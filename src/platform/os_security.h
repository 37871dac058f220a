// The system's side of security descriptors and alternate streams.
#pragma once

#include "platform/types.h"

namespace os {

// Security descriptors and alternate streams can be restored on this system.
bool ntfs_data_supported();
// Enables "SeSecurityPrivilege" (its success in security_enabled) and
// "SeRestorePrivilege" for the process token.
void enable_restore_privileges(bool* security_enabled);
// SetFileSecurity with the wide name when given, else the narrow one.
bool set_file_security(const char* narrow, const WChar* wide, const uint8_t* descriptor, uint32_t information);

}  // namespace os
