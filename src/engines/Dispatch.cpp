#include "engines/Dispatch.h"

#include <atomic>
#include <cstdlib>
#include <stdexcept>
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
// compare them); one the processor lacks is ignored.  Any other value is an
// error, raised by every engine until it is mended: a misspelt name must not
// quietly measure another kernel.
Kernel initial() {
    const char* env = std::getenv("TALVINE_KERNEL");
    if (!env) return best();
    const std::string name = env;
    Kernel asked;
    if (name == "baseline")
        asked = Kernel::Baseline;
    else if (name == "avx2")
        asked = Kernel::Avx2;
    else if (name == "avx512")
        asked = Kernel::Avx512;
    else
        throw std::invalid_argument("TALVINE_KERNEL=" + name +
                                    " names no kernel: baseline, avx2 or avx512");
    return static_cast<int>(asked) <= static_cast<int>(best()) ? asked : best();
}

// A throwing initialisation leaves it to be tried again at the next call.
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
