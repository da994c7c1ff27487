#pragma once
// orvand-pack --best: zlib streams made by zopfli, for any zlib reader.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "support/Streams.h"

// Zopfli deflates this many bytes at a time, each with the 32 KiB in front of it
// as its window, as it does inside one call.
inline constexpr size_t ZopfliPartSize = 1000000;

// The rest of Source as one zlib stream made by zopfli; returns the number of
// bytes read. Each part but the last ends on a byte boundary (an empty stored
// block), so parts are made alone and the bytes depend on Source only. Poll is
// called before each part and may raise to stop; Done(n) after it, with its size.
int64_t ZopfliStream(TStream& Source, TStream& Dest, const std::function<void()>& Poll,
                     const std::function<void(size_t)>& Done);
