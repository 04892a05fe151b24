#pragma once
// Steady "Treshold+Noise", behind ThresholdNoiseRoutine (routines.h) when it is given a history.
#include "convert/conversion_context.h"
#include "platform/picture_box.h"
#include "steady_history.h"

#include <cstdint>

namespace pelorin {

// ThresholdNoiseRoutine's steady form (its contract in routines.h).
void SteadyThresholdNoise(ConversionContext& context, platform::PictureBox& destination,
    platform::PictureBox& source, uint8_t amplitude, SteadyHistory& history);

} // namespace pelorin
