// A stand-in help engine for the loader's tests. Every call of its HtmlHelpW appends one line
// to the file named by $VANTOREL_HELP_RECORDER_LOG:
//     <path of this module>\t<owner>\t<file>\t<command>\t<data>
// and returns a value computed from the arguments, so that a test can tell which copy of the
// module was called, with what, and that the result came back unchanged.

#include <QFile>
#include <QString>

#include <dlfcn.h>

extern "C" __attribute__((visibility("default"))) quintptr
HtmlHelpW(quintptr owner, const char16_t *file, unsigned int command, quintptr data)
{
    Dl_info info{};
    const QString self = dladdr(reinterpret_cast<void *>(&HtmlHelpW), &info) && info.dli_fname
                             ? QFile::decodeName(info.dli_fname)
                             : QString();
    const QString line = QStringLiteral("%1\t%2\t%3\t%4\t%5\n")
                             .arg(self)
                             .arg(owner)
                             .arg(file ? QString::fromUtf16(file) : QStringLiteral("<null>"))
                             .arg(command)
                             .arg(data);
    QFile log(qEnvironmentVariable("VANTOREL_HELP_RECORDER_LOG"));
    if (log.open(QIODevice::Append | QIODevice::Text))
        log.write(line.toUtf8());
    return owner * 3 + data * 7 + command + 1;
}
