// Pictures of the emulator window for the documentation: the window after
// the text "HI" and after a segment pattern, drawn from frames handed to the
// emulator as if they had come down the line.
#include "tools/emulator/Emulator.h"
#include "tools/emulator/EmulatorWindow.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");

    ModuleLine line;
    QString error;
    if (!line.openPty({}, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    Emulator emulator(line, ModuleState(1));
    EmulatorWindow window(emulator);
    window.show();

    struct Shot
    {
        const char* file;
        QList<QByteArray> frames;
    };
    const Shot shots[] = {
        {"emulator-hi.png",
         {QByteArray::fromHex("016220202020"
                              "4849")}},
        // One segment after another down the row, all of them with the
        // decimal point at the left, and g with e at the right.
        {"emulator-segments.png",
         {QByteArray::fromHex("0761"
                              "3f3f3f3f3f3f"),
          QByteArray::fromHex("0161"
                              "ff0180400224")}},
    };
    for (const Shot& shot : shots) {
        for (const QByteArray& frame : shot.frames)
            emulator.receive(frame, QTime::currentTime());
        QApplication::processEvents();
        const QString path = QDir(folder).filePath(QLatin1String(shot.file));
        if (!window.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
