#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "pd/FrontEnd.h"

namespace vyk::pd {

// 256 KiB of flash plus two bytes.
inline constexpr int32_t ImageBufferSize = 0x40002;
// Blocks 0x0000..0x03FF lie inside the buffer when it is indexed by flash address.
inline constexpr uint32_t ImageBufferBlocks = 0x400;

// The one image store between files and the PD flash. About 256 KiB: keep
// it static or on the heap, never on a small (Windows) stack.
struct ImageStore {
    std::array<uint8_t, ImageBufferSize> ImageBuffer{};   // all 0 at start
    int32_t ImageLength = 0;
    // Flash address at which the buffer's data begins: 0 after a load, the
    // read's first block address after a read.
    uint32_t DataStart = 0;
    // True when the buffer holds the data of a read (valid from DataStart for
    // ImageLength bytes); false after a load or at start, when the buffer is
    // an image of the flash from address 0.
    bool HoldsRead = false;
};

// The work of "Load Bin File" after the dialog returned a path:
// log lines, buffer, length. Returns true when the image was loaded (the
// window then offers "Flash Go"). On any failure the buffer and ImageLength
// stay as they were.
bool LoadImageFile(ImageStore& store, const std::string& path, const LogSink& log);

// The work of "Save Bin File" after the dialog: writes bytes
// 0..ImageLength-1, after a read at their flash addresses (0xFF below
// DataStart), so the file loads as an image of the flash; logs a clear line
// on failure. Returns true when the whole file was written and closed.
bool SaveImageFile(const ImageStore& store, const std::string& path, const LogSink& log);

// Empty when a flash of the range from `startAddress` to `endAddress` takes
// every byte from the loaded image; otherwise the line that says where the
// image ends and how many blocks go out padded with 0xFF.
std::string ImagePaddingLine(const ImageStore& store, uint32_t startAddress, uint32_t endAddress);

// A loaded file moved to where its first byte belongs: buffer index is
// flash address, so a file saved by a read from `imageAt` goes back there,
// with 0xFF below it. The file must fit: imageAt + ImageLength at most
// ImageBufferSize. ImageLength stays the file's length.
void PlaceImage(ImageStore& store, uint32_t imageAt);

} // namespace vyk::pd
