#pragma once
// The machine's list of installed compressors, kept in the registry layer (root
// LocalMachine) so that installers in other processes can add to it. Each direct sub-key
// of a category's key is one compressor (the sub-key's name is a short id, e.g. "wmv9"):
//   default value   the friendly name, e.g. "Microsoft Windows Media Video 9"
//   "Encoder"       the libavcodec encoder, e.g. "mpeg4"
//   "Options"       "key=value" pairs separated by ':'; "q" asks for a constant
//                   quantiser, every other key is an option of the encoder; e.g. "q=2"

#include "engine/codecs/compressor.h"

#include <QString>

#include <vector>

namespace engine {

inline const QString kCompressorListKeyVideo
    = QStringLiteral("SOFTWARE\\Vantorel\\Compressors\\Video");
inline const QString kCompressorListKeyAudio
    = QStringLiteral("SOFTWARE\\Vantorel\\Compressors\\Audio");
inline const QString kCompressorEncoderValue = QStringLiteral("Encoder");
inline const QString kCompressorOptionsValue = QStringLiteral("Options");

// The compressors of a category as the enumerator lists them: the built-in ones first,
// then the installed ones in the registry's sub-key order. The registry is read anew at
// every call. Installed entries without a friendly name or an encoder are left out.
std::vector<CompressorDescription> ListCompressors(CompressorKind kind);

} // namespace engine
