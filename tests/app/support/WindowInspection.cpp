#include "WindowInspection.h"

#include "Kavrel.h"

namespace WindowInspection {

QStringList logLines(const Kavrel& window) {
    QStringList lines = window.MessageLogText().split(QStringLiteral("\r\n"));
    // Every line ends in CR LF, so the text after the last one is always empty.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace WindowInspection
