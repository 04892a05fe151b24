#include "frame_decoder.h"

#include "frame_decoder_impl.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cassert>
#include <limits>
#include <utility>
#include <vector>

namespace pelorin::video {

bool PictureSizeAccepted(int width, int height)
{
    return width > 0 && height > 0 && width <= kMaxVideoSide && height <= kMaxVideoSide
        && int64_t(width) * height <= kMaxVideoPixels
        && (int64_t(width) + 128) * (int64_t(height) + 128) <= kMaxPaddedPixels;
}

using namespace decoding;
using av::QuietFfmpegLog;

// The file has shrunk since it was opened.
bool FrameDecoder::Impl::CutShort() const
{
    return sizeAtOpen > 0 && format->pb && avio_size(format->pb) < sizeAtOpen;
}
bool FrameDecoder::Impl::ReadVideoPacket()
{
    if (heldPacket) {
        heldPacket = false;
        return true;
    }
    for (;;) {
        if (av_read_frame(format.get(), packet.get()) < 0)
            return false;
        if (packet->stream_index == stream && packet->size > 0)
            break;
        av_packet_unref(packet.get());
    }
    // In complete reading a picture the file now ends inside of is where the file ends.
    if (options.complete && (packet->flags & AV_PKT_FLAG_CORRUPT) && CutShort()) {
        av_packet_unref(packet.get());
        return false;
    }
    bool fromDts = false;
    const bool unstamped = packet->pts == AV_NOPTS_VALUE && packet->dts == AV_NOPTS_VALUE;
    if (!displayTsOfDts.empty() && packet->dts != AV_NOPTS_VALUE) {
        const auto it = displayTsOfDts.find(packet->dts);
        if (it != displayTsOfDts.end())
            packet->pts = it->second;
    }
    packetTs = PacketTs(*packet, &fromDts);
    // A stream without any timestamps gets ours, so its pictures come out stamped.
    if (unstamped)
        packet->pts = packetTs;
    return true;
}

// Reads up to the first keyframe after a demuxer seek. True when it is `key` or one before it,
// so decoding forward from it reaches `key`; the packet is then held for sending.
bool FrameDecoder::Impl::ReadFirstKey(const KeyFrame& key)
{
    for (;;) {
        if (!ReadVideoPacket())
            return false;
        const bool isKey = packet->flags & AV_PKT_FLAG_KEY;
        const int64_t ts = packetTs;
        const int64_t order = packet->dts != AV_NOPTS_VALUE ? packet->dts : ts;
        if (isKey && ts != AV_NOPTS_VALUE && ts <= key.ts) {
            heldPacket = true;
            return true;
        }
        av_packet_unref(packet.get());
        if (isKey || (order != AV_NOPTS_VALUE && order > key.seekTs))
            return false; // landed beyond the keyframe
    }
}

bool FrameDecoder::Impl::SeekDemuxer(const KeyFrame& key)
{
    ++counters.demuxerSeeks;
    avcodec_flush_buffers(codec.get());
    if (heldPacket)
        av_packet_unref(packet.get());
    heldPacket = false;
    havePending = false;
    av_frame_unref(pending.get());
    demuxEnded = false;
    drained = false;
    lastOutputTs = AV_NOPTS_VALUE;
    tsOffset = 0;
    // The pictures that follow do not follow the ones the filter remembers.
    if (denoise)
        denoise->Reset();
    calibrate = key.tsFromDts;
    calibrateTs = key.ts;
    lost = true;

    // Containers with an index land exactly on the keyframe. Those that search by timestamp
    // (MPEG-TS) may land a little late; then try again further back, and finally at the start.
    const int64_t second = std::max<int64_t>(1, av_rescale_q(1, AVRational { 1, 1 }, timeBase));
    const int64_t backoffs[] = { 0, second, 10 * second };
    for (const int64_t back : backoffs) {
        lastPacketTs = key.ts - slotTicks;
        if (av_seek_frame(format.get(), stream, key.seekTs - back, AVSEEK_FLAG_BACKWARD) >= 0
            && ReadFirstKey(key)) {
            lost = false;
            return true;
        }
    }
    const KeyFrame& first = keys.front();
    lastPacketTs = first.ts - slotTicks;
    if (avformat_seek_file(format.get(), stream, std::numeric_limits<int64_t>::min(), first.seekTs,
            first.seekTs, 0)
            >= 0
        && ReadFirstKey(key)) {
        lost = false;
        return true;
    }
    return false;
}

int64_t FrameDecoder::Impl::OutputTs(const AVFrame& f)
{
    // FFmpeg's guess prefers decoding timestamps once it has seen presentation timestamps out
    // of order, and it keeps that judgement across seeks; a stream whose packets all carry
    // their presentation timestamp is better served by the picture's own.
    int64_t raw = framesCarryTs && f.pts != AV_NOPTS_VALUE ? f.pts : f.best_effort_timestamp;
    if (raw == AV_NOPTS_VALUE)
        raw = f.pts;
    int64_t ts;
    if (raw == AV_NOPTS_VALUE || raw > kTimestampLimit || raw < -kTimestampLimit) {
        ts = lastOutputTs != AV_NOPTS_VALUE ? lastOutputTs + slotTicks : calibrateTs;
    } else {
        if (calibrate)
            tsOffset = raw - calibrateTs;
        ts = raw - tsOffset;
    }
    calibrate = false;
    lastOutputTs = ts;
    return ts;
}

bool FrameDecoder::Impl::Good(const AVFrame& f) const
{
    return !(f.flags & AV_FRAME_FLAG_CORRUPT) && f.decode_error_flags == 0
        && ValidSize(f.width, f.height) && f.format >= 0
        && sws_isSupportedInput(AVPixelFormat(f.format)) > 0;
}

// Decodes until the picture stamped `targetTs` is in `picture`, or the first one after it has
// come out (kept as pending), or the stream ends. Damaged pictures on the way are skipped.
Outcome FrameDecoder::Impl::DecodeTo(int64_t targetTs)
{
    if (havePending) {
        if (pendingTs > targetTs)
            return Outcome::Reached;
        av_frame_unref(picture.get());
        av_frame_move_ref(picture.get(), pending.get());
        havePicture = true;
        havePending = false;
        if (pendingTs == targetTs)
            return Outcome::Reached;
    }
    if (drained)
        return Outcome::Ended;
    int fruitless = 0;
    for (;;) {
        const int r = avcodec_receive_frame(codec.get(), decoded.get());
        if (r == 0) {
            fruitless = 0;
            const int64_t ts = OutputTs(*decoded);
            std::string filterError;
            if (!Good(*decoded) || (denoise && !denoise->Apply(decoded.get(), &filterError))) {
                ++counters.damagedPictures;
                av_frame_unref(decoded.get());
                if (ts >= targetTs)
                    return Outcome::Reached;
                continue;
            }
            if (ts > targetTs) {
                av_frame_move_ref(pending.get(), decoded.get());
                pendingTs = ts;
                havePending = true;
                return Outcome::Reached;
            }
            av_frame_unref(picture.get());
            av_frame_move_ref(picture.get(), decoded.get());
            havePicture = true;
            if (ts == targetTs)
                return Outcome::Reached;
        } else if (r == AVERROR(EAGAIN)) {
            fruitless = 0;
            if (demuxEnded || !ReadVideoPacket()) {
                // Drain the pictures still held for reordering.
                demuxEnded = true;
                avcodec_send_packet(codec.get(), nullptr);
                continue;
            }
            ++counters.packetsSent;
            const int s = avcodec_send_packet(codec.get(), packet.get());
            av_packet_unref(packet.get());
            if (s < 0)
                ++counters.damagedPictures; // rejected outright; the next packet goes on
        } else if (r == AVERROR_EOF) {
            drained = true;
            return Outcome::Ended;
        } else {
            // A decoding error reported on the way out: that picture is lost.
            ++counters.damagedPictures;
            if (++fruitless > kMaxFruitlessReceives) {
                lost = true;
                return Outcome::Failed;
            }
        }
    }
}

const KeyFrame& FrameDecoder::Impl::KeyFor(int64_t targetTs) const
{
    auto it = std::upper_bound(
        keys.begin(), keys.end(), targetTs, [](int64_t t, const KeyFrame& k) { return t < k.ts; });
    return it == keys.begin() ? keys.front() : *(it - 1);
}

bool FrameDecoder::Impl::SeekToSlot(int64_t wanted)
{
    if (wanted < 0 || wanted >= timeline.SlotCount() || !problem.empty())
        return false;
    const std::vector<int64_t>& pictureTs = timeline.PictureTimes();
    const int64_t p = timeline.PictureAt(wanted);
    assert(p >= 0);
    const int64_t targetTs = pictureTs[size_t(p)];
    if (!lost && havePicture && p == shownPicture) {
        slot = wanted;
        return true;
    }
    const KeyFrame& key = KeyFor(targetTs);
    bool decodeOn = !lost && !drained && shownPicture >= 0 && p > shownPicture;
    if (decodeOn && p > shownPicture + 1) {
        // Decoding on is the cheaper road unless a keyframe lies beyond the next picture the
        // decoder would deliver anyway.
        int64_t reached = pictureTs[size_t(shownPicture)];
        if (lastOutputTs != AV_NOPTS_VALUE)
            reached = std::max(reached, lastOutputTs);
        auto next = std::upper_bound(pictureTs.begin(), pictureTs.end(), reached);
        if (next != pictureTs.end() && key.ts > *next)
            decodeOn = false;
        // A seek would make the filter forget: decode on through a short step even where every
        // picture is a keyframe.
        if (denoise && p - shownPicture <= kDenoiseDecodeOnPictures)
            decodeOn = true;
    }
    const bool sought = decodeOn || SeekDemuxer(key);
    const Outcome outcome = sought ? DecodeTo(targetTs) : Outcome::Failed;
    if (options.complete && outcome != Outcome::Reached) {
        // The picture is not there to read. Trying again would decode the same missing data
        // over and over, so reading ends here.
        problem = CutShort() ? "the file was cut short while being read"
                             : "the file ends before it, or cannot be read there";
        return false;
    }
    if (!sought || (outcome == Outcome::Failed && !havePicture))
        return false;
    shownPicture = p;
    slot = wanted;
    return true;
}

FrameDecoder::FrameDecoder(std::unique_ptr<Impl> impl)
    : m(std::move(impl))
{
}

FrameDecoder::~FrameDecoder() = default;

std::unique_ptr<FrameDecoder> FrameDecoder::Open(
    const std::string& path, std::string* error, const DecoderOptions& options)
{
    QuietFfmpegLog();
    std::string ignored;
    if (!error)
        error = &ignored;
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->options = options;
    if (options.denoise != Denoise::Off) {
        if (!DenoiseFilter::Available(error)) {
            *error = "'" + path + "': " + *error;
            return nullptr;
        }
        impl->denoise = std::make_unique<DenoiseFilter>(options.denoise);
    }
    if (!impl->OpenFile(error) || !impl->OpenCodec(error) || !impl->ReadRates(error)
        || !impl->Scan(error))
        return nullptr;
    if (!impl->SeekToSlot(0) || !impl->havePicture) {
        *error = "'" + path + "': the first picture cannot be decoded";
        return nullptr;
    }
    return std::unique_ptr<FrameDecoder>(new FrameDecoder(std::move(impl)));
}

int64_t FrameDecoder::SlotCount() const { return m->timeline.SlotCount(); }
int FrameDecoder::RateNumerator() const { return m->rate.num; }
int FrameDecoder::RateDenominator() const { return m->rate.den; }
int FrameDecoder::Width() const { return m->width; }
int FrameDecoder::Height() const { return m->height; }
Orientation FrameDecoder::Turn() const { return m->turn; }
const std::string& FrameDecoder::Problem() const { return m->problem; }
bool FrameDecoder::SeekToSlot(int64_t slot) { return m->SeekToSlot(slot); }
int64_t FrameDecoder::Slot() const { return m->slot; }
const AVFrame* FrameDecoder::Picture() const { return m->havePicture ? m->picture.get() : nullptr; }
const DecodeCounters& FrameDecoder::Counters() const { return m->counters; }

} // namespace pelorin::video
