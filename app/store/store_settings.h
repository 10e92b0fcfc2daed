// The server's settings of the store, read from the environment (see applicant_store.h for the
// variables).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/store/applicant_store.h"

namespace store {

// The roots APPLY_STORE_ROOTS names, in its order (unset: DEFAULT_STORE_ROOT); never empty.
std::vector<std::string> named_roots();
// The roots APPLY_STORE_MOUNTS names (unset: none).
std::vector<std::string> mounted_roots();
// The byte reserve the server sets; nullopt when unset or malformed (said on standard error).
std::optional<std::uint64_t> reserve_setting();

}  // namespace store
