#include "error_diffusion_engine.h"
#include "routines.h"

namespace pelorin {

void DiffuseRoutine(ConversionContext& context, DiffusionMethod kernel,
    platform::PictureBox& destination, platform::PictureBox& source)
{
    // Fetched first: an empty palette fails before any working bitmap exists.
    const NearestColorTable& table = context.NearestTable();
    WorkingBitmap work(context, source, kDiffusionBorder, KernelOf(kernel).padBorders);
    DiffuseErrors(kernel, work.Bytes(), work.Geometry(), table);
    work.DrawTo(destination);
}

} // namespace pelorin
