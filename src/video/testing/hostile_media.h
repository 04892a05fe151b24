#pragma once
// The hostile-media table: files a player meets in the wild, made from the first two seconds of
// the sample video (its frames stream-copied into a fresh AVI, two keyframes) — cut short at
// many points, with bytes damaged in the headers, the index and the picture data, with absurd
// picture sizes, frame counts and rates in the headers, and files that hold no video at all.
//
// The video device, the window and pelorin-convert all run this one table, so each of them is
// checked against the same files and the same expectations. Files are written into the
// test-video folder (see test_videos.h) under "hostile_<name>.<ext>"; making a case again
// rewrites it in place atomically, so test processes running at once may share the folder.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace pelorin::video::test {

enum class OpenExpect {
    FailsToOpen, // the device refuses the file
    Opens, // the device opens it, with at least `intactSlots` slots
    Either, // damage whose outcome is FFmpeg's to judge; either way nothing may break
};

// A `heldUntil` that lasts to the last slot, however many the device finds.
constexpr int64_t kToTheEnd = std::numeric_limits<int64_t>::max();

struct HostileMedia {
    std::string name; // an identifier, usable as a test name
    std::string path;
    OpenExpect expect = OpenExpect::Either;
    // For a file that must be refused, a phrase the reason has to hold (may be empty).
    std::string reason;
    // Slots 0 ... intactSlots − 1 show exactly the excerpt's own pictures.
    int64_t intactSlots = 0;
    // Slots heldFrom ... heldUntil − 1 (those the device has) keep showing the picture of slot
    // heldFrom − 1, the last good one; heldFrom −1 when nothing is promised.
    int64_t heldFrom = -1;
    int64_t heldUntil = -1;
    // From this slot to the end of the excerpt the pictures are exact again (a keyframe after
    // the damage), or −1.
    int64_t recoversFrom = -1;
};

// The names of the cases, in table order. Cheap: nothing is read or made.
std::vector<std::string> HostileMediaNames();

// Makes the case `name` (and the excerpt it is made from, once) and describes it. Fails the
// calling test, returning an entry with an empty path, when the file cannot be made.
HostileMedia MakeHostileMedia(const std::string& name);

// The intact excerpt the damaged files are made from; "" (with a test failure) if it cannot be
// made.
std::string HostileMediaBase();

// The number of video slots in the intact excerpt, and the slots that start with a keyframe, as
// its AVI index records them.
int64_t HostileMediaBaseSlots();
std::vector<int64_t> HostileMediaBaseKeyframes();

// Byte-level damage for tests that make AVI variants of their own: the picture size written
// into both the main header and the video stream's bitmap header.
std::vector<uint8_t> WithHeaderPictureSize(
    std::vector<uint8_t> avi, uint32_t width, uint32_t height);

} // namespace pelorin::video::test
