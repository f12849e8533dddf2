#pragma once
// The AVI multiplexer and the file writer behind it. The multiplexer's input pins take
// compressed video (a four-character code that AVI knows) and audio (a wave format tag
// that AVI knows, PCM included); input 0 exists from the start and a further input is
// offered whenever every input is connected. Its output joins the file writer, whose
// file it writes with libavformat from Run (the file is created then) to the end of
// the streams or Stop. Files past 1 GB are written as OpenDML (extended AVI) files.

#include "engine/graph/capture_graph.h"

namespace engine {

// What a write into a full disk returns, and the graph reports with EC_ERRORABORT (as
// Windows' ERROR_DISK_FULL).
inline constexpr HRESULT E_DISK_FULL = static_cast<HRESULT>(0x80070070u);

ComPtr<IBaseFilter> CreateAviMux();
ComPtr<IBaseFilter> CreateFileWriter();

} // namespace engine
