#pragma once
// The firmware image the tool carries for the unit, and its 5-byte trailer. Opaque data,
// sent exactly as stored. Generated at build time from the image file the build names.

// lib
#include "config/config_record.h"

// Std
#include <cstdint>
#include <span>

[[nodiscard]] std::span<const std::uint8_t> FirmwareImage();
[[nodiscard]] TransferTrailer FirmwareTrailer();
