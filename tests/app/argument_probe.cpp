// Prints each argument main() received, one line each: the raw bytes in hex, a TAB, and the
// text decoded from the local 8-bit encoding as UTF-8 in hex. On Windows it is a
// GUI-subsystem program like update.exe, so Qt's entry shim builds argv for it.
#include <QByteArray>
#include <QString>

#include <cstdio>

int main(int argc, char **argv)
{
    QByteArray lines;
    for (int i = 1; i < argc; ++i)
        lines += QByteArray(argv[i]).toHex() + '\t' +
                 QString::fromLocal8Bit(argv[i]).toUtf8().toHex() + '\n';
    std::fwrite(lines.constData(), 1, size_t(lines.size()), stdout);
    return 0;
}
