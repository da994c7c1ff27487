#pragma once
// orvand-pack's usual compression: zlib streams made by libdeflate at level 9, which
// come out some 5 % smaller than zlib's own level 9 on text, at twice its speed.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "support/Streams.h"

// libdeflate deflates a whole buffer at once, so a file is held in memory; beyond
// this size, zlib's own level 9 streams it instead, so memory stays bounded.
inline constexpr size_t LibdeflateWholeLimit = size_t{256} << 20;

// The rest of Source as one zlib stream; returns the number of bytes read. Up to
// WholeLimit bytes are read whole and compressed by libdeflate; a longer Source goes
// through zlib at level 9. Poll is called between reads and may raise to stop.
int64_t LibdeflateStream(TStream& Source, TStream& Dest, const std::function<void()>& Poll,
                         size_t WholeLimit = LibdeflateWholeLimit);
