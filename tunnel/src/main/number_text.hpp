#pragma once
// How numbers found in a document are written back in messages.

namespace ferroglade {}  // namespace ferroglade
