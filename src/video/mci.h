#pragma once
// The module `mci`: numbered video operations built as MCI command strings and sent to the
// MCI string interpreter, which drives one video device under the alias "video1".
//
// The interpreter understands the commands MciCommand sends (keywords in any case):
//   close all | close <dev>
//   open <file> [type avivideo] [alias <dev>] [parent <handle>] [style <n>]
//       <file> may hold blanks; the keywords are found from the right. <handle> is a picture
//       box's hWnd(); the video is drawn into that box (see video/video_device.h).
//   put <dev> window at <x> <y> <width> <height>
//   play | pause | resume | stop <dev>
//   seek <dev> to start|end|<position>
//   set <dev> time format frames|ms|milliseconds
//   set <dev> audio all on|off
//   status <dev> length|position|mode|time format|audio|ready|frame rate
//       "frame rate" answers the frames per second times 1000, rounded ("25000", "29970").
// Any command may end in "wait" (every command here completes before it returns) or "notify"
// (accepted; there are no callback windows). Positions and lengths count in the device's time
// format, milliseconds until set otherwise.
#include "picture_source.h"
#include "platform/picture_box.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

namespace pelorin {

// The optional value argument of MciCommand: absent, a number, or a text.
using MciValue = std::variant<std::monostate, int64_t, double, std::string>;

// The numbered operations of MciCommand by name; each value is the operation's number, and the
// command strings it sends are listed beside it.
enum class MciOperation : int {
    OpenAviVideo = 1, // close all; open <file> Type avivideo Alias video1 parent <hWnd> Style ..;
                      // put video1 window at 0 0 <width> <height>
    Play = 2, // play video1
    Pause = 3, // pause video1
    Resume = 4, // resume video1
    Stop = 5, // stop video1
    SeekToStart = 6, // seek video1 to start
    SetVolume = 7, // no string: sets WaveOutVolume() to 2 × value on both channels
    SetAudio = 8, // set video1 audio all on|off (off for a value of 0)
    TimeFormatFrames = 9, // set video1 time format frames
    TimeFormatMilliseconds = 10, // set video1 time format ms
    Length = 11, // status video1 length
    Mode = 12, // status video1 mode
    Position = 13, // status video1 position
    SeekTo = 14, // seek video1 to <value> wait
    Close = 15, // close video1
    Open = 16, // as OpenAviVideo without the type
    OpenWaveAudio = 17, // close all; open <file> type waveaudio alias video1 parent
};

// Performs operation `command` (1 ... 17); any other number does nothing. Returns the status
// answer for operations 11, 12 and 13 and an empty string otherwise. Never reports an MCI
// failure. Operations 1 and 16 need a parent picture box and throw std::invalid_argument
// without one, before sending anything. Their open string is sent with `pictures`, the opener
// the opened device asks before FFmpeg (see video/picture_source.h); other operations ignore it.
std::string MciCommand(int command, const std::string& fileName = {},
    platform::PictureBox* parent = nullptr, const MciValue& value = {},
    const video::PictureSourceOpener& pictures = {});
inline std::string MciCommand(MciOperation operation, const std::string& fileName = {},
    platform::PictureBox* parent = nullptr, const MciValue& value = {},
    const video::PictureSourceOpener& pictures = {})
{
    return MciCommand(int(operation), fileName, parent, value, pictures);
}

namespace video {
class VideoDevice;
}

// The typed player behind an alias the MCI strings opened ("video1"), for what is added beside the
// MCI shell (the window's menu reads position, length and frame rate from it); null when no
// device has that alias. Valid until the alias is closed; its position, length and rate may be
// read at any time, its commands are the shell's to give.
const video::VideoDevice* MciOpenVideo(const std::string& alias);
// The same player, to place its picture in the parent picture box (VideoDevice::PutWindow) for
// the window's picture shape; only from the thread that sends the MCI strings, between them.
video::VideoDevice* MciOpenVideoToPlace(const std::string& alias);

// The MCI string interpreter. Returns 0 on success or an MCI error code; when `answer` is given
// and capacity > 0, the status answer is written there (at most capacity − 1 characters), and
// on any failure it is left empty. A failed command changes nothing.
uint32_t mciSendStringA(
    const std::string& command, std::string* answer, unsigned capacity, int callbackWindow);
// The same, with the opener an "open" command hands to the device it opens (see
// video/picture_source.h); any other command ignores it. The interpreter keeps no opener of its
// own: each open is given the one its caller means.
uint32_t mciSendStringA(const std::string& command, std::string* answer, unsigned capacity,
    int callbackWindow, const video::PictureSourceOpener& pictures);

// Error codes of mciSendStringA, with the values of the MCI command set.
enum MciError : uint32_t {
    MCIERR_UNRECOGNIZED_KEYWORD = 259,
    MCIERR_UNRECOGNIZED_COMMAND = 261,
    MCIERR_HARDWARE = 262,
    MCIERR_INVALID_DEVICE_NAME = 263, // no open device has that alias
    MCIERR_MISSING_COMMAND_STRING = 267,
    MCIERR_PARAM_OVERFLOW = 268, // the answer does not fit the capacity
    MCIERR_BAD_INTEGER = 270,
    MCIERR_MISSING_PARAMETER = 273,
    MCIERR_UNSUPPORTED_FUNCTION = 274,
    MCIERR_FILE_NOT_FOUND = 275,
    MCIERR_CANNOT_USE_ALL = 279,
    MCIERR_OUTOFRANGE = 282,
    MCIERR_DUPLICATE_ALIAS = 289,
    MCIERR_MISSING_DEVICE_NAME = 292,
    MCIERR_INVALID_FILE = 296, // the file is not a video that can be decoded
    MCIERR_FILENAME_REQUIRED = 304,
    MCIERR_CREATEWINDOW = 347, // the parent handle names no window
};

// A short description of an error code, e.g. "the value is out of range".
std::string MciErrorText(uint32_t code);
// The facts of the interpreter's last failure, e.g. "cannot open '/v/a.avi': End of file";
// empty after a success.
std::string MciLastErrorDetail();

// Calls `trace` with every command string given to mciSendStringA, before it runs, on the
// calling thread. An empty function switches tracing off.
void SetMciTrace(std::function<void(const std::string& command)> trace);

// The wave-out volume that operation 7 sets: left level in the low 16 bits, right in the high.
// 0xFFFFFFFF (full) until operation 7 runs. There is no sound output; the value is kept.
uint32_t WaveOutVolume();

// The short path stand-in: the canonical absolute path of an existing file or folder, empty for
// an empty name or one that does not exist. Long paths and blanks are kept as they are.
std::string ShortPathName(const std::string& fileName);

} // namespace pelorin
