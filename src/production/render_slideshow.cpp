// The production stage: from the photo list and the music to the temporary AVI. It checks
// that there is something to make, picks the video compressor, turns the window busy,
// builds the timeline (timeline_build.cpp) and renders it through the compression graph
// (render_graph.cpp). Every failure is reported, returns the window to idle and gives
// false; every object the stage made is released on the way out.

#include "app/main_dialog.h"

#include "engine/render/photo_frame.h"
#include "engine/timeline/media_det.h"
#include "engine/timeline/timeline.h"
#include "platform/prompter.h"
#include "production/render_stage.h"

namespace production {

QStringList UndecodablePhotos(MainDialog &dialog)
{
    // Decoded as the render decodes them, into a tiny frame: a large JPEG is then read at
    // an eighth of its size, which is quick.
    constexpr int kProbeSize = 16;
    QStringList unreadable;
    for (const QString &photo : dialog.m_photoPaths) {
        bool decoded = false;
        engine::MakePhotoFrame(
            photo, engine::RESIZEF_STRETCH, kProbeSize, kProbeSize, nullptr, &decoded);
        if (!decoded)
            unreadable << photo;
        dialog.PumpWaitingMessages();
    }
    return unreadable;
}

bool StopStage(MainDialog &dialog, const QString &text, Box box, Order order)
{
    if (order == Order::IdleFirst)
        dialog.SetIdle(true);
    if (box == Box::Error)
        dialog.ShowError(text);
    else
        dialog.Services().prompter->AppMessageBox(text);
    if (order == Order::MessageFirst)
        dialog.SetIdle(true);
    return false;
}

} // namespace production

bool MainDialog::RenderSlideshowToAvi()
{
    // Nothing has changed yet when these stop the run.
    if (m_musicFiles.isEmpty()) {
        m_services.prompter->AppMessageBox(QStringLiteral("Please select a background music."));
        return false;
    }
    if (m_photoPaths.isEmpty()) {
        m_services.prompter->AppMessageBox(QStringLiteral("Please select photos before starting."));
        return false;
    }
    // A photo that cannot be decoded shows as black; a show of nothing but black is no
    // movie, and must not replace one.
    m_unreadablePhotos = production::UndecodablePhotos(*this);
    if (m_unreadablePhotos.size() == m_photoPaths.size()) {
        m_services.prompter->AppMessageBox(
            QStringLiteral("Failed to create the movie.\nNone of the photos can be read: %1 "
                           "cannot be decoded.")
                .arg(m_unreadablePhotos.first()));
        return false;
    }

    // The video compressor. Without one the capture library may only need registering;
    // a run that still has none stops once the graph is assembled. The user has answered
    // the installer question already; the second try does not ask it again.
    platform::ComPtr<engine::IBaseFilter> compressor;
    if (!ChooseVideoCompressor(compressor)) {
        if (RegisterServerInProcess(QStringLiteral("qcap.dll")))
            ChooseVideoCompressor(compressor, false);
    }

    // From here on the window is busy: every way out returns it to idle.
    SetIdle(false);

    // The detector keeps the music file open until the stage ends.
    platform::ComPtr<engine::IAMTimeline> timeline;
    platform::ComPtr<engine::IMediaDet> detector;
    if (!production::BuildSlideshowTimeline(*this, timeline, detector))
        return false;

    return production::RenderTimelineToAvi(*this, timeline.Get(), compressor);
}
