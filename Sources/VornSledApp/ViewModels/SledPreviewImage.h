#pragma once

#include <QImage>

#include <cstddef>
#include <span>

// The most memory, in megabytes of decoded pixels, one preview image may take: a small file that
// claims a huge picture is refused instead of filling the memory.
inline constexpr int sledPreviewImageAllocationLimitMB = 128;

// Decodes preview image bytes within that limit; a null image when they do not decode whole or
// would need more.
QImage sledDecodePreviewImage(std::span<const std::byte> bytes);
