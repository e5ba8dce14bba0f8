#pragma once

#include <string_view>

// The screen's own texts in one place: box titles, placeholders and the formats of the figures. The formats are
// constants, so fmt checks them against their arguments when the code is compiled.

namespace orvik::ui::text {

inline constexpr std::string_view HEADER_FORMAT = " Orvik   {} sessions   {} events ";
inline constexpr std::string_view QUIT_KEY = " q";
inline constexpr std::string_view QUIT_LABEL = " quit";
inline constexpr std::string_view DASHBOARD_TITLE = " Dashboard ";
inline constexpr std::string_view WAITING_FOR_SESSION = "Waiting for session events…";

inline constexpr std::string_view EVENTS_TITLE = " Events (newest first) ";
inline constexpr std::string_view EVENT_TIME_FORMAT = "{:02}:{:02}:{:02} ";
inline constexpr std::string_view SIDECHAIN_MARK = "[S] ";

inline constexpr std::string_view SESSION_TITLE = " Session ";
inline constexpr std::string_view LIVE_SESSION = " Live session";
inline constexpr std::string_view LIVE = "   ● LIVE";
inline constexpr std::string_view IDLE = "   ○ idle";
inline constexpr std::string_view SESSION_EVENTS_FORMAT = "   {} events";

inline constexpr std::string_view TOKENS_TITLE = " Tokens (last turn) ";
inline constexpr std::string_view NO_TURNS_YET = "no turns yet";
inline constexpr std::string_view LAST_TURN_FORMAT = "last turn  in={} out={}  cache_r={}";
inline constexpr std::string_view SESSION_TOTAL_FORMAT = " session total  in={}  out={}  cache_r={}";
inline constexpr std::string_view COST_FORMAT = " est. cost: ${:.4f}";

inline constexpr std::string_view STEPS_TITLE = " Steps (newest first) ";
inline constexpr std::string_view THINKING = "Thinking…   ";
inline constexpr std::string_view ELAPSED_FORMAT = " [{:.1f}s]";
inline constexpr std::string_view DURATION_FORMAT = " {}ms";

inline constexpr std::string_view FLOW_TITLE = " Flow ";
inline constexpr std::string_view WAITING_FOR_EVENTS = "waiting for events…";

}  // namespace orvik::ui::text
