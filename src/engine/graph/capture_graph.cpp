#include "engine/graph/capture_graph.h"

#include "engine/codecs/avi_mux.h"
#include "engine/graph/filter_graph.h"
#include "engine/graph/filter_graph_pins.h"

namespace engine {

namespace {

class CaptureGraphBuilder final : public platform::ComObject<ICaptureGraphBuilder2>
{
public:
    HRESULT SetFiltergraph(IGraphBuilder *graph) override
    {
        if (!graph)
            return E_POINTER;
        if (m_graph)
            return E_UNEXPECTED;
        m_graph = ComPtr<IGraphBuilder>(graph);
        return S_OK;
    }

    HRESULT GetFiltergraph(IGraphBuilder **graph) override
    {
        if (!graph)
            return E_POINTER;
        if (!m_graph)
            m_graph = platform::MakeObject<FilterGraph, IGraphBuilder>();
        *graph = ComPtr<IGraphBuilder>(m_graph).Detach();
        return S_OK;
    }

    HRESULT SetOutputFileName(const Guid &type,
                              const QString &fileName,
                              IBaseFilter **multiplexer,
                              IFileSinkFilter **sink) override
    {
        if (multiplexer)
            *multiplexer = nullptr;
        if (sink)
            *sink = nullptr;
        if (type != MEDIASUBTYPE_Avi || fileName.isEmpty())
            return E_INVALIDARG;
        if (!m_graph)
            m_graph = platform::MakeObject<FilterGraph, IGraphBuilder>();

        const ComPtr<IBaseFilter> mux = CreateAviMux();
        const ComPtr<IBaseFilter> writer = CreateFileWriter();
        const auto fileSink = writer.As<IFileSinkFilter>();
        HRESULT hr = fileSink->SetFileName(fileName, nullptr);
        if (Failed(hr))
            return hr;
        hr = m_graph->AddFilter(mux.Get(), QStringLiteral("AVI Mux"));
        if (Failed(hr))
            return hr;
        hr = m_graph->AddFilter(writer.Get(), fileName);
        if (Failed(hr)) {
            m_graph->RemoveFilter(mux.Get());
            return hr;
        }
        hr = m_graph->Connect(OutputOf(mux.Get()).Get(), writer->EnumPins().front().Get());
        if (Failed(hr)) {
            m_graph->RemoveFilter(writer.Get());
            m_graph->RemoveFilter(mux.Get());
            return hr;
        }
        if (multiplexer)
            *multiplexer = ComPtr<IBaseFilter>(mux).Detach();
        if (sink)
            *sink = ComPtr<IFileSinkFilter>(fileSink).Detach();
        return S_OK;
    }

private:
    static ComPtr<IPin> OutputOf(IBaseFilter *filter)
    {
        for (ComPtr<IPin> &pin : filter->EnumPins()) {
            if (pin->QueryDirection() == PinDirection::Output)
                return pin;
        }
        return nullptr;
    }

    ComPtr<IGraphBuilder> m_graph;
};

} // namespace

HRESULT CreateCaptureGraphBuilder(const Guid &iid, void **out)
{
    if (!out)
        return E_POINTER;
    return platform::MakeObject<CaptureGraphBuilder, ICaptureGraphBuilder2>()->QueryInterface(iid,
                                                                                              out);
}

} // namespace engine
