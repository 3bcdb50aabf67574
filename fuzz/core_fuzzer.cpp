// libFuzzer entry point: the first byte picks a target, which decodes the rest.
#include <cstddef>
#include <cstdint>

#include "byte_reader.hpp"
#include "targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quorvel::fuzz::ByteReader in({data, size});
    const std::uint8_t pick = in.u8();
    quorvel::fuzz::targets[pick % quorvel::fuzz::targets.size()](in);
    return 0;
}
