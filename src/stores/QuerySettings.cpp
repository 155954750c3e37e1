#include "stores/QuerySettings.h"

#include <QSettings>

namespace {

const auto kAllowDestructive = QStringLiteral("qs.allow_destructive");
const auto kSelfCorrection = QStringLiteral("qs.self_correction");
const auto kDataIsolation = QStringLiteral("qs.data_isolation");
const auto kSingularResults = QStringLiteral("qs.singular_results");

void store(const QString& key, bool on)
{
    QSettings().setValue(key, on);
}

} // namespace

QuerySettings& QuerySettings::shared()
{
    static QuerySettings* instance = new QuerySettings;
    return *instance;
}

std::unique_ptr<QuerySettings> QuerySettings::createForTesting()
{
    return std::unique_ptr<QuerySettings>(new QuerySettings);
}

QuerySettings::QuerySettings()
{
    const QSettings settings;
    m_allowDestructive = settings.value(kAllowDestructive, false).toBool();
    m_selfCorrection = settings.value(kSelfCorrection, true).toBool();
    m_dataIsolation = settings.value(kDataIsolation, false).toBool();
    m_singularResults = settings.value(kSingularResults, false).toBool();
}

void QuerySettings::setAllowDestructive(bool on)
{
    m_allowDestructive = on;
    store(kAllowDestructive, on);
}

void QuerySettings::setSelfCorrection(bool on)
{
    m_selfCorrection = on;
    store(kSelfCorrection, on);
}

void QuerySettings::setDataIsolation(bool on)
{
    m_dataIsolation = on;
    store(kDataIsolation, on);
}

void QuerySettings::setSingularResults(bool on)
{
    m_singularResults = on;
    store(kSingularResults, on);
}

QJsonObject QuerySettings::requestParameters() const
{
    return {{QStringLiteral("allow_destructive"), m_allowDestructive},
            {QStringLiteral("self_correction"), m_selfCorrection},
            {QStringLiteral("data_isolation"), m_dataIsolation},
            {QStringLiteral("singular_results"), m_singularResults}};
}
