// Saves what an X display shows as a PNG file, for tests that run the real application
// under a virtual display.   DISPLAY=:5 screenshot out.png
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "Usage: screenshot <file.png>\n";
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        QTextStream(stderr) << "Could not save the screen to " << argv[1] << ".\n";
        return 1;
    }
    return 0;
}
