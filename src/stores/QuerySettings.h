#pragma once

#include <QJsonObject>
#include <QString>
#include <memory>

// The four generation switches that travel with every prompt, kept in QSettings under
// qs.* keys. Defaults apply to keys the user never touched and are never written.
class QuerySettings final
{
    Q_DISABLE_COPY_MOVE(QuerySettings)

public:
    static QuerySettings& shared();
    // A new object read from the stored values, as shared() is on its first use: lets a
    // test store values first and see them read.
    static std::unique_ptr<QuerySettings> createForTesting();

    bool allowDestructive() const { return m_allowDestructive; }
    bool selfCorrection() const { return m_selfCorrection; }
    bool dataIsolation() const { return m_dataIsolation; }
    bool singularResults() const { return m_singularResults; }

    void setAllowDestructive(bool on);
    void setSelfCorrection(bool on);
    void setDataIsolation(bool on);
    void setSingularResults(bool on);

    // allow_destructive, self_correction, data_isolation, singular_results as JSON booleans.
    QJsonObject requestParameters() const;

private:
    QuerySettings();

    bool m_allowDestructive = false;
    bool m_selfCorrection = true;
    bool m_dataIsolation = false;
    bool m_singularResults = false;
};
