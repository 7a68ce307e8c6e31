// The cost of one sv_sys_call through the test device layer, answering at once.
#include <benchmark/benchmark.h>

#include "sv_internal.h"
#include "test_driver.h"

namespace {

void sys_call_answered_at_once(benchmark::State &state) {
  vok::test::driver d;
  d.log_requests = false;
  d.at(0).answer = [](void *record, std::size_t) {
    auto *q = static_cast<orvello_query *>(record);
    q->value = q->parameter + 1;
    q->header.result = SV_OK;
  };
  sv_handle *sv = sv_open("PCI,card:0");
  if (sv == nullptr) {
    state.SkipWithError("open failed");
    return;
  }
  orvello_query q;
  vok::prepare(q);
  int parameter = 0;
  for (auto _ : state) {
    q.parameter = parameter++;
    benchmark::DoNotOptimize(sv_sys_call(sv, ORVELLO_REQ_QUERY, &q));
  }
  sv_close(sv);
}
BENCHMARK(sys_call_answered_at_once);

}  // namespace

BENCHMARK_MAIN();
