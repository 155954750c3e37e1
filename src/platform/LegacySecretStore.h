#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

// Read-only access to the secret store where earlier releases kept credentials.
// On this desktop no earlier release stored anything, so the platform reader finds
// nothing; tests script the reads through setReaderForTesting.
class LegacySecretStore final
{
public:
    enum class Status { Success, ItemNotFound, UserCanceled, OtherError };

    struct Item
    {
        Status status = Status::ItemNotFound;
        std::optional<QByteArray> data;
    };

    using Reader = std::function<Item(const QString& account, const QString& service)>;

    static Item read(const QString& account, const QString& service);

    // Replaces the platform reader; an empty function restores it.
    static void setReaderForTesting(Reader reader);
};
