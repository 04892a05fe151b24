#include "frame_cursor.h"

extern "C" {
#include <libavutil/frame.h>
}

#include "av/ffmpeg_util.h"

#include <cstring>
#include <exception>
#include <utility>

namespace pelorin::video {

namespace {

    // FFmpeg's decoder as a cursor.
    class DecoderCursor final : public FrameCursor {
    public:
        explicit DecoderCursor(std::unique_ptr<FrameDecoder> decoder)
            : m_decoder(std::move(decoder))
        {
        }
        int64_t SlotCount() const override { return m_decoder->SlotCount(); }
        int RateNumerator() const override { return m_decoder->RateNumerator(); }
        int RateDenominator() const override { return m_decoder->RateDenominator(); }
        int Width() const override { return m_decoder->Width(); }
        int Height() const override { return m_decoder->Height(); }
        Orientation Turn() const override { return m_decoder->Turn(); }
        bool SeekToSlot(int64_t slot) override { return m_decoder->SeekToSlot(slot); }
        int64_t Slot() const override { return m_decoder->Slot(); }
        const std::string& Problem() const override { return m_decoder->Problem(); }
        const AVFrame* Picture() const override { return m_decoder->Picture(); }
        const DecodeCounters& Counters() const override { return m_decoder->Counters(); }

    private:
        std::unique_ptr<FrameDecoder> m_decoder;
    };

    // A picture source's pictures as slots: slot i shows Picture(i), upright, at the source's
    // rate. Nothing is decoded, so the counters stay at zero. A picture the source cannot make
    // (it throws: a file that shrank since it was opened) fails that seek alone, with the
    // source's reason as the problem; the device may be asking on its read-ahead thread, where
    // an exception would have nowhere to go.
    class SourceCursor final : public FrameCursor {
    public:
        explicit SourceCursor(std::unique_ptr<PictureSource> source)
            : m_source(std::move(source))
        {
        }
        int64_t SlotCount() const override { return m_source->Count(); }
        int RateNumerator() const override { return m_source->RateNumerator(); }
        int RateDenominator() const override { return m_source->RateDenominator(); }
        int Width() const override { return m_source->Width(); }
        int Height() const override { return m_source->Height(); }
        Orientation Turn() const override { return {}; }
        bool SeekToSlot(int64_t slot) override;
        int64_t Slot() const override { return m_slot; }
        const std::string& Problem() const override { return m_problem; }
        const AVFrame* Picture() const override { return m_picture.get(); }
        const DecodeCounters& Counters() const override { return m_counters; }

        // The source's facts within what the device can show.
        bool Usable() const
        {
            return m_source->Count() >= 1 && m_source->Width() >= 1 && m_source->Height() >= 1
                && m_source->Width() <= kMaxVideoSide && m_source->Height() <= kMaxVideoSide
                && m_source->RateNumerator() >= 1 && m_source->RateDenominator() >= 1;
        }

    private:
        std::unique_ptr<PictureSource> m_source;
        av::FramePtr m_picture;
        int64_t m_slot = 0;
        std::string m_problem;
        const DecodeCounters m_counters;
    };

    bool SourceCursor::SeekToSlot(int64_t wanted)
    {
        if (wanted < 0 || wanted >= m_source->Count())
            return false;
        if (m_picture && wanted == m_slot)
            return true;
        const int width = m_source->Width();
        const int height = m_source->Height();
        platform::Surface made;
        try {
            made = m_source->Picture(wanted);
        } catch (const std::exception& e) {
            m_problem = e.what();
            return false;
        }
        if (made.width != width || made.height != height)
            return false;
        // A fresh frame each time: the device keeps references to pictures it has shown.
        av::FramePtr frame { av_frame_alloc() };
        if (!frame)
            return false;
        frame->format = AV_PIX_FMT_BGR0; // the surface's own bytes: blue, green, red, unused
        frame->width = width;
        frame->height = height;
        if (av_frame_get_buffer(frame.get(), 0) < 0)
            return false;
        for (int y = 0; y < height; ++y)
            std::memcpy(frame->data[0] + size_t(y) * size_t(frame->linesize[0]), made.Row(y),
                size_t(width) * 4);
        m_picture = std::move(frame);
        m_slot = wanted;
        return true;
    }

} // namespace

std::unique_ptr<FrameCursor> OpenFrameCursor(const std::string& path, std::string* error,
    const DecoderOptions& options, const PictureSourceOpener& pictures)
{
    av::QuietFfmpegLog();
    std::string ignored;
    if (!error)
        error = &ignored;
    std::unique_ptr<PictureSource> source;
    if (pictures) {
        error->clear();
        source = pictures(path, error);
        if (!source && !error->empty())
            return nullptr;
    }
    if (!source) {
        std::unique_ptr<FrameDecoder> decoder = FrameDecoder::Open(path, error, options);
        return decoder ? std::make_unique<DecoderCursor>(std::move(decoder)) : nullptr;
    }
    auto cursor = std::make_unique<SourceCursor>(std::move(source));
    if (!cursor->Usable()) {
        *error = "'" + path + "': its pictures have no usable size, count or rate";
        return nullptr;
    }
    if (!cursor->SeekToSlot(0)) {
        *error = "'" + path + "': the first picture cannot be made";
        return nullptr;
    }
    return cursor;
}

} // namespace pelorin::video
