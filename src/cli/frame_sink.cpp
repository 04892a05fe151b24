#include "frame_sink.h"

#include "cli_error.h"
#include "convert/tvc_colours.h"
#include "output_files.h"
#include "pipeline/vram.h"
#include "tvc/clip_player.h"
#include "tvc/tvc_files.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace pelorin::cli {

namespace {

    class SinglePictureSink : public FrameSink {
    public:
        explicit SinglePictureSink(const SinkSettings& s)
            : m_settings(s)
        {
        }
        void Write(const platform::Surface& frame, int64_t) override
        {
            if (m_output)
                throw std::logic_error("a single picture output got a second frame");
            m_output = std::make_unique<AtomicOutput>(m_settings.output);
            m_output->Write(EncodePicture(frame, PictureFormatFor(m_settings.extension)));
        }
        void Finish() override { }
        void Commit() override
        {
            if (m_output)
                m_output->Commit();
        }
        std::string Description() const override { return "'" + m_settings.output + "'"; }

    private:
        SinkSettings m_settings;
        std::unique_ptr<AtomicOutput> m_output;
    };

    // Every picture is written under a temporary name, and the whole sequence replaces the
    // earlier files of its names only once the last picture is complete: a run stopped halfway
    // through a re-run leaves the earlier sequence whole.
    class NumberedPictureSink : public FrameSink {
    public:
        explicit NumberedPictureSink(const SinkSettings& s)
            : m_settings(s)
            , m_outputs(s.output)
        {
        }
        void Write(const platform::Surface& frame, int64_t frameNumber) override
        {
            const std::string name = m_settings.numbered->For(frameNumber);
            CheckNotInput(m_settings.input, name);
            m_outputs.Add(name).Write(EncodePicture(frame, PictureFormatFor(m_settings.extension)));
        }
        void Finish() override { }
        void Commit() override { m_outputs.Commit(); }
        std::string Description() const override
        {
            return std::to_string(m_outputs.Size()) + " pictures '" + m_settings.output + "'";
        }

    private:
        SinkSettings m_settings;
        AtomicOutputSet m_outputs;
    };

    class VramSink : public FrameSink {
    public:
        explicit VramSink(const SinkSettings& s)
            : m_settings(s)
            , m_output(s.output)
            , m_file(fdopen(m_output.OpenForWriting(), "wb"))
        {
            if (m_file == nullptr)
                throw Failure("cannot write '" + s.output + "': " + std::strerror(errno));
        }
        ~VramSink() override
        {
            if (m_file != nullptr)
                std::fclose(m_file);
        }
        void Write(const platform::Surface& frame, int64_t frameNumber) override
        {
            m_bytes.clear();
            try {
                if (m_settings.palettes && m_settings.palettes->perLine)
                    m_bytes = tvc::PictureFromWorkingLines(frame, *m_settings.mode).vram;
                else if (m_settings.palettes)
                    PackVram(frame, *m_settings.mode, m_bytes,
                        m_settings.palettes->For(frameNumber).entries);
                else
                    PackVram(frame, *m_settings.mode, m_bytes);
            } catch (const std::invalid_argument& e) {
                throw Failure("cannot write frame " + std::to_string(frameNumber) + " to '"
                    + m_settings.output + "': " + e.what());
            }
            if (std::fwrite(m_bytes.data(), 1, m_bytes.size(), m_file) != m_bytes.size())
                throw Failure("cannot write '" + m_settings.output + "': " + std::strerror(errno));
            ++m_frames;
        }
        void Finish() override
        {
            FILE* file = m_file;
            m_file = nullptr;
            if (std::fclose(file) != 0)
                throw Failure("cannot write '" + m_settings.output + "': " + std::strerror(errno));
        }
        void Commit() override { m_output.Commit(); }
        std::string Description() const override
        {
            return "'" + m_settings.output + "' (" + std::to_string(m_frames) + " x "
                + std::to_string(kVramFrameBytes) + " bytes)";
        }

    private:
        SinkSettings m_settings;
        AtomicOutput m_output;
        FILE* m_file;
        std::vector<uint8_t> m_bytes;
        int64_t m_frames = 0;
    };

    // "2nd", "3rd", "11th", "22nd".
    std::string Ordinal(int64_t n)
    {
        const int64_t tens = n % 100, ones = n % 10;
        const char* suffix = tens >= 11 && tens <= 13 ? "th"
            : ones == 1                               ? "st"
            : ones == 2                               ? "nd"
            : ones == 3                               ? "rd"
                                                      : "th";
        return std::to_string(n) + suffix;
    }

