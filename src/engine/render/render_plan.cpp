// Clip plans: the timeline's groups read into plain plans, and the media type each
// group's output pin offers.

#include "engine/render/render_plan.h"

#include "engine/render/photo_frame.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace engine::render {
namespace {

// 29.97 and its kin are the NTSC rates n * 1000 / 1001; other rates are taken to 1/1000.
void RateOf(double fps, std::int64_t *num, std::int64_t *den)
{
    for (const int base : {24, 30, 60}) {
        const double ntsc = base * 1000.0 / 1001.0;
        if (std::abs(fps - ntsc) < 0.005) {
            *num = base * 1000;
            *den = 1001;
            return;
        }
    }
    std::int64_t n = std::llround(fps * 1000.0);
    std::int64_t d = 1000;
    const std::int64_t g = std::gcd(n, d);
    *num = std::max<std::int64_t>(1, n / std::max<std::int64_t>(g, 1));
    *den = d / std::max<std::int64_t>(g, 1);
}

} // namespace

namespace {

// The clips (or audio clips) and transitions of track t.
void ReadTrack(const ComPtr<IAMTimelineObj> &trackObj, long t, GroupPlan *plan)
{
    std::vector<ComPtr<IAMTimelineObj>> sources;
    if (auto track = trackObj.As<IAMTimelineTrack>())
        track->GetSources(&sources);
    for (const auto &sourceObj : sources) {
        auto source = sourceObj.As<IAMTimelineSrc>();
        ReferenceTime start = 0, stop = 0, mediaStart = 0, mediaStop = 0;
        sourceObj->GetStartStop(&start, &stop);
        source->GetMediaTimes(&mediaStart, &mediaStop);
        QString name;
        source->GetMediaName(&name);
        int mode = RESIZEF_STRETCH;
        source->GetStretchMode(&mode);
        if (plan->video) {
            plan->clips.push_back({static_cast<int>(t), start, stop, name, mode});
        } else {
            plan->audio.push_back({AudioFrameAt(start),
                                   AudioFrameAt(stop),
                                   AudioFrameAt(mediaStart),
                                   AudioFrameAt(mediaStop),
                                   name});
        }
    }
    std::vector<ComPtr<IAMTimelineObj>> transitions;
    if (auto transable = trackObj.As<IAMTimelineTransable>())
        transable->GetTransitions(&transitions);
    for (const auto &transitionObj : transitions) {
        ReferenceTime start = 0, stop = 0;
        transitionObj->GetStartStop(&start, &stop);
        Guid clsid;
        transitionObj->GetSubObjectGUID(&clsid);
        plan->transitions.push_back({static_cast<int>(t), start, stop, TransitionKindOf(clsid)});
    }
}

} // namespace

HRESULT ReadGroup(IAMTimelineObj *groupObj, double defaultFps, GroupPlan *plan)
{
    auto group = ComPtr<IAMTimelineObj>(groupObj).As<IAMTimelineGroup>();
    auto comp = ComPtr<IAMTimelineObj>(groupObj).As<IAMTimelineComp>();
    if (!group || !comp)
        return E_INVALIDARG;
    MediaType type;
    if (Failed(group->GetMediaType(&type)))
        return E_INVALIDARG;
    double fps = 0;
    group->GetOutputFPS(&fps);
    RateOf(fps > 0 ? fps : defaultFps, &plan->rateNum, &plan->rateDen);
    if (type.majortype == MEDIATYPE_Video) {
        const VIDEOINFOHEADER *vih = type.FormatAs<VIDEOINFOHEADER>();
        if (!vih)
            return E_INVALIDARG;
        plan->video = true;
        plan->width = vih->bmiHeader.biWidth;
        plan->height = vih->bmiHeader.biHeight;
    }
    long tracks = 0;
    comp->VTrackGetCount(&tracks);
    for (long t = 0; t < tracks; ++t) {
        ComPtr<IAMTimelineObj> trackObj;
        if (!Failed(comp->GetVTrack(&trackObj, t)))
            ReadTrack(trackObj, t, plan);
    }
    return S_OK;
}

MediaType OutputTypeOf(const GroupPlan &plan)
{
    MediaType type;
    type.fixedSizeSamples = true;
    type.temporalCompression = false;
    if (plan.video) {
        VIDEOINFOHEADER vih{};
        vih.AvgTimePerFrame = (kUnitsPerSecond * plan.rateDen + plan.rateNum / 2) / plan.rateNum;
        vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih.bmiHeader.biWidth = plan.width;
        vih.bmiHeader.biHeight = plan.height;
        vih.bmiHeader.biPlanes = 1;
        vih.bmiHeader.biBitCount = 24;
        vih.bmiHeader.biCompression = BI_RGB;
        vih.bmiHeader.biSizeImage = static_cast<std::uint32_t>(Frame::StrideFor(plan.width))
                                    * static_cast<std::uint32_t>(plan.height);
        type.majortype = MEDIATYPE_Video;
        type.subtype = MEDIASUBTYPE_RGB24;
        type.sampleSize = vih.bmiHeader.biSizeImage;
        type.formattype = FORMAT_VideoInfo;
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(&vih);
        type.format.assign(bytes, bytes + sizeof vih);
    } else {
        WAVEFORMATEX wfx{};
        wfx.wFormatTag = WAVE_FORMAT_PCM;
        wfx.nChannels = kAudioChannels;
        wfx.nSamplesPerSec = kAudioRate;
        wfx.nAvgBytesPerSec = kAudioRate * kAudioBytesPerFrame;
        wfx.nBlockAlign = kAudioBytesPerFrame;
        wfx.wBitsPerSample = 16;
        wfx.cbSize = 0;
        type.majortype = MEDIATYPE_Audio;
        type.subtype = MEDIASUBTYPE_PCM;
        type.sampleSize = kAudioBytesPerFrame;
        type.formattype = FORMAT_WaveFormatEx;
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(&wfx);
        type.format.assign(bytes, bytes + sizeof wfx);
    }
    return type;
}

} // namespace engine::render
