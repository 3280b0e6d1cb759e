#pragma once

#include "Exception.h"

#include <concepts>
#include <limits>

// Integer division that reports a zero divisor as EDivByZero ("Division by zero") instead of
// faulting, so that the error reaches the loop's guard like any other exception.
template <std::integral T> T CheckedDivision(T Dividend, T Divisor) {
  if (Divisor == 0) throw EDivByZero();
  // The one quotient that does not fit: it wraps, as two's complement arithmetic would give it.
  if constexpr (std::signed_integral<T>)
    if (Divisor == -1 && Dividend == std::numeric_limits<T>::min()) return Dividend;
  return static_cast<T>(Dividend / Divisor);
}
