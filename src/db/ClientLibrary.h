#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <QStringList>
#include <dlfcn.h>
#include <memory>
#include <optional>

// A database client library opened at run time, never linked. Candidates are tried in
// order; the first that opens and has every function the caller needs is kept, with its
// function table, for the rest of the process. A failed attempt keeps nothing, so the
// next call searches again and a library installed meanwhile is found without a restart.
// Safe to use from several threads at once.
template <typename Api> class ClientLibrary final
{
    Q_DISABLE_COPY_MOVE(ClientLibrary)

public:
    // Fills the table from an opened library; false when a needed function is missing.
    using Resolve = bool (*)(void* handle, Api& api);

    ClientLibrary(QStringList searchList, Resolve resolve) : m_searchList(std::move(searchList)), m_resolve(resolve) {}

    // The function table, or null when no candidate is usable. The table stays valid for
    // the life of the process: a library once kept is never closed.
    std::shared_ptr<const Api> load()
    {
        QMutexLocker lock(&m_mutex);
        if (m_api)
            return m_api;
        for (const QString& candidate : m_override.value_or(m_searchList)) {
            void* handle = ::dlopen(QFile::encodeName(candidate).constData(), RTLD_LAZY | RTLD_LOCAL);
            if (!handle)
                continue;
            auto api = std::make_shared<Api>();
            if (m_resolve(handle, *api)) {
                m_api = std::move(api);
                return m_api;
            }
            ::dlclose(handle);
        }
        return nullptr;
    }

    // Replaces the candidates (nullopt restores the built-in list) and forgets the kept
    // library, which stays mapped so that tables already handed out remain valid.
    void setSearchListForTesting(std::optional<QStringList> searchList)
    {
        QMutexLocker lock(&m_mutex);
        m_override = std::move(searchList);
        m_api.reset();
    }

private:
    QMutex m_mutex;
    const QStringList m_searchList;
    std::optional<QStringList> m_override;
    const Resolve m_resolve;
    std::shared_ptr<const Api> m_api;
};

// Looks a function up by name; false when the library lacks it.
template <typename Function> bool resolveSymbol(void* handle, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(::dlsym(handle, name));
    return function != nullptr;
}

// The candidates in each folder under each versioned name, then the bare names for the
// dynamic linker's own search. Folders are searched in the order given.
inline QStringList libraryCandidates(const QStringList& folders, const QStringList& versionedNames,
                                     const QStringList& bareNames)
{
    QStringList candidates;
    for (const QString& folder : folders) {
        for (const QString& name : versionedNames)
            candidates << folder + QLatin1Char('/') + name;
    }
    return candidates + bareNames;
}

// Where Debian and Ubuntu keep the system's own libraries for this processor.
inline QString multiarchLibraryFolder()
{
#if defined(__x86_64__)
    return QStringLiteral("/usr/lib/x86_64-linux-gnu");
#elif defined(__aarch64__)
    return QStringLiteral("/usr/lib/aarch64-linux-gnu");
#else
    return QStringLiteral("/usr/lib");
#endif
}

// The error when a connection that must be encrypted reached a server without TLS.
inline QString sslNotOfferedError()
{
    return QCoreApplication::translate(
        "DatabaseExecutor", "Connection failed: the server does not offer SSL, but this connection requires it.");
}
