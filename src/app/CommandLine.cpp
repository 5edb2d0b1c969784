#include "app/CommandLine.h"

namespace corvane {

const char* const kWindowUsage =
    "usage: corvane [FILE]\n"
    "Measures visual double stars from drift videos. Opens FILE at start when\n"
    "one is given.\n"
    "  --help, --version     print this text or the version and exit\n";

WindowCommandLine parseWindowCommandLine(const QStringList& args) {
    WindowCommandLine c;
    bool endOfOptions = false;
    for (const QString& a : args) {
        if (!endOfOptions && a == QLatin1String("--")) {
            endOfOptions = true;
        } else if (!endOfOptions && (a == QLatin1String("--help") || a == QLatin1String("-h"))) {
            c.help = true;
            return c;
        } else if (!endOfOptions && a == QLatin1String("--version")) {
            c.version = true;
            return c;
        } else if (!endOfOptions && a.size() > 1 && a.startsWith(QLatin1Char('-'))) {
            c.error = QStringLiteral("unknown option %1").arg(a);
            return c;
        } else if (!c.file.isEmpty()) {
            c.error = QStringLiteral("more than one file given: '%1' and '%2'").arg(c.file, a);
            return c;
        } else if (a.isEmpty()) {
            c.error = QStringLiteral("the file's name is empty");
            return c;
        } else {
            c.file = a;
        }
    }
    return c;
}

} // namespace corvane
