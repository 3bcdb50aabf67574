// The fuzz targets, each decoding its input from the bytes after the first.
#pragma once

#include "byte_reader.hpp"

namespace quorvel::fuzz {

// Fixed defaults: fit, baseline and correct (dispatch_targets.cpp).
void dispatch_1d(ByteReader& in);
void dispatch_2d(ByteReader& in);
// Caller-chosen parameters and masks, one item and blocks (tunable_targets.cpp).
void tunable_1d(ByteReader& in);
void tunable_2d(ByteReader& in);

}  // namespace quorvel::fuzz
