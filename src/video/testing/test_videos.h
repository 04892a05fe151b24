#pragma once
// Test helpers of the video module: test files made with the ffmpeg command-line tool, and a
// reference decoder that is deliberately plain — every picture decoded in order from the start,
// nothing skipped, no seeking — against which the device's seeks are checked.
#include "platform/surface.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelorin::video::test {

// The sample video made by the build.
std::string SampleVideo();

// The build's folder for test files, made on first use.
std::string TestVideoFolder();

// A video made by `ffmpeg -y <args> <file>` in the build's test-video folder, made once and
// reused. Returns the path; fails the calling test (and returns "") when ffmpeg fails.
std::string MadeVideo(const std::string& fileName, const std::vector<std::string>& args);

// A file in the test-video folder holding `bytes` (for damaged variants).
std::string WrittenFile(const std::string& fileName, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);

// FNV-1a over the pixels (and the size), for comparing pictures cheaply.
uint64_t Hash(const platform::Surface& surface);

// How the reference decoder assigns pictures to slots.
enum class SlotRule {
    InOrder, // the k-th picture out of the decoder is slot k
    ByTimestamp, // a picture starts at the slot of its own timestamp and lasts until the next
};

// The hash of the picture of every slot, each picture converted to a surface of the video's own
// size. Fails the calling test on any decoding error.
std::vector<uint64_t> ReferenceSlotHashes(const std::string& path, SlotRule rule);

} // namespace pelorin::video::test
