// FrameDecoder's opening: the container and its video stream, the codec, the rates, and one
// scan of every packet's timestamps (no decoding) that makes the slot timeline.
#include "frame_decoder_impl.h"
#include "stream_facts.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <optional>
#include <utility>

namespace pelorin::video {

using namespace decoding;
using av::AvErrorText;
using av::OpenInputFile;
using av::PacketUnref;

// The container, its video stream and the picture's upright size.
bool FrameDecoder::Impl::OpenFile(std::string* error)
{
    // The timeline is read once and then sought in: a pipe can give its bytes only once, and
    // opening one whose writer has not come would wait for it.
    const std::string unseekable
        = "'" + path + "' cannot be seeked (a pipe or a stream); save it to a file first";
    struct stat status;
    if (stat(path.c_str(), &status) == 0
        && (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode))) {
        *error = unseekable;
        return false;
    }
    AVFormatContext* raw = nullptr;
    int r = OpenInputFile(&raw, path);
    if (r < 0) {
        *error = "cannot open '" + path + "': " + AvErrorText(r);
        return false;
    }
    format.reset(raw);
    if (format->pb && !(format->pb->seekable & AVIO_SEEKABLE_NORMAL)) {
        *error = unseekable;
        return false;
    }
    if (format->pb)
        sizeAtOpen = avio_size(format->pb);
    r = avformat_find_stream_info(format.get(), nullptr);
    if (r < 0) {
        *error = "cannot read the streams of '" + path + "': " + AvErrorText(r);
        return false;
    }
    stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0) {
        *error = "'" + path + "' has no video stream";
        return false;
    }
    AVStream* st = format->streams[stream];
    // Read only our stream; the others are skipped by the demuxer where it can.
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (int(i) != stream)
            format->streams[i]->discard = AVDISCARD_ALL;

    const AVCodecParameters* par = st->codecpar;
    if (!ValidSize(par->width, par->height)) {
        std::pair<int64_t, int64_t> size { par->width, par->height };
        // A picture FFmpeg refused before saying its size.
        if (size.first <= 0 || size.second <= 0) {
            const auto stated = HeaderPictureSize(path);
            if (stated.first > 0 && stated.second > 0)
                size = stated;
        }
        *error = "'" + path + "': "
            + SizeProblem(int(std::min<int64_t>(size.first, INT32_MAX)),
                int(std::min<int64_t>(size.second, INT32_MAX)));
        return false;
    }
    turn = OrientationOf(*st);
    width = turn.transpose ? par->height : par->width;
    height = turn.transpose ? par->width : par->height;
    return true;
}

// The stream's decoder, set for how the owner reads (see DecoderOptions::sequential).
bool FrameDecoder::Impl::OpenCodec(std::string* error)
{
    const AVStream* st = format->streams[stream];
    const AVCodecParameters* par = st->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
    if (!decoder) {
        *error = "'" + path + "': no decoder for " + avcodec_get_name(par->codec_id);
        return false;
    }
    codec.reset(avcodec_alloc_context3(decoder));
    if (!codec || !packet || !decoded || !picture || !pending) {
        *error = "out of memory opening '" + path + "'";
        return false;
    }
    int r = avcodec_parameters_to_context(codec.get(), par);
    if (r < 0) {
        *error = "'" + path + "': " + AvErrorText(r);
        return false;
    }
    codec->pkt_timebase = st->time_base;
    // Slice threads only unless the reading is sequential: frame threading holds pictures back
    // and slows every seek.
    codec->thread_type = options.sequential ? FF_THREAD_FRAME | FF_THREAD_SLICE : FF_THREAD_SLICE;
    codec->thread_count = 0;
    // The decoder refuses pictures larger than we accept, also when the size changes mid-stream.
    codec->max_pixels = kMaxVideoPixels;
    r = avcodec_open2(codec.get(), decoder, nullptr);
    if (r < 0) {
        *error = "'" + path + "': cannot open the " + avcodec_get_name(par->codec_id)
            + " decoder: " + AvErrorText(r);
        return false;
    }
    return true;
}

