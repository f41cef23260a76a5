#pragma once

namespace kinetra::detail {

// Cubic ease (3 - 2t) * t^2, in exactly this order of operations.
inline double smoothstep(double t) noexcept { return (3.0 - (t + t)) * (t * t); }

}  // namespace kinetra::detail
