#include "engines/Dispatch.h"

#include <atomic>
#include <cstdlib>
#include <string>

namespace talvine::engines {
namespace {

Kernel best() {
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512vbmi"))
        return Kernel::Avx512;
    if (__builtin_cpu_supports("avx2")) return Kernel::Avx2;
#endif
    return Kernel::Baseline;
}

// TALVINE_KERNEL=baseline|avx2|avx512 asks for a kernel (benchmarks
// compare them); one the processor lacks is ignored.
Kernel initial() {
    const char* env = std::getenv("TALVINE_KERNEL");
    if (!env) return best();
    const std::string name = env;
    const Kernel asked = name == "baseline" ? Kernel::Baseline
                         : name == "avx2"   ? Kernel::Avx2
                                            : Kernel::Avx512;
    return static_cast<int>(asked) <= static_cast<int>(best()) ? asked : best();
}

std::atomic<Kernel>& chosen() {
    static std::atomic<Kernel> kernel{initial()};
    return kernel;
}

} // namespace

bool kernelSupported(Kernel kernel) {
    return static_cast<int>(kernel) <= static_cast<int>(best());
}

Kernel activeKernel() {
    return chosen().load(std::memory_order_relaxed);
}

bool setKernel(Kernel kernel) {
    if (!kernelSupported(kernel)) return false;
    chosen().store(kernel);
    return true;
}

} // namespace talvine::engines
