// A stand-in for the application's start: claims the single instance in the folder given
// as its argument and says on standard output what it became: "primary", then "raised"
// for every raise request, until a line "quit" or the end of its standard input; or
// "secondary" or "unanswered", and exits.
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "Usage: singleinstance_helper <folder>\n";
        return 2;
    }
    QTextStream out(stdout);
    SingleInstance instance(args.at(1));
    switch (instance.claim()) {
    case SingleInstance::Claim::AnotherRunning:
        out << "secondary\n";
        return 0;
    case SingleInstance::Claim::Unanswered:
        out << "unanswered\n";
        return 1;
    case SingleInstance::Claim::Primary:
        break;
    }
    QObject::connect(&instance, &SingleInstance::raiseRequested, &app, [&out] { out << "raised\n" << Qt::flush; });

    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly | QIODevice::Unbuffered))
        return 1;
    QSocketNotifier notifier(input.handle(), QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&input] {
        const QByteArray line = input.readLine();
        if (line.isEmpty() || line.trimmed() == "quit")
            QCoreApplication::quit();
    });
    out << "primary\n" << Qt::flush;
    return app.exec();
}
