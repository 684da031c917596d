#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "FakeView.h"
#include "TestFiles.h"
#include "pd/ImageBuffer.h"

using namespace vyk::pd;

namespace {

struct ImageFiles : ::testing::Test {
    std::unique_ptr<ImageStore> store = std::make_unique<ImageStore>();
    FakeView view;

    bool AllFrom(size_t from, uint8_t value) const
    {
        return std::all_of(store->ImageBuffer.begin() + from, store->ImageBuffer.end(),
                           [&](uint8_t b) { return b == value; });
    }
};

TEST_F(ImageFiles, LoadLogsFillsAndEnablesFlashGo)
{
    const auto bytes = Pattern(131072);
    const auto path = WriteFile("image.bin", bytes);
    ASSERT_TRUE(LoadImageFile(*store, path, view.Sink()));
    EXPECT_EQ(view.log, (std::vector<std::string>{" ", "Load File : " + path, "Load File Successed! ",
                                                  "File Length: 131072 Byte"}));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), store->ImageBuffer.begin()));
    EXPECT_TRUE(AllFrom(bytes.size(), 0xFF));
    EXPECT_EQ(store->ImageLength, 131072);

    // A shorter file leaves nothing of the longer one; an empty one loads too.
    ASSERT_TRUE(LoadImageFile(*store, WriteFile("short.bin", {0xFF, 0x00, 0xFF}), view.Sink()));
    EXPECT_EQ(store->ImageLength, 3);
    EXPECT_EQ(store->ImageBuffer[1], 0x00);
    EXPECT_TRUE(AllFrom(3, 0xFF));
    ASSERT_TRUE(LoadImageFile(*store, WriteFile("empty.bin", {}), view.Sink()));
    EXPECT_EQ(view.log.back(), "File Length: 0 Byte");
    EXPECT_TRUE(AllFrom(0, 0xFF));
}

TEST_F(ImageFiles, ExactlyFullBufferLoadsOneByteMoreIsRefused)
{
    const auto full = Pattern(ImageBufferSize, 5);
    ASSERT_TRUE(LoadImageFile(*store, WriteFile("full.bin", full), view.Sink()));
    EXPECT_EQ(view.log.back(), "File Length: 262146 Byte");
    EXPECT_TRUE(std::equal(full.begin(), full.end(), store->ImageBuffer.begin()));

    view = FakeView{};
    EXPECT_FALSE(LoadImageFile(*store, WriteFile("long.bin", Pattern(ImageBufferSize + 1, 9)), view.Sink()));
    EXPECT_EQ(view.log.back(), "Load File failed! File longer than 262146 Byte, image not loaded");
    EXPECT_TRUE(std::equal(full.begin(), full.end(), store->ImageBuffer.begin()));
    EXPECT_EQ(store->ImageLength, ImageBufferSize);
}

TEST_F(ImageFiles, FailedOpenOrReadKeepsTheImage)
{
    const auto bytes = Pattern(1000);
    ASSERT_TRUE(LoadImageFile(*store, WriteFile("keep.bin", bytes), view.Sink()));
    view = FakeView{};

    const auto missing = (ScratchDir() / "missing.bin").string();
    EXPECT_FALSE(LoadImageFile(*store, missing, view.Sink()));
    EXPECT_EQ(view.log, (std::vector<std::string>{" ", "Load File : " + missing, "Load File failed! "}));

    // A folder opens but fails on the first read.
    EXPECT_FALSE(LoadImageFile(*store, ScratchDir().string(), view.Sink()));
    EXPECT_EQ(view.log.back(), "Load File failed! Read error after 0 Byte, image not loaded");

    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), store->ImageBuffer.begin()));
    EXPECT_TRUE(AllFrom(bytes.size(), 0xFF));
    EXPECT_EQ(store->ImageLength, 1000);
}

TEST_F(ImageFiles, SaveWritesTheValidBytesAndReportsFailures)
{
    store->ImageBuffer.fill(0x5A);
    store->ImageLength = 81664;
    const auto path = (ScratchDir() / "saved.bin").string();
    WriteFile("saved.bin", Pattern(200000));   // replaced without a question
    ASSERT_TRUE(SaveImageFile(*store, path, view.Sink()));
    EXPECT_EQ(ReadFile(path), std::vector<uint8_t>(81664, 0x5A));
    EXPECT_TRUE(view.log.empty());

    const auto nowhere = (ScratchDir() / "no-such-dir" / "x.bin").string();
    EXPECT_FALSE(SaveImageFile(*store, nowhere, view.Sink()));
    EXPECT_EQ(view.log.back(), "Save File failed! Cannot create " + nowhere + ": No such file or directory");

    // A full disk: a large write fails at once, a small one only at close.
    EXPECT_FALSE(SaveImageFile(*store, "/dev/full", view.Sink()));
    EXPECT_EQ(view.log.back().rfind("Save File failed! Write error after ", 0), 0u) << view.log.back();
    store->ImageLength = 100;
    EXPECT_FALSE(SaveImageFile(*store, "/dev/full", view.Sink()));
    EXPECT_EQ(view.log.back(), "Save File failed! Close failed, 100 Byte may not be in /dev/full");
}

} // namespace
