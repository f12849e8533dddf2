// The compression graph: the render engine turns the timeline into one output pin per
// group; the video passes through a sample grabber and the chosen compressor, the audio
// through a second grabber and, for music that is not MPEG audio, the audio compressor,
// into the AVI multiplexer and the file writer on the temporary AVI. The graph then runs
// while the window waits for it in short slices, keeping itself responsive and moving the
// progress bar.

#include "app/main_dialog.h"

#include "engine/avi_mux.h"
#include "engine/capture_graph.h"
#include "engine/media_control.h"
#include "engine/render_engine.h"
#include "engine/sample_grabber.h"
#include "engine/timeline.h"
#include "platform/class_store.h"
#include "platform/prompter.h"
#include "production/render_stage.h"

#include <QProgressBar>

using engine::IBaseFilter;
using engine::IPin;
using engine::PinDirection;
using engine::ReferenceTime;
using platform::ComPtr;
using platform::Failed;
using production::Box;
using production::Order;

namespace {

const QString kMessageCompressorNotAdded = QStringLiteral(
    "Could not add selected compressor to the graph.\r\n\r\nThe input file format may not be "
    "compatible with the selected encoder.\r\nSome encoders (like Windows Media encoders or "
    "DRM-enabled encoders)\r\ncannot be used without appropriate licensing.");
const QString kMessageVideoToCompressor = QStringLiteral(
    "Could not connect video to selected compressor.\r\n\r\nThe input file format may not be "
    "compatible with the\r\nselected encoder.  Not all encoders are compatible.");
const QString kMessageCompressorToMux = QStringLiteral(
    "Could not connect compressor to mux.\r\n\r\nThe selected compressor may not be compatible "
    "with this content.\r\nSome encoders (like Windows Media encoders or DRM-enabled "
    "encoders)\r\ncannot be used without appropriate licensing.");
const QString kMessageNoDuration = QStringLiteral(
    "Could not get the duration of the source file.\r\n\r\nRecompression should work properly, "
    "but the\r\nprogress bar will not exactly track compression progress.");

// The length the progress is measured against when the graph cannot tell its own.
constexpr ReferenceTime kAssumedDuration = 20 * engine::kUnitsPerSecond;
constexpr ReferenceTime kInterleaveTime = engine::kUnitsPerSecond;
constexpr long kWaitSliceMs = 100;
constexpr double kProgressCap = 80;

// The n-th pin of one direction, counted from 0 in the filter's own pin order.
ComPtr<IPin> FindPin(IBaseFilter *filter, PinDirection direction, int n)
{
    if (!filter)
        return nullptr;
    for (const ComPtr<IPin> &pin : filter->EnumPins()) {
        if (pin && pin->QueryDirection() == direction && n-- == 0)
            return pin;
    }
    return nullptr;
}

bool ConnectPins(engine::IGraphBuilder *graph, IPin *out, IPin *in)
{
    return out && in && !Failed(graph->Connect(out, in));
}

// A failed step: the window back to idle, then the application box.
bool Stop(MainDialog &dialog, const QString &text)
{
    return production::StopStage(dialog, text, Box::Application, Order::IdleFirst);
}

// The failure that aborted the run, from the graph's EC_ERRORABORT event, told the user.
QString WhyStreamingFailed(engine::IMediaEvent *events, const QString &path)
{
    long code = 0;
    std::intptr_t result = 0;
    std::intptr_t unused = 0;
    while (events->GetEvent(&code, &result, &unused, 0) == platform::S_OK) {
        if (code == engine::EC_ERRORABORT)
            break;
    }
    if (code == engine::EC_ERRORABORT && result == engine::E_DISK_FULL)
        return QStringLiteral("The disk is full: %1 could not be written.").arg(path);
    return QStringLiteral("The render stopped before %1 was complete.").arg(path);
}

} // namespace

