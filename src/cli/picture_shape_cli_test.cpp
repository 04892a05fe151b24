// pelorin-convert's adjustments before the capture (--brightness, --contrast, --saturation,
// --gamma) and the frame's shape on the TVC's screen (--aspect).
#include "cli_error.h"
#include "input_video.h"
#include "options.h"
#include "testing/cli_test_util.h"
#include "video/testing/test_videos.h"

#include <gtest/gtest.h>

using namespace pelorin;
using namespace pelorin::cli;
using namespace pelorin::cli::test;
using platform::Surface;

namespace {

void ExpectDone(const ToolResult& r)
{
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
}

// A picture with detail in every channel.
Surface Detailed(int width, int height)
{
    Surface s(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            s.At(x, y)
                = platform::Rgb(uint8_t(x * 7 + y), uint8_t(y * 3 + 40), uint8_t((x ^ y) * 5));
    return s;
}

// Rows of `picture` that are black from edge to edge.
int BlackRows(const Surface& picture)
{
    int rows = 0;
    for (int y = 0; y < picture.height; ++y) {
        bool black = true;
        for (int x = 0; x < picture.width && black; ++x)
            black = (picture.At(x, y) & 0xFFFFFFu) == 0;
        rows += black;
    }
    return rows;
}

} // namespace

TEST(PictureShape, NeutralSettingsGiveTodaysBytes)
{
    ScratchFolder folder;
    WritePng(folder.Path("in.png"), Detailed(320, 180));
    for (const char* method : { "floyd", "bayer-4x4" }) {
        ExpectDone(RunTool({ "-q", "--mode", "4", "--method", method, folder.Path("in.png"),
            folder.Path("plain.png") }));
        ExpectDone(RunTool({ "-q", "--mode", "4", "--method", method, "--brightness", "0",
            "--contrast", "0", "--saturation", "0", "--gamma", "1", "--aspect", "stretch",
            folder.Path("in.png"), folder.Path("neutral.png") }));
        EXPECT_EQ(ReadFile(folder.Path("plain.png")), ReadFile(folder.Path("neutral.png")))
            << method;
    }
}

TEST(PictureShape, AdjustmentsComeBeforeTheCapture)
{
    ScratchFolder folder;
    WritePng(folder.Path("grey.png"), Surface(64, 48, platform::Rgb(100, 100, 100)));
    // Brightness 50 adds 64 to each channel of the frame; the smoothed capture of a flat
    // picture is that same colour.
    ExpectDone(RunTool({ "-q", "--method", "none", "--working", "--brightness", "50",
        folder.Path("grey.png"), folder.Path("out.png") }));
    const std::vector<Surface> out = DecodeAllFrames(folder.Path("out.png"));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], Surface(128, 240, platform::Rgb(164, 164, 164)));
}

TEST(PictureShape, FitPutsBarsAboveAndBelowAWidePicture)
{
    ScratchFolder folder;
    WritePng(folder.Path("wide.png"), Surface(320, 180, 0xFFFFFF));
    ExpectDone(RunTool({ "-q", "--mode", "4", "--method", "floyd", "--working", "--aspect", "fit",
        folder.Path("wide.png"), folder.Path("fit.png") }));
    ExpectDone(RunTool({ "-q", "--mode", "4", "--method", "floyd", "--aspect", "fit",
        folder.Path("wide.png"), folder.Path("display.png") }));
    // 16:9 in the 4:3 screen: the picture takes 3/4 of the height, 180 of the 240 lines, and a
    // bar of 30 lines above and below (60 display rows each).
    const Surface fit = DecodeAllFrames(folder.Path("fit.png")).at(0);
    EXPECT_EQ(BlackRows(fit), 60);
    for (const int y : { 0, 29, 210, 239 })
        EXPECT_EQ(fit.At(100, y), 0u) << y;
    for (const int y : { 30, 209 })
        EXPECT_EQ(fit.At(100, y), 0xFFFFFFu) << y;
    EXPECT_EQ(BlackRows(DecodeAllFrames(folder.Path("display.png")).at(0)), 120);
}

