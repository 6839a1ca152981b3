#include "searchbackend.h"

#include "featuremodule.h"

DeferredSearchBackend::DeferredSearchBackend(FeatureModule &module)
    : m_module(module)
{
}

DeferredSearchBackend::~DeferredSearchBackend() = default;

SearchBackend *DeferredSearchBackend::real(QString *problem)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_real) {
        const auto make =
            reinterpret_cast<NewSearchBackend>(m_module.entry(newSearchBackendEntry, problem));
        m_real.reset(make ? make() : nullptr);
    }
    return m_real.get();
}

std::unique_ptr<IndexWriter> DeferredSearchBackend::newWriter(const Collection &collection,
                                                              const QString &indexFolder,
                                                              QString *problem)
{
    SearchBackend *backend = real(problem);
    return backend ? backend->newWriter(collection, indexFolder, problem) : nullptr;
}

std::unique_ptr<IndexReader> DeferredSearchBackend::newReader(const Collection &collection,
                                                              const QString &indexFolder,
                                                              QString *problem)
{
    SearchBackend *backend = real(problem);
    return backend ? backend->newReader(collection, indexFolder, problem) : nullptr;
}
