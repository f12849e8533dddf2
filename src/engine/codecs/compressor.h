#pragma once
// Compressor filters on libavcodec encoders: a video compressor taking RGB24 frames and an
// audio compressor taking 16-bit PCM, each offering its encoder's format (named by a
// four-character code or a wave format tag) on its output pin.
//
// A video frame marked as a repeat of the previous one is nearly free: of every run of
// repeats (a hold) only the last is coded; the ones before it go out as empty samples,
// which the AVI writer stores as zero-size chunks. Coding the last frame of each hold
// keeps a file that ends on a hold complete and every frame's time exact, and the empty
// samples wait behind any frame the encoder still holds, so the order never changes.

#include "engine/dshow.h"

#include <QString>
#include <QStringList>

namespace engine {

enum class CompressorKind { Video, Audio };

// What a compressor is made of: the libavcodec encoder and its options, written
// "key=value:key=value". The key "q" asks for a constant quantiser; every other key is
// an option of the encoder.
struct CompressorDescription
{
    CompressorKind kind = CompressorKind::Video;
    QString friendlyName;
    QString encoder;
    QString options;
};

// A new compressor filter. Fails (REGDB_E_CLASSNOTREG) when the encoder does not exist in
// this libavcodec or is not of the kind, E_INVALIDARG when an option is malformed or
// unknown to the encoder.
HRESULT CreateCompressorFilter(const CompressorDescription &description, IBaseFilter **out);

} // namespace engine
