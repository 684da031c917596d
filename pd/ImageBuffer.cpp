#include "pd/ImageBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <memory>
#include <vector>

namespace vyk::pd {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

bool LoadImageFile(ImageStore& store, const std::string& path, SequenceView& view)
{
    view.AddLogLine(" ");
    view.AddLogLine("Load File : " + path);

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        // The image in memory stays as it was: "Flash Go" may still be enabled
        // and must not send a buffer wiped by a failed open.
        view.AddLogLine("Load File failed! ");
        return false;
    }
    view.AddLogLine("Load File Successed! ");

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
        view.AddLogLine("Load File failed! Read error after " + std::to_string(length) +
                        " Byte, image not loaded");
        return false;
    }
    if (length > static_cast<size_t>(ImageBufferSize)) {
        view.AddLogLine("Load File failed! File longer than " + std::to_string(ImageBufferSize) +
                        " Byte, image not loaded");
        return false;
    }

    // Buffer index equals flash address; what the file does not reach is 0xFF.
    store.ImageBuffer.fill(0xFF);
    std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length), store.ImageBuffer.begin());
    store.ImageLength = static_cast<int32_t>(length);
    store.DataStart = 0;
    store.HoldsRead = false;

    view.AddLogLine("File Length: " + std::to_string(length) + " Byte");
    view.EnableFlashGo();
    return true;
}

bool SaveImageFile(const ImageStore& store, const std::string& path, SequenceView& view)
{
    std::FILE* file = std::fopen(path.c_str(), "wb+");
    if (!file) {
        view.AddLogLine("Save File failed! Cannot create " + path + ": " + std::strerror(errno));
        return false;
    }
    const size_t length = static_cast<size_t>(store.ImageLength);
    size_t written = 0;
    bool ok = std::fseek(file, 0, SEEK_SET) == 0;
    if (ok && length != 0) {
        written = std::fwrite(store.ImageBuffer.data(), 1, length, file);
        ok = written == length;
    }
    // Buffered bytes reach the disk only at close: a full disk shows there.
    const bool closed = std::fclose(file) == 0;
    if (!ok) {
        view.AddLogLine("Save File failed! Write error after " + std::to_string(written) + " of " +
                        std::to_string(length) + " Byte: " + path);
        return false;
    }
    if (!closed) {
        view.AddLogLine("Save File failed! Close failed, " + std::to_string(length) +
                        " Byte may not be in " + path);
        return false;
    }
    return true;
}

} // namespace vyk::pd
