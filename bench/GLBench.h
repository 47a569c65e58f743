// Helpers of the benchmarks that set a frame of our Direct3D 9 substitute
// beside the same frame in bare OpenGL calls: compiling a bare GL shader,
// and a console reporter that keeps each paired run's ratio (the counter
// x_baseline of PairedRun.h) so that main can print the ratios once every
// benchmark has run.
#pragma once

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <benchmark/benchmark.h>

#include "d3d9/TestScenes.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
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

// A colour (RGBA8) and depth-stencil target of size x size, made in the
// current context and drawn into through framebuffer.
struct OffscreenTarget {
    GLuint color = 0, depth = 0, framebuffer = 0;
    void create(GLsizei size) {
        glCreateRenderbuffers(1, &color);
        glNamedRenderbufferStorage(color, GL_RGBA8, size, size);
        glCreateRenderbuffers(1, &depth);
        glNamedRenderbufferStorage(depth, GL_DEPTH24_STENCIL8, size, size);
        glCreateFramebuffers(1, &framebuffer);
        glNamedFramebufferRenderbuffer(framebuffer, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
        glNamedFramebufferRenderbuffer(framebuffer, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
    }
    void destroy() {
        glDeleteFramebuffers(1, &framebuffer);
        glDeleteRenderbuffers(1, &color);
        glDeleteRenderbuffers(1, &depth);
    }
};

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto ratio = run.counters.find("x_baseline");
            if (run.iterations > 0 && !run.error_occurred && ratio != run.counters.end())
                ratios[run.benchmark_name()] = ratio->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // The median ratio project / baseline of a paired run; 0 when it did not run.
    double ratio(const std::string& run) const {
        const auto found = ratios.find(run);
        return found != ratios.end() ? found->second : 0.0;
    }
    std::map<std::string, double> ratios;
};

using d3d9_scenes::differingPixels;

}  // namespace bench_gl
