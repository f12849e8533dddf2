#pragma once
// The filter graph's control, event and seeking interfaces. All three are answered by
// the filter graph object itself and are called from the main thread only.

#include "engine/dshow.h"

#include <cstdint>

namespace engine {

class IMediaControl : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{56A868B1-0AD4-11CE-B03A-0020AF0BA770}");

    // Puts every filter into the running state and starts streaming on a thread of the
    // graph. S_OK when streaming has started; the failure of the first filter that
    // refused otherwise (the filters that had started are stopped again).
    virtual HRESULT Run() = 0;
    // Ends streaming (waiting for the streaming thread) and stops every filter.
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(long msTimeout, FilterState *state) = 0;
};

// Event parameter 1 of EC_ERRORABORT is the failing result code.
class IMediaEvent : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{56A868B6-0AD4-11CE-B03A-0020AF0BA770}");

    // Waits up to msTimeout milliseconds (negative: without limit) for the run to end.
    // S_OK with *evCode = EC_COMPLETE when every source has delivered all it had, or
    // EC_ERRORABORT when streaming failed; E_ABORT with *evCode = 0 on time-out;
    // VFW_E_WRONG_STATE with *evCode = 0 when the graph is not running.
    virtual HRESULT WaitForCompletion(long msTimeout, long *evCode) = 0;
    // Takes the next event of the queue, waiting up to msTimeout ms; E_ABORT when none.
    virtual HRESULT
    GetEvent(long *evCode, std::intptr_t *param1, std::intptr_t *param2, long msTimeout)
        = 0;
};

inline constexpr std::uint32_t AM_SEEKING_CanSeekAbsolute = 0x001;
inline constexpr std::uint32_t AM_SEEKING_CanSeekForwards = 0x002;
inline constexpr std::uint32_t AM_SEEKING_CanSeekBackwards = 0x004;
inline constexpr std::uint32_t AM_SEEKING_CanGetCurrentPos = 0x008;
inline constexpr std::uint32_t AM_SEEKING_CanGetStopPos = 0x010;
inline constexpr std::uint32_t AM_SEEKING_CanGetDuration = 0x020;

// Times in 100 ns units (the graph's one time format).
class IMediaSeeking : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{36B73880-C2C8-11CF-8B46-00805F6CEF60}");

    // E_NOTIMPL when the graph holds no source that can report its length.
    virtual HRESULT GetCapabilities(std::uint32_t *capabilities) = 0;
    // The longest of the sources' lengths; E_NOTIMPL (and 0) without sources.
    virtual HRESULT GetDuration(ReferenceTime *duration) = 0;
    // The stream time that streaming has reached in the current (or last) run.
    virtual HRESULT GetCurrentPosition(ReferenceTime *position) = 0;
};

} // namespace engine
