#include "run_steps.h"

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pelorin::cli {

namespace {

    // One frame on its way through a parallel run, with pictures of its own.
    struct Slot {
        enum class State { Free, Decoded, Converted };
        State state = State::Free;
        int64_t index = 0;
        platform::PictureBox host { kHostWidth, kHostHeight };
        FramePictures pictures;
        FrameTiming timing;
        double difference = 0;
        Slot(int workingWidth, int workingHeight)
            : pictures(workingWidth, workingHeight)
        {
        }
        // The decoded frame: the host picture, or with --keep-size the working picture itself.
        platform::PictureBox& Frame(Size size)
        {
            return size == Size::KeepSize ? pictures.working : host;
        }
    };

    // The frames of a run on their way: decoded on the calling thread, converted by the
    // converters, delivered in frame order by the writer. One lock and one condition guard the
    // slots' states and the counts.
    class ParallelRun {
    public:
        ParallelRun(const Options& options, session::ConversionSession& session, InputVideo& source,
            int64_t first, int64_t last, int threads, Delivery& deliver)
            : m_options(options)
            , m_session(session)
            , m_source(source)
            , m_first(first)
            , m_total(last - first + 1)
            , m_deliver(deliver)
        {
            const bool keepSize = options.size == Size::KeepSize;
            m_width = keepSize ? source.Picture().Image().width : options.mode->workingWidth;
            m_height = keepSize ? source.Picture().Image().height : options.mode->workingHeight;
            // Enough frames in flight that every converter has one while one is decoded and
            // one is written.
            for (size_t i = 0; i < size_t(threads) * 2 + 2; ++i)
                m_slots.push_back(std::make_unique<Slot>(m_width, m_height));
        }

        void Run(int threads)
        {
            std::vector<std::thread> converters;
            for (int t = 0; t < threads; ++t)
                converters.emplace_back([this] { Guarded([this] { Convert(); }); });
            std::thread writer([this] { Guarded([this] { Write(); }); });
            Guarded([this] { Decode(); });
            writer.join();
            {
                // Converters still waiting for frames that will not come.
                std::lock_guard guard(m_lock);
                m_stopping = true;
                m_changed.notify_all();
            }
            for (std::thread& converter : converters)
                converter.join();
            if (m_failure)
                std::rethrow_exception(m_failure);
        }

    private:
        Slot& SlotOf(int64_t ordinal) { return *m_slots[size_t(ordinal) % m_slots.size()]; }

        // Runs one role; its failure stops the others and is the run's.
        template <class Role> void Guarded(Role role)
        {
            try {
                role();
            } catch (...) {
                std::lock_guard guard(m_lock);
                if (!m_failure)
                    m_failure = std::current_exception();
                m_stopping = true;
                m_changed.notify_all();
            }
        }

        // Marks `slot` as `state` and wakes whoever waits for it.
        void Mark(Slot& slot, Slot::State state)
        {
            std::lock_guard guard(m_lock);
            slot.state = state;
            m_changed.notify_all();
        }

        void Decode()
        {
            for (int64_t ordinal = 0; ordinal < m_total; ++ordinal) {
                CheckStop();
                Slot& slot = SlotOf(ordinal);
                {
                    std::unique_lock guard(m_lock);
                    m_changed.wait(
                        guard, [&] { return m_stopping || slot.state == Slot::State::Free; });
                    if (m_stopping)
                        return;
                }
                slot.index = m_first + ordinal;
                m_source.Show(slot.index);
                slot.Frame(m_options.size).Image() = m_source.Picture().Image();
                std::lock_guard guard(m_lock);
                slot.state = Slot::State::Decoded;
                m_decoded = ordinal + 1;
                m_changed.notify_all();
            }
        }

        void Convert()
        {
            ConversionContext context;
            context.stopRequest = &g_stopRequested;
            SteadyHistory history;
            for (;;) {
                int64_t ordinal = 0;
                {
                    std::unique_lock guard(m_lock);
                    m_changed.wait(guard,
                        [&] { return m_stopping || m_taken < m_decoded || m_taken == m_total; });
                    if (m_stopping || m_taken == m_total)
                        return;
                    ordinal = m_taken++;
                }
                Slot& slot = SlotOf(ordinal);
                StartAtFrame(context, ordinal, m_width, m_height);
                slot.timing
                    = ConvertSlot(context, history, m_session, m_options.size, m_options.method,
                        slot.index, slot.Frame(m_options.size), slot.pictures, &slot.difference);
                Mark(slot, Slot::State::Converted);
            }
        }

        void Write()
        {
            for (int64_t ordinal = 0; ordinal < m_total; ++ordinal) {
                Slot& slot = SlotOf(ordinal);
                {
                    std::unique_lock guard(m_lock);
                    m_changed.wait(
                        guard, [&] { return m_stopping || slot.state == Slot::State::Converted; });
                    if (m_stopping)
                        return;
                }
                const bool more
                    = m_deliver(slot.pictures.Result(m_options.size, slot.Frame(m_options.size)),
                        slot.index, ordinal, slot.timing, slot.difference, slot.pictures);
                Mark(slot, Slot::State::Free);
                if (!more) {
                    // The output is full: the frames still in flight are not wanted.
                    std::lock_guard guard(m_lock);
                    m_stopping = true;
                    m_changed.notify_all();
                    return;
                }
            }
        }

        const Options& m_options;
        session::ConversionSession& m_session;
        InputVideo& m_source;
        int64_t m_first;
        int64_t m_total;
        Delivery& m_deliver;
        int m_width = 0;
        int m_height = 0;
        std::vector<std::unique_ptr<Slot>> m_slots;

        std::mutex m_lock;
        std::condition_variable m_changed;
        std::exception_ptr m_failure;
        bool m_stopping = false;
        int64_t m_decoded = 0; // frames ready to convert, by ordinal
        int64_t m_taken = 0; // frames a converter has started on
    };

} // namespace

// Frames first ... last, decoded on this thread, converted on `threads` threads at once,
// each on a conversion context of its own, and delivered in frame order by one more thread,
// so decoding, converting and writing overlap. Each frame's conversion starts its noise
// generator where a serial run's would be at that frame, so the bytes are the serial ones.
// Steady dithering needs each frame's predecessor converted on the same context first: then
// one converter takes the frames in order, beside the decoding and the writing.
void ConvertInParallel(const Options& options, session::ConversionSession& session,
    InputVideo& source, int64_t first, int64_t last, int threads, Delivery deliver)
{
    if (options.steady)
        threads = 1;
    ParallelRun(options, session, source, first, last, threads, deliver).Run(threads);
}

} // namespace pelorin::cli
