#include "engine/library_log.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QByteArray>
#include <QtGlobal>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace engine {
namespace {

std::mutex &LogMutex()
{
    static std::mutex mutex;
    return mutex;
}

// The debug log chosen by the environment, or null when it is off (or its file cannot be
// opened: the program runs on without it).
std::FILE *OpenDebugLog()
{
    const char *setting = std::getenv("VANTOREL_DEBUG_LOG");
    if (!setting || !*setting)
        return nullptr;
    if (std::strcmp(setting, "1") == 0)
        return stderr;
    std::FILE *file = std::fopen(setting, "ae");
    if (file)
        std::setvbuf(file, nullptr, _IOLBF, 0);
    return file;
}

std::FILE *g_debugLog = nullptr;

// Opens the debug log once, on the first use by the libraries or the program.
void OpenDebugLogOnce()
{
    static std::once_flag opened;
    std::call_once(opened, [] { g_debugLog = OpenDebugLog(); });
}

void WriteLibraryLine(void *object, int level, const char *format, va_list args)
{
    if (!g_debugLog || level > av_log_get_level())
        return;
    std::lock_guard lock(LogMutex());
    // Whether the next piece starts a line (and so gets the "[name @ 0x...]" prefix);
    // FFmpeg keeps this between calls, as its own callback does.
    static int printPrefix = 1;
    char line[1024];
    av_log_format_line2(object, level, format, args, line, sizeof line, &printPrefix);
    std::fputs(line, g_debugLog);
}

QtMessageHandler g_qtHandler = nullptr;

// Qt's image readers pass on the decoders' own complaints about a damaged photo ("Corrupt
// JPEG data: ..."). Like FFmpeg's lines they go to the debug log; the user is told of the
// photo itself when it cannot be shown. Every other message takes Qt's way.
void WriteQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (context.category && std::strncmp(context.category, "qt.gui.imageio", 14) == 0) {
        if (g_debugLog) {
            const QByteArray line = QByteArray(context.category) + ": " + message.toUtf8() + '\n';
            std::lock_guard lock(LogMutex());
            std::fputs(line.constData(), g_debugLog);
        }
        return;
    }
    g_qtHandler(type, context, message);
}

} // namespace

void InstallLibraryLog()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        OpenDebugLogOnce();
        av_log_set_callback(WriteLibraryLine);
        g_qtHandler = qInstallMessageHandler(WriteQtMessage);
    });
}

void DebugLog(const QString &line)
{
    OpenDebugLogOnce();
    if (!g_debugLog)
        return;
    const QByteArray text = "[vantorel] " + line.toUtf8() + '\n';
    std::lock_guard lock(LogMutex());
    std::fputs(text.constData(), g_debugLog);
}

} // namespace engine
