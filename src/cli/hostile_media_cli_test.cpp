// pelorin-convert against the hostile-media table: every file converted to one picture, to
// numbered pictures, to a video and to TVC video memory. Each run either succeeds with complete
// outputs — one output frame for every frame slot the video device finds in the file — or fails
// with status 1 and a message naming the file, leaving nothing in the output folder, not even
// a temporary file.
#include "testing/cli_test_util.h"
#include "pipeline/frame_pipeline.h"
#include "pipeline/vram.h"

#include "video/testing/hostile_media.h"
#include "video/video_device.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

using namespace pelorin;
using namespace pelorin::cli;
using platform::Surface;
using video::test::HostileMedia;
using video::test::OpenExpect;

namespace {

enum class Kind { OnePicture, NumberedPictures, Video, Vram };

struct Output {
    Kind kind;
    const char* name;
    std::vector<std::string> options;
};

const Output kOutputs[] = {
    { Kind::OnePicture, "one.png", { "--frames", "0" } },
    { Kind::NumberedPictures, "f_%03d.png", {} },
    { Kind::Video, "all.mkv", {} },
    { Kind::Vram, "all.vram", { "--working" } },
};

std::string NumberedName(int64_t frame)
{
    char name[32];
    std::snprintf(name, sizeof name, "f_%03lld.png", static_cast<long long>(frame));
    return name;
}

class ConvertHostileMedia : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        m_media = video::test::MakeHostileMedia(GetParam());
        ASSERT_FALSE(m_media.path.empty());
    }
    HostileMedia m_media;
};

TEST_P(ConvertHostileMedia, WritesCompleteOutputsOrNothing)
{
    const HostileMedia& m = m_media;
    // The device's own count of frame slots, read completely as the tool reads: what a complete
    // output holds.
    std::optional<int64_t> slots;
    {
        std::string error;
        video::DecoderOptions complete;
        complete.complete = true;
        if (const auto device = video::VideoDevice::Open(m.path, nullptr, &error, complete))
            slots = device->Length();
    }
    if (m.expect == OpenExpect::FailsToOpen) {
        EXPECT_FALSE(slots);
    }
    if (m.expect == OpenExpect::Opens) {
        ASSERT_TRUE(slots);
    }

    std::vector<Surface> pictures; // the numbered pictures, in frame order
    int succeeded = 0;
    for (const Output& output : kOutputs) {
        SCOPED_TRACE(output.name);
        test::ScratchFolder folder;
        std::vector<std::string> args = output.options;
        args.push_back(m.path);
        args.push_back(folder.Path(output.name));
        const test::ToolResult r = test::RunTool(args);
        if (r.exitStatus != 0) {
            EXPECT_EQ(r.exitStatus, 1) << r.err;
            EXPECT_NE(r.err.find("pelorin-convert: "), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("'" + m.path + "'"), std::string::npos)
                << "the message names the file: " << r.err;
            if (!m.reason.empty()) {
                EXPECT_NE(r.err.find(m.reason), std::string::npos) << r.err;
            }
            EXPECT_TRUE(r.out.empty()) << r.out;
            EXPECT_EQ(folder.Files(), std::set<std::string> {}) << "left behind";
            // A file the device opens shows its first frame.
            EXPECT_FALSE(slots && output.kind == Kind::OnePicture) << r.err;
            continue;
        }
        ++succeeded;
        EXPECT_TRUE(r.err.empty()) << r.err;
        ASSERT_TRUE(slots) << "converted a file the video device refuses";
        const int64_t frames = output.kind == Kind::OnePicture ? 1 : *slots;
        EXPECT_NE(r.out.find("frames written: " + std::to_string(frames) + "\n"), std::string::npos)
            << r.out;
        switch (output.kind) {
        case Kind::OnePicture: {
            EXPECT_EQ(folder.Files(), std::set<std::string> { output.name });
            const std::vector<Surface> decoded = test::DecodeAllFrames(folder.Path(output.name));
            ASSERT_EQ(decoded.size(), 1u);
            EXPECT_EQ(decoded[0].width, kDisplayWidth);
            EXPECT_EQ(decoded[0].height, kDisplayHeight);
            break;
        }
        case Kind::NumberedPictures: {
            std::set<std::string> names;
            for (int64_t frame = 0; frame < frames; ++frame)
                names.insert(NumberedName(frame));
            ASSERT_EQ(folder.Files(), names);
            for (int64_t frame = 0; frame < frames; ++frame) {
                std::vector<Surface> decoded
                    = test::DecodeAllFrames(folder.Path(NumberedName(frame)));
                ASSERT_EQ(decoded.size(), 1u) << frame;
                ASSERT_EQ(decoded[0].width, kDisplayWidth);
                ASSERT_EQ(decoded[0].height, kDisplayHeight);
                pictures.push_back(std::move(decoded[0]));
            }
            break;
        }
        case Kind::Video: {
            EXPECT_EQ(folder.Files(), std::set<std::string> { output.name });
            const std::vector<Surface> decoded = test::DecodeAllFrames(folder.Path(output.name));
            ASSERT_EQ(int64_t(decoded.size()), frames);
            // Losslessly the same frames as the numbered pictures, in the same order.
            if (pictures.size() == decoded.size()) {
                for (size_t i = 0; i < decoded.size(); ++i)
                    ASSERT_EQ(decoded[i], pictures[i]) << "frame " << i;
            }
            break;
        }
        case Kind::Vram:
            EXPECT_EQ(folder.Files(), std::set<std::string> { output.name });
            EXPECT_EQ(
                test::ReadFile(folder.Path(output.name)).size(), size_t(frames) * kVramFrameBytes);
            break;
        }
    }
    // All outputs read the same frames: they succeed or fail together.
    EXPECT_TRUE(succeeded == 0 || succeeded == int(std::size(kOutputs))) << succeeded;
    if (m.expect == OpenExpect::Opens) {
        EXPECT_EQ(succeeded, int(std::size(kOutputs)));
    }
}

INSTANTIATE_TEST_SUITE_P(Sample, ConvertHostileMedia,
    ::testing::ValuesIn(video::test::HostileMediaNames()),
    [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

} // namespace
