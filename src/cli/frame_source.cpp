#include "frame_source.h"

#include "av_helpers.h"
#include "cli_error.h"
#include "picture_io.h"

#include <cstring>

namespace pelorin::cli {

namespace {

    // Draws `picture` scaled to fill `box`.
    void DrawToFill(const platform::Surface& picture, platform::PictureBox& box)
    {
        platform::Surface& image = box.Image();
        SwsPtr sws(sws_getContext(picture.width, picture.height, AV_PIX_FMT_BGR0, image.width,
            image.height, AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!sws)
            throw Failure("cannot scale a " + std::to_string(picture.width) + " x "
                + std::to_string(picture.height) + " picture");
        const uint8_t* src[4] = { reinterpret_cast<const uint8_t*>(picture.pixels.data()) };
        const int srcStride[4] = { picture.width * 4 };
        uint8_t* dst[4] = { reinterpret_cast<uint8_t*>(image.pixels.data()) };
        const int dstStride[4] = { image.width * 4 };
        std::lock_guard lock(box.Lock());
        sws_scale(sws.get(), src, srcStride, 0, picture.height, dst, dstStride);
        for (uint32_t& p : image.pixels)
            p &= 0x00FFFFFFu;
    }

    class PictureSource : public FrameSource {
    public:
        explicit PictureSource(platform::Surface picture)
            : m_picture(std::move(picture))
        {
        }
        int64_t FrameCount() const override { return 1; }
        Rational FrameRate() const override { return { 25, 1 }; }
        int Width() const override { return m_picture.width; }
        int Height() const override { return m_picture.height; }
        void ShowInHost(int64_t, platform::PictureBox& host) override
        {
            DrawToFill(m_picture, host);
        }
        void ReadOwnSize(int64_t, platform::PictureBox& picture) override
        {
            std::lock_guard lock(picture.Lock());
            picture.Image() = m_picture;
        }
        const char* Kind() const override { return "picture"; }

    private:
        platform::Surface m_picture;
    };

} // namespace

std::unique_ptr<FrameSource> OpenFrameSource(const std::string& path)
{
    if (IsStillPicture(path))
        return std::make_unique<PictureSource>(ReadPicture(path));
    throw Failure("cannot read '" + path + "': not a picture FFmpeg recognises");
}

} // namespace pelorin::cli
