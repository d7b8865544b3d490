// Pictures of the emulator window for the documentation: one module after
// the text "HI" and after a segment pattern, and three modules on one line
// after a configuration that gave them all one UID, drawn from frames handed
// to the emulator as if they had come down the line.
#include "tools/emulator/Emulator.h"
#include "tools/emulator/EmulatorWindow.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

namespace {

struct Shot
{
    const char* file;
    QList<QByteArray> frames;
};

// Shows the window for a line with these modules after each shot's frames
// in turn; false when a picture could not be written.
bool photograph(const QList<std::optional<quint8>>& uids, const QList<Shot>& shots,
                const QString& folder)
{
    ModuleLine line;
    if (const Checked<void> opened = line.openPty({}); !opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.message()));
        return false;
    }
    Emulator emulator(line, ModuleBus(uids));
    EmulatorWindow window(emulator);
    window.show();
    for (const Shot& shot : shots) {
        for (const QByteArray& frame : shot.frames)
            emulator.receive(frame, QTime::currentTime());
        QApplication::processEvents();
        const QString path = QDir(folder).filePath(QLatin1String(shot.file));
        if (!window.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return false;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");

    const QList<Shot> oneModule = {
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
    // Each module shows its own frame until CONFIGURE gives all three UID 9;
    // the next frame for UID 9 then shows on every one of them.
    const QList<Shot> threeModules = {
        {"emulator-bus.png",
         {QByteArray::fromHex("0162202020204849"), QByteArray::fromHex("0264000004d2"),
          QByteArray::fromHex("0362202020414243"), QByteArray::fromHex("07630a"),
          QByteArray::fromHex("1e1e2409"), QByteArray::fromHex("0962202020414c4c")}},
    };
    if (!photograph({1}, oneModule, folder) || !photograph({1, 2, 3}, threeModules, folder))
        return 1;
    return 0;
}
