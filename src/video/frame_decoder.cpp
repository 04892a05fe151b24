#include "frame_decoder.h"

#include "av/ffmpeg_util.h"
#include "picture_source.h"
#include "slot_timeline.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace pelorin::video {

bool PictureSizeAccepted(int width, int height)
{
    return width > 0 && height > 0 && width <= kMaxVideoSide && height <= kMaxVideoSide
        && int64_t(width) * height <= kMaxVideoPixels
        && (int64_t(width) + 128) * (int64_t(height) + 128) <= kMaxPaddedPixels;
}

using av::AvErrorText;
using av::CodecPtr;
using av::FormatPtr;
using av::FramePtr;
using av::OpenInputFile;
using av::PacketPtr;
using av::PacketUnref;
using av::QuietFfmpegLog;

namespace {

    // The timeline keeps at most this many packets: about 23 hours at 25 frames per second.
    // It bounds memory for a hostile file that repeats one chunk through a huge index.
    constexpr int64_t kMaxScannedPackets = int64_t(1) << 21;
    // Timestamps beyond this are treated as absent, so differences of two never overflow.
    constexpr int64_t kTimestampLimit = int64_t(1) << 60;
    // Receive errors in a row without any progress before the decoder is given up as lost.
    constexpr int kMaxFruitlessReceives = 64;
    // Streams that reorder pictures but carry no presentation timestamps (B-frames in AVI) are
    // decoded once at open to learn their display order. Beyond this many packets (about 13
    // minutes at 25 pictures per second) that pass would make opening slow; positions are then
    // estimated from FFmpeg's timestamps, exact when stepping but possibly a picture or two off
    // after a jump into a group whose keyframe is shown after pictures decoded from it.
    constexpr int64_t kMaxDisplayOrderPass = 20000;

    struct KeyFrame {
        int64_t seekTs; // the timestamp the demuxer seeks by (its decoding timestamp if known)
        int64_t ts; // its presentation timestamp on our timeline
        // The container gave no presentation timestamp (AVI): frames leave a reordering
        // decoder stamped one packet late, so the first picture after a seek calibrates.
        bool tsFromDts;
    };

    bool ValidRate(AVRational r) { return video::ValidRate(Fraction { r.num, r.den }); }

    // The slowest rate a timeline steps at, one slot in 100 s (video::ValidRate's lower end).
    constexpr double kSlowestRate = 0.01;

    bool ValidSize(int width, int height) { return PictureSizeAccepted(width, height); }

    std::string SizeProblem(int width, int height)
    {
        const std::string size = std::to_string(width) + " x " + std::to_string(height);
        if (width <= 0 || height <= 0)
            return "picture size " + size + " is empty";
        return "picture size " + size + " is too large: at most " + std::to_string(kMaxVideoSide)
            + " pixels a side, and FFmpeg's decoders take at most (width + 128) x (height + 128)"
              " = "
            + std::to_string(kMaxPaddedPixels) + " (16384 x 16128, 16255 x 16255)";
    }

    uint32_t BigEndian32(const unsigned char* p)
    {
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    }

    // The picture size a still picture's header states (PNG, BMP, PPM/PGM/PBM), read from the
    // file itself: FFmpeg's decoders refuse a picture beyond their size limit without saying its
    // size, and a user deserves to hear that it is too large rather than that it is empty.
    // {0, 0} when the header is of none of these or cannot be read.
    std::pair<int64_t, int64_t> HeaderPictureSize(const std::string& path)
    {
        unsigned char head[256] = {};
        FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr)
            return { 0, 0 };
        const size_t got = std::fread(head, 1, sizeof head, file);
        std::fclose(file);
        static constexpr unsigned char kPng[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
        if (got >= 24 && std::memcmp(head, kPng, 8) == 0 && std::memcmp(head + 12, "IHDR", 4) == 0)
            return { BigEndian32(head + 16), BigEndian32(head + 20) };
        if (got >= 26 && head[0] == 'B' && head[1] == 'M') {
            const auto little32 = [&](int at) {
                return int32_t(uint32_t(head[at]) | uint32_t(head[at + 1]) << 8
                    | uint32_t(head[at + 2]) << 16 | uint32_t(head[at + 3]) << 24);
            };
            return { std::abs(int64_t(little32(18))), std::abs(int64_t(little32(22))) };
        }
        if (got >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6') {
            // "P6", then the width and the height as decimal numbers between blanks and comments.
            size_t at = 2;
            int64_t sides[2] = { 0, 0 };
            for (int64_t& side : sides) {
                while (at < got && (std::isspace(head[at]) || head[at] == '#')) {
                    if (head[at] == '#')
                        while (at < got && head[at] != '\n')
                            ++at;
                    else
                        ++at;
                }
                if (at >= got || !std::isdigit(head[at]))
                    return { 0, 0 };
                while (at < got && std::isdigit(head[at]) && side < (int64_t(1) << 32))
                    side = side * 10 + (head[at++] - '0');
            }
            return { sides[0], sides[1] };
        }
        return { 0, 0 };
    }

