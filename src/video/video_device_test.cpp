// The device's window: where and how pictures are drawn, and playback on its own thread.
#include "testing/test_videos.h"
#include "video_device.h"

#include "platform/picture_box.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

namespace pelorin::video {
namespace {

    using namespace std::chrono_literals;
    using test::Hash;

    constexpr uint32_t kBack = 0x00123456;

    platform::Surface Region(const platform::Surface& image, int x, int y, int width, int height)
    {
        platform::Surface region(width, height);
        for (int row = 0; row < height; ++row)
            for (int col = 0; col < width; ++col)
                region.At(col, row) = image.At(x + col, y + row);
        return region;
    }

    bool OnlyColour(const platform::Surface& image, int x, int y, int width, int height, uint32_t c)
    {
        for (int row = y; row < y + height; ++row)
            for (int col = x; col < x + width; ++col)
                if (image.At(col, row) != c)
                    return false;
        return true;
    }

    bool UnusedBytesClear(const platform::Surface& image)
    {
        for (uint32_t p : image.pixels)
            if (p >> 24)
                return false;
        return true;
    }

    // The sample's slot `slot` drawn at its own size, as the reference for the tests below.
    platform::Surface FullPicture(int64_t slot)
    {
        platform::PictureBox box(512, 240);
        auto device = VideoDevice::Open(test::SampleVideo(), &box, nullptr);
        EXPECT_TRUE(device && device->Seek(slot));
        return box.Snapshot();
    }

    TEST(VideoWindow, OpensAtTheVideosOwnSizeInTheTopLeftCorner)
    {
        platform::PictureBox box(640, 400, kBack);
        auto device = VideoDevice::Open(test::SampleVideo(), &box, nullptr);
        ASSERT_TRUE(device);
        const platform::Surface image = box.Snapshot();
        EXPECT_EQ(Region(image, 0, 0, 512, 240), FullPicture(0));
        EXPECT_TRUE(OnlyColour(image, 512, 0, 128, 400, kBack));
        EXPECT_TRUE(OnlyColour(image, 0, 240, 640, 160, kBack));
        EXPECT_TRUE(UnusedBytesClear(image));
    }

    TEST(VideoWindow, PutScalesThePictureToFillTheRectangle)
    {
        const platform::Surface full = FullPicture(0);
        platform::PictureBox box(400, 300, kBack);
        auto device = VideoDevice::Open(test::SampleVideo(), &box, nullptr);
        ASSERT_TRUE(device);
        // Half size, moved in: every pixel is close to the average of the 2 × 2 block it covers.
        ASSERT_TRUE(device->PutWindow({ 30, 40, 256, 120 }));
        const platform::Surface image = box.Snapshot();
        EXPECT_TRUE(OnlyColour(image, 0, 0, 400, 40, kBack)) << "the old area shows the box again";
        EXPECT_TRUE(OnlyColour(image, 0, 40, 30, 120, kBack));
        EXPECT_TRUE(OnlyColour(image, 286, 40, 114, 120, kBack));
        EXPECT_TRUE(OnlyColour(image, 0, 160, 400, 140, kBack));
        EXPECT_TRUE(UnusedBytesClear(image));
        int64_t totalError = 0;
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 256; ++x)
                for (int shift : { 0, 8, 16 }) {
                    int sum = 0;
                    for (int dy = 0; dy < 2; ++dy)
                        for (int dx = 0; dx < 2; ++dx)
                            sum += (full.At(2 * x + dx, 2 * y + dy) >> shift) & 0xFF;
                    totalError
                        += std::abs(int((image.At(30 + x, 40 + y) >> shift) & 0xFF) - sum / 4);
                }
        // Filters differ in detail; a wrong scale or offset gives errors of tens per channel.
        EXPECT_LT(double(totalError) / (256 * 120 * 3), 6.0);
    }

    struct ClipCase {
        const char* name;
        WindowRect rect;
    };
    const ClipCase kClipCases[] = {
        { "OverTheTopLeft", { -100, -50, 512, 240 } },
        { "OverTheBottomRight", { 200, 100, 512, 240 } },
        { "OverEverySide", { -7, -3, 512, 240 } },
        { "EntirelyOutside", { 400, 300, 512, 240 } },
        { "EntirelyOutsideNegative", { -600, -300, 512, 240 } },
    };

