#include "db/DatabaseConnection.h"

#include "platform/StrictUtf8.h"

#include <QUuid>
#include <cmath>

namespace {

const auto kId = QStringLiteral("id");
const auto kName = QStringLiteral("name");
const auto kType = QStringLiteral("type");
const auto kHost = QStringLiteral("host");
const auto kPort = QStringLiteral("port");
const auto kDatabase = QStringLiteral("database");
const auto kUsername = QStringLiteral("username");
const auto kSsl = QStringLiteral("ssl");
const auto kPassword = QStringLiteral("password");

QString stringMember(const QJsonObject& object, const QString& key, const QString& fallback)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : fallback;
}

// A number, or a string holding a whole number; 0 for anything else.
qint64 integerMember(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (value.isDouble()) {
        const double number = value.toDouble();
        return std::isfinite(number) && std::fabs(number) < 9.0e18 ? static_cast<qint64>(number) : 0;
    }
    if (value.isString()) {
        bool ok = false;
        const qint64 number = value.toString().trimmed().toLongLong(&ok);
        return ok ? number : 0;
    }
    return 0;
}

bool booleanMember(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (value.isBool())
        return value.toBool();
    if (value.isDouble())
        return value.toDouble() != 0;
    return false;
}

// Strict standard Base64 (padded, no whitespace) holding UTF-8; empty on any fault.
QString decodeStoredPassword(const QString& encoded)
{
    const QByteArray ascii = encoded.toLatin1();
    if (ascii.size() % 4 != 0)
        return {};
    const auto decoded =
        QByteArray::fromBase64Encoding(ascii, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return {};
    return StrictUtf8::decode(*decoded).value_or(QString());
}

QString orDefault(const QString& value, const QString& fallback)
{
    return value.isNull() ? fallback : value;
}

} // namespace

QString DatabaseConnection::newConnectionId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

qint64 DatabaseConnection::defaultPortForType(const QString& type)
{
    return type == QLatin1String("mysql") ? 3306 : 5432;
}

QJsonObject DatabaseConnection::toDictionary() const
{
    const QString empty = QStringLiteral("");
    return QJsonObject{
        {kId, orDefault(connectionId, empty)},
        {kName, orDefault(name, empty)},
        {kType, orDefault(type, QStringLiteral("postgresql"))},
        {kHost, orDefault(host, QStringLiteral("localhost"))},
        {kPort, port},
        {kDatabase, orDefault(database, empty)},
        {kUsername, orDefault(username, empty)},
        {kSsl, ssl},
    };
}

DatabaseConnection DatabaseConnection::fromDictionary(const QJsonObject& object)
{
    DatabaseConnection c;
    const QJsonValue id = object.value(kId);
    if (id.isString())
        c.connectionId = id.toString();
    c.name = stringMember(object, kName, QStringLiteral(""));
    c.type = stringMember(object, kType, QStringLiteral("postgresql"));
    c.host = stringMember(object, kHost, QStringLiteral("localhost"));
    c.port = integerMember(object, kPort);
    if (c.port == 0)
        c.port = defaultPortForType(c.type);
    c.database = stringMember(object, kDatabase, QStringLiteral(""));
    c.username = stringMember(object, kUsername, QStringLiteral(""));
    c.ssl = booleanMember(object, kSsl);
    const QString encoded = stringMember(object, kPassword, QString());
    c.password = encoded.isEmpty() ? QStringLiteral("") : decodeStoredPassword(encoded);
    return c;
}
