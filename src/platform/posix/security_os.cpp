// Linux file systems keep neither Windows security descriptors nor alternate streams:
// such sub-blocks are skipped.
#include "platform/os_security.h"

namespace os {

bool ntfs_data_supported() { return false; }
void enable_restore_privileges(bool* security_enabled) { *security_enabled = false; }
bool set_file_security(const char*, const WChar*, const uint8_t*, uint32_t) { return false; }

}  // namespace os
