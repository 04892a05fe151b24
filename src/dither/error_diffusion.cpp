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
    const size_t size = g.SizeBytes();
    uint8_t* const bytes = work.Bytes();
    SteadyMemory& memory = context.steady;
    const bool follows = continues && memory.Left(size) != nullptr && memory.input.size() == size;
    const SteadyTolerance tolerance = SteadyToleranceFor(table, kernel);
    if (follows) {
        memory.moved.resize(MovedBitsBytes(size));
        MarkMovedBits(bytes, memory.input.data(), memory.moved.data(), size, tolerance.reach);
    } else {
        memory.input.assign(bytes, bytes + size);
    }
    const SteadyPrevious previous { memory.Left(size), memory.moved.data() };
    DiffuseErrors(kernel, bytes, g, table, follows ? &previous : nullptr, tolerance);
    work.DrawTo(destination);
    work.LeaveFor(memory);
}

} // namespace pelorin
