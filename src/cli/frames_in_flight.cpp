#include "frames_in_flight.h"

#include "cli_error.h"
#include "session/palette_plan.h"

#include <algorithm>
#include <sys/resource.h>
#include <unistd.h>

namespace pelorin::cli {

namespace {

    constexpr uint64_t kMiB = uint64_t(1) << 20;

    uint64_t PlanBytes(const FrameCost& cost, int converters)
    {
        if (converters <= 1)
            return cost.fixedBytes + cost.serialFrameBytes + cost.converterBytes;
        return cost.fixedBytes + uint64_t(2 * converters + 2) * cost.frameBytes
            + uint64_t(converters) * cost.converterBytes;
    }

    std::string MiB(uint64_t bytes) { return std::to_string((bytes + kMiB - 1) / kMiB) + " MB"; }

} // namespace

FrameCost EstimateFrameCost(int sourceWidth, int sourceHeight, int frameWidth, int frameHeight,
    bool keepSize, uint64_t writtenPixels, int writerBytesPerPixel)
{
    const uint64_t sourcePixels = uint64_t(sourceWidth) * uint64_t(sourceHeight);
    const uint64_t framePixels = uint64_t(frameWidth) * uint64_t(frameHeight);
    // 512 × 240 host and 512 × 480 display pictures, 4 bytes a pixel.
    constexpr uint64_t kHostBytes = 512 * 240 * 4;
    constexpr uint64_t kDisplayBytes = 512 * 480 * 4;
    FrameCost cost;
    // The decoder's pictures (its own, the converted copy, those its threads hold) and the
    // reader's picture; the writer's frame and encoder state.
    cost.fixedBytes = 12 * sourcePixels + writtenPixels * uint64_t(writerBytesPerPixel) + kHostBytes
        + kDisplayBytes + 16 * kMiB;
    // A frame in flight: with --keep-size the frame, the unreduced copy and the copy kept for
    // the faithfulness figure, and the blurred pictures that figure is made of; otherwise the
    // host picture, the working and unreduced pictures and the display picture.
    cost.frameBytes = keepSize ? 14 * framePixels : kHostBytes + 8 * framePixels + kDisplayBytes;
    // A serial run converts the reader's own picture, keeping one copy beside it.
    cost.serialFrameBytes = keepSize ? 6 * framePixels : 8 * framePixels + kDisplayBytes;
    // The working bitmap (3 bytes a pixel with its border), the error quotients of diffusion
    // and what a method keeps beside them.
    cost.converterBytes = 9 * framePixels + kMiB;
    return cost;
}

uint64_t PaletteSearchBytes(int frameWidth, int frameHeight)
{
    const uint64_t framePixels = uint64_t(frameWidth) * uint64_t(frameHeight);
    // Four frames looked at (4 bytes a pixel each), a converted copy and its working bitmap, and
    // the blurred pictures of the faithfulness figure: measured at about 44 bytes a pixel; and
    // what choosing per scene keeps of the scene being read.
    return 48 * framePixels + session::kSceneSampleBytes + kMiB;
}

FramesInFlight PlanFramesInFlight(int requestedThreads, int cores, int64_t frameCount,
    const FrameCost& cost, uint64_t budgetBytes, int frameWidth, int frameHeight)
{
    cores = std::max(1, cores);
    int64_t converters = requestedThreads > 0 ? requestedThreads : cores;
    converters = std::min<int64_t>(converters, int64_t(kConvertersPerCore) * cores);
    converters = std::max<int64_t>(1, std::min<int64_t>(converters, frameCount));
    while (converters > 1 && PlanBytes(cost, int(converters)) > budgetBytes)
        --converters;
    const uint64_t bytes = PlanBytes(cost, int(converters));
    CheckMemoryFits(bytes, budgetBytes, frameWidth, frameHeight);
    const int c = int(converters);
    return { c, c <= 1 ? 1 : 2 * c + 2, bytes };
}

void CheckMemoryFits(uint64_t bytes, uint64_t budgetBytes, int frameWidth, int frameHeight)
{
    if (bytes > budgetBytes)
        throw Failure("a frame of " + std::to_string(frameWidth) + " x "
            + std::to_string(frameHeight) + " pixels needs about " + MiB(bytes)
            + " to convert, more than the memory budget of " + MiB(budgetBytes)
            + " (half of the memory this process may use); nothing was written");
}

uint64_t DefaultMemoryBudget()
{
    uint64_t memory = UINT64_MAX;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageBytes = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageBytes > 0)
        memory = uint64_t(pages) * uint64_t(pageBytes);
    for (const int resource : { RLIMIT_AS, RLIMIT_DATA }) {
        rlimit limit {};
        if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
            memory = std::min<uint64_t>(memory, uint64_t(limit.rlim_cur));
    }
    return memory == UINT64_MAX ? UINT64_MAX : memory / 2;
}

} // namespace pelorin::cli
