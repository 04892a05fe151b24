#include "frame_sink.h"

#include "output_files.h"
#include "cli_error.h"
#include "pipeline/vram.h"

#include <cerrno>
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
            , m_file(std::fopen(m_output.TempPath().c_str(), "wb"))
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
                if (m_settings.palettes)
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

    class VideoSink : public FrameSink {
    public:
        explicit VideoSink(const SinkSettings& s)
            : m_settings(s)
            , m_output(s.output)
            , m_writer(m_output.TempPath(), s.extension, s.width, s.height, s.frameRate, *s.mode,
                  { s.output, s.mp4Subsampled })
        {
        }
        void Write(const platform::Surface& frame, int64_t) override { m_writer.Write(frame); }
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
    }
    throw std::logic_error("unknown output kind");
}

} // namespace pelorin::cli
