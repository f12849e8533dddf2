#pragma once
// The transitions the render engine draws between two frames of the same size and layout.

#include "engine/dshow.h"

#include <cstdint>

namespace engine {

enum class TransitionKind {
    BarWipe,  // the incoming picture enters from the left, its edge moving right
    Dissolve, // a cross fade
    Cut,      // a transition class the engine does not know: the incoming picture at once
};

TransitionKind TransitionKindOf(const Guid &clsid);

// Writes into `out` the transition at `progress` (0: all `from`, 1: all `to`) between two
// DIB-layout frames (see photo_frame.h) of width x height with rows of `stride` bytes.
// `out` may be neither input.
void DrawTransition(TransitionKind kind,
                    const std::uint8_t *from,
                    const std::uint8_t *to,
                    std::uint8_t *out,
                    int width,
                    int height,
                    int stride,
                    double progress);

} // namespace engine
