#pragma once

// Texts cut to what an area can show before they are formed, so that a huge name or tool input costs a
// draw no more than a short one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace orvik::ui {

// The start of `text` that draws exactly as `text` does in `cells` columns: its first cells + 1 grapheme
// clusters (each takes a cell or more), or all of it. `clusters`, when given, gets how many it holds.
std::string_view shown_prefix(std::string_view text, std::size_t cells, std::size_t* clusters = nullptr);

// The compact JSON text of `value` cut as truncate_text cuts it to `max_chars`: its first max_chars code
// points and "…" when it has more. Writes no more than that, however large the value.
std::string compact_json_preview(const nlohmann::json& value, std::uint64_t max_chars);

}  // namespace orvik::ui
