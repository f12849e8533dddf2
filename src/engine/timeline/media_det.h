#pragma once
// The media detector: what streams a media file holds and how long they last.

#include "engine/dshow.h"

#include <QString>

namespace engine {

class IMediaDet : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{65BD0710-24D2-4FF7-9324-ED2E5D3ABAFA}");

    // Opens the file. E_FAIL when it cannot be opened or holds no audio or video stream
    // (the detector is then empty again).
    virtual HRESULT put_Filename(const QString &name) = 0;
    virtual HRESULT get_Filename(QString *name) = 0;
    // Number of audio and video streams. E_UNEXPECTED before a file is open.
    virtual HRESULT get_OutputStreams(long *count) = 0;
    // Selects the stream the getters below describe; E_INVALIDARG when out of range,
    // E_UNEXPECTED before a file is open.
    virtual HRESULT put_CurrentStream(long index) = 0;
    virtual HRESULT get_CurrentStream(long *index) = 0;
    // MEDIATYPE_Audio or MEDIATYPE_Video.
    virtual HRESULT get_StreamType(Guid *majorType) = 0;
    // Length of the current stream in seconds (of the file when the stream has none).
    virtual HRESULT get_StreamLength(double *seconds) = 0;
    // Frames per second of a video stream; 0 for audio.
    virtual HRESULT get_FrameRate(double *fps) = 0;
};

ComPtr<IMediaDet> CreateMediaDet();

} // namespace engine
