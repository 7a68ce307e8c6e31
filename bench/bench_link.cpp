// The simulator link's speed against its floors: one flash-word read through sv_sys_call and
// vok-simulator, a two-process semaphore ping-pong, and a spin ping-pong over shared memory;
// then a whole update against the simulator with the tool's wall time and peak memory.
#include <benchmark/benchmark.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <new>

#include "image_set.h"
#include "run_process.h"
#include "simulator_process.h"
#include "sv_internal.h"

namespace {

using clock_type = std::chrono::steady_clock;

// Nanoseconds per round trip of each benchmark, for the summary.
double spin_ns = 0, semaphore_ns = 0, simulator_ns = 0;

template <typename Shared>
Shared *shared_block() {
  void *p = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : new (p) Shared;
}

struct spin_block {
  std::atomic<std::uint32_t> ping{0}, pong{0};
  std::atomic<bool> stop{false};
};

void spin_pingpong(benchmark::State &state) {
  auto *b = shared_block<spin_block>();
  pid_t child = fork();
  if (child == 0) {
    std::uint32_t seen = 0;
    while (!b->stop.load(std::memory_order_relaxed)) {
      std::uint32_t now = b->ping.load(std::memory_order_acquire);
      if (now != seen) {
        seen = now;
        b->pong.store(now, std::memory_order_release);
      }
    }
    _exit(0);
  }
  std::uint32_t n = 0;
  const auto start = clock_type::now();
  for (auto _ : state) {
    b->ping.store(++n, std::memory_order_release);
    while (b->pong.load(std::memory_order_acquire) != n) {
    }
  }
  spin_ns = std::chrono::duration<double, std::nano>(clock_type::now() - start).count() / n;
  b->stop = true;
  waitpid(child, nullptr, 0);
  munmap(b, sizeof *b);
}
BENCHMARK(spin_pingpong)->Iterations(1000000)->Unit(benchmark::kNanosecond)->UseRealTime();

struct semaphore_block {
  sem_t ping, pong;
};

void semaphore_pingpong(benchmark::State &state) {
  auto *b = shared_block<semaphore_block>();
  sem_init(&b->ping, 1, 0);
  sem_init(&b->pong, 1, 0);
  const long long rounds = state.max_iterations;
  pid_t child = fork();
  if (child == 0) {
    for (long long i = 0; i < rounds; ++i) {
      sem_wait(&b->ping);
      sem_post(&b->pong);
    }
    _exit(0);
  }
  const auto start = clock_type::now();
  for (auto _ : state) {
    sem_post(&b->ping);
    sem_wait(&b->pong);
  }
  semaphore_ns = std::chrono::duration<double, std::nano>(clock_type::now() - start).count() / rounds;
  waitpid(child, nullptr, 0);
  munmap(b, sizeof *b);
}
BENCHMARK(semaphore_pingpong)->Iterations(200000)->Unit(benchmark::kNanosecond)->UseRealTime();

void simulator_flash_read(benchmark::State &state) {
  vok::test::simulator_process sim;
  sv_handle *sv = sim.ready() ? sv_open("PCI,card:0") : nullptr;
  if (sv == nullptr) {
    state.SkipWithError("no simulator");
    return;
  }
  orvello_debug pd{};
  pd.header.size = 64;
  pd.header.magic = ORVELLO_MAGIC;
  std::uint32_t offset = 0;
  long long failed = 0;
  const auto start = clock_type::now();
  for (auto _ : state) {
    pd.command = OV_DEBUG_R_FLASH;
    pd.parameter = 0x400000 + (offset = (offset + 4) % 0x3FFFC0);
    failed += sv_sys_call(sv, ORVELLO_REQ_DEBUG, &pd) != SV_OK || pd.value != 0xFFFFFFFFu;
  }
  if (failed != 0) state.SkipWithError("requests failed");
  simulator_ns = std::chrono::duration<double, std::nano>(clock_type::now() - start).count() /
                 static_cast<double>(state.iterations());
  sv_close(sv);
}
BENCHMARK(simulator_flash_read)->Iterations(1000000)->Unit(benchmark::kNanosecond)->UseRealTime();

// A complete update of the four images by vantrel-upgrade against vok-simulator.
void full_update(benchmark::State &state) {
  for (auto _ : state) {
    vok::test::simulator_process sim;
    if (!sim.ready()) {
      state.SkipWithError("no simulator");
      return;
    }
    const auto start = clock_type::now();
    vok::test::process_result run = vok::test::run_process(VOK_UPGRADE_PATH, {}, "y\n");
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    if (run.status != 0) state.SkipWithError("the update failed");
    constexpr double requests = 4.0 * (0x400000 - 64) / 4;
    double images = 0;
    for (const auto &image : vok::firmware::image_set) images += image.size;
    state.counters["wall_s"] = seconds;
    state.counters["readback_per_s"] = requests / seconds;
    std::printf("\nfull update: %.2f s wall, %.0f read-back requests/s\n", seconds,
                requests / seconds);
    std::printf("floor: spin ping-pong %.0f ns x 4194240 = %.2f s; update / floor = %.2f\n",
                spin_ns, spin_ns * 4194240e-9, seconds / (spin_ns * 4194240e-9));
    std::printf("peak resident memory of vantrel-upgrade: %.1f MiB, %.1f MiB above its embedded "
                "images (%.1f MiB)\n",
                run.peak_kib / 1024.0, run.peak_kib / 1024.0 - images / 1048576.0,
                images / 1048576.0);
  }
}
BENCHMARK(full_update)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  if (spin_ns > 0 && simulator_ns > 0) {
    std::printf("\nround trips: spin %.0f ns, semaphore %.0f ns, sv_sys_call through vok-simulator "
                "%.0f ns; simulator / spin = %.2f\n",
                spin_ns, semaphore_ns, simulator_ns, simulator_ns / spin_ns);
  }
  benchmark::Shutdown();
  return 0;
}
