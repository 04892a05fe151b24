#include "output_files.h"

#include "testing/cli_test_util.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace pelorin::cli;
using namespace pelorin::cli::test;

TEST(PictureFiles, EveryFormatDecodesBackExactlyAtEdgeSizes)
{
    ScratchFolder folder;
    const std::vector<uint32_t> colours
        = { 0x000000, 0xFFFFFF, 0x123456, 0xFEDCBA, 0x91FF00, 0x0000FF };
    const struct {
        PictureFormat format;
        const char* extension;
    } formats[] = { { PictureFormat::Png, ".png" }, { PictureFormat::Ppm, ".ppm" },
        { PictureFormat::Bmp, ".bmp" } };
    uint32_t seed = 7;
    for (const auto& f : formats)
        // Every width remainder mod 4: BMP pads its rows to 4 bytes.
        for (int width : { 1, 2, 3, 4, 5, 17 })
            for (int height : { 1, 3 }) {
                const platform::Surface picture = RandomPicture(width, height, colours, seed++);
                const std::string path = folder.Path("p" + std::to_string(seed) + f.extension);
                const std::vector<uint8_t> bytes = EncodePicture(picture, f.format);
                std::ofstream(path, std::ios::binary)
                    .write(
                        reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
                const auto decoded = DecodeAllFrames(path);
                ASSERT_EQ(decoded.size(), 1u) << path;
                EXPECT_EQ(decoded[0], picture) << f.extension << " " << width << " x " << height;
            }
}
