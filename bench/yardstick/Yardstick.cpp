// Talvine's engines beside OpenCV doing the matching job, in one run, on a
// 6000 x 4000 RGB picture, with 1 and 2 threads each.  After the usual
// Google Benchmark output it prints one table: the median time of each side,
// their ratio (Talvine / OpenCV; below 1 is ahead), Talvine's time as a
// multiple of one memcpy of the whole frame (the floor any job that writes
// the frame must pay) and how many pixels per run Talvine's fast paths
// handed to the exact formula.
//
//   build/release/bench/talvine_yardstick [--benchmark_filter=Tilt]

#include "core/ParamCoul.h"
#include "engines/CorrDistor.h"
#include "engines/DecoupImg.h"
#include "engines/FastBlend.h"
#include "engines/ModifAngle.h"
#include "engines/Parallel.h"
#include "engines/Perspective.h"
#include "engines/RotImg.h"
#include "engines/TailleImg.h"

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace talvine;
using engines::Sampling;

constexpr int32_t kW = 6000, kH = 4000;

// A picture with smooth gradients and some texture, so that blends are not
// all of equal pixels.
const PtsImg& picture() {
    static const PtsImg p = [] {
        PtsImg img(int64_t{kW} * kH);
        auto* b = reinterpret_cast<uint8_t*>(img.data());
        for (int64_t y = 0; y < kH; ++y)
            for (int64_t x = 0; x < kW; ++x) {
                uint8_t* px = b + 3 * (y * kW + x);
                px[0] = static_cast<uint8_t>(x / 24 + ((x * 7 + y * 13) & 15));
                px[1] = static_cast<uint8_t>(y / 16 + ((x ^ y) & 31));
                px[2] = static_cast<uint8_t>((x + y) / 40 + ((x * y) & 7));
            }
        return img;
    }();
    return p;
}

cv::Mat matOf(const PtsImg& p, int w, int h) {
    return cv::Mat(h, w, CV_8UC3, const_cast<TPtImg*>(p.data()));
}

// One job: a Talvine side and an OpenCV side, each given its thread count.
struct Job {
    std::string name;
    std::function<void(benchmark::State&)> talvine;
    std::function<void(benchmark::State&)> opencv;
};

template <class F> void loop(benchmark::State& state, F&& body) {
    const int threads = static_cast<int>(state.range(0));
    engines::setThreadCount(threads);
    cv::setNumThreads(threads);
    // One run first, untimed: it faults in the pages of every buffer the
    // job writes (OpenCV allocates its maps and outputs lazily), which on a
    // virtual machine can cost more than the job itself.
    body();
    const int64_t before = engines::fast::fallbacks.load();
    for (auto _ : state) {
        body();
        benchmark::ClobberMemory();
    }
    state.counters["fallbacks"] = static_cast<double>(engines::fast::fallbacks.load() - before) /
                                  static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    engines::setThreadCount(0);
}

// Points 1000 apart, 60 higher (about 3.4 degrees), about the middle.
engines::TiltParams tilt(Sampling s) {
    return {{3000, 2000}, *engines::tiltAngle({3000, 2000}, {4000, 2060}), s};
}

cv::Mat tiltMatrix() {
    const double a = static_cast<double>(tilt(Sampling::Nearest).angle);
    // Destination (x, y) -> source, about (3000, 2000): the same lookup.
    cv::Mat m =
        (cv::Mat_<double>(2, 3) << std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a), 0);
    m.at<double>(0, 2) = 3000 - 3000 * std::cos(a) + 2000 * std::sin(a);
    m.at<double>(1, 2) = 2000 - 3000 * std::sin(a) - 2000 * std::cos(a);
    return m;
}

// The distortion law's map for OpenCV's remap (rate 35, linear law),
// built in each run as a host would have to.
void distortionMaps(cv::Mat& mx, cv::Mat& my) {
    const int cx = kW / 2, cy = kH / 2;
    const double rmax = std::sqrt(double(kW) * kW + double(kH) * kH) / 2;
    const double a = 35 / 125.0, k = a / rmax, g = 1 + a;
    cv::parallel_for_(cv::Range(0, kH), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            auto* px = mx.ptr<float>(y);
            auto* py = my.ptr<float>(y);
            const double dy = y - cy;
            for (int x = 0; x < kW; ++x) {
                const double dx = x - cx, r = std::sqrt(dx * dx + dy * dy);
                const double s = r == 0 ? 0 : g / (k * r + 1);
                px[x] = static_cast<float>(cx + dx * s);
                py[x] = static_cast<float>(cy + dy * s);
            }
        }
    });
}

const engines::Corners kCorners{{1400, 300}, {4700, 250}, {5900, 3950}, {100, 3900}};

cv::Mat perspectiveMatrix() {
    const cv::Point2f from[4] = {{0, 0}, {kW, 0}, {kW, kH}, {0, kH}};
    const cv::Point2f to[4] = {{1400, 300}, {4700, 250}, {5900, 3950}, {100, 3900}};
    return cv::getPerspectiveTransform(from, to);
}

