// Writes the appcast answer that offers one built update zip: its version, build number,
// size, SHA-256 digest and the path the server serves it under.
// Usage: mirelo-appcast --version 1.2.0 --build 42 --download-path /downloads/Mirelo.zip
//                       [--notes text] [--min-os version] [--id n] [--output file] Mirelo.zip

#include "platform/AtomicFile.h"
#include "update/ArchiveExtractor.h"
#include "update/UpdateStaging.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <algorithm>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes the appcast JSON for an update zip."));
    parser.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Display version."),
                                     QStringLiteral("version"));
    const QCommandLineOption build(QStringLiteral("build"), QStringLiteral("Build number."), QStringLiteral("n"));
    const QCommandLineOption downloadPath(QStringLiteral("download-path"),
                                          QStringLiteral("Path under the server's URL, starting with /."),
                                          QStringLiteral("path"));
    const QCommandLineOption notes(QStringLiteral("notes"), QStringLiteral("Release notes."), QStringLiteral("text"));
    const QCommandLineOption minOS(QStringLiteral("min-os"), QStringLiteral("Minimum system version."),
                                   QStringLiteral("version"));
    const QCommandLineOption releaseId(QStringLiteral("id"), QStringLiteral("Release id."), QStringLiteral("n"));
    const QCommandLineOption output(QStringLiteral("output"), QStringLiteral("File to write instead of stdout."),
                                    QStringLiteral("file"));
    parser.addOptions({version, build, downloadPath, notes, minOS, releaseId, output});
    parser.addPositionalArgument(QStringLiteral("zip"), QStringLiteral("The update zip."));
    parser.process(app);

    const QStringList zips = parser.positionalArguments();
    if (zips.size() != 1 || !parser.isSet(version) || !parser.isSet(build) || !parser.isSet(downloadPath)) {
        err << "mirelo-appcast needs --version, --build, --download-path and one zip file.\n";
        return 2;
    }
    bool buildOk = false;
    const qint64 buildNumber = parser.value(build).toLongLong(&buildOk);
    if (!buildOk || buildNumber <= 0) {
        err << "The build number must be a positive whole number.\n";
        return 2;
    }
    if (!parser.value(downloadPath).startsWith(QLatin1Char('/'))) {
        err << "The download path must start with /.\n";
        return 2;
    }
    const QString zip = zips.at(0);
    // What the application will do with it: the application folder must be at the top.
    const std::optional<QStringList> top = ArchiveExtractor::topLevelFolders(zip, ArchiveExtractor::Format::Zip);
    if (!top) {
        err << "Cannot read " << zip << " as a zip archive.\n";
        return 1;
    }
    if (std::none_of(top->begin(), top->end(),
                     [](const QString& name) { return QFileInfo(name).suffix() == QLatin1String("app"); })) {
        err << zip << " has no .app folder at its top level.\n";
        return 1;
    }
    const std::optional<QString> digest = UpdateStaging::sha256HexOfFile(zip);
    if (!digest) {
        err << "Cannot read " << zip << ".\n";
        return 1;
    }

    QJsonObject release{
        {QStringLiteral("version"), parser.value(version)},
        {QStringLiteral("build"), buildNumber},
        {QStringLiteral("size"), QFileInfo(zip).size()},
        {QStringLiteral("sha256"), *digest},
        {QStringLiteral("download_path"), parser.value(downloadPath)},
    };
    if (parser.isSet(notes))
        release.insert(QStringLiteral("notes"), parser.value(notes));
    if (parser.isSet(minOS))
        release.insert(QStringLiteral("min_os"), parser.value(minOS));
    if (parser.isSet(releaseId))
        release.insert(QStringLiteral("id"), parser.value(releaseId).toLongLong());
    const QByteArray json = QJsonDocument(QJsonObject{{QStringLiteral("release"), release}}).toJson();

    if (!parser.isSet(output)) {
        QTextStream(stdout) << json;
        return 0;
    }
    const QString error = AtomicFile::write(parser.value(output), json);
    if (!error.isEmpty()) {
        err << error << "\n";
        return 1;
    }
    return 0;
}
