#include "platform/hardening.h"

#include <sys/prctl.h>

namespace telwick {

bool ProtectProcessSecrets() {
    // Not dumpable: the kernel writes no core file, and /proc/PID/mem and
    // ptrace are closed to everyone but root. The batch programs started later
    // are not affected (the flag does not survive their exec).
    return prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}

}  // namespace telwick
