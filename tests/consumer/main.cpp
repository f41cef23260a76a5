// A separate program built against the installed package: calls the core, the lookup and a
// pack sampler, and fails loudly on a wrong answer.
#include <cstdio>

#include "kinetra/kinetra.hpp"
#include "kinetra/packs/initial.hpp"

int main() {
    const kinetra::Offset3 c = kinetra::circle(16);
    const kinetra::Offset3 looked_up = kinetra::sample("lfo_breathe", 64);
    const kinetra::Offset3 direct = kinetra_initial::sample_lfo_breathe(64);
    const bool ok = c.x == 1.0 && c.y == 0.0 && kinetra::wrap_pip(-1, 64) == 63 && looked_up.x == 0.8 &&
                    direct.x == 0.8 && kinetra::catalogue().front().name == "bounce";
    std::printf("circle(16) = (%g, %g, %g); lfo_breathe(64).x = %g; %s\n", c.x, c.y, c.z, looked_up.x,
                ok ? "ok" : "MISMATCH");
    return ok ? 0 : 1;
}
