// Building and reading the proxy and bypass lists, and turning a record into
// the browser engine's switches: what the proxy dialog's Apply and the
// program's start cost, for a usual configuration and for bypass lists of
// growing length.
#include "chromiumproxy.h"
#include "proxylists.h"

#include <benchmark/benchmark.h>

namespace {

// Every protocol row filled and n bypass exceptions.
ProxyFields fullFields(int exceptions)
{
    ProxyFields fields;
    fields.useProxy = true;
    fields.bypassLocal = true;
    fields.http = {QStringLiteral("proxy.example.org"), QStringLiteral("8080")};
    fields.secure = {QStringLiteral("secure.example.org"), QStringLiteral("8443")};
    fields.ftp = {QStringLiteral("10.0.0.2"), QStringLiteral("21")};
    fields.gopher = {QStringLiteral("10.0.0.3"), QStringLiteral("70")};
    fields.socks = {QStringLiteral("10.0.0.4"), QStringLiteral("1080")};
    QStringList list;
    for (int i = 0; i < exceptions; ++i) {
        list.append(QStringLiteral("host%1.example.org").arg(i));
    }
    fields.exceptions = list.join(u';');
    return fields;
}

void buildRecord(benchmark::State &state)
{
    const ProxyFields fields = fullFields(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(buildProxyRecord(fields));
    }
}

void readRecord(benchmark::State &state)
{
    const ProxyRecord record = buildProxyRecord(fullFields(static_cast<int>(state.range(0))));
    const ProxyFields blank;
    for (auto _ : state) {
        benchmark::DoNotOptimize(readProxyRecord(blank, record));
    }
}

void engineSwitches(benchmark::State &state)
{
    const ProxyRecord record = buildProxyRecord(fullFields(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        benchmark::DoNotOptimize(chromiumProxySwitches(record));
    }
}

} // namespace

BENCHMARK(buildRecord)->Arg(1)->Arg(100)->Arg(1000);
BENCHMARK(readRecord)->Arg(1)->Arg(100)->Arg(1000);
BENCHMARK(engineSwitches)->Arg(1)->Arg(100)->Arg(1000);
BENCHMARK_MAIN();