std::vector<Job> jobs() {
    std::vector<Job> out;
    auto warp = [](Sampling s) {
        return [s](benchmark::State& st) {
            PtsImg dst(int64_t{kW} * kH);
            const auto p = tilt(s);
            loop(st, [&] { engines::tilt(picture().data(), dst.data(), kW, kH, p); });
        };
    };
    auto cvWarp = [](int interp) {
        return [interp](benchmark::State& st) {
            cv::Mat dst(kH, kW, CV_8UC3);
            const cv::Mat m = tiltMatrix();
            loop(st, [&] {
                cv::warpAffine(matOf(picture(), kW, kH), dst, m, dst.size(),
                               interp | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT,
                               cv::Scalar(255, 255, 255));
            });
        };
    };
    out.push_back({"Tilt/Bilinear", warp(Sampling::Bilinear), cvWarp(cv::INTER_LINEAR)});
    out.push_back({"Tilt/Nearest", warp(Sampling::Nearest), cvWarp(cv::INTER_NEAREST)});

    auto dist = [](Sampling s) {
        return [s](benchmark::State& st) {
            PtsImg dst(int64_t{kW} * kH);
            const engines::DistortionParams p{35, engines::DistortionLaw::Linear, s};
            loop(st, [&] { engines::correctDistortion(picture().data(), dst.data(), kW, kH, p); });
        };
    };
    auto cvRemap = [](int interp) {
        return [interp](benchmark::State& st) {
            cv::Mat dst(kH, kW, CV_8UC3), mx(kH, kW, CV_32F), my(kH, kW, CV_32F);
            loop(st, [&] {
                distortionMaps(mx, my);
                cv::remap(matOf(picture(), kW, kH), dst, mx, my, interp);
            });
        };
    };
    out.push_back({"Distortion/Bilinear", dist(Sampling::Bilinear), cvRemap(cv::INTER_LINEAR)});
    out.push_back({"Distortion/Nearest", dist(Sampling::Nearest), cvRemap(cv::INTER_NEAREST)});

    auto persp = [](Sampling s) {
        return [s](benchmark::State& st) {
            PtsImg dst(int64_t{kW} * kH);
            const engines::PerspectiveParams p{kCorners, 5, s};
            loop(st, [&] { engines::correctPerspective(picture().data(), dst.data(), kW, kH, p); });
        };
    };
    auto cvPersp = [](int interp) {
        return [interp](benchmark::State& st) {
            cv::Mat dst(kH, kW, CV_8UC3);
            const cv::Mat m = perspectiveMatrix();
            loop(st, [&] {
                cv::warpPerspective(matOf(picture(), kW, kH), dst, m, dst.size(),
                                    interp | cv::WARP_INVERSE_MAP);
            });
        };
    };
    out.push_back(
        {"Perspective/Bilinear/v5", persp(Sampling::Bilinear), cvPersp(cv::INTER_LINEAR)});
    out.push_back({"Perspective/Nearest/v5", persp(Sampling::Nearest), cvPersp(cv::INTER_NEAREST)});

    auto resize = [](bool smooth, int percent) {
        return [smooth, percent](benchmark::State& st) {
            const int32_t nw = kW * percent / 100, nh = kH * percent / 100;
            PtsImg dst(int64_t{nw} * nh);
            loop(st, [&] {
                if (smooth)
                    engines::resizeSmoothed(picture().data(), kW, kH, dst.data(), nw, nh);
                else
                    engines::resizeNearest(picture().data(), kW, kH, dst.data(), nw, nh);
            });
        };
    };
    auto cvResize = [](int interp, int percent) {
        return [interp, percent](benchmark::State& st) {
            cv::Mat dst(kH * percent / 100, kW * percent / 100, CV_8UC3);
            loop(st, [&] { cv::resize(matOf(picture(), kW, kH), dst, dst.size(), 0, 0, interp); });
        };
    };
    out.push_back({"Resize/Smoothed/Doubling", resize(true, 200), cvResize(cv::INTER_LINEAR, 200)});
    out.push_back({"Resize/Smoothed/Halving", resize(true, 50), cvResize(cv::INTER_LINEAR, 50)});
    out.push_back(
        {"Resize/Nearest/Doubling", resize(false, 200), cvResize(cv::INTER_NEAREST, 200)});
    out.push_back({"Resize/Nearest/Halving", resize(false, 50), cvResize(cv::INTER_NEAREST, 50)});

    // The crop against a memcpy of the cropped bytes (the goal's yardstick).
    out.push_back({"Crop/3000x2000",
                   [](benchmark::State& st) {
                       PtsImg dst(3000 * 2000);
                       loop(st, [&] {
                           engines::copyRect(picture().data(), kW, kH, {1500, 1000, 3000, 2000},
                                             dst.data(), 3000 * 2000);
                       });
                   },
                   [](benchmark::State& st) {
                       std::vector<uint8_t> dst(3000 * 2000 * 3);
                       loop(st, [&] { std::memcpy(dst.data(), picture().data(), dst.size()); });
                   }});

    auto mirrorLR = [](benchmark::State& st) {
        PtsImg img(int64_t{kW} * kH);
        std::memcpy(img.data(), picture().data(), size_t{kW} * kH * 3);
        loop(st, [&] { engines::mirrorLeftRight(img.data(), kW, kH); });
    };
    auto mirrorTB = [](benchmark::State& st) {
        PtsImg img(int64_t{kW} * kH);
        std::memcpy(img.data(), picture().data(), size_t{kW} * kH * 3);
        loop(st, [&] { engines::mirrorTopBottom(img.data(), kW, kH); });
    };
    auto cvFlip = [](int code) {
        return [code](benchmark::State& st) {
            cv::Mat dst(kH, kW, CV_8UC3);
            loop(st, [&] { cv::flip(matOf(picture(), kW, kH), dst, code); });
        };
    };
    out.push_back({"Mirror/LeftRight", mirrorLR, cvFlip(1)});
    out.push_back({"Mirror/TopBottom", mirrorTB, cvFlip(0)});
    out.push_back(
        {"QuarterTurn/Ccw",
         [](benchmark::State& st) {
             PtsImg dst(int64_t{kW} * kH);
             loop(st, [&] { engines::quarterTurnCcw(picture().data(), dst.data(), kW, kH); });
         },
         [](benchmark::State& st) {
             cv::Mat dst(kW, kH, CV_8UC3);
             loop(st, [&] {
                 cv::rotate(matOf(picture(), kW, kH), dst, cv::ROTATE_90_COUNTERCLOCKWISE);
             });
         }});
    return out;
}

