// Which vector kernels the engines run: chosen once, from what the
// processor offers, so the module loads on any x86-64-v2 machine and uses
// AVX2 or AVX-512 (F, DQ, BW, VL and VBMI) where there is one.  Every kernel gives the same bytes;
// tests run each one the machine supports against the plain loops.
#pragma once

namespace talvine::engines {

enum class Kernel { Baseline, Avx2, Avx512 };

bool kernelSupported(Kernel kernel);

// The kernel in use: the best supported one unless a test chose another.
Kernel activeKernel();

// TALVINE_KERNEL=baseline|avx2|avx512 in the environment chooses the first
// kernel (one the processor lacks is ignored); any other value makes
// activeKernel, setKernel and so every engine throw std::invalid_argument.

// Chooses the kernel for later runs; an unsupported one is refused (false).
bool setKernel(Kernel kernel);

} // namespace talvine::engines
