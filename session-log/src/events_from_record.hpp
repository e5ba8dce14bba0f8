#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "session_log/event.hpp"
#include "session_log/raw.hpp"

namespace orvik::session_log {

// The events that one record stands for, in sending order; empty for a record that is neither a
// user nor an assistant record with a message. Takes the record's texts and values over.
std::vector<SessionEvent> events_from_record(RawRecord&& record);

// A tool result's content as text: a string as it is, the text parts of an array joined with
// "\n", any other value as its compact JSON text.
std::string tool_result_text(nlohmann::json&& content);

}  // namespace orvik::session_log