// Collects the median of each benchmark's repetitions.
class TableReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Aggregate || r.aggregate_name != "median") continue;
            const std::string name = r.run_name.function_name + "/" + r.run_name.args;
            medians[name] = r.GetAdjustedRealTime();
            auto it = r.counters.find("fallbacks");
            if (it != r.counters.end()) fallbacks[name] = it->second.value;
        }
    }
    std::map<std::string, double> medians, fallbacks;
};

} // namespace

int main(int argc, char** argv) {
    const std::vector<Job> all = jobs();
    const auto timed = [](benchmark::internal::Benchmark* b) {
        b->ArgName("threads")
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.2)
            ->Repetitions(7)
            ->ReportAggregatesOnly(true)
            ->UseRealTime();
    };
    // The physical floor: one frame's bytes read and written once.
    timed(benchmark::RegisterBenchmark("Frame/memcpy", [](benchmark::State& st) {
              std::vector<uint8_t> dst(size_t{kW} * kH * 3);
              loop(st, [&] { std::memcpy(dst.data(), picture().data(), dst.size()); });
          })->Arg(1));
    for (const Job& job : all)
        for (const char* side : {"talvine", "opencv"}) {
            const bool ours = side[0] == 't';
            timed(benchmark::RegisterBenchmark((job.name + "/" + side).c_str(),
                                               ours ? job.talvine : job.opencv)
                      ->Arg(1)
                      ->Arg(2));
        }
    // The repetitions of all benchmarks are interleaved at random, so that a
    // busy spell of a shared machine falls on both sides alike.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.push_back(interleave);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto frame = reporter.medians.find("Frame/memcpy/threads:1");
    const double memcpyMs = frame == reporter.medians.end() ? NAN : frame->second;
    std::printf("\nmemcpy of the %d x %d frame: %.2f ms\n", kW, kH, memcpyMs);
    std::printf("%-26s %10s %10s %7s %10s %10s %7s %8s %8s %10s\n", "job (ms, median)", "Talvine 1",
                "OpenCV 1", "ratio", "Talvine 2", "OpenCV 2", "ratio", "xmemcpy1", "xmemcpy2",
                "fallbacks");
    for (const Job& job : all) {
        auto get = [&](const char* side, int t) {
            const auto it =
                reporter.medians.find(job.name + "/" + side + "/threads:" + std::to_string(t));
            return it == reporter.medians.end() ? NAN : it->second;
        };
        const double t1 = get("talvine", 1), o1 = get("opencv", 1), t2 = get("talvine", 2),
                     o2 = get("opencv", 2);
        if (std::isnan(t1) && std::isnan(t2)) continue;
        const auto fb = reporter.fallbacks.find(job.name + "/talvine/threads:1");
        std::printf("%-26s %10.1f %10.1f %7.2f %10.1f %10.1f %7.2f %8.1f %8.1f %10.0f\n",
                    job.name.c_str(), t1, o1, t1 / o1, t2, o2, t2 / o2, t1 / memcpyMs,
                    t2 / memcpyMs, fb == reporter.fallbacks.end() ? NAN : fb->second);
    }
    benchmark::Shutdown();
    return 0;
}
