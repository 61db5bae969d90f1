// The kernels and thread counts the differential tests run their cases
// under: every kernel, each at 1, 2, 3 and 7 threads, and a fixture that
// chooses them and puts the defaults back.  A kernel this processor lacks is
// skipped, saying so.
#pragma once

#include "engines/Dispatch.h"
#include "engines/Parallel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talvine::test {

struct KernelSetup {
    engines::Kernel kernel;
    int threads;
};

inline const char* kernelName(engines::Kernel k) {
    return k == engines::Kernel::Avx512 ? "Avx512"
           : k == engines::Kernel::Avx2 ? "Avx2"
                                        : "Baseline";
}

inline std::vector<KernelSetup> kernelSetups() {
    std::vector<KernelSetup> out;
    for (engines::Kernel k :
         {engines::Kernel::Baseline, engines::Kernel::Avx2, engines::Kernel::Avx512})
        for (int t : {1, 2, 3, 7})
            out.push_back({k, t});
    return out;
}

inline std::string kernelSetupName(const ::testing::TestParamInfo<KernelSetup>& info) {
    return std::string(kernelName(info.param.kernel)) + "_" + std::to_string(info.param.threads) +
           "threads";
}

// The kernel in use before any test chose one.
inline const engines::Kernel kDefaultKernel = engines::activeKernel();

class KernelFixture : public ::testing::TestWithParam<KernelSetup> {
  protected:
    void SetUp() override {
        if (!engines::kernelSupported(GetParam().kernel))
            GTEST_SKIP() << "this processor has no " << kernelName(GetParam().kernel)
                         << " kernel: these cases run on machines that have one";
        ASSERT_TRUE(engines::setKernel(GetParam().kernel));
        engines::setThreadCount(GetParam().threads);
    }
    void TearDown() override {
        engines::setKernel(kDefaultKernel);
        engines::setThreadCount(0);
    }
};

} // namespace talvine::test