    // The TVC's own files: a .kep picture, or a .cas program showing one picture (32K TVC) or
    // playing a clip (64K TVC) of every n-th frame, as many from the first as fit.
    class TvcSink : public FrameSink {
    public:
        explicit TvcSink(const SinkSettings& s)
            : m_settings(s)
            , m_output(s.output)
        {
            const ClipTiming timing = ClipTimingOf(s);
            m_step = timing.step;
            m_kept = (s.frames + m_step - 1) / m_step;
            if (s.kind == OutputKind::Cas && m_kept > 1) {
                const int64_t num = timing.rateNumerator, den = timing.rateDenominator;
                try {
                    if (s.palettes && s.palettes->perLine)
                        throw std::invalid_argument("a clip for the TVC holds one palette for "
                                                    "all its lines; --palette best-per-line "
                                                    "makes pictures (a .cas of one frame)");
                    if (s.palettes && s.palettes->scenes.size() > 1)
                        throw std::invalid_argument("a clip for the TVC holds one palette, but "
                            + std::to_string(s.palettes->scenes.size())
                            + " were chosen, one per scene; use --palette best or give the "
                              "registers");
                    m_clip = std::make_unique<tvc::ClipBuilder>(*s.mode, num, den,
                        Registers(s.palettes ? s.palettes->scenes.front().first : 0));
                } catch (const std::invalid_argument& e) {
                    throw Failure("cannot write '" + s.output + "': " + e.what());
                }
            }
        }
        void Write(const platform::Surface& frame, int64_t frameNumber) override
        {
            const int64_t ordinal = m_ordinal++;
            m_lastKept = false;
            if (ordinal % m_step != 0 || (m_clip && m_clip->Full()))
                return;
            m_bytes.clear();
            try {
                if (m_settings.palettes && m_settings.palettes->perLine)
                    m_bytes = tvc::PictureFromWorkingLines(frame, *m_settings.mode).vram;
                else if (m_settings.palettes)
                    PackVram(frame, *m_settings.mode, m_bytes,
                        m_settings.palettes->For(frameNumber).entries);
                else
                    PackVram(frame, *m_settings.mode, m_bytes);
            } catch (const std::invalid_argument& e) {
                throw Failure("cannot write frame " + std::to_string(frameNumber) + " to '"
                    + m_settings.output + "': " + e.what());
            }
            if (m_clip) {
                m_lastKept = m_clip->Add(m_bytes);
                if (m_lastKept) {
                    m_lastFrameKept = frameNumber;
                    // The first frame alone, should no other fit, is shown as a picture.
                    if (m_clip->FramesKept() == 1) {
                        m_picture.mode = m_settings.mode;
                        m_picture.registers = Registers(frameNumber);
                        m_picture.vram = m_bytes;
                    }
                }
                return;
            }
            if (!m_picture.vram.empty())
                throw std::logic_error("a TVC picture file got a second frame");
            if (m_settings.palettes && m_settings.palettes->perLine) {
                // Each line's registers, which the program rewrites as the picture is drawn.
                m_picture = tvc::PictureFromWorkingLines(frame, *m_settings.mode);
                m_lastKept = true;
                m_lastFrameKept = frameNumber;
                return;
            }
            m_picture.mode = m_settings.mode;
            m_picture.registers = Registers(frameNumber);
            m_picture.vram = m_bytes;
            m_lastKept = true;
            m_lastFrameKept = frameNumber;
        }
        bool LastWriteKept() const override { return m_lastKept; }
        int64_t LastFrameKept() const override { return m_lastFrameKept; }
        // Once full, or once past the last frame of its own rate that the run gives it.
        bool Full() const override { return m_clip && m_clip->Full(); }
        void Finish() override
        {
            std::vector<uint8_t> bytes;
            if (m_clip && m_clip->FramesKept() > 1)
                bytes = m_clip->CasBytes();
            else if (m_settings.kind == OutputKind::Kep)
                bytes = tvc::KepBytes(m_picture);
            else
                bytes = tvc::PictureCasBytes(m_picture);
            m_output.Write(bytes);
        }
        void Commit() override { m_output.Commit(); }
        std::string Description() const override
        {
            if (m_settings.kind == OutputKind::Kep)
                return "'" + m_settings.output + "' (TVC picture file)";
            return "'" + m_settings.output + "' (TVC program, "
                + (Clip() ? "a clip for a 64K TVC)" : "a picture for a 32K TVC)");
        }
        std::string Notes() const override
        {
            if (!m_clip)
                return {};
            if (!Clip())
                return "clip: only its first frame fits, so it is written as a picture; "
                       "--tvc-fps lower or --steady may make room for more\n";
            const tvc::ClipBuilder::Summary s = m_clip->Report();
            char text[512];
            std::snprintf(text, sizeof text,
                "clip: %zu of %lld frames kept%s, %.1f s at %.4g frames/s; %zu of %zu bytes "
                "used; frames unpacked in %.1f ms on average, the slowest in %.1f ms of its "
                "%.1f ms",
                s.framesKept, static_cast<long long>(m_kept),
                m_step > 1 ? (" (every " + Ordinal(m_step) + " frame)").c_str() : "", s.seconds,
                1.0 / s.frameSeconds, s.bytesUsed, s.bytesAvailable, s.meanFrameSeconds * 1e3,
                s.slowestFrameSeconds * 1e3, s.frameSeconds * 1e3);
            std::string notes = text;
            if (s.lateFrames > 0)
                notes += "; " + std::to_string(s.lateFrames)
                    + " frames take longer and are shown late";
            if (!m_settings.steady && !m_settings.tvcSeconds)
                notes += "\n  --steady makes clips longer: still areas then stay the same from "
                         "frame to frame, and only changed bytes are stored";
            else if (int64_t(s.framesKept) < m_kept) {
                std::snprintf(text, sizeof text,
                    "\n  the clip is full: frame 0 takes %zu bytes, and from one frame to the "
                    "next %.0f bytes of the %zu change (%.1f %%) on average, and a clip "
                    "stores what changes; --denoise takes out camera noise, which changes "
                    "bytes everywhere; a lower --tvc-fps keeps fewer frames of the same seconds",
                    s.firstFrameBytes, s.meanChangedBytes, kVramFrameBytes,
                    100.0 * s.meanChangedBytes / double(kVramFrameBytes));
                notes += text;
            }
            return notes + "\n";
        }

