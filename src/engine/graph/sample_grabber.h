#pragma once
// The sample grabber: a pass-through filter that only constrains the media type of its
// connections (major type, and subtype when one is set). It neither buffers nor counts
// samples.

#include "engine/dshow.h"

namespace engine {

class ISampleGrabber : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{6B652FFF-11FE-4FCE-92AD-0266B5D7C78F}");

    // The type the input takes from now on: its major type, and its subtype unless that
    // is null. A null major type takes anything. Takes effect at the next connection.
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE *type) = 0;
    // The type of the input connection; the format block comes from the task allocator
    // (free it with FreeMediaType). VFW_E_NOT_CONNECTED while unconnected.
    virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE *type) = 0;
};

// A new sample grabber, as created for CLSID_SampleGrabber.
HRESULT CreateSampleGrabber(const Guid &iid, void **out);

} // namespace engine