// The slots' rate as the stream states it, and the time base they are counted in.
bool FrameDecoder::Impl::ReadRates(std::string* error)
{
    const AVStream* st = format->streams[stream];
    timeBase = st->time_base;
    if (timeBase.num <= 0 || timeBase.den <= 0) {
        *error = "'" + path + "': the video stream has no time base";
        return false;
    }
    // A stated rate slower than the slowest slot rate, as a slideshow's may be (one picture in
    // 200 s), is taken as that rate: each picture then still has a slot of its own, where
    // guessing 25 a second would make hundreds of thousands of slots of a few pictures. A rate
    // of less than one picture a day is no slideshow's but a damaged header's, and is left to
    // the guess.
    const auto slowestIfSlower = [](AVRational r) {
        return r.num > 0 && r.den > 0 && av_q2d(r) < kSlowestRate && av_q2d(r) >= 1.0 / 86400
            ? AVRational { 1, 100 }
            : r;
    };
    const AVRational nominal = slowestIfSlower(st->r_frame_rate);
    const AVRational average = slowestIfSlower(st->avg_frame_rate);
    rate = ValidRate(nominal) ? nominal : ValidRate(average) ? average : AVRational { 25, 1 };
    av_reduce(&rate.num, &rate.den, rate.num, rate.den, INT32_MAX);
    // Finding no usual rate in the timestamps (Matroska's milliseconds at one picture in 3 s or
    // slower), FFmpeg states the time base's tick rate as the nominal one: a slideshow would
    // count a thousand slots a second. The average rate is then the one the file was made at,
    // if every picture gets a slot of its own at it (the scan checks that).
    if (av_cmp_q(st->r_frame_rate, av_inv_q(timeBase)) == 0 && ValidRate(average)
        && av_cmp_q(average, rate) < 0) {
        averageRate = average;
        av_reduce(&averageRate.num, &averageRate.den, averageRate.num, averageRate.den, INT32_MAX);
    }
    slotTicks = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), timeBase));
    return true;
}
// The presentation timestamp of a packet: its own, else its decoding timestamp (AVI gives only
// that), else one slot after the previous packet.
int64_t FrameDecoder::Impl::PacketTs(const AVPacket& p, bool* fromDts)
{
    int64_t ts = p.pts;
    *fromDts = false;
    if (ts == AV_NOPTS_VALUE) {
        *fromDts = true;
        ts = p.dts;
        if (ts == AV_NOPTS_VALUE && lastPacketTs != AV_NOPTS_VALUE)
            ts = lastPacketTs + slotTicks;
    }
    if (ts != AV_NOPTS_VALUE && (ts > kTimestampLimit || ts < -kTimestampLimit))
        ts = AV_NOPTS_VALUE;
    if (ts != AV_NOPTS_VALUE)
        lastPacketTs = ts;
    return ts;
}
bool FrameDecoder::Impl::Scan(std::string* error)
{
    const int64_t fileSize = avio_size(format->pb);
    // A sane file delivers each byte once; an index that points at the same chunks over and
    // over is cut off here instead of being read for hours.
    const int64_t byteBudget
        = fileSize > 0 ? fileSize * 4 + (int64_t(1) << 20) : std::numeric_limits<int64_t>::max();
    int64_t bytes = 0;
    int64_t count = 0;
    bool seenKey = false;
    bool anyFromDts = false;
    // What the last video packet added, and whether the file ended inside it.
    bool lastCut = false;
    bool lastAddedKey = false;
    bool lastAddedPicture = false;
    bool ended = false;
    std::vector<int64_t> pictureTs; // in storage order
    // When each picture stops showing, where the container states a duration (else its start).
    std::vector<int64_t> pictureEnds;
    while (count < kMaxScannedPackets) {
        const int r = av_read_frame(format.get(), packet.get());
        if (r < 0) {
            ended = true;
            break; // the end, or damage: the timeline stops at the last readable packet
        }
        PacketUnref unref(packet.get());
        if (packet->stream_index != stream || packet->size <= 0)
            continue;
        bytes += packet->size;
        if (bytes > byteBudget)
            break;
        ++count;
        lastCut = packet->flags & AV_PKT_FLAG_CORRUPT;
        lastAddedKey = false;
        lastAddedPicture = false;
        bool fromDts = false;
        const int64_t ts = PacketTs(*packet, &fromDts);
        if (ts == AV_NOPTS_VALUE)
            continue;
        anyFromDts = anyFromDts || fromDts;
        const bool key = packet->flags & AV_PKT_FLAG_KEY;
        // Pictures before the first keyframe cannot be decoded from anywhere.
        if (!seenKey && !key)
            continue;
        seenKey = true;
        if (key) {
            const int64_t dts = packet->dts;
            const bool dtsUsable = dts != AV_NOPTS_VALUE && dts <= ts && dts > -kTimestampLimit;
            keys.push_back({ dtsUsable ? dts : ts, ts, fromDts });
            lastAddedKey = true;
        }
        // Packets marked for discarding (an edit list's preroll) feed the decoder but show no
        // picture of their own.
        if (!(packet->flags & AV_PKT_FLAG_DISCARD)) {
            pictureTs.push_back(ts);
            pictureEnds.push_back(packet->duration > 0 && packet->duration < kTimestampLimit
                    ? ts + packet->duration
                    : ts);
            lastAddedPicture = true;
        }
    }
    // The file ends inside its last picture (the demuxer marks such a short packet): in
    // complete reading that picture is not counted, as it can never be shown whole.
    if (options.complete && ended && lastCut) {
        if (lastAddedKey)
            keys.pop_back();
        if (lastAddedPicture) {
            pictureTs.pop_back();
            pictureEnds.pop_back();
        }
    }
    if (keys.empty() || pictureTs.empty()) {
        *error = "'" + path + "' holds no decodable video pictures";
        return false;
    }
    std::stable_sort(
        keys.begin(), keys.end(), [](const KeyFrame& a, const KeyFrame& b) { return a.ts < b.ts; });
    MakeTimeline(std::move(pictureTs), pictureEnds, anyFromDts, count);
    return true;
}

