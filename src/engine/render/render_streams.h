#pragma once
// The streams behind a group's output pin: the video stream makes the group's frames, the
// audio stream its mixed PCM chunks.

#include "engine/render/render_plan.h"
#include "engine/render/resizer.h"

#include <memory>

namespace engine::render {

class GroupStream
{
public:
    virtual ~GroupStream() = default;
    // Back to the start; what a previous run held is let go.
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual bool HasNext() const = 0;
    virtual ReferenceTime NextTime() const = 0;
    // The next sample (valid until the next call).
    virtual MediaSample Next() = 0;
};

// The video group's frames, photos fitted by `resizer`.
std::unique_ptr<GroupStream> MakeVideoStream(GroupPlan plan, ComPtr<IResizer> resizer);
// The audio group's clips, mixed.
std::unique_ptr<GroupStream> MakeAudioStream(GroupPlan plan);

} // namespace engine::render
