// 200 small GETs against the loopback server, spread over 1 or 10 threads:
// what keeping a connection per thread saves.
#include <benchmark/benchmark.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/services.h"
#include "support/test_server.h"

namespace folivex {
namespace {

constexpr int kFetches = 200;

void BM_Fetch200(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  TestServer server;
  server.HandlePrefix("/p/", [](const RecordedRequest&) {
    return Response::Ok(std::string(2048, 'j'), "image/jpeg");
  });
  if (!server.Start()) {
    state.SkipWithError(server.error().c_str());
    return;
  }
  std::atomic<int> failures{0};
  for (auto _ : state) {
    std::atomic<int> next{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&] {
        for (int i = next++; i < kFetches; i = next++) {
          const FetchResult result = Fetch(server.Url("/p/" + std::to_string(i) + ".jpg"));
          if (!result.Completed() || result.body.size() != 2048) ++failures;
        }
      });
    }
    for (std::thread& worker : workers) worker.join();
  }
  state.counters["connections_per_200"] =
      benchmark::Counter(static_cast<double>(server.ConnectionCount()) /
                         static_cast<double>(state.iterations()));
  state.counters["failures"] = failures.load();
}
BENCHMARK(BM_Fetch200)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace folivex

BENCHMARK_MAIN();
