#pragma once
// The `down` handler, also the clean start and the rollback of `up`.

#include "linux/host.hpp"
#include "linux/result.hpp"

namespace ferroglade {

/// The first steps of `up` and `down`: the fixed search path, the root check, then the
/// run lock. Error: "must run as root (pkexec)", before anything is read or run.
Status begin_privileged(Host& host);

/// Removes the policy rules, the interface (when present) and the resolvconf record.
/// Errors: "must run as root (pkexec)" before anything runs, or the text of the
/// failed link deletion, which leaves the record in place.
Status tear_down(Host& host);

}  // namespace ferroglade
