#include "Rounding.h"

#include <cmath>
#include <limits>

namespace kv {

std::int64_t RoundHalfEven(double x) {
    if (std::isnan(x))
        return 0;
    constexpr double lo = static_cast<double>(std::numeric_limits<std::int64_t>::min());
    constexpr double hi = static_cast<double>(std::numeric_limits<std::int64_t>::max());
    if (x <= lo)
        return std::numeric_limits<std::int64_t>::min();
    if (x >= hi)
        return std::numeric_limits<std::int64_t>::max();
    const double f = std::floor(x);
    const double diff = x - f;
    auto r = static_cast<std::int64_t>(f);
    if (diff > 0.5 || (diff == 0.5 && (r % 2 != 0)))
        ++r;
    return r;
}

} // namespace kv
