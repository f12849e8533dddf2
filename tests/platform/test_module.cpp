// A module with one class, built for the class store's tests.
#include "test_value.h"

using namespace platform;

namespace {

class TestValue final : public ComObject<ITestValue>
{
public:
    int Value() override { return 42; }
};

} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT
DllGetClassObject(const Guid *clsid, const Guid *iid, void **out)
{
    if (!clsid || !iid || !out)
        return E_POINTER;
    *out = nullptr;
    if (*clsid != kTestModuleClass)
        return CLASS_E_CLASSNOTAVAILABLE;
    ComPtr<ITestValue> object = MakeObject<TestValue, ITestValue>();
    return object->QueryInterface(*iid, out);
}