// The bars are not the picture: adjusting the picture leaves them black, whatever the method
// does with the picture itself.
TEST(PictureShape, AdjustmentsLeaveTheBarsBlack)
{
    ScratchFolder folder;
    WritePng(folder.Path("wide.png"), Detailed(320, 180));
    for (const std::vector<std::string>& adjustment :
        { std::vector<std::string> { "--brightness", "30" }, { "--contrast", "-40" } }) {
        std::vector<std::string> args
            = { "-q", "--mode", "4", "--method", "floyd", "--working", "--aspect", "fit" };
        args.insert(args.end(), adjustment.begin(), adjustment.end());
        args.push_back(folder.Path("wide.png"));
        args.push_back(folder.Path("fit.png"));
        ExpectDone(RunTool(args));
        const Surface fit = DecodeAllFrames(folder.Path("fit.png")).at(0);
        // Rows 0 ... 29 and 210 ... 239, as without adjustments.
        EXPECT_EQ(BlackRows(fit), 60) << adjustment[0];
        for (const int y : { 0, 29, 210, 239 })
            for (int x = 0; x < fit.width; ++x)
                ASSERT_EQ(fit.At(x, y) & 0xFFFFFFu, 0u)
                    << adjustment[0] << " at " << x << ", " << y;
    }
}

TEST(PictureShape, FillCropsBothSidesAndStretchKeepsThem)
{
    ScratchFolder folder;
    // A red stripe down each side, 30 of 320 columns: filling the 4:3 screen at 16:9 shows the
    // middle 3/4 of the width, so 40 columns go on each side and the stripes with them.
    Surface in(320, 180, 0xFFFFFF);
    for (int y = 0; y < 180; ++y)
        for (int x = 0; x < 30; ++x)
            in.At(x, y) = in.At(319 - x, y) = 0xFF0000;
    WritePng(folder.Path("in.png"), in);
    for (const char* aspect : { "fill", "stretch" }) {
        const std::string out = folder.Path(std::string(aspect) + ".png");
        ExpectDone(RunTool({ "-q", "--mode", "4", "--method", "treshold", "--working", "--aspect",
            aspect, folder.Path("in.png"), out }));
        const Surface s = DecodeAllFrames(out).at(0);
        EXPECT_EQ(BlackRows(s), 0) << aspect;
        const bool red = s.At(0, 120) == 0xFF0000u && s.At(255, 120) == 0xFF0000u;
        EXPECT_EQ(red, std::string(aspect) == "stretch") << aspect;
    }
}

TEST(PictureShape, FillShowsTheMiddleOfAVeryWidePicture)
{
    ScratchFolder folder;
    // 16000 x 300 fills the screen 20480 host pixels wide: the middle 400 columns show. Red
    // outside the middle 800, blue then white on either side of the centre.
    Surface in(16000, 300, 0xFF0000);
    for (int y = 0; y < 300; ++y)
        for (int x = 7600; x < 8400; ++x)
            in.At(x, y) = x < 8000 ? 0x0000FF : 0xFFFFFF;
    WritePng(folder.Path("in.png"), in);
    ExpectDone(RunTool({ "-q", "--method", "none", "--working", "--aspect", "fill",
        folder.Path("in.png"), folder.Path("out.png") }));
    const Surface out = DecodeAllFrames(folder.Path("out.png")).at(0);
    ASSERT_EQ(out.width, 128);
    for (const int y : { 0, 120, 239 }) {
        for (int x = 0; x < 128; ++x)
            EXPECT_NE(out.At(x, y), 0xFF0000u) << x << ", " << y;
        EXPECT_EQ(out.At(10, y), 0x0000FFu) << y;
        EXPECT_EQ(out.At(118, y), 0xFFFFFFu) << y;
    }
}