// The timeline of the pictures the scan found (in storage order), the rate it steps at, and
// for a reordering stream stamped by decoding timestamps alone, the display order.
void FrameDecoder::Impl::MakeTimeline(std::vector<int64_t> pictureTs,
    const std::vector<int64_t>& pictureEnds, bool anyFromDts, int64_t count)
{
    // The last picture in display order shows until its stated end.
    std::optional<int64_t> end;
    if (!pictureEnds.empty()) {
        const size_t last
            = size_t(std::max_element(pictureTs.begin(), pictureTs.end()) - pictureTs.begin());
        if (pictureEnds[last] > pictureTs[last])
            end = pictureEnds[last];
    }
    const Fraction base { timeBase.num, timeBase.den };
    timeline = SlotTimeline();
    if (averageRate.num > 0) {
        const Fraction average { averageRate.num, averageRate.den };
        SlotTimeline atAverage(pictureTs, base, average, end);
        // A rate raised to part pictures that would share a slot is no constant rate.
        if (atAverage.SlotRate() == average)
            timeline = std::move(atAverage);
    }
    if (timeline.SlotCount() == 0)
        timeline = SlotTimeline(std::move(pictureTs), base, Fraction { rate.num, rate.den }, end);
    rate = AVRational { timeline.SlotRate().num, timeline.SlotRate().den };
    slotTicks = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), timeBase));

    const bool reorders
        = codec->has_b_frames > 0 || format->streams[stream]->codecpar->video_delay > 0;
    framesCarryTs = !anyFromDts;
    if (reorders && anyFromDts && count <= kMaxDisplayOrderPass)
        LearnDisplayOrder();
}
// Decodes the whole stream once, each packet stamped with its own decoding timestamp; the
// pictures come out in display order carrying those stamps, so the k-th one out is the picture
// of the k-th timestamp of the timeline. From then on every packet read is stamped with its
// display timestamp, and the keyframes are placed where they show.
void FrameDecoder::Impl::LearnDisplayOrder()
{
    const std::vector<int64_t>& pictureTs = timeline.PictureTimes();
    std::vector<int64_t> outputDts;
    outputDts.reserve(pictureTs.size());
    if (!SeekDemuxer(keys.front()))
        return;
    bool ended = false;
    while (!ended) {
        if (ReadVideoPacket()) {
            if (packet->dts == AV_NOPTS_VALUE) {
                av_packet_unref(packet.get());
                return; // nothing to tell the packets apart by
            }
            packet->pts = packet->dts;
            avcodec_send_packet(codec.get(), packet.get());
            av_packet_unref(packet.get());
        } else {
            avcodec_send_packet(codec.get(), nullptr);
            ended = true;
        }
        while (avcodec_receive_frame(codec.get(), decoded.get()) == 0) {
            if (decoded->pts != AV_NOPTS_VALUE)
                outputDts.push_back(decoded->pts);
            av_frame_unref(decoded.get());
        }
    }
    const size_t n = std::min(outputDts.size(), pictureTs.size());
    for (size_t k = 0; k < n; ++k)
        displayTsOfDts[outputDts[k]] = pictureTs[k];
    for (KeyFrame& key : keys) {
        const auto it = displayTsOfDts.find(key.seekTs);
        if (it != displayTsOfDts.end()) {
            key.ts = it->second;
            key.tsFromDts = false;
        }
    }
    std::stable_sort(
        keys.begin(), keys.end(), [](const KeyFrame& a, const KeyFrame& b) { return a.ts < b.ts; });
    framesCarryTs = n == pictureTs.size();
    lost = true;
}

} // namespace pelorin::video
