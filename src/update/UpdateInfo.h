#pragma once

#include <QMetaType>
#include <QString>
#include <optional>

// One offered build, as the server's appcast describes it.
struct UpdateInfo
{
    qint64 releaseId = 0;
    QString version;
    qint64 build = 0;
    std::optional<QString> notes;
    std::optional<QString> minOS;
    qint64 size = 0;
    QString sha256; // lower-case hexadecimal
    QString downloadPath;

    bool operator==(const UpdateInfo&) const = default;
};

Q_DECLARE_METATYPE(UpdateInfo)
