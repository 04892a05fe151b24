#pragma once
// FrameDecoder's state, shared by its two halves: opening a file (decoder_open.cpp) and the
// cursor that seeks and decodes in it (frame_decoder.cpp).
#include "frame_decoder.h"

#include "av/ffmpeg_util.h"
#include "denoise_filter.h"
#include "slot_timeline.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace pelorin::video {

namespace decoding {

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
    // While denoising, a step forward of at most this many pictures decodes on through them,
    // feeding each to the filter, where a seek would start its memory afresh; about 2 s at 25
    // frames per second, past which the filter has long forgotten what came before anyway.
    constexpr int64_t kDenoiseDecodeOnPictures = 50;

    struct KeyFrame {
        int64_t seekTs; // the timestamp the demuxer seeks by (its decoding timestamp if known)
        int64_t ts; // its presentation timestamp on our timeline
        // The container gave no presentation timestamp (AVI): frames leave a reordering
        // decoder stamped one packet late, so the first picture after a seek calibrates.
        bool tsFromDts;
    };

    inline bool ValidRate(AVRational r) { return video::ValidRate(Fraction { r.num, r.den }); }

    // The slowest rate a timeline steps at, one slot in 100 s (video::ValidRate's lower end).
    constexpr double kSlowestRate = 0.01;

    inline bool ValidSize(int width, int height) { return PictureSizeAccepted(width, height); }

    enum class Outcome { Reached, Ended, Failed };

} // namespace decoding

struct FrameDecoder::Impl {
    std::string path;
    DecoderOptions options;
    av::FormatPtr format;
    av::CodecPtr codec;
    av::PacketPtr packet { av_packet_alloc() };
    av::FramePtr decoded { av_frame_alloc() };
    av::FramePtr picture { av_frame_alloc() };
    av::FramePtr pending { av_frame_alloc() };
    // Only with DecoderOptions::denoise; reset by every demuxer seek.
    std::unique_ptr<DenoiseFilter> denoise;

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
    std::vector<decoding::KeyFrame> keys; // sorted by ts
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

    // Opening (decoder_open.cpp): the container and its video stream, the codec, the rates,
    // and the scan of every packet's timestamps that makes the timeline.
    bool OpenFile(std::string* error);
    bool OpenCodec(std::string* error);
    bool ReadRates(std::string* error);
    bool Scan(std::string* error);
    void MakeTimeline(std::vector<int64_t> pictureTs, const std::vector<int64_t>& pictureEnds,
        bool anyFromDts, int64_t count);
    void LearnDisplayOrder();
    int64_t PacketTs(const AVPacket& p, bool* fromDts);
    // The cursor (frame_decoder.cpp): reading, seeking and decoding to a slot.
    bool CutShort() const;
    bool ReadVideoPacket();
    bool SeekDemuxer(const decoding::KeyFrame& key);
    bool ReadFirstKey(const decoding::KeyFrame& key);
    decoding::Outcome DecodeTo(int64_t targetTs);
    int64_t OutputTs(const AVFrame& f);
    bool Good(const AVFrame& f) const;
    const decoding::KeyFrame& KeyFor(int64_t targetTs) const;
    bool SeekToSlot(int64_t slot);
};

} // namespace pelorin::video
