#include "searchbackend.h"

DeferredSearchBackend::DeferredSearchBackend(FeatureModule &module)
    : m_real(module, newSearchBackendEntry)
{
}

DeferredSearchBackend::~DeferredSearchBackend() = default;

std::unique_ptr<IndexWriter> DeferredSearchBackend::newWriter(const Collection &collection,
                                                              const QString &indexFolder,
                                                              QString *problem)
{
    SearchBackend *backend = m_real.get(problem);
    return backend ? backend->newWriter(collection, indexFolder, problem) : nullptr;
}

std::unique_ptr<IndexReader> DeferredSearchBackend::newReader(const Collection &collection,
                                                              const QString &indexFolder,
                                                              QString *problem)
{
    SearchBackend *backend = m_real.get(problem);
    return backend ? backend->newReader(collection, indexFolder, problem) : nullptr;
}
