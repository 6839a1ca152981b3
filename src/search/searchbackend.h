#pragma once

#include "featuremodule.h"
#include "searchindex.h"

// The entry of the services module (featuremodule.h) that makes the index's backend, which
// its caller owns.
using NewSearchBackend = SearchBackend *(*)();
constexpr char newSearchBackendEntry[] = "legisdiscoNewSearchBackend";

// The index's backend of the services module, loaded when the index is first wanted (on
// the thread that wants it). When the module cannot be loaded, the index cannot be had and
// the problem says why.
class DeferredSearchBackend final : public SearchBackend {
public:
    explicit DeferredSearchBackend(FeatureModule &module);
    ~DeferredSearchBackend() override;

    std::unique_ptr<IndexWriter> newWriter(const Collection &collection, const QString &indexFolder,
                                           QString *problem) override;
    std::unique_ptr<IndexReader> newReader(const Collection &collection, const QString &indexFolder,
                                           QString *problem) override;

private:
    ModuleService<SearchBackend> m_real;
};
