#pragma once
// The render engine: turns a timeline into one source filter per group, added to a filter
// graph, each with one output pin.
//
// Video groups deliver one sample per frame at the group's output rate (30000/1001 for
// 29.97): frame n starts at n * 10^7 / rate (cut to whole units) and lasts to the start of
// frame n + 1. Frames are RGB24 in the DIB layout of photo_frame.h (bottom-up rows, B, G, R
// bytes, rows of 3 * width rounded up to 4), of the group's size. In each frame the highest
// track with a clip playing is on top; a transition on that track blends from what the
// tracks beneath make into the track's clip over the transition's span. A frame equal to
// the one before (no transition under way, the same clip on top) is sent with
// MediaSample::repeat set; its data holds the picture all the same.
//
// Audio groups deliver 44.1 kHz 16-bit stereo PCM in chunks of a tenth of a second, the
// sum of their clips, silence where none plays.
//
// Every group runs to the end of the longest group. Photos are decoded on a worker thread
// ahead of the frames that need them; DeliverNext runs on the graph's streaming thread.

#include "engine/dshow.h"
#include "engine/timeline/timeline.h"

namespace engine {

class IRenderEngine : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{6BEE3A81-66C9-11D2-918F-00C0DF10D434}");

    // The timeline to render (a reference is kept). E_POINTER for null.
    virtual HRESULT SetTimelineObject(IAMTimeline *timeline) = 0;
    virtual HRESULT GetTimelineObject(ComPtr<IAMTimeline> *timeline) = 0;
    // Builds the group source filters from the timeline as it is now and adds them to the
    // graph (made with CLSID_FilterGraph unless one was given). S_OK the first time;
    // S_WARN_OUTPUTRESET when it has replaced the outputs of an earlier call (they must be
    // connected again). E_UNEXPECTED without a timeline; E_INVALIDARG when the timeline has
    // no group or a group has no media type; the class store's error when no graph can be
    // made.
    virtual HRESULT ConnectFrontEnd() = 0;
    // The graph; null (S_FALSE) before ConnectFrontEnd made or was given one.
    virtual HRESULT GetFilterGraph(ComPtr<IGraphBuilder> *graph) = 0;
    // Uses this graph from the next ConnectFrontEnd on. E_UNEXPECTED once outputs exist.
    virtual HRESULT SetFilterGraph(IGraphBuilder *graph) = 0;
    // The output pin of a group. E_UNEXPECTED before ConnectFrontEnd, E_INVALIDARG for an
    // index that is not a group.
    virtual HRESULT GetGroupOutputPin(long group, ComPtr<IPin> *pin) = 0;
    // Removes the outputs from the graph and lets go of the graph.
    virtual HRESULT ScrapIt() = 0;
};

class IRenderEngine2 : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{6BEE3A82-66C9-11D2-918F-00C0DF10D434}");

    // The class (IResizer) that fits photos into the frame. When it cannot be created the
    // engine uses its own resizer; both give the same geometry.
    virtual HRESULT SetResizerGUID(const Guid &clsid) = 0;
};

ComPtr<IRenderEngine> CreateRenderEngine();

} // namespace engine
