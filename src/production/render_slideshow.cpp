// The production stage: from the photo list and the music to the temporary AVI. It checks
// that there is something to make, picks the video compressor, turns the window busy,
// builds the timeline (timeline_build.cpp) and renders it through the compression graph
// (render_graph.cpp). Every failure is reported, returns the window to idle and gives
// false; every object the stage made is released on the way out.

#include "app/main_dialog.h"

#include "engine/timeline/media_det.h"
#include "engine/timeline/timeline.h"
#include "platform/prompter.h"
#include "production/render_stage.h"

namespace production {

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
