// Saves the whole screen of the X display in DISPLAY as a PNG file: screen-grab <file>.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: screen-grab <file.png>\n");
        return 2;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    const QPixmap shot = screen ? screen->grabWindow(0) : QPixmap();
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "screen-grab: no picture of the screen\n");
        return 1;
    }
    return 0;
}
