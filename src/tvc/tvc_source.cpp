#include "tvc_source.h"

#include "convert/tvc_colours.h"

#include <cctype>
#include <filesystem>
#include <limits>

namespace pelorin::tvc {

namespace {
    class TvcPictureSource : public video::PictureSource {
    public:
        TvcPictureSource(TvcFile file, int width, int height)
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
            platform::Surface working = WorkingPicture(m_file, size_t(index));
            if (working.width == m_width && working.height == m_height)
                return working;
            return EnlargeWhole(working, m_width, m_height);
        }

    private:
        TvcFile m_file;
        int m_width = 0;
        int m_height = 0;
        int m_rateNumerator = 25;
        int m_rateDenominator = 1;
    };

    std::string LowerExtension(const std::string& path)
    {
        std::string extension = std::filesystem::path(path).extension().string();
        for (char& c : extension)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        return extension;
    }

    // The colours a file's registers give; none where its mode has more palette entries than
    // registers ("Graphics 16").
    std::vector<int> RegisterColours(const TvcFile& file)
    {
        std::vector<int> colours;
        if (file.mode->palette.size() > file.registers.size())
            return colours;
        for (size_t i = 0; i < file.mode->palette.size(); ++i)
            // The colour's number, as the pipeline counts colours (tvc::ColourOfRegister gives
            // the colour itself).
            colours.push_back(pelorin::ColourOfRegister(uint8_t(file.registers[i] & 0x55)).value());
        return colours;
    }
} // namespace

std::unique_ptr<video::PictureSource> MakeTvcPictureSource(TvcFile file, int width, int height)
{
    return std::make_unique<TvcPictureSource>(std::move(file), width, height);
}

video::PictureSourceOpener TvcPictureOpener(TvcOpenerSettings settings, TvcFileFacts* facts)
{
    return [settings = std::move(settings), facts](const std::string& path,
               std::string* error) -> std::unique_ptr<video::PictureSource> {
        *facts = {};
        const std::string extension = LowerExtension(path);
        if (!IsTvcInputExtension(extension))
            return nullptr;
        try {
            const TvcMode* vramMode
                = extension == ".vram" && settings.vramMode ? settings.vramMode(path) : nullptr;
            TvcFile file = ReadTvcFile(path, vramMode);
            facts->mode = file.mode;
            facts->colours = RegisterColours(file);
            return MakeTvcPictureSource(std::move(file), settings.width, settings.height);
        } catch (const TvcFileError& e) {
            *facts = {};
            facts->refusal = e.what();
            *error = e.what();
            return nullptr;
        }
    };
}

} // namespace pelorin::tvc
