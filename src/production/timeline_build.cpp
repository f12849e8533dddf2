// The slideshow's timeline: one video group in which every photo is a still clip on a
// track of its own, overlapping the next photo by one photo's time and optionally coming
// in through a transition; one audio group in which the music is laid end to end.

#include "app/main_dialog.h"

#include "engine/timeline/media_det.h"
#include "engine/timeline/timeline.h"
#include "platform/class_store.h"
#include "platform/file_system.h"
#include "platform/prompter.h"
#include "production/render_stage.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

using engine::IAMTimeline;
using engine::IAMTimelineObj;
using engine::IMediaDet;
using engine::ReferenceTime;
using platform::ComPtr;
using platform::Failed;
using production::Box;
using production::Order;
using production::StopStage;

namespace production {

FrameSize VideoGroupFrameSize(int videoWidth, int videoHeight, int sizeIndex, bool highQuality)
{
    if (!highQuality)
        return {videoWidth, videoHeight};
    if (sizeIndex == 1)
        return {videoWidth * 3 / 2, videoHeight * 3 / 2};
    return {videoWidth * 2, videoHeight * 2};
}

std::uint32_t Rgb24ImageSize(int width, int height)
{
    const std::uint32_t stride = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
    return stride * static_cast<std::uint32_t>(height);
}

std::int64_t TruncateToInt64(double value)
{
    if (std::isnan(value))
        return 0;
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr double kLimit = 9223372036854775808.0;
    if (value >= kLimit)
        return std::numeric_limits<std::int64_t>::max();
    if (value <= -kLimit)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

MovieLength
ComputeMovieLength(int photoCount, int secondsPerPhoto, double musicLength, bool playWholeMusic)
{
    MovieLength length;
    const std::int64_t v = (static_cast<std::int64_t>(photoCount) + 1) * secondsPerPhoto;
    const double m = musicLength;
    length.slideshowSeconds = v;
    length.musicSeconds = v;
    length.plays = 1;
    if (static_cast<double>(v) < m && playWholeMusic) {
        length.musicSeconds = TruncateToInt64(m);
    } else if (m < static_cast<double>(length.musicSeconds) && m > 0) {
        const double t = static_cast<double>(length.musicSeconds);
        std::int64_t plays = TruncateToInt64(t / m);
        if (static_cast<double>(plays) * m < t)
            ++plays;
        length.plays = plays;
        if (playWholeMusic)
            length.musicSeconds = TruncateToInt64(static_cast<double>(plays) * m);
    }
    return length;
}

} // namespace production

namespace {

// The two transition kinds, used in turn from the first photo on.
constexpr engine::Guid kTransitionKinds[2] = {engine::CLSID_DxtJpeg, engine::CLSID_CrossFade};

// Every timeline time is a whole number of 100 ns units.
ReferenceTime Units(std::int64_t seconds)
{
    return seconds * engine::kUnitsPerSecond;
}

// Why `path` cannot be the music: before it is opened (`refused` false) only what is not
// a regular file; once the detector has refused it, also an empty, unreadable or
// undecodable file. Empty when nothing is wrong.
QString WhyNotMusic(MainDialog &dialog, const QString &path, bool refused)
{
    const auto status = dialog.Services().fileSystem->Status(path);
    if (!status || (status->isLink && status->inode == 0))
        return QStringLiteral("there is no such file");
    if (status->isFolder)
        return QStringLiteral("it is a folder");
    if (!status->isRegularFile)
        return QStringLiteral("it is not a regular file (a FIFO, device or socket)");
    if (!refused)
        return QString();
    if (status->size == 0)
        return QStringLiteral("the file is empty");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("it cannot be read (%1)").arg(file.errorString());
    return QStringLiteral("it is not a sound file that can be decoded");
}

// Learns the music's length in seconds from the last audio stream of the first music
// file. Returns false after a reported failure (the window is idle again); a detector
// that cannot be made at all only costs the length, which stays 0.
bool LearnMusicLength(MainDialog &dialog, ComPtr<IMediaDet> &detector, double *musicLength)
{
    *musicLength = 0;
    detector = platform::CreateInstance<IMediaDet>(engine::CLSID_MediaDet);
    if (!detector) {
        dialog.Services().prompter->AppMessageBox(
            QStringLiteral("Could not create CLSID_MediaDet"));
        return true;
    }
    // Only a regular file is opened: a FIFO named like music would never answer.
    const QString music = dialog.m_musicFiles.first();
    QString why = WhyNotMusic(dialog, music, false);
    if (why.isEmpty() && Failed(detector->put_Filename(music)))
        why = WhyNotMusic(dialog, music, true);
    if (!why.isEmpty())
        return StopStage(dialog,
                         QStringLiteral("Failed to put filename\n%1: %2").arg(music, why),
                         Box::Application,
                         Order::IdleFirst);
    long streams = 0;
    if (Failed(detector->get_OutputStreams(&streams)))
        return StopStage(dialog,
                         QStringLiteral("Failed to get output streams"),
                         Box::Application,
                         Order::IdleFirst);
    for (long k = 0; k < streams; ++k) {
        if (Failed(detector->put_CurrentStream(k)))
            return StopStage(dialog,
                             QStringLiteral("Failed to put current stream"),
                             Box::Application,
                             Order::IdleFirst);
        engine::Guid majorType;
        if (Failed(detector->get_StreamType(&majorType)))
            return StopStage(dialog,
                             QStringLiteral("Failed to get stream type"),
                             Box::Application,
                             Order::IdleFirst);
        if (majorType == engine::MEDIATYPE_Audio) {
            // Not checked: a stream that cannot tell its length leaves the value as it was.
            double seconds = *musicLength;
            detector->get_StreamLength(&seconds);
            *musicLength = seconds;
        }
    }
    return true;
}

// The video group's media type: 24-bit RGB frames of the group's size, described by a
// zero-filled VIDEOINFOHEADER from the task allocator. The caller frees pbFormat.
bool BuildVideoMediaType(const production::FrameSize &size, engine::AM_MEDIA_TYPE *type)
{
    auto *block
        = static_cast<std::uint8_t *>(platform::CoTaskMemAlloc(sizeof(engine::VIDEOINFOHEADER)));
    if (!block)
        return false;
    std::memset(block, 0, sizeof(engine::VIDEOINFOHEADER));
    auto *info = reinterpret_cast<engine::VIDEOINFOHEADER *>(block);
    info->bmiHeader.biSize = sizeof(engine::BITMAPINFOHEADER);
    info->bmiHeader.biWidth = size.width;
    info->bmiHeader.biHeight = size.height;
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = 24;
    info->bmiHeader.biCompression = engine::BI_RGB;
    info->bmiHeader.biSizeImage = production::Rgb24ImageSize(size.width, size.height);

    type->majortype = engine::MEDIATYPE_Video;
    type->subtype = engine::MEDIASUBTYPE_RGB24;
    type->bFixedSizeSamples = true;
    type->bTemporalCompression = false;
    type->lSampleSize = info->bmiHeader.biSizeImage;
    type->formattype = engine::FORMAT_VideoInfo;
    type->pUnk = nullptr;
    type->cbFormat = sizeof(engine::VIDEOINFOHEADER);
    type->pbFormat = block;
    return true;
}

// Creates a track and appends it to the top of a group's composition.
enum class TrackResult { Made, NoNode, NotInserted };
TrackResult AppendTrack(IAMTimeline *timeline, IAMTimelineObj *group, ComPtr<IAMTimelineObj> *track)
{
    if (Failed(timeline->CreateEmptyNode(track, engine::TIMELINE_MAJOR_TYPE_TRACK)) || !*track)
        return TrackResult::NoNode;
    const auto composition = ComPtr<IAMTimelineObj>(group).As<engine::IAMTimelineComp>();
    if (!composition || Failed(composition->VTrackInsBefore(track->Get(), -1)))
        return TrackResult::NotInserted;
    return TrackResult::Made;
}

// The photo's source clip over [start, stop) of the timeline, showing mediaLength of the
// photo with its shape kept, added to its track. The failure's message, or empty.
QString AddPhotoSource(IAMTimeline *timeline,
                       const ComPtr<IAMTimelineObj> &track,
                       const QString &path,
                       ReferenceTime start,
                       ReferenceTime stop,
                       ReferenceTime mediaLength)
{
    ComPtr<IAMTimelineObj> sourceNode;
    if (Failed(timeline->CreateEmptyNode(&sourceNode, engine::TIMELINE_MAJOR_TYPE_SOURCE))
        || !sourceNode)
        return QStringLiteral("Could not create the timeline source");
    const auto source = sourceNode.As<engine::IAMTimelineSrc>();
    bool configured = static_cast<bool>(source);
    if (source) {
        configured = !Failed(sourceNode->SetStartStop(start, stop)) && configured;
        configured = !Failed(source->SetMediaTimes(0, mediaLength)) && configured;
        configured = !Failed(source->SetMediaName(path)) && configured;
    }
    if (!configured)
        return QStringLiteral("Could not configure media source");
    source->SetStretchMode(engine::RESIZEF_PRESERVEASPECTRATIO);

    const auto trackInterface = track.As<engine::IAMTimelineTrack>();
    if (!trackInterface || Failed(trackInterface->SrcAdd(sourceNode.Get())))
        return QStringLiteral("Could not add source to track");
    return QString();
}

// A transition of the given kind over [start, stop) on the photo's track. The failure's
// message, or empty.
QString AddTransition(IAMTimeline *timeline,
                      const ComPtr<IAMTimelineObj> &track,
                      const engine::Guid &kind,
                      ReferenceTime start,
                      ReferenceTime stop)
{
    ComPtr<IAMTimelineObj> transition;
    if (Failed(timeline->CreateEmptyNode(&transition, engine::TIMELINE_MAJOR_TYPE_TRANSITION))
        || !transition)
        return QStringLiteral("Could not create transition effect");
    bool placed = !Failed(transition->SetSubObjectGUID(kind));
    placed = !Failed(transition->SetStartStop(start, stop)) && placed;
    const auto transable = track.As<engine::IAMTimelineTransable>();
    placed = transable && !Failed(transable->TransAdd(transition.Get())) && placed;
    if (!placed)
        return QStringLiteral("Could not configure transition object");
    return QString();
}

// Photo clips, each on a track of its own, and their transitions (the two kinds in turn).
bool LayOutPhotos(MainDialog &dialog,
                  IAMTimeline *timeline,
                  IAMTimelineObj *videoGroup,
                  const production::MovieLength &length)
{
    const std::int64_t s = dialog.m_secondsPerPhoto;
    const qsizetype photoCount = dialog.m_photoPaths.size();
    ReferenceTime start = 0;
    ReferenceTime stop = Units(2 * s);
    ReferenceTime mediaLength = Units(2 * s);
    ReferenceTime transitionStart = 0;
    int kind = 0;
    auto fail = [&dialog](const QString &text) {
        return StopStage(dialog, text, Box::Error, Order::IdleFirst);
    };

    for (qsizetype i = 0; i < photoCount; ++i) {
        ComPtr<IAMTimelineObj> track;
        switch (AppendTrack(timeline, videoGroup, &track)) {
        case TrackResult::NoNode:
            return fail(QStringLiteral("Could not create empty track"));
        case TrackResult::NotInserted:
            return fail(QStringLiteral("Could not insert track"));
        case TrackResult::Made:
            break;
        }
        if (i == photoCount - 1) {
            // The last photo stays until one photo's time after the music part ends.
            stop = Units(length.musicSeconds + s);
            mediaLength = stop - start;
        }
        const QString &path = dialog.m_photoPaths.at(i);
        if (const QString failure = AddPhotoSource(timeline, track, path, start, stop, mediaLength);
            !failure.isEmpty())
            return fail(failure);
        if (dialog.m_addMotionEffect) {
            if (const QString failure = AddTransition(timeline,
                                                      track,
                                                      kTransitionKinds[kind],
                                                      transitionStart,
                                                      transitionStart + Units(s));
                !failure.isEmpty())
                return fail(failure);
            kind = 1 - kind;
            transitionStart += Units(s);
        }
        start += Units(s);
        stop += Units(s);
    }
    return true;
}

// The music, laid end to end: one play cut at the movie's end, or up to kMaxMusicPlays
// whole plays of which the last is cut there. The calls' results are not looked at; a
// refused call shows when the graph is built or run. Only a node that cannot be made at
// all stops the stage, since there would be nothing to lay out.
bool LayOutMusic(MainDialog &dialog,
                 IAMTimeline *timeline,
                 const production::MovieLength &length,
                 double musicLength)
{
    ComPtr<IAMTimelineObj> audioGroup;
    timeline->CreateEmptyNode(&audioGroup, engine::TIMELINE_MAJOR_TYPE_GROUP);
    if (!audioGroup)
        return StopStage(
            dialog, QStringLiteral("Could not create empty node"), Box::Error, Order::IdleFirst);
    if (const auto group = audioGroup.As<engine::IAMTimelineGroup>()) {
        engine::AM_MEDIA_TYPE audioType;
        audioType.majortype = engine::MEDIATYPE_Audio;
        audioType.bFixedSizeSamples = true;
        audioType.lSampleSize = 1;
        group->SetMediaType(&audioType);
        group->SetOutputFPS(dialog.m_frameRate);
    }
    timeline->AddGroup(audioGroup.Get());

    const QString &music = dialog.m_musicFiles.first();
    const double playUnits = musicLength * static_cast<double>(engine::kUnitsPerSecond);
    const ReferenceTime end = Units(length.musicSeconds);
    const std::int64_t plays = std::min(length.plays, production::kMaxMusicPlays);
    ReferenceTime start = 0;
    ReferenceTime stop = production::TruncateToInt64(playUnits);

    for (std::int64_t j = 0; j < plays; ++j) {
        if (plays == 1)
            stop = end;
        ComPtr<IAMTimelineObj> track;
        if (AppendTrack(timeline, audioGroup.Get(), &track) == TrackResult::NoNode)
            return StopStage(dialog,
                             QStringLiteral("Could not create empty track"),
                             Box::Error,
                             Order::IdleFirst);
        ComPtr<IAMTimelineObj> sourceNode;
        timeline->CreateEmptyNode(&sourceNode, engine::TIMELINE_MAJOR_TYPE_SOURCE);
        if (!sourceNode)
            return StopStage(dialog,
                             QStringLiteral("Could not create the timeline source"),
                             Box::Error,
                             Order::IdleFirst);
        ReferenceTime mediaLength = plays >= 2 ? production::TruncateToInt64(playUnits) : end;
        if (j == plays - 1 && j > 0) {
            stop = end;
            mediaLength = stop - start;
        }
        sourceNode->SetStartStop(start, stop);
        if (const auto source = sourceNode.As<engine::IAMTimelineSrc>()) {
            source->SetMediaName(music);
            source->SetMediaTimes(0, mediaLength);
        }
        if (const auto trackInterface = track.As<engine::IAMTimelineTrack>())
            trackInterface->SrcAdd(sourceNode.Get());
        start = production::TruncateToInt64(static_cast<double>(start) + playUnits);
        stop = production::TruncateToInt64(static_cast<double>(stop) + playUnits);
    }
    return true;
}

// The video group with its media type (the frame size of the settings, RGB24, the frame
// rate, preview mode); empty after a reported failure, with the window idle again.
ComPtr<IAMTimelineObj> CreateVideoGroup(MainDialog &dialog, IAMTimeline *timeline)
{
    ComPtr<IAMTimelineObj> videoGroup;
    if (Failed(timeline->CreateEmptyNode(&videoGroup, engine::TIMELINE_MAJOR_TYPE_GROUP))
        || !videoGroup) {
        StopStage(
            dialog, QStringLiteral("Could not create empty node"), Box::Error, Order::MessageFirst);
        return nullptr;
    }
    const production::FrameSize frame = production::VideoGroupFrameSize(
        dialog.m_videoWidth, dialog.m_videoHeight, dialog.m_sizeIndex, dialog.m_highQuality);
    engine::AM_MEDIA_TYPE videoType;
    if (!BuildVideoMediaType(frame, &videoType)) {
        dialog.SetIdle(true);
        return nullptr;
    }
    bool typed = false;
    if (const auto group = videoGroup.As<engine::IAMTimelineGroup>()) {
        // All three are tried whatever the one before said.
        typed = !Failed(group->SetMediaType(&videoType));
        typed = !Failed(group->SetOutputFPS(dialog.m_frameRate)) && typed;
        typed = !Failed(group->SetPreviewMode(true)) && typed;
    }
    // The group keeps a copy of the type.
    platform::CoTaskMemFree(videoType.pbFormat);
    videoType.pbFormat = nullptr;
    if (!typed) {
        StopStage(dialog, QStringLiteral("Could not set media type"), Box::Error, Order::IdleFirst);
        return nullptr;
    }
    return videoGroup;
}

} // namespace

namespace production {

bool BuildSlideshowTimeline(MainDialog &dialog,
                            ComPtr<IAMTimeline> &timeline,
                            ComPtr<IMediaDet> &detector)
{
    // The timeline at the settings' frame rate.
    timeline = platform::CreateInstance<IAMTimeline>(engine::CLSID_AMTimeline);
    if (!timeline)
        return StopStage(
            dialog, QStringLiteral("Could not create timeline"), Box::Error, Order::IdleFirst);
    timeline->SetDefaultFPS(dialog.m_frameRate);

    // The video group and its media type.
    const ComPtr<IAMTimelineObj> videoGroup = CreateVideoGroup(dialog, timeline.Get());
    if (!videoGroup)
        return false;

    // The first step of the bar shows that the run has begun.
    dialog.SetProgress(1);
    dialog.UpdateData(false);

    // The video group goes first into the timeline.
    if (Failed(timeline->AddGroup(videoGroup.Get())))
        return StopStage(
            dialog, QStringLiteral("Could not add video group"), Box::Error, Order::MessageFirst);

    // The music's length, and from it the movie's length and the plays of the music.
    double musicLength = 0;
    if (!LearnMusicLength(dialog, detector, &musicLength))
        return false;
    const production::MovieLength length
        = production::ComputeMovieLength(static_cast<int>(dialog.m_photoPaths.size()),
                                         dialog.m_secondsPerPhoto,
                                         musicLength,
                                         dialog.m_playWholeMusic);

    // Each photo in turn on the video group, then the music laid end to end.
    if (!LayOutPhotos(dialog, timeline.Get(), videoGroup.Get(), length))
        return false;
    if (!LayOutMusic(dialog, timeline.Get(), length, musicLength))
        return false;

    // A movie of no length (no seconds per photo and no music to play to its end) would
    // make an empty file that the conversion cannot use; say so instead.
    ReferenceTime duration = 0;
    timeline->GetDuration(&duration);
    if (duration <= 0)
        return StopStage(dialog,
                         QStringLiteral("The movie would be zero seconds long. Please show each "
                                        "photo for at least one second."),
                         Box::Error,
                         Order::IdleFirst);
    return true;
}

} // namespace production
