#include "ui/ThemeManager.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Mirelo"));
    QApplication::setApplicationName(QStringLiteral("Mirelo"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    ThemeManager::shared().apply();

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Mirelo"));
    window.resize(1100, 720);
    window.show();
    return app.exec();
}
