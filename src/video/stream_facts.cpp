#include "stream_facts.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pelorin::video {

namespace {
    uint32_t BigEndian32(const unsigned char* p)
    {
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    }
} // namespace

std::string SizeProblem(int width, int height)
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0)
        return "picture size " + size + " is empty";
    return "picture size " + size + " is too large: at most " + std::to_string(kMaxVideoSide)
        + " pixels a side, and FFmpeg's decoders take at most (width + 128) x (height + 128)"
          " = "
        + std::to_string(kMaxPaddedPixels) + " (16384 x 16128, 16255 x 16255)";
}

std::pair<int64_t, int64_t> HeaderPictureSize(const std::string& path)
{
    unsigned char head[256] = {};
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return { 0, 0 };
    const size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    static constexpr unsigned char kPng[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    if (got >= 24 && std::memcmp(head, kPng, 8) == 0 && std::memcmp(head + 12, "IHDR", 4) == 0)
        return { BigEndian32(head + 16), BigEndian32(head + 20) };
    if (got >= 26 && head[0] == 'B' && head[1] == 'M') {
        const auto little32 = [&](int at) {
            return int32_t(uint32_t(head[at]) | uint32_t(head[at + 1]) << 8
                | uint32_t(head[at + 2]) << 16 | uint32_t(head[at + 3]) << 24);
        };
        return { std::abs(int64_t(little32(18))), std::abs(int64_t(little32(22))) };
    }
    if (got >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6') {
        // "P6", then the width and the height as decimal numbers between blanks and comments.
        size_t at = 2;
        int64_t sides[2] = { 0, 0 };
        for (int64_t& side : sides) {
            while (at < got && (std::isspace(head[at]) || head[at] == '#')) {
                if (head[at] == '#')
                    while (at < got && head[at] != '\n')
                        ++at;
                else
                    ++at;
            }
            if (at >= got || !std::isdigit(head[at]))
                return { 0, 0 };
            while (at < got && std::isdigit(head[at]) && side < (int64_t(1) << 32))
                side = side * 10 + (head[at++] - '0');
        }
        return { sides[0], sides[1] };
    }
    return { 0, 0 };
}

Orientation OrientationOf(const AVStream& st)
{
    int32_t matrix[9];
    if (const uint8_t* data = av_stream_get_side_data(&st, AV_PKT_DATA_DISPLAYMATRIX, nullptr)) {
        std::copy_n(reinterpret_cast<const int32_t*>(data), 9, matrix);
    } else if (const AVDictionaryEntry* tag = av_dict_get(st.metadata, "rotate", nullptr, 0)) {
        char* end = nullptr;
        const double clockwise = std::strtod(tag->value, &end);
        if (end == tag->value || !std::isfinite(clockwise))
            return {};
        av_display_rotation_set(matrix, -clockwise);
    } else {
        return {};
    }
    // The clockwise angle, in 0 ... 360.
    double theta = -std::round(av_display_rotation_get(matrix));
    if (!std::isfinite(theta))
        return {};
    theta -= 360 * std::floor(theta / 360 + 0.9 / 360);
    if (std::fabs(theta - 90) < 1)
        return matrix[3] > 0 ? Orientation { true, false, false }
                             : Orientation { true, false, true };
    if (std::fabs(theta - 180) < 1)
        return { false, matrix[0] < 0, matrix[4] < 0 };
    if (std::fabs(theta - 270) < 1)
        return matrix[3] < 0 ? Orientation { true, true, true } : Orientation { true, true, false };
    if (std::fabs(theta) < 1)
        return { false, false, matrix[4] < 0 };
    return {};
}

} // namespace pelorin::video
