#pragma once
// The converter's command line as the program writes it, turned into one that the ffmpeg
// of today accepts. Old spellings:
//   -ab 128kb            -> -b:a 128k    (a "kb" rate is refused: "b" is no unit suffix)
//   -b 1200kb            -> -b:v 1200k
//   -flags +4mv+trell    -> -flags:v +mv4 and -trellis 1
//   -aic 2               -> +aic in the same video flags (MPEG-4 AC prediction)
//   -s 320X240           -> -s 320x240
// Everything else passes through unchanged and in order. The collected video flags and
// the trellis switch are placed just before the last argument, the output file, so that
// they apply to it whatever order the old options came in.

#include <string>
#include <vector>

namespace converter {

std::vector<std::string> TranslateArguments(const std::vector<std::string> &arguments);

} // namespace converter
