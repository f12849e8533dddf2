// The compression graph: the render engine turns the timeline into one output pin per
// group; the video passes through a sample grabber and the chosen compressor, the audio
// through a second grabber and, for music that is not MPEG audio, the audio compressor,
// into the AVI multiplexer and the file writer on the temporary AVI. The graph then runs
// while the window waits for it in short slices, keeping itself responsive and moving the
// progress bar.

#include "app/main_dialog.h"

#include "engine/codecs/avi_mux.h"
#include "engine/graph/capture_graph.h"
#include "engine/graph/media_control.h"
#include "engine/graph/sample_grabber.h"
#include "engine/library_log.h"
#include "engine/render/render_engine.h"
#include "engine/timeline/timeline.h"
#include "platform/class_store.h"
#include "platform/prompter.h"
#include "production/render_stage.h"

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

// The objects of one compression graph, gathered as its steps make them.
struct CompressionGraph
{
    ComPtr<engine::IRenderEngine> renderEngine;
    ComPtr<engine::IGraphBuilder> graph;
    ComPtr<engine::ICaptureGraphBuilder2> builder;
    ComPtr<engine::IMediaControl> control;
    ComPtr<IBaseFilter> mux;
    ComPtr<engine::IFileSinkFilter> sink;
    ComPtr<engine::IMediaSeeking> seeking;
    ComPtr<engine::IMediaEvent> events;
    long groups = 0;
    ReferenceTime duration = 0;
    bool durationKnown = false; // not an assumed one
};

// A call whose result the graph's build does not act on: a failure is only noted in the
// debug log, so that a user's report carries the reason a later step then gives up.
void Note(platform::HRESULT result, const char *call)
{
    if (Failed(result))
        engine::DebugLog(QStringLiteral("building the graph: %1 failed (0x%2)")
                             .arg(QLatin1String(call))
                             .arg(static_cast<std::uint32_t>(result), 8, 16, QLatin1Char('0')));
}

// Builds the render engine over the timeline and the graph it makes. The calls' results
// are not acted on (only noted): a call that went wrong shows up at a later step with
// that step's message.
bool BuildGraph(MainDialog &dialog, engine::IAMTimeline *timeline, CompressionGraph &g)
{
    g.renderEngine = platform::CreateInstance<engine::IRenderEngine>(engine::CLSID_RenderEngine);
    if (g.renderEngine) {
        Note(g.renderEngine->SetTimelineObject(timeline), "SetTimelineObject");
        if (const auto engine2 = g.renderEngine.As<engine::IRenderEngine2>())
            Note(engine2->SetResizerGUID(engine::CLSID_VantorelResizer), "SetResizerGUID");
        platform::HRESULT connected = g.renderEngine->ConnectFrontEnd();
        if (connected == engine::S_WARN_OUTPUTRESET) {
            Note(g.renderEngine->SetTimelineObject(timeline), "SetTimelineObject");
            connected = g.renderEngine->ConnectFrontEnd();
        }
        Note(connected, "ConnectFrontEnd");
        Note(g.renderEngine->GetFilterGraph(&g.graph), "GetFilterGraph");
        g.builder = platform::CreateInstance<engine::ICaptureGraphBuilder2>(
            engine::CLSID_CaptureGraphBuilder2);
        if (g.builder && g.graph)
            Note(g.builder->SetFiltergraph(g.graph.Get()), "SetFiltergraph");
        g.control = g.graph.As<engine::IMediaControl>();
    }
    // Without these objects there is no graph to speak of.
    if (!g.renderEngine || !g.graph || !g.builder || !g.control) {
        engine::DebugLog(QStringLiteral("building the graph: engine %1, graph %2, builder %3, "
                                        "control %4")
                             .arg(bool(g.renderEngine))
                             .arg(bool(g.graph))
                             .arg(bool(g.builder))
                             .arg(bool(g.control)));
        return Stop(dialog, QStringLiteral("Could not build the compression graph"));
    }
    return true;
}

// The video grabber (RGB24), the multiplexer and file writer on the temporary AVI, and
// the chosen video compressor, all in the graph.
bool AddVideoFilters(MainDialog &dialog,
                     CompressionGraph &g,
                     const ComPtr<IBaseFilter> &videoGrabber,
                     const ComPtr<IBaseFilter> &compressor)
{
    if (!videoGrabber)
        return Stop(dialog, QStringLiteral("Could not create SampleGrabber."));
    engine::AM_MEDIA_TYPE type;
    type.majortype = engine::MEDIATYPE_Video;
    type.subtype = engine::MEDIASUBTYPE_RGB24;
    const auto grabber = videoGrabber.As<engine::ISampleGrabber>();
    if (!grabber || Failed(grabber->SetMediaType(&type)))
        return Stop(dialog, QStringLiteral("Could not set sample grabber's media type"));
    if (Failed(g.builder->SetOutputFileName(
            engine::MEDIASUBTYPE_Avi, dialog.m_tempAviPath, g.mux.Put(), g.sink.Put()))
        || !g.mux)
        return Stop(dialog, QStringLiteral("Cannot set up MUX and File Writer"));
    if (Failed(g.graph->AddFilter(videoGrabber.Get(), QStringLiteral("VideoGrabber"))))
        return Stop(dialog, QStringLiteral("Could not add VideoGrabber to the graph"));
    if (!compressor)
        return StopStage(dialog,
                         QStringLiteral("Vantorel will use the windows movie codec. "
                                        "Please install the Windows Media Player 11 "
                                        "or later."),
                         Box::Application,
                         Order::MessageFirst);
    if (Failed(g.graph->AddFilter(compressor.Get(), QStringLiteral("Compressor"))))
        return Stop(dialog, kMessageCompressorNotAdded);
    return true;
}

