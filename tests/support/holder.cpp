// Another program holding a serial device, for the tests of who holds a
// port: it takes the device as told, says "held" on standard output, and
// keeps it until its standard input ends (or it is killed, which leaves
// whatever it set behind).
//   quendra-test-holder exclusive|lock|qt DEVICE
#include <QCoreApplication>
#include <QSerialPort>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc != 3)
        return 2;
    const char* mode = argv[1];
    const char* device = argv[2];
    QCoreApplication app(argc, argv);
    QSerialPort port(QString::fromLocal8Bit(device));
    if (std::strcmp(mode, "qt") == 0) {
        // As any program built on Qt's serial port takes a device.
        if (!port.open(QIODevice::ReadWrite)) {
            std::fprintf(stderr, "%s\n", qPrintable(port.errorString()));
            return 3;
        }
    } else {
        const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
        const bool exclusive = std::strcmp(mode, "exclusive") == 0;
        if (fd < 0 || (exclusive ? ::ioctl(fd, TIOCEXCL) : ::flock(fd, LOCK_EX | LOCK_NB)) != 0) {
            std::perror(device);
            return 3;
        }
    }
    std::printf("held\n");
    std::fflush(stdout);
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    return 0;
}