namespace production {

bool RenderTimelineToAvi(MainDialog &dialog,
                         engine::IAMTimeline *timeline,
                         ComPtr<IBaseFilter> &compressor)
{
    // The render engine and the graph it builds. Their results are not looked at: a call
    // that went wrong shows up at a later step with that step's message.
    const auto renderEngine
        = platform::CreateInstance<engine::IRenderEngine>(engine::CLSID_RenderEngine);
    ComPtr<engine::IGraphBuilder> graph;
    ComPtr<engine::ICaptureGraphBuilder2> builder;
    ComPtr<engine::IMediaControl> control;
    if (renderEngine) {
        renderEngine->SetTimelineObject(timeline);
        if (const auto engine2 = renderEngine.As<engine::IRenderEngine2>())
            engine2->SetResizerGUID(engine::CLSID_VantorelResizer);
        if (renderEngine->ConnectFrontEnd() == engine::S_WARN_OUTPUTRESET) {
            renderEngine->SetTimelineObject(timeline);
            renderEngine->ConnectFrontEnd();
        }
        renderEngine->GetFilterGraph(&graph);
        builder = platform::CreateInstance<engine::ICaptureGraphBuilder2>(
            engine::CLSID_CaptureGraphBuilder2);
        if (builder && graph)
            builder->SetFiltergraph(graph.Get());
        control = graph.As<engine::IMediaControl>();
    }
    // Without these objects there is no graph to speak of.
    if (!renderEngine || !graph || !builder || !control)
        return Stop(dialog, QStringLiteral("Could not build the compression graph"));

    // ---- The video chain.
    ComPtr<IBaseFilter> videoGrabber
        = platform::CreateInstance<IBaseFilter>(engine::CLSID_SampleGrabber);
    if (!videoGrabber)
        return Stop(dialog, QStringLiteral("Could not create SampleGrabber."));
    {
        engine::AM_MEDIA_TYPE type;
        type.majortype = engine::MEDIATYPE_Video;
        type.subtype = engine::MEDIASUBTYPE_RGB24;
        const auto grabber = videoGrabber.As<engine::ISampleGrabber>();
        if (!grabber || Failed(grabber->SetMediaType(&type)))
            return Stop(dialog, QStringLiteral("Could not set sample grabber's media type"));
    }
    ComPtr<IBaseFilter> mux;
    ComPtr<engine::IFileSinkFilter> sink;
    if (Failed(builder->SetOutputFileName(
            engine::MEDIASUBTYPE_Avi, dialog.m_tempAviPath, mux.Put(), sink.Put()))
        || !mux)
        return Stop(dialog, QStringLiteral("Cannot set up MUX and File Writer"));
    if (Failed(graph->AddFilter(videoGrabber.Get(), QStringLiteral("VideoGrabber"))))
        return Stop(dialog, QStringLiteral("Could not add VideoGrabber to the graph"));
    if (!compressor)
        return StopStage(dialog,
                         QStringLiteral("Vantorel will use the windows movie codec. "
                                        "Please install the Windows Media Player 11 "
                                        "or later."),
                         Box::Application,
                         Order::MessageFirst);
    if (Failed(graph->AddFilter(compressor.Get(), QStringLiteral("Compressor"))))
        return Stop(dialog, kMessageCompressorNotAdded);

    // The first group that yields an output pin is taken for the video.
    long groups = 0;
    timeline->GetGroupCount(&groups);
    ComPtr<IPin> sourcePin;
    for (long g = 0; g < groups && !sourcePin; ++g) {
        ComPtr<IPin> pin;
        if (renderEngine->GetGroupOutputPin(g, &pin) == platform::S_OK && pin)
            sourcePin = pin;
    }
    if (!sourcePin)
        return Stop(dialog, QStringLiteral("Failed to find the source pin"));

    const ComPtr<IPin> grabberIn = FindPin(videoGrabber.Get(), PinDirection::Input, 0);
    const ComPtr<IPin> grabberOut = FindPin(videoGrabber.Get(), PinDirection::Output, 0);
    const ComPtr<IPin> compressorIn = FindPin(compressor.Get(), PinDirection::Input, 0);
    const ComPtr<IPin> compressorOut = FindPin(compressor.Get(), PinDirection::Output, 0);
    const ComPtr<IPin> muxVideoIn = FindPin(mux.Get(), PinDirection::Input, 0);
    if (!ConnectPins(graph.Get(), sourcePin.Get(), grabberIn.Get()))
        return Stop(dialog, QStringLiteral("Cannot connect up video chain"));
    if (!ConnectPins(graph.Get(), grabberOut.Get(), compressorIn.Get()))
        return Stop(dialog, kMessageVideoToCompressor);
    if (!ConnectPins(graph.Get(), compressorOut.Get(), muxVideoIn.Get()))
        return Stop(dialog, kMessageCompressorToMux);

    // ---- The audio chain, when the timeline has an audio group that yields a pin.
    ComPtr<IPin> audioPin;
    if (groups > 1) {
        if (renderEngine->GetGroupOutputPin(1, &audioPin) != platform::S_OK)
            return Stop(dialog, QStringLiteral("Cannot connect up audio chain"));
    }
    ComPtr<IBaseFilter> audioGrabber;
    ComPtr<IBaseFilter> audioCompressor;
    if (audioPin) {
        audioGrabber = platform::CreateInstance<IBaseFilter>(engine::CLSID_SampleGrabber);
        if (!audioGrabber)
            return Stop(dialog, QStringLiteral("Could not create SampleGrabber from Qedit.dll"));
        if (const auto grabber = audioGrabber.As<engine::ISampleGrabber>()) {
            engine::AM_MEDIA_TYPE type;
            type.majortype = engine::MEDIATYPE_Audio;
            grabber->SetMediaType(&type);
        }
        if (Failed(graph->AddFilter(audioGrabber.Get(), QStringLiteral("AudioGrabber"))))
            return Stop(dialog, QStringLiteral("Could not add audio filter to graph"));

        if (dialog.m_compressAudio) {
            if (!dialog.FindAudioCompressor(audioCompressor)) {
                const auto answer = dialog.Services().prompter->MessageBox(
                    &dialog,
                    QStringLiteral("The audio file can't be compressed. Continue?"),
                    QString(),
                    platform::MessageButtons::OkCancel,
                    platform::MessageIcon::None);
                if (answer != platform::MessageResult::Ok) {
                    dialog.SetIdle(true);
                    return false;
                }
                // For the rest of the program's run the soundtrack goes in uncompressed.
                dialog.m_compressAudio = 0;
            }
            if (dialog.m_compressAudio
                && Failed(
                    graph->AddFilter(audioCompressor.Get(), QStringLiteral("CompressorAudio"))))
                return Stop(dialog, kMessageCompressorNotAdded);
        }

        const ComPtr<IPin> audioCompressorIn
            = FindPin(audioCompressor.Get(), PinDirection::Input, 0);
        const ComPtr<IPin> audioCompressorOut
            = FindPin(audioCompressor.Get(), PinDirection::Output, 0);
        const ComPtr<IPin> audioGrabberIn = FindPin(audioGrabber.Get(), PinDirection::Input, 0);
        if (!ConnectPins(graph.Get(), audioPin.Get(), audioGrabberIn.Get()))
            return Stop(dialog, QStringLiteral("Could not connect audio source to grabber"));
        const ComPtr<IPin> audioGrabberOut = FindPin(audioGrabber.Get(), PinDirection::Output, 0);
        // The multiplexer offers its second input once the first is connected.
        const ComPtr<IPin> muxAudioIn = FindPin(mux.Get(), PinDirection::Input, 1);

        // MPEG audio goes in as it is; anything else through the audio compressor.
        const int kind = dialog.GetAudioFileKind(QString());
        bool connected = false;
        if (dialog.m_compressAudio && kind != 3) {
            ConnectPins(graph.Get(), audioGrabberOut.Get(), audioCompressorIn.Get());
            connected = ConnectPins(graph.Get(), audioCompressorOut.Get(), muxAudioIn.Get());
        } else {
            connected = ConnectPins(graph.Get(), audioGrabberOut.Get(), muxAudioIn.Get());
        }
        if (!connected)
            return Stop(dialog, QStringLiteral("Could not connect audio to mux"));
    }

    // ---- Seeking and interleaving.
    const auto seeking = graph.As<engine::IMediaSeeking>();
    const auto events = graph.As<engine::IMediaEvent>();
    std::uint32_t capabilities = 0;
    if (!seeking || !events || Failed(seeking->GetCapabilities(&capabilities)))
        return Stop(dialog, QStringLiteral("Could not read input file seeking capabilities"));
    ReferenceTime duration = 0;
    seeking->GetDuration(&duration);
    if (duration == 0) {
        dialog.Services().prompter->AppMessageBox(kMessageNoDuration);
        duration = kAssumedDuration;
    }
    const auto interleaving = mux.As<engine::IConfigInterleaving>();
    if (!interleaving || Failed(interleaving->put_Mode(engine::INTERLEAVE_FULL)))
        return Stop(dialog, QStringLiteral("Could not set interleaving mode"));
    if (Failed(interleaving->put_Interleaving(&kInterleaveTime, &kInterleaveTime)))
        return Stop(dialog, QStringLiteral("Could not put interleave time"));

    // ---- Run and wait.
    if (Failed(control->Run()))
        return Stop(dialog, QStringLiteral("Could not run compression graph"));
    dialog.SetIdle(false);
    const double divisor = production::ProgressDivisor(dialog.m_musicFiles.value(0));
    long eventCode = 0;
    do {
        const platform::HRESULT waited = events->WaitForCompletion(kWaitSliceMs, &eventCode);
        dialog.PumpWaitingMessages();
        if (dialog.m_stopRequested)
            break;
        // A graph that is no longer running will never complete; stop waiting for it.
        if (eventCode == 0 && Failed(waited) && waited != platform::E_ABORT)
            break;
        ReferenceTime position = 0;
        seeking->GetCurrentPosition(&position);
        double progress
            = static_cast<double>(position) * 100.0 / static_cast<double>(duration) / divisor;
        if (progress >= kProgressCap)
            progress = kProgressCap;
        if (!(progress > 0))
            progress = 0;
        dialog.m_progress->setValue(static_cast<int>(progress));
    } while (eventCode == 0);

    control->Stop();
    // A graph that failed while streaming (the disk filled up, an encoder gave up) has
    // left an unfinished file: converting it would report a cut-off movie as a success.
    if (eventCode == engine::EC_ERRORABORT && !dialog.m_stopRequested)
        return Stop(dialog,
                    QStringLiteral("Could not run compression graph") + u'\n'
                        + WhyStreamingFailed(events.Get(), dialog.m_tempAviPath));
    return true;
}

} // namespace production
