#include "server/SameOriginRedirects.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

const char* const kRefusedProperty = "mireloRedirectRefused";

int effectivePort(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return url.port(443);
    if (scheme == QLatin1String("http"))
        return url.port(80);
    return url.port();
}

} // namespace

namespace SameOriginRedirects {

bool isSameOrigin(const QUrl& a, const QUrl& b)
{
    return a.isValid() && b.isValid() && !a.host().isEmpty() &&
           a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && effectivePort(a) == effectivePort(b);
}

void prepare(QNetworkRequest& request)
{
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
}

void guard(QNetworkReply* reply)
{
    // The origin is that of the first address: a chain of redirects may not wander off
    // one same-looking step at a time.
    const QUrl origin = reply->request().url();
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, origin](const QUrl& target) {
        if (isSameOrigin(origin, reply->url().resolved(target))) {
            Q_EMIT reply->redirectAllowed();
            return;
        }
        reply->setProperty(kRefusedProperty, true);
        reply->abort();
    });
}

bool wasRefused(const QNetworkReply* reply)
{
    return reply->property(kRefusedProperty).toBool();
}

QString refusedText()
{
    return QCoreApplication::translate("SameOriginRedirects",
                                       "The server redirected to another address; the request was not sent there.");
}

} // namespace SameOriginRedirects
