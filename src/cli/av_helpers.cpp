#include "av_helpers.h"

namespace pelorin::cli {

std::string AvErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0)
        return "FFmpeg error " + std::to_string(code);
    return text;
}

} // namespace pelorin::cli
