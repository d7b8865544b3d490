#include "common/StopSignals.h"
#include "tools/send/SendRequest.h"

#include <QCoreApplication>

#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

int main(int argc, char* argv[])
{
    // The application object first: the settings file is found beside the
    // real executable, also when started through a launcher link.
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();

    // SIGINT, SIGTERM and SIGHUP let the frame under way finish and the port
    // go back as it was; the run then says what it did.
    stop::install();

    QTextStream out(stdout);
    QTextStream err(stderr);
#ifdef Q_OS_WIN
    const bool errIsTerminal = ::_isatty(_fileno(stderr)) != 0;
#else
    const bool errIsTerminal = ::isatty(STDERR_FILENO) != 0;
#endif
    return stop::exitStatus(send::run(args, send::Defaults::fromIni(), out, err, errIsTerminal));
}
