#include "engine/engine_classes.h"
#include "engine/graph/capture_graph.h"
#include "engine/graph/device_enum.h"
#include "engine/graph/filter_graph.h"
#include "engine/graph/sample_grabber.h"

#include "platform/class_store.h"

namespace engine {

void RegisterGraphClasses()
{
    platform::RegisterBuiltInClass(CLSID_FilterGraph, [](const Guid &iid, void **out) {
        return platform::MakeObject<FilterGraph, IGraphBuilder>()->QueryInterface(iid, out);
    });
    platform::RegisterBuiltInClass(CLSID_SampleGrabber, CreateSampleGrabber);
    platform::RegisterBuiltInClass(CLSID_CaptureGraphBuilder2, CreateCaptureGraphBuilder);
    platform::RegisterBuiltInClass(CLSID_SystemDeviceEnum, CreateSystemDeviceEnum);
}

} // namespace engine
