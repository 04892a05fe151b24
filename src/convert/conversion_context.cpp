#include "conversion_context.h"

#include "nearest_color.h"

#include <mutex>
#include <string>

namespace pelorin {

namespace {
    // Constant-initialised, so `Palette` below refers to it before any code runs.
    constinit ConversionContext g_programContext;

    std::shared_ptr<const NearestColorTable> SharedTable(const std::vector<PaletteEntry>& palette)
    {
        static std::mutex lock;
        static std::vector<std::shared_ptr<const NearestColorTable>> tables;
        std::lock_guard guard(lock);
        for (const auto& table : tables)
            if (table->Entries() == palette)
                return table;
        // A handful of distinct palettes exist in practice; cap the cache all the same. A context
        // still holding an evicted table keeps it alive.
        if (tables.size() >= 16)
            tables.erase(tables.begin());
        tables.push_back(std::make_shared<const NearestColorTable>(palette));
        return tables.back();
    }
} // namespace

std::vector<PaletteEntry>& Palette = g_programContext.palette;

ConversionContext::~ConversionContext() = default;

const NearestColorTable& ConversionContext::NearestTable()
{
    // An empty palette fails in the table's constructor.
    if (!m_table || m_table->Entries() != palette)
        m_table = SharedTable(palette);
    return *m_table;
}

ConversionContext& ProgramContext() { return g_programContext; }

} // namespace pelorin
