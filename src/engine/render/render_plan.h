#pragma once
// The render engine's plan of a group: what ConnectFrontEnd reads from the timeline, a
// plain copy, so that the streaming side never touches the timeline's objects.

#include "engine/dshow.h"
#include "engine/render/audio_mixer.h"
#include "engine/render/transition.h"
#include "engine/timeline/timeline.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace engine::render {

struct VideoClipPlan
{
    int track = 0;
    ReferenceTime start = 0;
    ReferenceTime stop = 0;
    QString path;
    int stretchMode = RESIZEF_STRETCH;
};

struct TransitionPlan
{
    int track = 0;
    ReferenceTime start = 0;
    ReferenceTime stop = 0;
    TransitionKind kind = TransitionKind::Cut;
};

struct GroupPlan
{
    bool video = false;
    int width = 0;
    int height = 0;
    // Output frame rate as a fraction.
    std::int64_t rateNum = 30000;
    std::int64_t rateDen = 1001;
    std::vector<VideoClipPlan> clips;
    std::vector<TransitionPlan> transitions;
    std::vector<AudioClip> audio;
    ReferenceTime end = 0; // of the longest group
};

// Reads one group of the timeline into its plan; the output rate is the group's own, else
// defaultFps. E_INVALIDARG for an object that is no group with a media type.
HRESULT ReadGroup(IAMTimelineObj *groupObj, double defaultFps, GroupPlan *plan);

// The media type of the group's output pin: RGB24 frames of the group's size at its
// rate, or 44.1 kHz 16-bit stereo PCM.
MediaType OutputTypeOf(const GroupPlan &plan);

} // namespace engine::render