    private:
        // Whether the output is a clip program: a clip of one frame is written as a picture.
        bool Clip() const { return m_clip && m_clip->FramesKept() > 1; }
        // The palette registers frame `frameNumber` was converted with.
        tvc::PaletteRegisters Registers(int64_t frameNumber) const
        {
            if (!m_settings.palettes)
                return tvc::PaletteRegistersOf(*m_settings.mode);
            tvc::PaletteRegisters registers {};
            const std::vector<int>& colours = m_settings.palettes->For(frameNumber).colours;
            for (size_t i = 0; i < registers.size() && i < colours.size(); ++i)
                registers[i] = RegisterValue(colours[i]);
            return registers;
        }

        SinkSettings m_settings;
        AtomicOutput m_output;
        int64_t m_step = 1;
        int64_t m_kept = 1; // frames asked for, after the step
        int64_t m_ordinal = 0;
        std::unique_ptr<tvc::ClipBuilder> m_clip;
        tvc::TvcPicture m_picture;
        std::vector<uint8_t> m_bytes;
        bool m_lastKept = false;
        int64_t m_lastFrameKept = -1;
    };

    class VideoSink : public FrameSink {
    public:
        explicit VideoSink(const SinkSettings& s)
            : m_settings(s)
            , m_output(s.output)
            , m_writer(m_output.TempPath(), s.extension, s.width, s.height, s.frameRate, *s.mode,
                  { s.output, s.mp4Subsampled, m_output.OpenForWriting() })
        {
        }
        void Write(const platform::Surface& frame, int64_t frameNumber) override
        {
            if (m_settings.palettes)
                m_writer.Write(frame, m_settings.palettes->For(frameNumber).entries);
            else
                m_writer.Write(frame);
        }
        void Finish() override { m_writer.Finish(); }
        void Commit() override { m_output.Commit(); }
        std::string Description() const override
        {
            return "'" + m_settings.output + "' (" + m_writer.CodecName() + ")";
        }

    private:
        SinkSettings m_settings;
        AtomicOutput m_output; // declared first: the writer closes its file before it is removed
        VideoWriter m_writer;
    };

} // namespace

ClipTiming ClipTimingOf(const SinkSettings& s)
{
    ClipTiming timing;
    const bool rateKnown = s.frameRate.den > 0 && s.frameRate.num > 0;
    const double sourceFps = rateKnown ? double(s.frameRate.num) / double(s.frameRate.den) : 25.0;
    // A step past the run keeps its first frame alone; so does one past any whole number (a
    // rate such as 1e-20), which rounding could not take.
    const double step = s.tvcFps ? sourceFps / *s.tvcFps : 1.0;
    const int64_t run = std::max<int64_t>(1, s.frames);
    timing.step = step >= double(run) ? run : std::max<int64_t>(1, std::llround(step));
    timing.rateNumerator = s.frameRate.num > 0 ? s.frameRate.num : 25;
    timing.rateDenominator = (s.frameRate.den > 0 ? s.frameRate.den : 1) * timing.step;
    return timing;
}

std::unique_ptr<FrameSink> MakeFrameSink(const SinkSettings& settings)
{
    switch (settings.kind) {
    case OutputKind::Picture:
        if (settings.numbered)
            return std::make_unique<NumberedPictureSink>(settings);
        return std::make_unique<SinglePictureSink>(settings);
    case OutputKind::Vram:
        return std::make_unique<VramSink>(settings);
    case OutputKind::Video:
        return std::make_unique<VideoSink>(settings);
    case OutputKind::Kep:
    case OutputKind::Cas:
        return std::make_unique<TvcSink>(settings);
    }
    throw std::logic_error("unknown output kind");
}

} // namespace pelorin::cli
