#pragma once
// The render engine's own resizer (libswscale), used when the resizer class it was told to
// use cannot be created. It places the picture by FitRect, as every resizer does.

#include "engine/render/resizer.h"

namespace engine {

// Scales the part `from` of source into the part `to` of target, leaving the rest of target
// untouched. Works on any 3-byte pixel order (it keeps the byte order). False when a
// rectangle is empty or outside its picture.
bool ScaleRegion(const RgbImageView &source,
                 const QRect &from,
                 const RgbImageTarget &target,
                 const QRect &to);

// Fills the target with black.
void FillBlack(const RgbImageTarget &target);

platform::ComPtr<IResizer> CreateDefaultResizer();

} // namespace engine