// Source pin -> video grabber -> compressor -> the multiplexer's first input. The first
// group that yields an output pin is taken for the video.
bool ConnectVideoChain(MainDialog &dialog,
                       engine::IAMTimeline *timeline,
                       CompressionGraph &g,
                       IBaseFilter *videoGrabber,
                       IBaseFilter *compressor)
{
    timeline->GetGroupCount(&g.groups);
    ComPtr<IPin> sourcePin;
    for (long group = 0; group < g.groups && !sourcePin; ++group) {
        ComPtr<IPin> pin;
        if (g.renderEngine->GetGroupOutputPin(group, &pin) == platform::S_OK && pin)
            sourcePin = pin;
    }
    if (!sourcePin)
        return Stop(dialog, QStringLiteral("Failed to find the source pin"));

    engine::IGraphBuilder *graph = g.graph.Get();
    if (!ConnectPins(graph, sourcePin.Get(), FindPin(videoGrabber, PinDirection::Input, 0).Get()))
        return Stop(dialog, QStringLiteral("Cannot connect up video chain"));
    if (!ConnectPins(graph,
                     FindPin(videoGrabber, PinDirection::Output, 0).Get(),
                     FindPin(compressor, PinDirection::Input, 0).Get()))
        return Stop(dialog, kMessageVideoToCompressor);
    if (!ConnectPins(graph,
                     FindPin(compressor, PinDirection::Output, 0).Get(),
                     FindPin(g.mux.Get(), PinDirection::Input, 0).Get()))
        return Stop(dialog, kMessageCompressorToMux);
    return true;
}

// Chooses the audio compressor when the soundtrack is to be compressed and adds it to the
// graph. Without one the user may go on with the soundtrack uncompressed (for the rest of
// the program's run) or stop.
bool ChooseAudioCompressor(MainDialog &dialog,
                           CompressionGraph &g,
                           ComPtr<IBaseFilter> &audioCompressor)
{
    if (!dialog.m_compressAudio)
        return true;
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
        dialog.m_compressAudio = 0;
    }
    if (dialog.m_compressAudio
        && Failed(g.graph->AddFilter(audioCompressor.Get(), QStringLiteral("CompressorAudio"))))
        return Stop(dialog, kMessageCompressorNotAdded);
    return true;
}

// Audio pin -> audio grabber -> (audio compressor) -> the multiplexer's second input.
// MPEG audio goes in as it is; anything else through the audio compressor.
bool ConnectAudioChain(MainDialog &dialog,
                       CompressionGraph &g,
                       IPin *audioPin,
                       IBaseFilter *audioGrabber,
                       IBaseFilter *audioCompressor)
{
    engine::IGraphBuilder *graph = g.graph.Get();
    if (!ConnectPins(graph, audioPin, FindPin(audioGrabber, PinDirection::Input, 0).Get()))
        return Stop(dialog, QStringLiteral("Could not connect audio source to grabber"));
    const ComPtr<IPin> audioGrabberOut = FindPin(audioGrabber, PinDirection::Output, 0);
    // The multiplexer offers its second input once the first is connected.
    const ComPtr<IPin> muxAudioIn = FindPin(g.mux.Get(), PinDirection::Input, 1);
    bool connected = false;
    if (dialog.m_compressAudio && dialog.GetAudioFileKind(QString()) != 3) {
        ConnectPins(
            graph, audioGrabberOut.Get(), FindPin(audioCompressor, PinDirection::Input, 0).Get());
        connected = ConnectPins(
            graph, FindPin(audioCompressor, PinDirection::Output, 0).Get(), muxAudioIn.Get());
    } else {
        connected = ConnectPins(graph, audioGrabberOut.Get(), muxAudioIn.Get());
    }
    if (!connected)
        return Stop(dialog, QStringLiteral("Could not connect audio to mux"));
    return true;
}

