#include "kinetra/core.hpp"

namespace kinetra {

int wrap_pip(int pip, int period) noexcept {
    if (period <= 0) {
        return 0;
    }
    // The truncating remainder never negates pip, so INT_MIN folds without overflow.
    int folded = pip % period;
    if (folded < 0) {
        folded += period;
    }
    return folded;
}

}  // namespace kinetra
