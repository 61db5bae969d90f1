#include "engines/Dispatch.h"

#include <atomic>

namespace talvine::engines {
namespace {

Kernel best() {
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx2")) return Kernel::Avx2;
#endif
    return Kernel::Baseline;
}

std::atomic<Kernel>& chosen() {
    static std::atomic<Kernel> kernel{best()};
    return kernel;
}

} // namespace

bool kernelSupported(Kernel kernel) {
    return kernel == Kernel::Baseline || best() == Kernel::Avx2;
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
