#include "denoise_filter.h"

#include "av/ffmpeg_util.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <cassert>
#include <cstdio>

namespace pelorin::video {

namespace {

    constexpr const char* kFilterName = "hqdn3d";

    // hqdn3d's four strengths per level: luma and chroma in space, then luma and chroma in
    // time. The temporal ones do the work: they keep a still scene's pixels from changing
    // between frames, and camera noise of a dozen levels either way needs strengths well above
    // FFmpeg's default (4:3:6:4.5) to be held still. Moving edges differ by far more than that
    // and pass. The spatial ones stay low, as a blurred picture loses the detail the dithering
    // is there to show.
    struct Strengths {
        Denoise level;
        double lumaSpatial, chromaSpatial, lumaTemporal, chromaTemporal;
    };
    constexpr Strengths kStrengths[] = {
        { Denoise::Light, 2, 2, 10, 10 },
        { Denoise::Medium, 3, 3, 20, 20 },
        { Denoise::Strong, 4, 4, 40, 40 },
    };

    const Strengths& StrengthsOf(Denoise level)
    {
        for (const Strengths& s : kStrengths)
            if (s.level == level)
                return s;
        assert(false && "no strengths for this denoising level");
        return kStrengths[1];
    }

    struct GraphFreer {
        void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
    };

} // namespace

// One graph, buffer → hqdn3d → buffersink, made for one picture size and format.
struct DenoiseFilter::Graph {
    std::unique_ptr<AVFilterGraph, GraphFreer> graph { avfilter_graph_alloc() };
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    int width = 0;
    int height = 0;
    int format = -1;

    bool Fits(const AVFrame& f) const
    {
        return f.width == width && f.height == height && f.format == format;
    }
};

DenoiseFilter::DenoiseFilter(Denoise level)
    : m_level(level)
{
    assert(level != Denoise::Off);
}

DenoiseFilter::~DenoiseFilter() = default;

bool DenoiseFilter::Available(std::string* error)
{
    if (avfilter_get_by_name(kFilterName) && avfilter_get_by_name("buffer")
        && avfilter_get_by_name("buffersink"))
        return true;
    *error = std::string("this FFmpeg has no ") + kFilterName + " filter to denoise with";
    return false;
}

void DenoiseFilter::Reset() { m_graph.reset(); }

bool DenoiseFilter::Apply(AVFrame* frame, std::string* error)
{
    const auto fail = [&](const std::string& what, int code) {
        *error = "denoising: " + what + ": " + av::AvErrorText(code);
        av_frame_unref(frame);
        m_graph.reset();
        return false;
    };
    if (!m_graph || !m_graph->Fits(*frame)) {
        auto g = std::make_unique<Graph>();
        if (!g->graph)
            return fail("cannot make the filter graph", AVERROR(ENOMEM));
        // The decoder's own threads are busy already; the filter runs on the reading thread.
        g->graph->nb_threads = 1;
        g->width = frame->width;
        g->height = frame->height;
        g->format = frame->format;
        const AVRational aspect
            = frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio : AVRational { 1, 1 };
        char args[160];
        std::snprintf(args, sizeof args,
            "video_size=%dx%d:pix_fmt=%d:time_base=1/1:pixel_aspect=%d/%d", frame->width,
            frame->height, frame->format, aspect.num, aspect.den);
        int r = avfilter_graph_create_filter(
            &g->source, avfilter_get_by_name("buffer"), "in", args, nullptr, g->graph.get());
        if (r < 0)
            return fail("cannot feed the filter", r);
        r = avfilter_graph_create_filter(
            &g->sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, g->graph.get());
        if (r < 0)
            return fail("cannot read the filter", r);
        const Strengths& s = StrengthsOf(m_level);
        char options[96];
        std::snprintf(options, sizeof options, "%g:%g:%g:%g", s.lumaSpatial, s.chromaSpatial,
            s.lumaTemporal, s.chromaTemporal);
        AVFilterContext* denoise = nullptr;
        r = avfilter_graph_create_filter(&denoise, avfilter_get_by_name(kFilterName), "denoise",
            options, nullptr, g->graph.get());
        if (r < 0)
            return fail(std::string("cannot set up ") + kFilterName, r);
        if ((r = avfilter_link(g->source, 0, denoise, 0)) < 0
            || (r = avfilter_link(denoise, 0, g->sink, 0)) < 0
            || (r = avfilter_graph_config(g->graph.get(), nullptr)) < 0)
            return fail(std::string("cannot set up ") + kFilterName + " for "
                    + std::to_string(frame->width) + " x " + std::to_string(frame->height) + " "
                    + (av_get_pix_fmt_name(AVPixelFormat(frame->format))
                            ? av_get_pix_fmt_name(AVPixelFormat(frame->format))
                            : "?"),
                r);
        m_graph = std::move(g);
    }
    // The graph sees no timestamps of ours: the frame keeps its own, restored afterwards.
    const int64_t pts = frame->pts;
    const int64_t bestEffort = frame->best_effort_timestamp;
    int r = av_buffersrc_add_frame_flags(m_graph->source, frame, 0);
    if (r < 0)
        return fail("cannot feed the filter", r);
    // One picture in gives one out at once.
    r = av_buffersink_get_frame(m_graph->sink, frame);
    if (r < 0)
        return fail("no picture out of the filter", r);
    frame->pts = pts;
    frame->best_effort_timestamp = bestEffort;
    return true;
}

} // namespace pelorin::video
