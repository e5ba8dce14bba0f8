#pragma once

namespace orvik::base {

// One callable from several lambdas, for std::visit.
template <class... F>
struct overloaded : F... {
  using F::operator()...;
};
// Spelt out: clang++ 16 does not deduce an aggregate's template arguments by itself.
template <class... F>
overloaded(F...) -> overloaded<F...>;

}  // namespace orvik::base
