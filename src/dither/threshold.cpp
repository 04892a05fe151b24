#include "routines.h"

#include "convert/nearest_color.h"
#include "convert/working_bitmap.h"

namespace pelorin {

void ThresholdRoutine(ConversionContext& context, platform::PictureBox& destination,
    platform::PictureBox& source, uint8_t)
{
    const NearestColorTable& table = context.NearestTable();
    WorkingBitmap work(context, source, 0, false);
    MapPixels(table, work.Bytes(), work.Geometry().SizeBytes() / 3);
    work.DrawTo(destination);
}

} // namespace pelorin