    TEST(VideoWindow, ARectangleReachingOutsideIsClippedToTheBox)
    {
        const platform::Surface full = FullPicture(0);
        for (const ClipCase& c : kClipCases) {
            SCOPED_TRACE(c.name);
            platform::PictureBox box(300, 200, kBack);
            auto device = VideoDevice::Open(test::SampleVideo(), &box, nullptr);
            ASSERT_TRUE(device);
            ASSERT_TRUE(device->PutWindow(c.rect));
            const platform::Surface image = box.Snapshot();
            for (int y = 0; y < 200; ++y)
                for (int x = 0; x < 300; ++x) {
                    const int fx = x - c.rect.x;
                    const int fy = y - c.rect.y;
                    const bool inside = fx >= 0 && fy >= 0 && fx < 512 && fy < 240;
                    ASSERT_EQ(image.At(x, y), inside ? full.At(fx, fy) : kBack)
                        << "at " << x << ", " << y;
                }
        }
    }

    // Conversion to surface pixels works in blocks; a width that is no multiple of a block must
    // still leave every pixel beside the window alone and stay inside the surface.
    TEST(VideoWindow, PicturesOfAnyWidthStayInsideTheirWindow)
    {
        const struct {
            int width;
            const char* pixelFormat;
        } cases[] = { { 330, "yuv420p" }, { 334, "yuv420p" }, { 338, "yuv420p" },
            { 331, "yuv444p" }, { 333, "yuv444p" }, { 335, "bgr0" } };
        for (const auto& [width, pixelFormat] : cases) {
            SCOPED_TRACE(std::to_string(width) + " " + pixelFormat);
            // Cropped in the picture's own format: a 4:2:0 picture only crops to even widths.
            const std::string path
                = test::MadeVideo("width" + std::to_string(width) + pixelFormat + ".mkv",
                    { "-f", "lavfi", "-i", "testsrc2=size=352x10:rate=25:duration=0.2", "-vf",
                        std::string("format=") + pixelFormat + ",crop=" + std::to_string(width)
                            + ":10:0:0",
                        "-c:v", "ffv1", "-pix_fmt", pixelFormat });
            const std::vector<uint64_t> reference
                = test::ReferenceSlotHashes(path, test::SlotRule::InOrder);
            ASSERT_FALSE(reference.empty());
            // Exactly the picture's size (an overrun leaves the surface), then wider and
            // taller (an overrun shows beside the window).
            platform::PictureBox exact(width, 10, kBack);
            platform::PictureBox roomy(width + 40, 14, kBack); // outlives the devices drawing in it
            auto device = VideoDevice::Open(path, &exact, nullptr);
            ASSERT_TRUE(device);
            ASSERT_TRUE(device->Seek(1));
            EXPECT_EQ(Hash(exact.Snapshot()), reference[1]);
            device = VideoDevice::Open(path, &roomy, nullptr);
            ASSERT_TRUE(device && device->PutWindow({ 3, 2, width, 10 }));
            const platform::Surface image = roomy.Snapshot();
            EXPECT_EQ(Hash(Region(image, 3, 2, width, 10)), reference[0]);
            EXPECT_TRUE(OnlyColour(image, 3 + width, 0, 37, 14, kBack));
            EXPECT_TRUE(OnlyColour(image, 0, 12, width + 40, 2, kBack));
        }
    }

    TEST(VideoWindow, RefusesEmptyRectanglesAndPixelsDrawnPastTheDevice)
    {
        platform::PictureBox box(64, 64, kBack);
        auto device = VideoDevice::Open(test::SampleVideo(), &box, nullptr);
        ASSERT_TRUE(device);
        const WindowRect before = device->Window();
        const platform::Surface shown = box.Snapshot();
        // The last draws each pixel of the sample over a million box pixels wide.
        for (const WindowRect& r : { WindowRect { 0, 0, 0, 10 }, WindowRect { 0, 0, 10, -1 },
                 WindowRect { 0, 0, kMaxWindowSide + 1, 10 },
                 WindowRect { 0, 0, kMaxWindowSide, 10 } }) {
            EXPECT_FALSE(device->PutWindow(r));
            EXPECT_FALSE(device->WindowProblem(r).empty());
            EXPECT_EQ(device->Window(), before);
            EXPECT_EQ(box.Snapshot(), shown);
        }
        EXPECT_NE(device->WindowProblem(WindowRect { 0, 0, kMaxWindowSide, 10 })
                      .find("scales a picture to at most 16384 pixels a side"),
            std::string::npos);
        // Wider than the device scales whole, but what shows of it is a few of its pixels.
        const WindowRect wide { -kMaxVideoSide / 2, 0, kMaxVideoSide + 1, 64 };
        EXPECT_TRUE(device->WindowProblem(wide).empty());
        EXPECT_TRUE(device->PutWindow(wide));
        EXPECT_EQ(device->Window(), wide);
    }