    // How the stream's display matrix (or, in older files, its "rotate" tag) turns the decoded
    // picture, the way FFmpeg's own tools turn it: quarter turns and mirrors; other angles are
    // shown as stored.
    Orientation OrientationOf(const AVStream& st)
    {
        int32_t matrix[9];
        if (const uint8_t* data
            = av_stream_get_side_data(&st, AV_PKT_DATA_DISPLAYMATRIX, nullptr)) {
            std::copy_n(reinterpret_cast<const int32_t*>(data), 9, matrix);
        } else if (const AVDictionaryEntry* tag = av_dict_get(st.metadata, "rotate", nullptr, 0)) {
            char* end = nullptr;
            const double clockwise = std::strtod(tag->value, &end);
            if (end == tag->value || !std::isfinite(clockwise))
                return {};
            av_display_rotation_set(matrix, -clockwise);
        } else {
            return {};
        }
        // The clockwise angle, in 0 ... 360.
        double theta = -std::round(av_display_rotation_get(matrix));
        if (!std::isfinite(theta))
            return {};
        theta -= 360 * std::floor(theta / 360 + 0.9 / 360);
        if (std::fabs(theta - 90) < 1)
            return matrix[3] > 0 ? Orientation { true, false, false }
                                 : Orientation { true, false, true };
        if (std::fabs(theta - 180) < 1)
            return { false, matrix[0] < 0, matrix[4] < 0 };
        if (std::fabs(theta - 270) < 1)
            return matrix[3] < 0 ? Orientation { true, true, true }
                                 : Orientation { true, true, false };
        if (std::fabs(theta) < 1)
            return { false, false, matrix[4] < 0 };
        return {};
    }

    enum class Outcome { Reached, Ended, Failed };

} // namespace

namespace {
    // The opener asked before FFmpeg; empty: none.
    PictureSourceOpener& SourceOpener()
    {
        static PictureSourceOpener opener;
        return opener;
    }
} // namespace

void SetPictureSourceOpener(PictureSourceOpener opener) { SourceOpener() = std::move(opener); }

struct FrameDecoder::Impl {
    std::string path;
    // Set for a file whose pictures a PictureSource makes; none of the FFmpeg state is used then.
    std::unique_ptr<PictureSource> source;
    DecoderOptions options;
    FormatPtr format;
    CodecPtr codec;
    PacketPtr packet { av_packet_alloc() };
    FramePtr decoded { av_frame_alloc() };
    FramePtr picture { av_frame_alloc() };
    FramePtr pending { av_frame_alloc() };

    int stream = -1;
    AVRational timeBase {};
    AVRational rate {};
    // The average rate, where the nominal one is only the time base's tick rate; {0, 1}: none.
    AVRational averageRate { 0, 1 };
    int64_t slotTicks = 1; // one slot in time-base units, at least 1
    int width = 0; // upright
    int height = 0;
    Orientation turn;
    int64_t sizeAtOpen = -1; // bytes

    // The pictures in display order, by their presentation timestamps, and the slots they show
    // in.
    SlotTimeline timeline;
    std::vector<KeyFrame> keys; // sorted by ts
    // For reordering streams without presentation timestamps (B-frames in AVI): the display
    // timestamp of each packet by its decoding timestamp, learnt by decoding once at open.
    std::unordered_map<int64_t, int64_t> displayTsOfDts;
    // Every packet reaches the decoder with its presentation timestamp, so each picture comes
    // out with its own. Otherwise FFmpeg's best guess is used and calibrated after each seek.
    bool framesCarryTs = true;

    // Decoder state.
    bool havePicture = false;
    bool havePending = false; // a picture decoded beyond the last target, kept for the next
    int64_t pendingTs = 0;
    bool lost = true; // decoder position unknown: the next request seeks the demuxer
    bool demuxEnded = false;
    bool drained = false;
    bool heldPacket = false; // read while checking a seek, not yet sent
    int64_t packetTs = AV_NOPTS_VALUE; // of the packet in `packet`
    int64_t lastPacketTs = AV_NOPTS_VALUE;
    int64_t lastOutputTs = AV_NOPTS_VALUE;
    bool calibrate = false;
    int64_t calibrateTs = 0;
    int64_t tsOffset = 0;
    int64_t shownPicture = -1;
    int64_t slot = 0;
    DecodeCounters counters;
    // Complete reading: set once a picture could not be read for lack of data; every later
    // request fails at once.
    std::string problem;

