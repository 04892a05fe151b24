#pragma once
// FrameDecoder: the video stream of one file, decoded by FFmpeg and addressed by frame slot.
//
// Slots are the positions a video player counts in frames; which picture each slot shows, and
// the slots' rate, follow from the pictures' timestamps alone (see slot_timeline.h): a gap
// repeats the picture before it, pictures stored out of display order (B-frames) show in order,
// and a stream faster than its nominal rate in places gets a finer slot rate, so every picture
// has a slot. The rate reported is the slots' rate.
//
// A picture stored rotated (a phone's display matrix, or the older "rotate" tag) is shown as
// the display matrix says, upright: Width() and Height() are the upright size.
//
// Open() reads the packet timestamps of the whole stream once (no decoding), so the slot count is
// what the file holds, never a count taken on trust from a header. The file must be seekable:
// a pipe is refused at once. SeekToSlot() then decodes on
// from where the decoder stands when the target lies ahead with no keyframe in between, and
// otherwise seeks the demuxer to the keyframe before the target and decodes forward from there.
//
// A picture that fails to decode, or that the decoder could only conceal, is skipped: Picture()
// keeps the last good one. A reader that needs every picture it counted asks for `complete`
// reading (see DecoderOptions). Not thread-safe; the owner serialises calls.
#include <climits>
#include <cstdint>
#include <memory>
#include <string>

struct AVFrame;

namespace pelorin::video {

// Largest picture accepted from any file: its sides and its area. Larger (or empty) pictures
// are refused.
constexpr int kMaxVideoSide = 16384;
constexpr int64_t kMaxVideoPixels = int64_t(1) << 28;
// FFmpeg's decoders (and encoders) check every picture size as if each row were 128 pixels
// wider and the picture 128 rows taller, at 8 bytes a pixel, against 2^31 bytes; a picture
// beyond that is refused whatever its format, before its size is even reported. The largest
// sizes it leaves are 16384 × 16128 and 16255 × 16255.
constexpr int64_t kMaxPaddedPixels = (int64_t(INT32_MAX) - 1) / 8;
// Whether a picture of this size can be decoded: within both limits above.
bool PictureSizeAccepted(int width, int height);

// Temporal denoising of the decoded pictures before anyone sees them (see denoise_filter.h):
// camera noise makes every picture differ from the last even where nothing moves.
enum class Denoise { Off, Light, Medium, Strong };

struct DecoderOptions {
    // Every picture counted at open must be read. A picture at the end of the file that the file
    // ends inside of is then not counted, and a slot whose picture cannot be read for lack of
    // data (the file ends before it: it was cut short or changed while being read) fails, as
    // does every later request, without any further decoding. Off, the last good picture stays
    // over such slots, as a player shows a damaged file.
    bool complete = false;
    // The owner reads the slots in order and seeks seldom (a whole-file conversion): the decoder
    // may then work on several pictures at once on its own threads. It holds a few pictures back
    // to do so, which costs on every jump, so a player leaves this off.
    bool sequential = false;
    // Each picture is denoised with the memory of the pictures decoded before it since the last
    // demuxer seek; a short step forward then decodes on through the pictures between rather
    // than seeking (see SeekToSlot), so a clip that keeps every n-th frame is denoised as the
    // whole stream is.
    Denoise denoise = Denoise::Off;
};

// How a decoded picture is turned to be shown upright: read the shown pixel (x, y) from the
// decoded picture at (u, v), where (u, v) = transpose ? (y, x) : (x, y), then u mirrored if
// flipX and v mirrored if flipY.
struct Orientation {
    bool transpose = false;
    bool flipX = false;
    bool flipY = false;
    bool operator==(const Orientation&) const = default;
};

// What the decoder did since Open(); lets tests and benchmarks see how a position was reached.
struct DecodeCounters {
    int64_t demuxerSeeks = 0; // including the one that starts decoding at Open()
    int64_t packetsSent = 0;
    int64_t damagedPictures = 0; // pictures or packets skipped as undecodable or concealed
};

class FrameDecoder {
public:
    // Opens the first video stream of `path` and decodes slot 0. On failure returns null and
    // puts the reason in *error, e.g. "cannot open 'x.avi': Invalid data found when processing
    // input" or "'x.avi' has no video stream".
    static std::unique_ptr<FrameDecoder> Open(
        const std::string& path, std::string* error, const DecoderOptions& options = {});
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    int64_t SlotCount() const;
    // The nominal frame rate as a fraction; both parts positive.
    int RateNumerator() const;
    int RateDenominator() const;
    // The upright picture size.
    int Width() const;
    int Height() const;
    Orientation Turn() const;

    // Makes Picture() the picture of `slot` and returns true. Returns false, changing nothing,
    // for a slot outside 0 ... SlotCount() − 1 or when the file can no longer be read there.
    bool SeekToSlot(int64_t slot);
    int64_t Slot() const;
    // Why reading stopped for good in complete reading, e.g. "the file ends before it"; empty
    // otherwise.
    const std::string& Problem() const;

    // The picture shown at Slot(), or the last good one before it, as decoded (Turn() tells how
    // to show it); never null after Open().
    const AVFrame* Picture() const;

    const DecodeCounters& Counters() const;

private:
    struct Impl;
    explicit FrameDecoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m;
};

} // namespace pelorin::video