    TEST(VideoWindow, ClosingShowsTheBoxBehindAgain)
    {
        platform::PictureBox box(600, 300, kBack);
        auto device = VideoDevice::Open(test::SampleVideo(), &box, nullptr);
        ASSERT_TRUE(device);
        box.Image().At(599, 299) = 0x00ABCDEF; // outside the window: not the device's to clear
        device.reset();
        const platform::Surface image = box.Snapshot();
        EXPECT_TRUE(OnlyColour(image, 0, 0, 512, 240, kBack));
        EXPECT_EQ(image.At(599, 299), 0x00ABCDEFu);
    }

    TEST(VideoWindow, AParentThatWentAwayIsNotDrawnInto)
    {
        auto box = std::make_unique<platform::PictureBox>(512, 240);
        // Asked for anew before every drawing, as the MCI shell asks its window handle table.
        const int handle = box->hWnd();
        auto device = VideoDevice::Open(
            test::SampleVideo(),
            [handle]() -> platform::FrameTarget* { return platform::FindWindow(handle); }, nullptr);
        ASSERT_TRUE(device);
        box.reset();
        EXPECT_TRUE(device->Seek(100));
        EXPECT_TRUE(device->PutWindow({ 0, 0, 10, 10 }));
        EXPECT_EQ(device->Position(), 100);
    }

    TEST(VideoWindow, RefreshFollowsEveryDrawing)
    {
        platform::PictureBox box(512, 240);
        std::atomic<int> refreshes { 0 };
        box.SetRefreshHandler([&] { ++refreshes; });
        auto device = VideoDevice::Open(test::SampleVideo(), &box, nullptr);
        ASSERT_TRUE(device);
        const int afterOpen = refreshes;
        EXPECT_GE(afterOpen, 1);
        device->Seek(5);
        EXPECT_EQ(refreshes, afterOpen + 1);
        EXPECT_FALSE(device->Seek(5000));
        EXPECT_EQ(refreshes, afterOpen + 1);
        box.SetRefreshHandler({});
    }

    // ---- Playback ---------------------------------------------------------------------

    template <class Done> bool WaitFor(Done done)
    {
        for (int i = 0; i < 1000 && !done(); ++i)
            std::this_thread::sleep_for(5ms);
        return done();
    }

    TEST(Playback, RunsToTheLastSlotAndStops)
    {
        const std::string path = test::MadeVideo("play.avi",
            { "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=1", "-c:v", "mjpeg" });
        const std::vector<uint64_t> reference
            = test::ReferenceSlotHashes(path, test::SlotRule::InOrder);
        platform::PictureBox box(160, 120);
        auto device = VideoDevice::Open(path, &box, nullptr);
        ASSERT_TRUE(device);
        ASSERT_TRUE(device->Seek(20));
        device->Play();
        device->WaitWhilePlaying();
        EXPECT_EQ(device->Mode(), DeviceMode::Stopped);
        EXPECT_EQ(device->Position(), 24);
        EXPECT_EQ(Hash(box.Snapshot()), reference[24]);
        // Playing at the end ends at once.
        device->Play();
        device->WaitWhilePlaying();
        EXPECT_EQ(device->Position(), 24);
    }

