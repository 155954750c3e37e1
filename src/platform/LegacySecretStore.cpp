#include "platform/LegacySecretStore.h"

namespace {

LegacySecretStore::Reader& testReader()
{
    static LegacySecretStore::Reader reader;
    return reader;
}

} // namespace

LegacySecretStore::Item LegacySecretStore::read(const QString& account, const QString& service)
{
    if (const Reader& reader = testReader())
        return reader(account, service);
    return {Status::ItemNotFound, std::nullopt};
}

void LegacySecretStore::setReaderForTesting(Reader reader)
{
    testReader() = std::move(reader);
}
