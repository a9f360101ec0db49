// Feeds arbitrary byte streams to the simulated calculator's monitor, in chunks whose sizes come
// from the input, reading replies in between. Only FlasherError may come out.
#include "device/FlasherError.h"
#include "sim/SimulatedCalculatorTransport.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pelwick::SimulatedCalculatorTransport calculator(0.0, false);
    std::size_t offset = 0;
    while (offset < size) {
        const std::size_t chunk = 1 + data[offset] % 64;
        const std::size_t n = std::min(chunk, size - offset);
        try {
            calculator.write(pelwick::ByteView(data + offset, n));
        } catch (const pelwick::FlasherError&) {
        }
        offset += n;
        (void)calculator.read(1 + data[offset - 1] % 128, 0);
    }
    calculator.close();
    return 0;
}
