// Process hardening.
#pragma once

namespace telwick {

// Keeps the login that the process holds in clear out of reach: no core dump
// is written for it, and other processes of the same user can neither attach
// to it nor read its memory. Call it once at start, before the settings are
// read. Returns false when the system refused.
bool ProtectProcessSecrets();

}  // namespace telwick
