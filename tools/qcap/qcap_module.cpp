// The capture library: serves the capture graph builder (with the AVI multiplexer and
// file writer it sets up) to programs that find it through the classes root.
//
// The factory makes the builder directly rather than through the class store: the store
// would find this very module under the class and call back into it.

#include "engine/graph/capture_graph.h"
#include "support/server_self_registration.h"

extern "C" __attribute__((visibility("default"))) platform::HRESULT DllRegisterServer()
{
    return support::RegisterServerModule(engine::CLSID_CaptureGraphBuilder2,
                                         reinterpret_cast<const void *>(&DllRegisterServer));
}

extern "C" __attribute__((visibility("default"))) platform::HRESULT
DllGetClassObject(const platform::Guid *clsid, const platform::Guid *iid, void **out)
{
    if (!clsid || !iid || !out)
        return platform::E_POINTER;
    *out = nullptr;
    if (*clsid != engine::CLSID_CaptureGraphBuilder2)
        return platform::CLASS_E_CLASSNOTAVAILABLE;
    return engine::CreateCaptureGraphBuilder(*iid, out);
}
