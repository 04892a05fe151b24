// Judges what src/tvc/testing/mame_watch.lua saw of a Pelorin program running in MAME against
// what pelorin-convert wrote for the same conversion. Prints what it found, one line a fact;
// exits 1 when any of it is wrong, 2 on bad arguments or unreadable files.
//
//   tvc-mame-compare picture OUT EXPECTED.vram EXPECTED.ppm
//       video RAM (OUT/vram.bin) equals the .vram byte for byte; MAME's snapshot
//       (OUT/screen.ppm) shows the tool's picture (a .ppm of its .png) in colour numbers; the
//       program waited for the key and gave the machine back (OUT/record.txt).
//   tvc-mame-compare clip OUT EXPECTED.vram KEPT STEP
//       the states of video RAM seen at field ends (OUT/states.bin) show the .vram's frames
//       0, STEP, 2·STEP, ... (KEPT of them) in order, through a whole pass and back to the
//       first; then the return, as above.
//   tvc-mame-compare per-line PICTURE.cas
//       exits 0 when the picture's registers change from line to line (MAME cannot show it:
//       it draws a whole field with the registers the field ends with), 1 when not.
#include "convert/tvc_colours.h"
#include "pipeline/vram.h"
#include "tvc/tvc_read.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace pelorin;

// MAME's TVC palette draws a dim channel at 7Fh; Pelorin's at kTvcDimLevel.
constexpr uint8_t kMameDimLevel = 0x7F;
// The paging BASIC runs programs with, which the stand-in ROM sets up too.
constexpr int kBasicPaging = 0x70;

struct Failure {
    std::string message;
};

int g_problems = 0;

void Problem(const std::string& text)
{
    std::cout << "WRONG: " << text << "\n";
    ++g_problems;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Failure { "cannot read '" + path + "'" };
    return { std::istreambuf_iterator<char>(in), {} };
}

struct Rgb {
    int width = 0;
    int height = 0;
    std::string pixels; // 3 bytes a pixel, rows from the top
};

// A binary PPM (P6, maxval 255), as FFmpeg writes it.
Rgb ReadPpm(const std::string& path)
{
    std::istringstream in(ReadAll(path));
    std::string magic;
    int maxValue = 0;
    Rgb picture;
    in >> magic >> picture.width >> picture.height >> maxValue;
    in.get();
    if (magic != "P6" || maxValue != 255 || picture.width <= 0 || picture.height <= 0)
        throw Failure { "'" + path + "' is no 8-bit binary PPM" };
    const size_t bytes = size_t(picture.width) * size_t(picture.height) * 3;
    picture.pixels.resize(bytes);
    if (!in.read(picture.pixels.data(), std::streamsize(bytes)))
        throw Failure { "'" + path + "' ends early" };
    return picture;
}

// The TVC colour number a pixel shows, given the level of a dim channel; black is 0 (colour 8
// looks the same); empty for a colour the machine has not got.
std::optional<int> ColourNumber(const Rgb& picture, int x, int y, uint8_t dimLevel)
{
    const size_t at = (size_t(y) * size_t(picture.width) + size_t(x)) * 3;
    const int channelBits[3] = { kColourRed, kColourGreen, kColourBlue };
    int colour = 0;
    std::optional<bool> bright;
    for (int c = 0; c < 3; ++c) {
        const uint8_t level = uint8_t(picture.pixels[at + size_t(c)]);
        if (level == 0)
            continue;
        if (level != dimLevel && level != kTvcBrightLevel)
            return std::nullopt;
        const bool isBright = level == kTvcBrightLevel;
        if (bright && *bright != isBright)
            return std::nullopt;
        bright = isBright;
        colour |= channelBits[c];
    }
    return bright.value_or(false) ? colour | kColourBright : colour;
}

