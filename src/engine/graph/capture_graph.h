#pragma once
// The capture graph builder and the interfaces of the AVI multiplexer and file writer it
// sets up: SetOutputFileName with the AVI subtype adds a multiplexer and a file writer on
// the named file to the graph, joined together.

#include "engine/dshow.h"

namespace engine {

inline constexpr Guid CLSID_AviDest = MakeGuid("{E2510970-F137-11CE-8B67-00AA00A3F1A6}");
inline constexpr Guid CLSID_FileWriter = MakeGuid("{8596E5F0-0DA5-11D0-BD21-00A0C911CE86}");

enum InterleavingMode : int {
    INTERLEAVE_NONE = 0,
    INTERLEAVE_CAPTURE = 1,
    INTERLEAVE_FULL = 2,
    INTERLEAVE_NONE_BUFFERED = 3,
};

// The multiplexer's interleaving. In full interleaving, chunks go to the file in blocks
// of one period per stream, audio streams leading by the preroll; otherwise they are
// written in the order they arrive.
class IConfigInterleaving : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{BEE3D220-157B-11D0-BD23-00A0C911CE86}");

    virtual HRESULT put_Mode(InterleavingMode mode) = 0;
    virtual HRESULT get_Mode(InterleavingMode *mode) = 0;
    // Period (> 0) and audio preroll (>= 0) in 100 ns units.
    virtual HRESULT put_Interleaving(const ReferenceTime *interleave, const ReferenceTime *preroll)
        = 0;
    virtual HRESULT get_Interleaving(ReferenceTime *interleave, ReferenceTime *preroll) = 0;
};

class IFileSinkFilter : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{A2104830-7C70-11CF-8BCE-00AA00A3F1A6}");

    virtual HRESULT SetFileName(const QString &fileName, const AM_MEDIA_TYPE *type) = 0;
    // The file name; *type (may be null) receives the file's type (free with FreeMediaType).
    virtual HRESULT GetCurFile(QString *fileName, AM_MEDIA_TYPE *type) = 0;
};

class ICaptureGraphBuilder2 : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{93E5A4E0-2D50-11D2-ABFA-00A0C9C6E38D}");

    // The graph the builder adds its filters to (the builder holds a reference).
    virtual HRESULT SetFiltergraph(IGraphBuilder *graph) = 0;
    // The graph, creating one when none was given.
    virtual HRESULT GetFiltergraph(IGraphBuilder **graph) = 0;
    // type must be MEDIASUBTYPE_Avi. Adds an AVI multiplexer and a file writer on
    // fileName to the graph and connects them; hands out the multiplexer and the
    // writer's file sink (either out-parameter may be null).
    virtual HRESULT SetOutputFileName(const Guid &type,
                                      const QString &fileName,
                                      IBaseFilter **multiplexer,
                                      IFileSinkFilter **sink)
        = 0;
};

HRESULT CreateCaptureGraphBuilder(const Guid &iid, void **out);

} // namespace engine
