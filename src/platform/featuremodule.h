#pragma once

#include <QString>

#include <memory>
#include <mutex>

// Code the program keeps in a module beside it, loaded the first time one of its entries is
// asked for: a start that never needs the index, the installer or PDF printing never loads
// their libraries.
class FeatureModule {
public:
    virtual ~FeatureModule() = default;

    // The entry named symbol, the module loaded first if it is not yet; nullptr, with
    // *problem saying why in Spanish, when the module or the entry cannot be had. Safe to
    // call from any thread.
    virtual void *entry(const char *symbol, QString *problem) = 0;
};

// A service of a module, made by the module's entry symbol (a function that takes nothing
// and answers a new Service, which this then owns) the first time it is wanted, and kept.
template <typename Service> class ModuleService {
public:
    ModuleService(FeatureModule &module, const char *symbol)
        : m_module(module)
        , m_symbol(symbol)
    {
    }

    // The service; nullptr, with *problem saying why, when the module cannot make it (it
    // is tried again at the next call). Safe to call from any thread.
    Service *get(QString *problem)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_made) {
            using Make = Service *(*)();
            const auto make = reinterpret_cast<Make>(m_module.entry(m_symbol, problem));
            m_made.reset(make ? make() : nullptr);
        }
        return m_made.get();
    }

private:
    FeatureModule &m_module;
    const char *const m_symbol;
    std::mutex m_mutex;
    std::unique_ptr<Service> m_made;
};

// The module in the file at path, loaded with dlopen. It stays loaded until the process
// ends, since the objects made by its entries may live as long.
class SharedObjectModule final : public FeatureModule {
public:
    explicit SharedObjectModule(QString path);

    void *entry(const char *symbol, QString *problem) override;

private:
    const QString m_path;
    std::mutex m_mutex;
    void *m_handle = nullptr;
};

// The file names of the modules beside the program: the one that holds the index and the
// installer, and the one that prints PDF documents.
QString servicesModuleName();
QString printModuleName();
