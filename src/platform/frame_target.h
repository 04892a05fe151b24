#pragma once
// FrameTarget: a surface that a video device draws its pictures into.
//
// The device draws only while it holds Lock(), and calls Refresh() afterwards with no lock held,
// possibly from a thread of its own; a target whose Refresh() waits for another thread must not
// let that thread wait for the device. BackColor() is what shows where the device's window was
// once the window moves or closes (bits 24 ... 31 clear).
#include "surface.h"

#include <cstdint>
#include <mutex>

namespace platform {

class FrameTarget {
public:
    // The pixels; touch them only while holding Lock().
    virtual Surface& Image() = 0;
    virtual std::mutex& Lock() const = 0;
    virtual uint32_t BackColor() const = 0;
    // Tells whoever shows the target that its pixels changed.
    virtual void Refresh() = 0;

protected:
    FrameTarget() = default;
    FrameTarget(const FrameTarget&) = default;
    FrameTarget& operator=(const FrameTarget&) = default;
    ~FrameTarget() = default;
};

} // namespace platform
