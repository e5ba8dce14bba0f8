#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <fmt/core.h>

// The library's texts, exactly as the user sees them. Formats are used only as constants, so fmt
// checks each one against its arguments when the call is compiled.
namespace orvik::session_log::msg {

inline constexpr std::string_view invalid_field = "invalid field '{}': {}";
inline constexpr std::string_view random_source_unreadable = "could not read the system's random source\n";

inline constexpr std::string_view position_suffix = "{} at line {} column {}";

inline constexpr std::string_view invalid_type = "invalid type: {}, expected {}";
inline constexpr std::string_view invalid_value = "invalid value: {}, expected {}";
inline constexpr std::string_view invalid_length = "invalid length {}, expected {}";
inline constexpr std::string_view missing_field = "missing field `{}`";
inline constexpr std::string_view duplicate_field = "duplicate field `{}`";

inline constexpr std::string_view trailing_characters = "trailing characters";
inline constexpr std::string_view trailing_comma = "trailing comma";
inline constexpr std::string_view recursion_limit = "recursion limit exceeded";
inline constexpr std::string_view eof_value = "EOF while parsing a value";
inline constexpr std::string_view eof_list = "EOF while parsing a list";
inline constexpr std::string_view eof_object = "EOF while parsing an object";
inline constexpr std::string_view eof_string = "EOF while parsing a string";
inline constexpr std::string_view expected_value = "expected value";
inline constexpr std::string_view expected_ident = "expected ident";
inline constexpr std::string_view expected_colon = "expected `:`";
inline constexpr std::string_view expected_list_comma = "expected `,` or `]`";
inline constexpr std::string_view expected_object_comma = "expected `,` or `}`";
inline constexpr std::string_view key_must_be_string = "key must be a string";
inline constexpr std::string_view invalid_number = "invalid number";
inline constexpr std::string_view number_out_of_range = "number out of range";
inline constexpr std::string_view invalid_escape = "invalid escape";
inline constexpr std::string_view control_character =
    "control character (\\u0000-\\u001F) found while parsing a string";
inline constexpr std::string_view lone_leading_surrogate = "lone leading surrogate in hex escape";
inline constexpr std::string_view unexpected_end_of_hex_escape = "unexpected end of hex escape";

// What was found, in the type and value messages.
inline constexpr std::string_view found_null = "null";
inline constexpr std::string_view found_boolean = "boolean `{}`";
inline constexpr std::string_view found_integer = "integer `{}`";
inline constexpr std::string_view found_float = "floating point `{}`";
inline constexpr std::string_view found_string = "string {}";
inline constexpr std::string_view found_sequence = "sequence";
inline constexpr std::string_view found_map = "map";

// Expectations. A record's length expectation is its name and its field count.
inline constexpr std::string_view expect_record = "struct RawRecord";
inline constexpr std::string_view expect_message = "struct RawMessage";
inline constexpr std::string_view expect_usage = "struct RawUsage";
inline constexpr std::string_view expect_tool_use_result = "struct RawToolUseResult";
inline constexpr std::string_view expect_tool_file = "struct RawToolFile";
inline constexpr std::string_view expect_string = "a string";
inline constexpr std::string_view expect_boolean = "a boolean";
inline constexpr std::string_view expect_u64 = "u64";
inline constexpr std::string_view expect_sequence = "a sequence";
inline constexpr std::string_view expect_content = "internally tagged enum RawContent";
inline constexpr std::string_view expect_variant = "variant identifier";
inline constexpr std::string_view expect_text = "struct variant RawContent::Text";
inline constexpr std::string_view expect_tool_use = "struct variant RawContent::ToolUse";
inline constexpr std::string_view expect_tool_result = "struct variant RawContent::ToolResult";
inline constexpr std::string_view expect_thinking = "struct variant RawContent::Thinking";

inline constexpr std::string_view one_element = "1 element";
inline constexpr std::string_view n_elements = "{} elements";
inline constexpr std::string_view with_length = "{} with {}";
inline constexpr std::string_view in_sequence = "{} in sequence";

// "1 element", "2 elements".
inline std::string elements(std::size_t count) {
  return count == 1 ? std::string(one_element) : fmt::format(n_elements, count);
}
// "struct RawRecord with 8 elements".
inline std::string expect_length(std::string_view record, std::size_t fields) {
  return fmt::format(with_length, record, elements(fields));
}
// "3 elements in sequence".
inline std::string expect_in_sequence(std::size_t fields) { return fmt::format(in_sequence, elements(fields)); }

}  // namespace orvik::session_log::msg
