#include "tvc_source.h"

#include <algorithm>
#include <limits>

namespace pelorin::window {

namespace {
    class TvcPictureSource : public video::PictureSource {
    public:
        TvcPictureSource(tvc::TvcFile file, int width, int height)
            : m_file(std::move(file))
        {
            const int workingWidth = m_file.mode->workingWidth;
            const int workingHeight = m_file.mode->workingHeight;
            const bool whole = width >= workingWidth && height >= workingHeight
                && width % workingWidth == 0 && height % workingHeight == 0;
            m_width = whole ? width : workingWidth;
            m_height = whole ? height : workingHeight;
            // A rate beyond int is no rate a player steps at; such a file keeps 25 a second.
            const int64_t limit = std::numeric_limits<int>::max();
            if (m_file.rateNumerator > 0 && m_file.rateDenominator > 0
                && m_file.rateNumerator <= limit && m_file.rateDenominator <= limit) {
                m_rateNumerator = int(m_file.rateNumerator);
                m_rateDenominator = int(m_file.rateDenominator);
            }
        }
        int64_t Count() const override { return int64_t(m_file.FrameCount()); }
        int RateNumerator() const override { return m_rateNumerator; }
        int RateDenominator() const override { return m_rateDenominator; }
        int Width() const override { return m_width; }
        int Height() const override { return m_height; }
        platform::Surface Picture(int64_t index) const override
        {
            platform::Surface working = tvc::WorkingPicture(m_file, size_t(index));
            if (working.width == m_width && working.height == m_height)
                return working;
            return tvc::EnlargeWhole(working, m_width, m_height);
        }

    private:
        tvc::TvcFile m_file;
        int m_width = 0;
        int m_height = 0;
        int m_rateNumerator = 25;
        int m_rateDenominator = 1;
    };
} // namespace

std::unique_ptr<video::PictureSource> MakeTvcPictureSource(tvc::TvcFile file, int width, int height)
{
    return std::make_unique<TvcPictureSource>(std::move(file), width, height);
}

} // namespace pelorin::window
