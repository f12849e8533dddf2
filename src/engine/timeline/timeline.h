#pragma once
// The editing engine's timeline: a tree of nodes that describes a movie.
//
//   timeline
//     group (one per output: a video group, an audio group) = a composition
//       track (priority order: a later track lies above an earlier one)
//         sources (a clip of one media file over timeline times)
//         transitions (blend from the tracks beneath into this track over their span)
//
// Every node is created by the timeline (CreateEmptyNode) and belongs to it: a node of one
// timeline cannot be put into another. Every call returns an HRESULT-style code; a refused
// call leaves the node as it was. Times are ReferenceTime (100 ns units).

#include "engine/dshow.h"

#include <QString>

#include <vector>

namespace engine {

// Node types of CreateEmptyNode (bit values, as the engine's callers pass them).
enum TIMELINE_MAJOR_TYPE : int {
    TIMELINE_MAJOR_TYPE_COMPOSITE = 1,
    TIMELINE_MAJOR_TYPE_TRACK = 2,
    TIMELINE_MAJOR_TYPE_SOURCE = 4,
    TIMELINE_MAJOR_TYPE_TRANSITION = 8,
    TIMELINE_MAJOR_TYPE_EFFECT = 16,
    TIMELINE_MAJOR_TYPE_GROUP = 128,
};

// Stretch modes of a source: how its picture is put into the group's frame.
inline constexpr int RESIZEF_STRETCH = 0;                         // fill the frame, distorted
inline constexpr int RESIZEF_CROP = 1;                            // unscaled, centred, cut
inline constexpr int RESIZEF_PRESERVEASPECTRATIO = 2;             // fit, black bars
inline constexpr int RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX = 3; // fill, edges cut

// Transition kinds the render engine draws.
// A bar wipe: the incoming picture enters from the left edge, its edge moving right.
inline constexpr Guid CLSID_DxtJpeg = MakeGuid("{DE75D012-7A65-11D2-8CEA-00A0C9441E20}");
// A cross dissolve.
inline constexpr Guid CLSID_CrossFade = MakeGuid("{0CFDD070-581A-11D2-9EE6-006008039E37}");

// The render engine's warning from ConnectFrontEnd: it has thrown away and rebuilt the
// group output pins it had made before, so the caller has to connect them again.
inline constexpr HRESULT S_WARN_OUTPUTRESET = 0x00009DD4;

class IAMTimelineObj;

class IAMTimeline : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{78530B74-61F9-11D2-8CAD-00A024580902}");

    // Frame rate of the groups that set none of their own; E_INVALIDARG unless > 0.
    virtual HRESULT SetDefaultFPS(double fps) = 0;
    virtual HRESULT GetDefaultFPS(double *fps) = 0;
    // A new node of one type; E_INVALIDARG for a type that is not a single node type
    // (effects and bare compositions are not made here), E_POINTER for a null slot.
    virtual HRESULT CreateEmptyNode(ComPtr<IAMTimelineObj> *node, TIMELINE_MAJOR_TYPE type) = 0;
    // Appends a group of this timeline; E_INVALIDARG for a node that is not a group, that
    // another timeline made, or that is already added.
    virtual HRESULT AddGroup(IAMTimelineObj *group) = 0;
    virtual HRESULT GetGroupCount(long *count) = 0;
    // The group at an index (in the order added); E_INVALIDARG when out of range.
    virtual HRESULT GetGroup(ComPtr<IAMTimelineObj> *group, long index) = 0;
    // End of the longest group: the latest stop time of any source or transition.
    virtual HRESULT GetDuration(ReferenceTime *duration) = 0;
};

// Every node has this interface.
class IAMTimelineObj : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{78530B77-61F9-11D2-8CAD-00A024580902}");

    // Timeline times of a source or transition. E_INVALIDARG when start < 0 or stop < start
    // (a zero-length node is allowed and plays no frame).
    virtual HRESULT SetStartStop(ReferenceTime start, ReferenceTime stop) = 0;
    virtual HRESULT GetStartStop(ReferenceTime *start, ReferenceTime *stop) = 0;
    // The class of the object behind the node (the transition's kind).
    virtual HRESULT SetSubObjectGUID(const Guid &clsid) = 0;
    virtual HRESULT GetSubObjectGUID(Guid *clsid) = 0;
    virtual HRESULT GetTimelineType(TIMELINE_MAJOR_TYPE *type) = 0;
};

