#include "server/RequestTimeouts.h"

#include <QNetworkReply>
#include <QTimer>

namespace RequestTimeouts {
namespace {

const char* const kTimedOutProperty = "mireloTimedOut";

} // namespace

void arm(QNetworkReply* reply, int idleMs, int totalMs)
{
    auto* idle = new QTimer(reply);
    idle->setSingleShot(true);
    auto* total = new QTimer(reply);
    total->setSingleShot(true);
    const auto expire = [reply] {
        reply->setProperty(kTimedOutProperty, true);
        reply->abort();
    };
    QObject::connect(idle, &QTimer::timeout, reply, expire);
    QObject::connect(total, &QTimer::timeout, reply, expire);
    const auto moved = [idle] { idle->start(); };
    QObject::connect(reply, &QNetworkReply::uploadProgress, idle, moved);
    QObject::connect(reply, &QNetworkReply::downloadProgress, idle, moved);
    QObject::connect(reply, &QNetworkReply::metaDataChanged, idle, moved);
    idle->start(idleMs);
    total->start(totalMs);
}

bool timedOut(const QNetworkReply* reply)
{
    return reply->property(kTimedOutProperty).toBool();
}

} // namespace RequestTimeouts
