#include "engine/engine_classes.h"
#include "engine/render/render_engine.h"
#include "engine/timeline/media_det.h"
#include "engine/timeline/timeline.h"
#include "platform/class_store.h"

namespace engine {
namespace {

template <class I>
platform::ClassFactory FactoryOf(ComPtr<I> (*create)())
{
    return [create](const platform::Iid &iid, void **out) -> HRESULT {
        ComPtr<I> object = create();
        return object->QueryInterface(iid, out);
    };
}

} // namespace

void RegisterTimelineClasses()
{
    platform::RegisterBuiltInClass(CLSID_AMTimeline, FactoryOf(&CreateTimeline));
    platform::RegisterBuiltInClass(CLSID_MediaDet, FactoryOf(&CreateMediaDet));
    platform::RegisterBuiltInClass(CLSID_RenderEngine, FactoryOf(&CreateRenderEngine));
}

} // namespace engine
