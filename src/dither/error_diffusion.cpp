#include "error_diffusion.h"

#include "error_diffusion_engine.h"

namespace pelorin {

namespace {

    void Diffuse(
        DiffusionMethod method, platform::PictureBox& destination, platform::PictureBox& source)
    {
        // Fetched first: an empty palette fails before any working bitmap exists.
        const NearestColorTable& table = CurrentNearestColorTable();
        WorkingBitmap work(source, kDiffusionBorder, KernelOf(method).padBorders);
        DiffuseErrors(method, work.Bytes(), work.Geometry(), table);
        work.DrawTo(destination);
    }

} // namespace

using platform::PictureBox;

void DitherAtkinson(PictureBox& destination, PictureBox& source)
{
    Diffuse(DiffusionMethod::Atkinson, destination, source);
}
void DitherFloyd(PictureBox& destination, PictureBox& source)
{
    Diffuse(DiffusionMethod::Floyd, destination, source);
}
void DitherSierra(PictureBox& destination, PictureBox& source)
{
    Diffuse(DiffusionMethod::Sierra, destination, source);
}
void DitherBurkes(PictureBox& destination, PictureBox& source)
{
    Diffuse(DiffusionMethod::Burkes, destination, source);
}
void DitherStucki(PictureBox& destination, PictureBox& source)
{
    Diffuse(DiffusionMethod::Stucki, destination, source);
}
void DitherJarvis(PictureBox& destination, PictureBox& source)
{
    Diffuse(DiffusionMethod::Jarvis, destination, source);
}
void DitherSierraLite(PictureBox& destination, PictureBox& source)
{
    Diffuse(DiffusionMethod::SierraLite, destination, source);
}
void DitherSierra2Row(PictureBox& destination, PictureBox& source)
{
    Diffuse(DiffusionMethod::Sierra2Row, destination, source);
}

} // namespace pelorin
