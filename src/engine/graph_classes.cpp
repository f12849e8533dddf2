#include "engine/capture_graph.h"
#include "engine/device_enum.h"
#include "engine/engine_classes.h"
#include "engine/filter_graph.h"
#include "engine/sample_grabber.h"

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
