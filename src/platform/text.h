#pragma once
// Small text rules shared by the whole program.

#include <QString>

namespace platform {

// The text without the blanks at its end. A blank is any white space (QChar::isSpace:
// space, tab, line breaks, no-break space and the other Unicode spaces); the one
// definition the program trims by.
inline QString TrimmedRight(const QString &text)
{
    qsizetype end = text.size();
    while (end > 0 && text[end - 1].isSpace())
        --end;
    return text.left(end);
}

} // namespace platform
