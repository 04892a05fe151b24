#include "user_media.h"

#include "test_videos.h"

#include <array>

namespace pelorin::video::test {

namespace {

    std::string Quartered()
    {
        return MadeVideo("user_quartered.mp4",
            { "-f", "lavfi", "-i",
                "color=c=blue:s=64x32:r=5:d=1,drawbox=x=0:y=0:w=32:h=16:color=red:t=fill", "-c:v",
                "libx264", "-pix_fmt", "yuv444p", "-qp", "0" });
    }

} // namespace

std::string TurnedClip(int degrees)
{
    // The display rotation is written by copying: FFmpeg keeps the tag only on a stream copy.
    return MadeVideo("user_turned_" + std::to_string(degrees) + ".mp4",
        { "-i", Quartered(), "-c", "copy", "-metadata:s:v:0",
            "rotate=" + std::to_string(degrees) });
}

std::string UprightByFfmpeg(const std::string& path)
{
    const std::string name = path.substr(path.find_last_of('/') + 1);
    return MadeVideo(name + "_upright.ppm", { "-i", path, "-frames:v", "1" });
}

int RedQuarter(const platform::Surface& picture)
{
    int red = -1;
    for (int q = 0; q < 4; ++q) {
        const uint32_t c = picture.At(
            (2 * (q % 2) + 1) * picture.width / 4, (2 * (q / 2) + 1) * picture.height / 4);
        const int r = platform::RedOf(c);
        const int b = platform::BlueOf(c);
        if (r > 160 && b < 96) {
            if (red >= 0)
                return -1;
            red = q;
        } else if (!(b > 160 && r < 96)) {
            return -1;
        }
    }
    return red;
}

std::string UnevenGif()
{
    // Pictures 0, 10, 60 and 160 of a 100-per-second test pattern, kept at their own times.
    return MadeVideo("user_uneven.gif",
        { "-f", "lavfi", "-i", "testsrc2=size=64x48:rate=100:duration=1.7", "-vf",
            "select='eq(n,0)+eq(n,10)+eq(n,60)+eq(n,160)'", "-fps_mode", "passthrough" });
}

std::string TransparentPicture()
{
    return MadeVideo("user_transparent.png",
        { "-f", "lavfi", "-i", "color=c=white:s=4x2", "-frames:v", "1", "-vf",
            "format=rgba,geq=r=255:g=255:b=255:a='X*85'" });
}

std::string WidePicture(int width)
{
    // Scaled up from a small picture: FFmpeg's colour source stops at 16384 pixels a side.
    return MadeVideo("user_wide_" + std::to_string(width) + ".png",
        { "-f", "lavfi", "-i", "color=c=gray:s=8x8", "-frames:v", "1", "-vf",
            "scale=" + std::to_string(width) + ":8" });
}

std::string FastStartMp4()
{
    return MadeVideo("user_faststart.mp4",
        { "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=4", "-c:v", "libx264",
            "-pix_fmt", "yuv420p", "-g", "25", "-bf", "0", "-movflags", "+faststart" });
}

} // namespace pelorin::video::test