// Groups. A group is also a composition (IAMTimelineComp).
class IAMTimelineGroup : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{9EED4F00-B8A6-11D2-8023-00C0DF10D434}");

    // Copies the type (the caller keeps and frees its format block). Accepted: video
    // RGB24 with FORMAT_VideoInfo, a format block of at least 88 bytes, positive width and
    // height (bottom-up) and 24 bits per pixel; or any audio type (the engine always
    // delivers 44.1 kHz 16-bit stereo PCM). E_POINTER for null, E_INVALIDARG otherwise.
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE *type) = 0;
    // E_UNEXPECTED while no type was set.
    virtual HRESULT GetMediaType(MediaType *type) = 0;
    // Frame rate of the group's output; E_INVALIDARG unless > 0.
    virtual HRESULT SetOutputFPS(double fps) = 0;
    virtual HRESULT GetOutputFPS(double *fps) = 0;
    virtual HRESULT SetPreviewMode(bool preview) = 0;
    virtual HRESULT GetPreviewMode(bool *preview) = 0;
};

class IAMTimelineComp : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{EAE58536-622E-11D2-8CAD-00A024580902}");

    // Inserts a track before the one at `priority`, or appends it with -1. E_INVALIDARG
    // for a node that is not a track of this timeline, a track already placed, or a
    // priority beyond the end.
    virtual HRESULT VTrackInsBefore(IAMTimelineObj *track, long priority) = 0;
    virtual HRESULT VTrackGetCount(long *count) = 0;
    // The track at a priority (0 = lowest); E_INVALIDARG when out of range.
    virtual HRESULT GetVTrack(ComPtr<IAMTimelineObj> *track, long priority) = 0;
};

class IAMTimelineTrack : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{EAE58538-622E-11D2-8CAD-00A024580902}");

    // Adds a source of this timeline that is on no track yet; E_INVALIDARG otherwise.
    virtual HRESULT SrcAdd(IAMTimelineObj *source) = 0;
    // The track's sources in the order added.
    virtual HRESULT GetSources(std::vector<ComPtr<IAMTimelineObj>> *sources) = 0;
};

class IAMTimelineTransable : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{378FA386-622E-11D2-8CAD-00A024580902}");

    // Adds a transition of this timeline that is on no track yet. E_INVALIDARG otherwise,
    // and when its span overlaps a transition already on the track.
    virtual HRESULT TransAdd(IAMTimelineObj *transition) = 0;
    virtual HRESULT GetTransitions(std::vector<ComPtr<IAMTimelineObj>> *transitions) = 0;
};

class IAMTimelineSrc : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{78530B79-61F9-11D2-8CAD-00A024580902}");

    // The part of the media file that the clip plays. E_INVALIDARG when start < 0 or
    // stop < start. A still photo ignores them; music plays from start on, one second of
    // media per second of timeline, and is silent past the end of the file.
    virtual HRESULT SetMediaTimes(ReferenceTime start, ReferenceTime stop) = 0;
    virtual HRESULT GetMediaTimes(ReferenceTime *start, ReferenceTime *stop) = 0;
    // Full path of the media file.
    virtual HRESULT SetMediaName(const QString &name) = 0;
    virtual HRESULT GetMediaName(QString *name) = 0;
    // One of the RESIZEF_ values; E_INVALIDARG otherwise.
    virtual HRESULT SetStretchMode(int mode) = 0;
    virtual HRESULT GetStretchMode(int *mode) = 0;
};

// Creates an empty timeline (what CreateInstance(CLSID_AMTimeline) gives).
ComPtr<IAMTimeline> CreateTimeline();

} // namespace engine
