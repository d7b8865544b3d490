#include "tools/send/SendRequest.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    // The application object first: the settings file is found beside the
    // real executable, also when started through a launcher link.
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();

    QTextStream out(stdout);
    QTextStream err(stderr);
    return send::run(args, send::Defaults::fromIni(), out, err);
}
