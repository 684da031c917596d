#include "pd/ImageBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <memory>
#include <vector>

#include "pd/AddressField.h"
#include "pd/HexText.h"
#include "pd/SequenceText.h"

namespace vyk::pd {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

bool LoadImageFile(ImageStore& store, const std::string& path, const LogSink& log)
{
    log(" ");
    log("Load File : " + path);

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        // The image in memory stays as it was: "Flash Go" may still be enabled
        // and must not send a buffer wiped by a failed open.
        log("Load File failed! ");
        return false;
    }
    log("Load File Successed! ");

    // Read into a buffer of our own first: a file too long for the image
    // buffer, or one that fails half way, leaves the old image whole. One
    // byte more than fits tells a too-long file from one that fits exactly.
    std::vector<uint8_t> data(ImageBufferSize + 1);
    size_t length = 0;
    while (length < data.size()) {
        const size_t got = std::fread(data.data() + length, 1, data.size() - length, file.get());
        length += got;
        if (got == 0)
            break;
    }
    const bool readError = std::ferror(file.get()) != 0;
    file.reset();

    if (readError) {
        log("Load File failed! Read error after " + std::to_string(length) +
                        " Byte, image not loaded");
        return false;
    }
    if (length > static_cast<size_t>(ImageBufferSize)) {
        log("Load File failed! File longer than " + std::to_string(ImageBufferSize) +
                        " Byte, image not loaded");
        return false;
    }

    // Buffer index equals flash address; what the file does not reach is 0xFF.
    store.ImageBuffer.fill(0xFF);
    std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length), store.ImageBuffer.begin());
    store.ImageLength = static_cast<int32_t>(length);
    store.DataStart = 0;
    store.HoldsRead = false;

    log("File Length: " + std::to_string(length) + " Byte");
    return true;
}

bool SaveImageFile(const ImageStore& store, const std::string& path, const LogSink& log)
{
    std::FILE* file = std::fopen(path.c_str(), "wb+");
    if (!file) {
        log("Save File failed! Cannot create " + path + ": " + std::strerror(errno));
        return false;
    }
    // A read goes to the file at its flash addresses, 0xFF below them, so
    // that loading the file and "Flash Go" with the same fields puts every
    // byte back where it was read from.
    const size_t below = store.HoldsRead ? store.DataStart : 0;
    const size_t length = static_cast<size_t>(store.ImageLength);
    size_t written = 0;
    bool ok = std::fseek(file, 0, SEEK_SET) == 0;
    if (ok && below != 0) {
        const std::vector<uint8_t> erased(below, 0xFF);
        written = std::fwrite(erased.data(), 1, below, file);
        ok = written == below;
    }
    if (ok && length != 0) {
        written += std::fwrite(store.ImageBuffer.data(), 1, length, file);
        ok = written == below + length;
    }
    // Buffered bytes reach the disk only at close: a full disk shows there.
    const bool closed = std::fclose(file) == 0;
    if (!ok) {
        log("Save File failed! Write error after " + std::to_string(written) + " of " +
                        std::to_string(below + length) + " Byte: " + path);
        return false;
    }
    if (!closed) {
        log("Save File failed! Close failed, " + std::to_string(below + length) +
                        " Byte may not be in " + path);
        return false;
    }
    if (below != 0 && length != 0)
        log("Save File : " + path + ", " + std::to_string(below + length) + " Byte: 0xFF up to 0x" +
                        HexDigits(static_cast<uint32_t>(below - 1), 6) + ", the read of 0x" +
                        HexDigits(static_cast<uint32_t>(below), 6) + " to 0x" +
                        HexDigits(static_cast<uint32_t>(below + length - 1), 6) + " at its flash addresses");
    return true;
}

std::string ImagePaddingLine(const ImageStore& store, uint32_t startAddress, uint32_t endAddress)
{
    const uint32_t startBlock = BlockOf(startAddress), endBlock = BlockOf(endAddress);
    // A read in memory is refused outside its range; a range the sequence
    // refuses sends nothing.
    if (store.HoldsRead || startBlock >= endBlock || endBlock > ImageBufferBlocks)
        return {};
    const auto imageEnd = static_cast<uint32_t>(store.ImageLength);
    if (imageEnd >= endBlock << 8)
        return {};
    const uint32_t first = std::max(startBlock, imageEnd >> 8);
    const std::string ends = imageEnd == 0 ? std::string("The image is empty")
                                           : "The image ends at 0x" + HexDigits(imageEnd - 1, 6);
    return ends + ": " + std::to_string(endBlock - first) + " blocks of the range padded with 0xFF (" +
           BlockSpanText(first, endBlock) + ")";
}

void PlaceImage(ImageStore& store, uint32_t imageAt)
{
    if (imageAt == 0)
        return;
    uint8_t* buffer = store.ImageBuffer.data();
    std::memmove(buffer + imageAt, buffer, static_cast<size_t>(store.ImageLength));
    std::fill(buffer, buffer + imageAt, uint8_t{0xFF});
}

} // namespace vyk::pd