// The snapshot against the tool's picture, which may be drawn larger by whole factors.
void ComparePictures(const Rgb& snapshot, const Rgb& expected)
{
    if (expected.width % snapshot.width != 0 || expected.height % snapshot.height != 0) {
        Problem("the snapshot is " + std::to_string(snapshot.width) + " x "
            + std::to_string(snapshot.height) + ", which does not divide the picture's "
            + std::to_string(expected.width) + " x " + std::to_string(expected.height));
        return;
    }
    const int sx = expected.width / snapshot.width;
    const int sy = expected.height / snapshot.height;
    long same = 0;
    long differing = 0;
    std::string first;
    for (int y = 0; y < snapshot.height; ++y)
        for (int x = 0; x < snapshot.width; ++x) {
            const std::optional<int> shown = ColourNumber(snapshot, x, y, kMameDimLevel);
            bool agrees = shown.has_value();
            for (int dy = 0; dy < sy && agrees; ++dy)
                for (int dx = 0; dx < sx && agrees; ++dx)
                    agrees
                        = ColourNumber(expected, x * sx + dx, y * sy + dy, kTvcDimLevel) == shown;
            if (agrees) {
                ++same;
            } else {
                if (differing++ == 0) {
                    const auto want = ColourNumber(expected, x * sx, y * sy, kTvcDimLevel);
                    first = "at " + std::to_string(x) + "," + std::to_string(y) + " colour "
                        + (shown ? std::to_string(*shown) : "none of the machine's")
                        + " where the picture has "
                        + (want ? std::to_string(*want) : "none of the machine's");
                }
            }
        }
    std::cout << "screen: " << same << " of " << same + differing
              << " snapshot pixels show the picture's colour number (snapshot " << snapshot.width
              << " x " << snapshot.height << ", picture " << expected.width << " x "
              << expected.height << ")\n";
    if (differing)
        Problem(std::to_string(differing) + " snapshot pixels differ, the first " + first);
}

void CompareVram(const std::string& shown, const std::string& expected)
{
    if (shown.size() != expected.size()) {
        Problem("video RAM dump of " + std::to_string(shown.size()) + " bytes, expected "
            + std::to_string(expected.size()));
        return;
    }
    size_t equal = 0;
    std::optional<size_t> first;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == expected[i])
            ++equal;
        else if (!first)
            first = i;
    }
    std::cout << "video RAM: " << equal << " of " << shown.size() << " bytes equal the .vram\n";
    if (first) {
        char text[96];
        std::snprintf(text, sizeof text, "video RAM byte %zu is %02Xh, the .vram has %02Xh", *first,
            unsigned(uint8_t(shown[*first])), unsigned(uint8_t(expected[*first])));
        Problem(text);
    }
}

// record.txt: "name value" lines; the last is "end 1".
std::map<std::string, std::string> ReadRecord(const std::string& path)
{
    std::istringstream in(ReadAll(path));
    std::map<std::string, std::string> record;
    std::string name;
    std::string value;
    while (in >> name && std::getline(in >> std::ws, value))
        record[name] = value;
    if (record["end"] != "1")
        throw Failure { "'" + path + "' was not written to its end" };
    return record;
}

void CheckReturn(std::map<std::string, std::string> record)
{
    const auto number = [&](const char* name) { return std::stol(record[name]); };
    if (record["finished"] != "returned") {
        Problem("the run ended: " + record["finished"]);
        return;
    }
    char text[320];
    std::snprintf(text, sizeof text,
        "return: %s before the key; %ld field(s) after it; 0003h = %02lXh; U0 and U2 %s; "
        "interrupts %s, %ld field interrupts handled since; stack %04lXh, called with %04lXh",
        number("returned_before_key") ? "ONE" : "none", number("returned_after_fields"),
        number("paging_copy"), number("paged_back") ? "paged back" : "NOT paged back",
        number("interrupts_on") ? "on" : "OFF", number("fields_now") - number("fields_at_return"),
        number("sp_after"), number("sp_before"));
    std::cout << text << "\n";
    if (number("returned_before_key") != 0)
        Problem("the program returned before the key");
    if (number("paging_copy") != kBasicPaging)
        Problem("0003h is not 70h after the return");
    if (number("paged_back") != 1)
        Problem("port 02h was not restored: U0 or U2 is not paged in");
    if (number("interrupts_on") != 1)
        Problem("interrupts are off after the return");
    if (number("fields_now") <= number("fields_at_return"))
        Problem("no interrupt ran after the return");
    if (number("sp_after") != number("sp_before"))
        Problem("the stack moved");
}

