#pragma once
// Strict RFC 8259 reader with positioned messages.

namespace ferroglade {}  // namespace ferroglade
