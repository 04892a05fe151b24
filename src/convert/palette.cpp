#include "palette.h"

namespace pelorin {

void SetPalette2() { Palette.assign(kTvcPalette2.begin(), kTvcPalette2.end()); }
void SetPalette4() { Palette.assign(kTvcPalette4.begin(), kTvcPalette4.end()); }
void SetPalette16() { Palette.assign(kTvcPalette16.begin(), kTvcPalette16.end()); }

} // namespace pelorin