std::vector<std::string> Frames(const std::string& bytes, const std::string& what)
{
    if (bytes.empty() || bytes.size() % kVramFrameBytes != 0)
        throw Failure { what + " holds " + std::to_string(bytes.size())
            + " bytes, not whole frames of video RAM" };
    std::vector<std::string> frames;
    for (size_t at = 0; at < bytes.size(); at += kVramFrameBytes)
        frames.push_back(bytes.substr(at, kVramFrameBytes));
    return frames;
}

// Walks the states seen: each must be the frame on screen, the next one, or a state that is
// no frame at all (the next one being drawn). A state showing any other frame is out of order.
void CheckClip(const std::vector<std::string>& states, const std::vector<std::string>& frames)
{
    const size_t kept = frames.size();
    size_t expected = 0; // the frame to come next
    std::optional<size_t> showing;
    size_t matched = 0;
    size_t shownInOrder = 0;
    std::string order;
    for (size_t s = 0; s < states.size(); ++s) {
        if (states[s] == frames[expected]) {
            showing = expected;
            order += (order.empty() ? "" : " ") + std::to_string(expected);
            ++matched;
            ++shownInOrder;
            expected = (expected + 1) % kept;
            continue;
        }
        if (showing && states[s] == frames[*showing]) {
            ++matched;
            continue;
        }
        for (size_t f = 0; f < kept; ++f)
            if (states[s] == frames[f]) {
                Problem("state " + std::to_string(s) + " shows frame " + std::to_string(f)
                    + " where frame " + std::to_string(expected) + " was due");
                return;
            }
    }
    std::cout << "clip: " << kept << " frames kept; shown in this order: " << order << "\n";
    std::cout << "clip: " << states.size() << " states of video RAM seen, " << matched
              << " a whole frame, " << states.size() - matched << " none (a frame being drawn); "
              << shownInOrder / kept << " whole pass(es)\n";
    // Frames are taken in order only, so kept + 1 of them are a whole pass and the way back.
    if (shownInOrder < kept + 1)
        Problem("the clip did not show all its frames and come back to the first");
}

int Run(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "picture" && argc == 5) {
        const std::string out = argv[2];
        CompareVram(ReadAll(out + "/vram.bin"), ReadAll(argv[3]));
        ComparePictures(ReadPpm(out + "/screen.ppm"), ReadPpm(argv[4]));
        CheckReturn(ReadRecord(out + "/record.txt"));
    } else if (command == "clip" && argc == 6) {
        const std::string out = argv[2];
        const std::vector<std::string> all = Frames(ReadAll(argv[3]), argv[3]);
        const size_t kept = std::stoul(argv[4]);
        const size_t step = std::stoul(argv[5]);
        if (kept < 2 || step < 1 || (kept - 1) * step >= all.size())
            throw Failure { "frames 0, " + std::string(argv[5]) + ", ... (" + argv[4]
                + " of them) are not all in the .vram" };
        std::vector<std::string> frames;
        for (size_t i = 0; i < kept; ++i)
            frames.push_back(all[i * step]);
        CheckClip(Frames(ReadAll(out + "/states.bin"), "states.bin"), frames);
        CheckReturn(ReadRecord(out + "/record.txt"));
    } else if (command == "per-line" && argc == 3) {
        return tvc::ReadTvcFile(argv[2], nullptr).lineRegisters.empty() ? 1 : 0;
    } else {
        std::cerr << "usage: tvc-mame-compare picture OUT EXPECTED.vram EXPECTED.ppm\n"
                     "       tvc-mame-compare clip OUT EXPECTED.vram KEPT STEP\n"
                     "       tvc-mame-compare per-line PICTURE.cas\n";
        return 2;
    }
    return g_problems ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const Failure& f) {
        std::cerr << "tvc-mame-compare: " << f.message << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "tvc-mame-compare: " << e.what() << "\n";
        return 2;
    }
}