TEST(PictureShape, FillRefusesByNameAPixelDrawnPastTheDevice)
{
    ScratchFolder folder;
    // Pixels 32768 times as wide as high: one of them spans millions of host pixels.
    const std::string path = video::test::MadeVideo("wide_pixels.mkv",
        { "-f", "lavfi", "-i", "testsrc2=size=64x2", "-frames:v", "1", "-vf",
            "setsar=r=32768:max=32768", "-c:v", "ffv1" });
    const ToolResult r = RunTool({ "-q", "--aspect", "fill", path, folder.Path("out.png") });
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("--aspect fill cannot show this picture: a window of "), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("pixels draws each pixel of the 64 x 2 picture"), std::string::npos)
        << r.err;
    ExpectDone(RunTool({ "-q", "--aspect", "fit", path, folder.Path("out.png") }));
}

TEST(PictureShape, HostRectangleFollowsThePixelShape)
{
    using R = InputVideo::Rect;
    EXPECT_EQ(InputVideo::HostRect(Aspect::Stretch, 320, 180, 1.0), (R { 0, 0, 512, 240 }));
    EXPECT_EQ(InputVideo::HostRect(Aspect::Fit, 320, 180, 1.0), (R { 0, 30, 512, 180 }));
    // 352 × 288 of pixels 16:11 wide shows 16:9.
    EXPECT_EQ(InputVideo::HostRect(Aspect::Fit, 352, 288, 16.0 / 11.0), (R { 0, 30, 512, 180 }));
    // A 4:3 picture fits exactly; a tall one gets bars left and right.
    EXPECT_EQ(InputVideo::HostRect(Aspect::Fit, 640, 480, 1.0), (R { 0, 0, 512, 240 }));
    EXPECT_EQ(InputVideo::HostRect(Aspect::Fit, 240, 240, 1.0), (R { 64, 0, 384, 240 }));
    EXPECT_EQ(InputVideo::HostRect(Aspect::Fill, 320, 180, 1.0), (R { -85, 0, 683, 240 }));
    EXPECT_EQ(InputVideo::HostRect(Aspect::Fill, 240, 240, 1.0), (R { 0, -40, 512, 320 }));
    // A side past what an int holds is cut to the largest window side, still centred.
    EXPECT_EQ(InputVideo::HostRect(Aspect::Fill, 16384, 1, 1e9),
        (R { -(1 << 29) + 256, 0, 1 << 30, 240 }));
}

TEST(PictureShape, WrongSettingsAreRefusedByName)
{
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        { { "--contrast", "140", "a.png", "b.png" },
            "--contrast takes a whole number from -100 to 100 (0 changes nothing), got '140'" },
        { { "--brightness", "1.5", "a.png", "b.png" },
            "--brightness takes a whole number from -100 to 100 (0 changes nothing), got '1.5'" },
        { { "--saturation", "-20", "--saturation", "3", "a.png", "b.png" },
            "--saturation is given twice" },
        { { "--gamma", "0", "a.png", "b.png" },
            "--gamma takes a number from 0.2 to 5 (1 changes nothing), got '0'" },
        { { "--gamma", "nan", "a.png", "b.png" },
            "--gamma takes a number from 0.2 to 5 (1 changes nothing), got 'nan'" },
        { { "--aspect", "wide", "a.png", "b.png" },
            "--aspect takes stretch, fit or fill, got 'wide'" },
        { { "--aspect", "fit", "--keep-size", "a.png", "b.png" },
            "--keep-size takes each picture at its own size, so there is no screen for --aspect "
            "to shape it into; leave one of them out" },
    };
    for (const auto& c : cases) {
        const auto [status, message] = Refusal(c.args);
        EXPECT_EQ(status, kExitUsage) << c.message;
        EXPECT_EQ(message, c.message);
    }
    const Options o = ParseOptions(std::vector<std::string> {
        "--brightness", "-20", "--gamma", "2.2", "--aspect", "FIT", "a.png", "b.png" });
    EXPECT_EQ(o.adjustments, (PictureAdjustments { -20, 0, 0, 2.2 }));
    EXPECT_EQ(o.aspect, Aspect::Fit);
}
