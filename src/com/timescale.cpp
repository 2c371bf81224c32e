#include "com/timescale.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace modburn {
namespace {
std::atomic<double> gScale{1.0};
std::atomic<double> gGapScale{1.0};

long long scale(long long micros, double factor) {
  if (micros <= 0) return micros;
  auto scaled = static_cast<long long>(static_cast<double>(micros) * factor);
  return scaled > 0 ? scaled : 1;
}
}  // namespace

void set_time_scale(double factor) { gScale.store(factor > 0 ? factor : 1.0); }

double time_scale() { return gScale.load(); }

long long scaled_micros(long long micros) { return scale(micros, gScale.load()); }

void set_gap_scale(double factor) { gGapScale.store(factor > 0 ? factor : 1.0); }

long long scaled_gap_micros(long long micros) { return scale(micros, gGapScale.load()); }

void sleep_ms(int ms) {
  if (ms <= 0) return;
  std::this_thread::sleep_for(std::chrono::microseconds(scaled_micros(ms * 1000LL)));
}

}  // namespace modburn
