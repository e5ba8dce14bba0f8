#pragma once

// The field tables of the typed records: one entry per field, holding its key, what it takes when
// left out and how it is read, so that the key, the reader and the counts in the messages come
// from one place.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace orvik::session_log {

// What a field takes when its record leaves it out.
enum class Absent : std::uint8_t {
  fails,           // the record fails: a missing field, or a short array
  none_in_object,  // left empty by the object form; the array form still needs it
  defaults,        // its default value, in either form
};

template <class Member>
struct member_traits;
template <class Record, class T>
struct member_traits<T Record::*> {
  using record = Record;
};
template <auto Member>
using record_of = typename member_traits<decltype(Member)>::record;

template <const auto& Fields>
inline constexpr std::size_t field_count = std::tuple_size_v<std::remove_cvref_t<decltype(Fields)>>;

// The number of the entry that `key` names, or the table's size. The keys are constants, so each
// compare is a length test and an inlined memcmp.
template <const auto& Fields>
std::size_t field_index(std::string_view key) {
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    std::size_t found = sizeof...(I);
    (void)((key.size() == Fields[I].key.size() &&
            std::memcmp(key.data(), Fields[I].key.data(), Fields[I].key.size()) == 0 && (found = I, true)) ||
           ...);
    return found;
  }(std::make_index_sequence<field_count<Fields>>{});
}

// Calls the reader of entry `i` (below the table's size), each as a direct call.
template <const auto& Fields, class... Args>
bool read_field(std::size_t i, Args&... args) {
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    bool ok = false;
    (void)((i == I && (ok = Fields[I].read(args...), true)) || ...);
    return ok;
  }(std::make_index_sequence<field_count<Fields>>{});
}

}  // namespace orvik::session_log
