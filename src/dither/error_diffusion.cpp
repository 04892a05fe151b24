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

void SteadyDiffuseRoutine(ConversionContext& context, DiffusionMethod kernel,
    platform::PictureBox& destination, platform::PictureBox& source, bool continues)
{
    const NearestColorTable& table = context.NearestTable();
    WorkingBitmap work(context, source, kDiffusionBorder, KernelOf(kernel).padBorders);
    const BufferGeometry& g = work.Geometry();
    std::vector<uint8_t>& memory = context.steady.result;
    SteadyDiffuseErrors(kernel, work.Bytes(), g, table,
        continues && memory.size() == g.SizeBytes() ? memory.data() : nullptr);
    memory.assign(work.Bytes(), work.Bytes() + g.SizeBytes());
    work.DrawTo(destination);
}

} // namespace pelorin
