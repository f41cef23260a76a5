// The built-in name lookup against a linear search of the catalogue: a name is found exactly
// when a catalogue row has it, a found pattern is periodic and within [-1, 1], and an unknown
// name is refused with the message that carries it.

#include <stdexcept>
#include <string>

#include "fuzz_common.hpp"
#include "kinetra/catalogue.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const std::vector<kinetra::RudimentInfo>& rows = kinetra::catalogue();
    std::string name;
    if (data.ConsumeBool()) {
        // A catalogue name, possibly changed in one byte, cut short or extended.
        name = std::string(rows[data.ConsumeIntegralInRange<std::size_t>(0, rows.size() - 1)].name);
        switch (data.ConsumeIntegralInRange<int>(0, 3)) {
            case 0:
                break;
            case 1:
                name[data.ConsumeIntegralInRange<std::size_t>(0, name.size() - 1)] ^=
                    static_cast<char>(data.ConsumeIntegralInRange<int>(1, 127));
                break;
            case 2:
                name.resize(data.ConsumeIntegralInRange<std::size_t>(0, name.size()));
                break;
            default:
                name += data.ConsumeRandomLengthString(4);
                break;
        }
    } else {
        name = data.ConsumeRandomLengthString(64);
    }
    const int pip = data.ConsumeIntegral<int>();

    const kinetra::RudimentInfo* row = nullptr;
    for (const kinetra::RudimentInfo& candidate : rows) {
        if (candidate.name == name) {
            row = &candidate;
            break;
        }
    }
    try {
        const kinetra::Offset3 value = kinetra::sample(name, pip);
        FUZZ_CHECK(row != nullptr);
        for (const double v : {value.x, value.y, value.z}) {
            FUZZ_CHECK(fuzz::reference_sample_value(v));
        }
        const kinetra::Offset3 folded =
            kinetra::sample(name, kinetra::wrap_pip(pip, row->period_pips));
        FUZZ_CHECK(fuzz::same_bits(value.x, folded.x) && fuzz::same_bits(value.y, folded.y) &&
                   fuzz::same_bits(value.z, folded.z));
    } catch (const std::invalid_argument& e) {
        FUZZ_CHECK(row == nullptr);
        // what() is a C string: a name with a NUL byte reads up to that byte.
        const std::string message = "Unknown dance rudiment: " + name;
        FUZZ_CHECK(std::string(e.what()) == message.c_str());
    }
    return 0;
}
