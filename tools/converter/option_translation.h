#pragma once
// The converter's command line as the program writes it, turned into one that the ffmpeg
// of today accepts. Old spellings:
//   -ab 128kb            -> -b:a 128k    (a "kb" rate is refused: "b" is no unit suffix)
//   -b 1200kb            -> -b:v 1200k
//   -flags +4mv+trell    -> -flags:v +mv4 and -trellis 1
//   -aic 2               -> +aic in the same video flags (MPEG-4 AC prediction)
//   -s 320X240           -> -s 320x240
// Everything else passes through unchanged and in order. Added, since the old option set
// lacks them: for MPEG-4 video the Simple Profile and its lowest level that admits the
// frame size (of -s, else of the input), frame rate and bit rate; for an MP4 output the
// index before the media data (-movflags +faststart). The collected video flags, the
// trellis switch and the additions are placed just before the last argument, the output
// file, so that they apply to it whatever order the old options came in.

#include <string>
#include <vector>

namespace converter {

struct FrameSize
{
    int width = 0;
    int height = 0;
};

// The lowest MPEG-4 Visual Simple Profile level (as ffmpeg's -level numbers it: 9 for 0b,
// 4 for 4a) that admits the stream; 0 when the size is unknown or none admits it.
int SimpleProfileLevel(FrameSize size, double frameRate, double bitRate);

// The frame size in an AVI file's main header; {0, 0} when it cannot be read.
FrameSize AviFrameSize(const std::string &path);

// inputSize: the input's frame size, used when no -s sets the output's.
std::vector<std::string> TranslateArguments(const std::vector<std::string> &arguments,
                                            FrameSize inputSize = {});

} // namespace converter
