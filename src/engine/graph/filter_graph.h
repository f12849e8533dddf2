#pragma once
// The filter graph: holds named filters, connects their pins by media type and runs
// them. Run puts every filter into the running state on the calling (main) thread, then
// a streaming thread of the graph keeps asking the push source whose next sample is
// earliest to deliver it, until every source is at its end (EC_COMPLETE) or a delivery
// fails (EC_ERRORABORT). The graph's methods are called from the main thread only.

#include "engine/dshow.h"
#include "engine/graph/media_control.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace engine {

inline constexpr HRESULT VFW_S_DUPLICATE_NAME = 0x0004022D;

class FilterGraph final
    : public platform::ComObject<IGraphBuilder, IMediaControl, IMediaEvent, IMediaSeeking>
{
public:
    FilterGraph();
    ~FilterGraph() override;

    // IFilterGraph. A name already in use gets a number appended (VFW_S_DUPLICATE_NAME).
    HRESULT AddFilter(IBaseFilter *filter, const QString &name) override;
    HRESULT RemoveFilter(IBaseFilter *filter) override;
    std::vector<ComPtr<IBaseFilter>> EnumFilters() override;
    HRESULT Connect(IPin *out, IPin *in) override;

    // IMediaControl
    HRESULT Run() override;
    HRESULT Stop() override;
    HRESULT GetState(long msTimeout, FilterState *state) override;

    // IMediaEvent
    HRESULT WaitForCompletion(long msTimeout, long *evCode) override;
    HRESULT
    GetEvent(long *evCode, std::intptr_t *param1, std::intptr_t *param2, long msTimeout) override;

    // IMediaSeeking
    HRESULT GetCapabilities(std::uint32_t *capabilities) override;
    HRESULT GetDuration(ReferenceTime *duration) override;
    HRESULT GetCurrentPosition(ReferenceTime *position) override;

protected:
    HRESULT QueryExtraInterface(const Guid &iid, void **out) override;

private:
    struct Entry
    {
        ComPtr<IBaseFilter> filter;
        QString name;
    };
    struct Event
    {
        long code;
        std::intptr_t param1;
    };

    void Stream(std::vector<ComPtr<IPushSource>> sources);
    void PostEvent(long code, std::intptr_t param1);
    std::vector<ComPtr<IPushSource>> PushSources(bool connectedOnly);
    static void DisconnectAll(IBaseFilter *filter);

    std::vector<Entry> m_filters;
    FilterState m_state = FilterState::Stopped;

    std::thread m_streaming;
    std::atomic<bool> m_stopStreaming{false};
    std::atomic<ReferenceTime> m_position{0};
    ReferenceTime m_runDuration = 0;

    std::mutex m_eventMutex;
    std::condition_variable m_eventSignal;
    std::deque<Event> m_events; // for GetEvent
    long m_completionCode = 0;  // the run's ending event, kept until Stop
};

} // namespace engine
