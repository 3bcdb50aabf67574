// libFuzzer entry point at the core's dispatch boundary: the first byte picks a target, which
// decodes the rest. fuzz/make_seeds.py numbers the targets in this order.
#include <array>
#include <cstddef>
#include <cstdint>

#include "byte_reader.hpp"
#include "targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorvel::fuzz;
    static constexpr std::array<void (*)(ByteReader&), 4> targets{dispatch_1d, dispatch_2d, tunable_1d, tunable_2d};
    ByteReader in({data, size});
    const std::uint8_t pick = in.u8();
    targets[pick % targets.size()](in);
    return 0;
}
