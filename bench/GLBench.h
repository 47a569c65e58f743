// Helpers of the benchmarks that set a frame of our Direct3D 9 substitute
// beside the same frame in bare OpenGL calls: compiling a bare GL shader,
// and a console reporter that keeps each run's time per iteration so that
// main can print the ratios once every benchmark has run.
#pragma once

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench_gl {

inline GLuint compile(GLenum stage, const char* text) {
    GLuint shader = glCreateShader(stage);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    return shader;
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.iterations > 0 && !run.error_occurred) times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    // The time of a run over the time of another; 0 when either is missing.
    double ratio(const std::string& run, const std::string& baseline) const {
        const auto a = times.find(run);
        const auto b = times.find(baseline);
        return a != times.end() && b != times.end() && b->second > 0 ? a->second / b->second : 0.0;
    }
    std::map<std::string, double> times;
};

}  // namespace bench_gl