    bool OpenFile(std::string* error);
    bool Scan(std::string* error);
    bool CutShort() const;
    void LearnDisplayOrder();
    int64_t PacketTs(const AVPacket& p, bool* fromDts);
    bool ReadVideoPacket();
    bool SeekDemuxer(const KeyFrame& key);
    bool ReadFirstKey(const KeyFrame& key);
    Outcome DecodeTo(int64_t targetTs);
    int64_t OutputTs(const AVFrame& f);
    bool Good(const AVFrame& f) const;
    const KeyFrame& KeyFor(int64_t targetTs) const;
    bool SeekToSlot(int64_t slot);
    bool SeekSourceToSlot(int64_t slot);
};

bool FrameDecoder::Impl::SeekSourceToSlot(int64_t wanted)
{
    if (wanted < 0 || wanted >= source->Count())
        return false;
    if (havePicture && wanted == shownPicture) {
        slot = wanted;
        return true;
    }
    const platform::Surface made = source->Picture(wanted);
    if (made.width != width || made.height != height)
        return false;
    // A fresh frame each time: the device keeps references to pictures it has shown.
    FramePtr frame { av_frame_alloc() };
    frame->format = AV_PIX_FMT_BGR0; // the surface's own bytes: blue, green, red, unused
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return false;
    for (int y = 0; y < height; ++y)
        std::memcpy(frame->data[0] + size_t(y) * size_t(frame->linesize[0]), made.Row(y),
            size_t(width) * 4);
    picture = std::move(frame);
    havePicture = true;
    shownPicture = wanted;
    slot = wanted;
    return true;
}

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
    r = avcodec_parameters_to_context(codec.get(), par);
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
    rate = ValidRate(nominal)   ? nominal
        : ValidRate(average) ? average
                             : AVRational { 25, 1 };
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

    // The last picture in display order shows until its stated end.
    std::optional<int64_t> end;
    if (!pictureEnds.empty()) {
        const size_t last = size_t(
            std::max_element(pictureTs.begin(), pictureTs.end()) - pictureTs.begin());
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
    return true;
}

// The file has shrunk since it was opened.
bool FrameDecoder::Impl::CutShort() const
{
    return sizeAtOpen > 0 && format->pb && avio_size(format->pb) < sizeAtOpen;
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
            if (!Good(*decoded)) {
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
    if (const PictureSourceOpener& opener = SourceOpener()) {
        error->clear();
        impl->source = opener(path, error);
        if (!impl->source && !error->empty())
            return nullptr;
    }
    if (impl->source) {
        PictureSource& source = *impl->source;
        if (source.Count() < 1 || source.Width() < 1 || source.Height() < 1
            || source.Width() > kMaxVideoSide || source.Height() > kMaxVideoSide
            || source.RateNumerator() < 1 || source.RateDenominator() < 1) {
            *error = "'" + path + "': its pictures have no usable size, count or rate";
            return nullptr;
        }
        impl->width = source.Width();
        impl->height = source.Height();
        impl->rate = AVRational { source.RateNumerator(), source.RateDenominator() };
        if (!impl->SeekSourceToSlot(0)) {
            *error = "'" + path + "': the first picture cannot be made";
            return nullptr;
        }
        return std::unique_ptr<FrameDecoder>(new FrameDecoder(std::move(impl)));
    }
    if (!impl->OpenFile(error) || !impl->Scan(error))
        return nullptr;
    if (!impl->SeekToSlot(0) || !impl->havePicture) {
        *error = "'" + path + "': the first picture cannot be decoded";
        return nullptr;
    }
    return std::unique_ptr<FrameDecoder>(new FrameDecoder(std::move(impl)));
}

int64_t FrameDecoder::SlotCount() const
{
    return m->source ? m->source->Count() : m->timeline.SlotCount();
}
int FrameDecoder::RateNumerator() const { return m->rate.num; }
int FrameDecoder::RateDenominator() const { return m->rate.den; }
int FrameDecoder::Width() const { return m->width; }
int FrameDecoder::Height() const { return m->height; }
Orientation FrameDecoder::Turn() const { return m->turn; }
const std::string& FrameDecoder::Problem() const { return m->problem; }
bool FrameDecoder::SeekToSlot(int64_t slot)
{
    return m->source ? m->SeekSourceToSlot(slot) : m->SeekToSlot(slot);
}
int64_t FrameDecoder::Slot() const { return m->slot; }
const AVFrame* FrameDecoder::Picture() const { return m->havePicture ? m->picture.get() : nullptr; }
const DecodeCounters& FrameDecoder::Counters() const { return m->counters; }

} // namespace pelorin::video