// The audio chain, when the timeline has an audio group that yields a pin.
bool AddAudioChain(MainDialog &dialog, CompressionGraph &g)
{
    ComPtr<IPin> audioPin;
    if (g.groups > 1) {
        if (g.renderEngine->GetGroupOutputPin(1, &audioPin) != platform::S_OK)
            return Stop(dialog, QStringLiteral("Cannot connect up audio chain"));
    }
    if (!audioPin)
        return true;
    const ComPtr<IBaseFilter> audioGrabber
        = platform::CreateInstance<IBaseFilter>(engine::CLSID_SampleGrabber);
    if (!audioGrabber)
        return Stop(dialog, QStringLiteral("Could not create SampleGrabber from Qedit.dll"));
    if (const auto grabber = audioGrabber.As<engine::ISampleGrabber>()) {
        engine::AM_MEDIA_TYPE type;
        type.majortype = engine::MEDIATYPE_Audio;
        grabber->SetMediaType(&type);
    }
    if (Failed(g.graph->AddFilter(audioGrabber.Get(), QStringLiteral("AudioGrabber"))))
        return Stop(dialog, QStringLiteral("Could not add audio filter to graph"));
    ComPtr<IBaseFilter> audioCompressor;
    if (!ChooseAudioCompressor(dialog, g, audioCompressor))
        return false;
    return ConnectAudioChain(dialog, g, audioPin.Get(), audioGrabber.Get(), audioCompressor.Get());
}

// The graph's length for the progress (an assumed one, with a note, when it cannot tell)
// and the multiplexer's full interleaving of one second.
bool SetUpSeekingAndInterleaving(MainDialog &dialog, CompressionGraph &g)
{
    g.seeking = g.graph.As<engine::IMediaSeeking>();
    g.events = g.graph.As<engine::IMediaEvent>();
    std::uint32_t capabilities = 0;
    if (!g.seeking || !g.events || Failed(g.seeking->GetCapabilities(&capabilities)))
        return Stop(dialog, QStringLiteral("Could not read input file seeking capabilities"));
    g.seeking->GetDuration(&g.duration);
    g.durationKnown = g.duration > 0;
    if (g.duration == 0) {
        dialog.Services().prompter->AppMessageBox(kMessageNoDuration);
        g.duration = kAssumedDuration;
    }
    const auto interleaving = g.mux.As<engine::IConfigInterleaving>();
    if (!interleaving || Failed(interleaving->put_Mode(engine::INTERLEAVE_FULL)))
        return Stop(dialog, QStringLiteral("Could not set interleaving mode"));
    if (Failed(interleaving->put_Interleaving(&kInterleaveTime, &kInterleaveTime)))
        return Stop(dialog, QStringLiteral("Could not put interleave time"));
    return true;
}

// Runs the graph and waits for it in short slices, keeping the window responsive and
// moving the progress bar up to its cap. A graph that failed while streaming (the disk
// filled up, an encoder gave up) has left an unfinished file: converting it would report
// a cut-off movie as a success, so that ends the stage with a message.
bool RunWithProgress(MainDialog &dialog, CompressionGraph &g)
{
    if (Failed(g.control->Run()))
        return Stop(dialog, QStringLiteral("Could not run compression graph"));
    dialog.SetIdle(false);
    const double divisor = dialog.RenderProgressDivisor();
    long eventCode = 0;
    do {
        const platform::HRESULT waited = g.events->WaitForCompletion(kWaitSliceMs, &eventCode);
        dialog.PumpWaitingMessages();
        if (dialog.m_stopRequested)
            break;
        // A graph that is no longer running will never complete; stop waiting for it.
        if (eventCode == 0 && Failed(waited) && waited != platform::E_ABORT)
            break;
        ReferenceTime position = 0;
        g.seeking->GetCurrentPosition(&position);
        double progress
            = static_cast<double>(position) * 100.0 / static_cast<double>(g.duration) / divisor;
        if (progress >= kProgressCap)
            progress = kProgressCap;
        if (!(progress > 0))
            progress = 0;
        dialog.SetProgress(static_cast<int>(progress));
    } while (eventCode == 0);

    g.control->Stop();
    if (dialog.m_stopRequested)
        return true;
    // Only a graph that completed has written the whole slideshow. One that failed, or
    // stopped without saying why, has left a cut-off file that must not be converted.
    QString why;
    if (eventCode == engine::EC_ERRORABORT)
        why = WhyStreamingFailed(g.events.Get(), dialog.m_tempAviPath);
    else if (eventCode != engine::EC_COMPLETE)
        why = QStringLiteral("The render stopped (event %1) before %2 was complete.")
                  .arg(eventCode)
                  .arg(dialog.m_tempAviPath);
    else
        why = production::TempAviShortfall(dialog.m_tempAviPath, g.durationKnown ? g.duration : 0);
    if (why.isEmpty())
        return true;
    engine::DebugLog(QStringLiteral("render failed: ") + why);
    return Stop(dialog, QStringLiteral("Could not run compression graph") + u'\n' + why);
}

} // namespace

namespace production {

bool RenderTimelineToAvi(MainDialog &dialog,
                         engine::IAMTimeline *timeline,
                         ComPtr<IBaseFilter> &compressor)
{
    CompressionGraph g;
    if (!BuildGraph(dialog, timeline, g))
        return false;
    const ComPtr<IBaseFilter> videoGrabber
        = platform::CreateInstance<IBaseFilter>(engine::CLSID_SampleGrabber);
    if (!AddVideoFilters(dialog, g, videoGrabber, compressor)
        || !ConnectVideoChain(dialog, timeline, g, videoGrabber.Get(), compressor.Get())
        || !AddAudioChain(dialog, g) || !SetUpSeekingAndInterleaving(dialog, g))
        return false;
    return RunWithProgress(dialog, g);
}

} // namespace production
