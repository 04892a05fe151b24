// pelorin-convert on files as users bring them: an input cut short while it is converted, a
// fast-start MP4 cut short before, a pipe, a phone clip stored turned, a very wide picture.
#include "testing/cli_test_util.h"
#include "pipeline/vram.h"

#include "video/testing/test_videos.h"
#include "video/testing/user_media.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include <unistd.h>

using namespace pelorin;
using namespace pelorin::cli;

namespace {

// A stream whose writes go to `text` and, the first time, call `onFirstWrite`: with the progress
// line on, that is the moment the first frame has been written.
struct Watched {
    std::string text;
    std::function<void()> onFirstWrite;
};

std::FILE* WatchedStream(Watched* watched)
{
    cookie_io_functions_t io {};
    io.write = [](void* cookie, const char* data, size_t size) -> ssize_t {
        auto* w = static_cast<Watched*>(cookie);
        if (w->onFirstWrite)
            std::exchange(w->onFirstWrite, nullptr)();
        w->text.append(data, size);
        return ssize_t(size);
    };
    std::FILE* stream = fopencookie(watched, "w", io);
    setvbuf(stream, nullptr, _IONBF, 0);
    return stream;
}

TEST(UserMediaCli, AnInputCutShortWhileConvertedFailsNamingTheFrameAndKeepsNothing)
{
    test::ScratchFolder folder;
    test::ScratchFolder out;
    const std::string input = folder.Path("clip.mp4");
    std::filesystem::copy_file(video::test::FastStartMp4(), input);
    const auto size = std::filesystem::file_size(input);
    Watched err;
    err.onFirstWrite = [&] { std::filesystem::resize_file(input, size / 2); };
    Console console;
    console.out = std::tmpfile();
    console.err = WatchedStream(&err);
    console.errIsTerminal = true; // the progress line draws, after the first frame
    const std::vector<std::string> args { "--method", "3", input, out.Path("f_%03d.png") };
    EXPECT_EQ(RunConvert(args, console), 1);
    std::fclose(console.out);
    std::fclose(console.err);
    EXPECT_NE(err.text.find("cannot read frame "), std::string::npos) << err.text;
    EXPECT_NE(err.text.find("'" + input + "'"), std::string::npos) << err.text;
    EXPECT_EQ(out.Files(), std::set<std::string> {});
}

// The file ends inside its last picture: that picture is not counted, and the tool writes the
// frames FFmpeg decodes, none repeated in its place.
TEST(UserMediaCli, AFastStartMp4CutShortGivesTheFramesFfmpegDecodes)
{
    test::ScratchFolder folder;
    const std::string input = folder.Path("cut.mp4");
    std::filesystem::copy_file(video::test::FastStartMp4(), input);
    std::filesystem::resize_file(input, std::filesystem::file_size(input) * 9 / 10);
    const size_t decoded = test::DecodeAllFrames(input).size();
    ASSERT_GT(decoded, 1u);
    const test::ToolResult r
        = test::RunTool({ "--working", "--method", "3", input, folder.Path("all.vram") });
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(test::ReadFile(folder.Path("all.vram")).size(), decoded * kVramFrameBytes);
}

TEST(UserMediaCli, APipeIsRefusedAsNotSeekable)
{
    test::ScratchFolder folder;
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const std::string bytes = test::ReadFile(video::test::TransparentPicture());
    ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
    close(ends[1]);
    const std::string input = "/proc/self/fd/" + std::to_string(ends[0]);
    const test::ToolResult r = test::RunTool({ input, folder.Path("one.png") });
    close(ends[0]);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("'" + input + "'"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot be seeked"), std::string::npos) << r.err;
    EXPECT_EQ(folder.Files(), std::set<std::string> {});
}

TEST(UserMediaCli, ATurnedPhoneClipIsWrittenUpright)
{
    test::ScratchFolder folder;
    const std::string clip = video::test::TurnedClip(90);
    const test::ToolResult r = test::RunTool(
        { "--keep-size", "--method", "none", "--frames", "0", clip, folder.Path("up.ppm") });
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::vector<platform::Surface> written = test::DecodeAllFrames(folder.Path("up.ppm"));
    const std::vector<platform::Surface> ffmpeg
        = test::DecodeAllFrames(video::test::UprightByFfmpeg(clip));
    ASSERT_EQ(written.size(), 1u);
    ASSERT_EQ(ffmpeg.size(), 1u);
    EXPECT_EQ(written[0].width, ffmpeg[0].width);
    EXPECT_EQ(written[0].height, ffmpeg[0].height);
    ASSERT_NE(video::test::RedQuarter(ffmpeg[0]), -1);
    EXPECT_EQ(video::test::RedQuarter(written[0]), video::test::RedQuarter(ffmpeg[0]));
}

TEST(UserMediaCli, APictureWiderThan8192IsConverted)
{
    test::ScratchFolder folder;
    const test::ToolResult r
        = test::RunTool({ video::test::WidePicture(12000), folder.Path("one.png") });
    EXPECT_EQ(r.exitStatus, 0) << r.err;
}

} // namespace
