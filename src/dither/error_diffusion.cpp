#include "error_diffusion_engine.h"
#include "routines.h"

namespace pelorin {

void DiffuseRoutine(ConversionContext& context, DiffusionMethod kernel,
    platform::PictureBox& destination, platform::PictureBox& source, SteadyHistory* steady)
{
    // Fetched first: an empty palette fails before any working bitmap exists.
    const NearestColorTable& table = context.NearestTable();
    WorkingBitmap work(context, source, kDiffusionBorder, KernelOf(kernel).padBorders);
    if (!steady) {
        DiffuseErrors(kernel, work.Bytes(), work.Geometry(), table, nullptr, {},
            context.stopRequest);
        work.DrawTo(destination);
        return;
    }
    const BufferGeometry& g = work.Geometry();
    const size_t size = g.SizeBytes();
    uint8_t* const bytes = work.Bytes();
    SteadyHistory& history = *steady;
    const bool follows
        = history.Continues() && history.Left(size) != nullptr && history.input.size() == size;
    const SteadyTolerance tolerance = SteadyToleranceFor(table, kernel);
    if (follows) {
        history.moved.resize(MovedBitsBytes(size));
        MarkMovedBits(bytes, history.input.data(), history.moved.data(), size, tolerance.reach);
    } else {
        history.input.assign(bytes, bytes + size);
    }
    const SteadyPrevious previous { history.Left(size), history.moved.data() };
    DiffuseErrors(kernel, bytes, g, table, follows ? &previous : nullptr, tolerance,
        context.stopRequest);
    work.DrawTo(destination);
    history.Keep(work);
}

} // namespace pelorin
