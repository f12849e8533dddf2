#pragma once
// The arithmetic of the production stage, kept apart from the window so that it can be
// checked on its own: the video group's frame size, the movie's length and the number of
// plays of the music, the progress divisor, and the music file's extension.

#include "engine/dshow.h"

#include <QString>
#include <QStringList>

#include <cstdint>

class MainDialog;

namespace engine {
class IAMTimeline;
class IMediaDet;
} // namespace engine

namespace production {

// How a failed step of the stage tells the user: the application box or the window's
// "Error" box, with the window switched back to idle before or after the box.
enum class Box { Application, Error };
enum class Order { IdleFirst, MessageFirst };
// Shows the message and switches the window to idle in the given order; returns false,
// the stage's result after a failure.
bool StopStage(MainDialog &dialog, const QString &text, Box box, Order order);

// The listed photos that cannot be decoded (and would show as black), in list order.
QStringList UndecodablePhotos(MainDialog &dialog);

// The stage's timeline: the video group (its photo clips and transitions), then the audio
// group (the music laid end to end), from the window's photo list, music and settings.
// The window is busy on entry. False after a reported failure, with the window idle
// again. `detector` receives the media detector that measured the music; the stage keeps
// it (and the music file it holds open) until its end.
bool BuildSlideshowTimeline(MainDialog &dialog,
                            platform::ComPtr<engine::IAMTimeline> &timeline,
                            platform::ComPtr<engine::IMediaDet> &detector);

// Renders a built timeline through the compression graph into the window's temporary
// AVI and waits for it, moving the progress bar. `compressor` is the chosen video
// compressor or empty (the run then stops with a message once the graph is assembled).
// True when the graph ran to its end, was ended by an error while streaming or by a close
// request; false after a reported failure, with the window idle again.
bool RenderTimelineToAvi(MainDialog &dialog,
                         engine::IAMTimeline *timeline,
                         platform::ComPtr<engine::IBaseFilter> &compressor);

// Frame size of the video group: the base size of the settings, enlarged for
// "High-quality Movie" (x1.5 for the 640x480 choice, x2 for the others). The final
// conversion scales the frames back to the base size.
struct FrameSize
{
    int width = 0;
    int height = 0;
};
FrameSize VideoGroupFrameSize(int videoWidth, int videoHeight, int sizeIndex, bool highQuality);

// Row stride of a 24-bit picture (3 bytes a pixel, rows padded to 4 bytes) times its height.
std::uint32_t Rgb24ImageSize(int width, int height);

// The movie's length in whole seconds and how many plays of the music fill it.
//   slideshowSeconds  V = (photos + 1) x seconds per photo
//   musicSeconds      T: the music part; the video runs one photo's time longer
//   plays             R: plays of the music that cover T (all of them, before the cap
//                     on how many are laid out)
struct MovieLength
{
    std::int64_t slideshowSeconds = 0;
    std::int64_t musicSeconds = 0;
    std::int64_t plays = 1;
};
// musicLength is the music's length in seconds, 0 when unknown. Without "Play whole
// music" the movie lasts V and the music is cut or repeated to fit; with it, the movie
// lasts to the end of the music (one play when the music is longer than V, whole plays
// otherwise).
MovieLength
ComputeMovieLength(int photoCount, int secondsPerPhoto, double musicLength, bool playWholeMusic);

// At most this many plays of the music are laid out, however many R asks for.
inline constexpr std::int64_t kMaxMusicPlays = 70;

// Cuts toward zero like a cast, but saturates instead of overflowing for values beyond
// the 64-bit range (and gives 0 for a value that is not a number).
std::int64_t TruncateToInt64(double value);

// The text after the last '.' of a path when that '.' stands after the first character,
// otherwise an empty text. The search does not stop at a folder separator: a dot in a
// folder name counts when the file name has none.
QString ExtensionOf(const QString &path);

// What the render loop divides the progress by: 4 for a music file with no extension or
// with "mp3" or "wav" (any letter case), 6 for every other extension.
int ProgressDivisor(const QString &musicPath);

// Why the temporary AVI at `path` does not hold the whole timeline of `timeUnits` (100 ns;
// 0 when unknown, and then only a file that cannot be read at all is refused): a file
// that cannot be read, or one more than a second shorter. Empty when it is complete.
QString TempAviShortfall(const QString &path, std::int64_t timeUnits);

} // namespace production
