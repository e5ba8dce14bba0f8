#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace orvik::session_log {

// The compact JSON text of a value: no blanks, object members in ascending byte order of their keys,
// floats in their shortest round-trip form (1000.0, 1e16, 1.5e-7) and NaN or infinity as null, only
// quotes, backslashes and control characters escaped.
std::string compact_json(const nlohmann::json& value);

}  // namespace orvik::session_log