    TEST(Playback, PauseHoldsResumeGoesOnStopHalts)
    {
        platform::PictureBox box(512, 240);
        auto device = VideoDevice::Open(test::SampleVideo(), &box, nullptr);
        ASSERT_TRUE(device);
        device->Play();
        EXPECT_EQ(device->Mode(), DeviceMode::Playing);
        ASSERT_TRUE(WaitFor([&] { return device->Position() >= 3; }));
        device->Pause();
        EXPECT_EQ(device->Mode(), DeviceMode::Paused);
        const int64_t held = device->Position();
        std::this_thread::sleep_for(120ms);
        EXPECT_EQ(device->Position(), held);
        device->Resume();
        EXPECT_EQ(device->Mode(), DeviceMode::Playing);
        ASSERT_TRUE(WaitFor([&] { return device->Position() > held; }));
        device->Stop();
        EXPECT_EQ(device->Mode(), DeviceMode::Stopped);
        const int64_t stopped = device->Position();
        std::this_thread::sleep_for(120ms);
        EXPECT_EQ(device->Position(), stopped);
    }

    TEST(Playback, ASeekEndsPlaybackAndShowsItsFrame)
    {
        const std::vector<uint64_t> reference
            = test::ReferenceSlotHashes(test::SampleVideo(), test::SlotRule::InOrder);
        platform::PictureBox box(512, 240);
        auto device = VideoDevice::Open(test::SampleVideo(), &box, nullptr);
        ASSERT_TRUE(device);
        device->Play();
        ASSERT_TRUE(WaitFor([&] { return device->Position() >= 2; }));
        ASSERT_TRUE(device->Seek(321));
        EXPECT_EQ(device->Mode(), DeviceMode::Stopped);
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(device->Position(), 321);
        EXPECT_EQ(Hash(box.Snapshot()), reference[321]);
        // The decoder carries on exactly from there.
        ASSERT_TRUE(device->Seek(322));
        EXPECT_EQ(Hash(box.Snapshot()), reference[322]);
    }

    TEST(Playback, AReaderOfTheBoxOnlyEverSeesWholePictures)
    {
        const std::vector<uint64_t> reference
            = test::ReferenceSlotHashes(test::SampleVideo(), test::SlotRule::InOrder);
        const std::set<uint64_t> pictures(reference.begin(), reference.end());
        platform::PictureBox box(512, 240);
        auto device = VideoDevice::Open(test::SampleVideo(), &box, nullptr);
        ASSERT_TRUE(device);
        device->Play();
        std::set<uint64_t> seen;
        // The frame pipeline's way of reading: a copy of the box's image under its lock.
        for (int i = 0; i < 400 && device->Position() < 12; ++i) {
            const uint64_t h = Hash(box.Snapshot());
            ASSERT_TRUE(pictures.count(h)) << "a half-drawn picture after " << i << " reads";
            seen.insert(h);
            std::this_thread::sleep_for(2ms);
        }
        device->Stop();
        EXPECT_GE(seen.size(), 2u) << "playback did not change the picture";
    }

    TEST(Playback, ClosingWhilePlayingStopsTheThread)
    {
        platform::PictureBox box(512, 240, kBack);
        auto device = VideoDevice::Open(test::SampleVideo(), &box, nullptr);
        ASSERT_TRUE(device);
        device->Play();
        ASSERT_TRUE(WaitFor([&] { return device->Position() >= 1; }));
        device.reset();
        const platform::Surface closed = box.Snapshot();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(box.Snapshot(), closed);
        EXPECT_TRUE(OnlyColour(closed, 0, 0, 512, 240, kBack));
    }

} // namespace
} // namespace pelorin::video

namespace pelorin::video {
namespace {

    // Names reach FFmpeg as local files and nothing else: a colon in a relative name is part of
    // the name, not the name of a protocol.
    TEST(OpenNames, AreAlwaysLocalFiles)
    {
        const std::string made = test::MadeVideo("colon-source.avi",
            { "-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25:duration=0.2", "-c:v", "mjpeg" });
        const std::filesystem::path folder = std::filesystem::path(made).parent_path();
        std::filesystem::copy_file(made, folder / "tcp:frames.avi",
            std::filesystem::copy_options::overwrite_existing);
        const auto previous = std::filesystem::current_path();
        std::filesystem::current_path(folder);
        platform::PictureBox box(64, 48);
        auto device = VideoDevice::Open("tcp:frames.avi", &box, nullptr);
        std::filesystem::current_path(previous);
        EXPECT_TRUE(device) << "a relative name with a colon opens the file of that name";
    }

} // namespace
} // namespace pelorin::video
