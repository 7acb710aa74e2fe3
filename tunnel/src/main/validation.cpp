#include "main/validation.hpp"

namespace ferroglade {

Result<ValidatedConfig> validate_config(const TunnelConfig&) { return fail("validation not built yet"); }

}  // namespace ferroglade
