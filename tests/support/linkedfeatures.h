#pragma once

#include "featuremodule.h"

// The services module's entries linked into the test itself: the real index, installer and
// PDF documents, with no module file to load. With missing set, every entry is missing, as
// when the module's file is gone.
class LinkedFeatures final : public FeatureModule {
public:
    void *entry(const char *symbol, QString *problem) override;

    bool missing = false;
};
