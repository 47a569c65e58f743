// The headless demo's start-up against a bare floor program, processes
// launched alternately (PairedRun.h), with tests/demo/PresentProbe.cpp preloaded
// into both to see their presents:
//   Startup/first_present   the launch (fork) to the first presented frame
//                           of the game's menu (the demo's splash is
//                           presented before it, from the render core's
//                           start; the menu's frame is the message loop's
//                           first) of the built demo's game, headless (the
//                           offscreen video driver, surfaceless EGL),
//                           against engine_bench_floor startup (an SDL
//                           window, a surfaceless GL 4.5 context, a Lua
//                           state, the data root read) to its one clear; the
//                           process is ended at that present. Counters: the
//                           peak resident memory of each at that point
//                           (game_rss_mib, floor_rss_mib)
//   Startup/first_present_window
//                           the same in a window on the X display that
//                           DISPLAY names (skipped without one): the game
//                           in its window, the floor showing its clear in a
//                           GL window of the desktop's size on that display
//                           (the game's first run is full screen at the
//                           desktop's size); the window's set-up is part of
//                           the time
//   Startup/tour            the whole headless tour of the demo, launched
//                           to its end; counter tour_peak_rss_mib, the
//                           peak resident memory of the run
// The demo runs with a user and runtime folder of its own under the
// temporary folder. Needs the built demo data folder (target demo_data).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "PairedRun.h"

extern char** environ;

namespace {

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

struct Launch {
    bool ran = false;          // started and ended with exit code 0
    double presentAt = -1.0;   // monotonic seconds of the first present; -1: none
    double seconds = 0.0;      // launch to the first present (or to the end without one)
    double wholeRun = 0.0;     // launch to the end
    double peakMiB = 0.0;      // peak resident memory
};

class Launcher {
public:
    Launcher() {
        folder_ = std::filesystem::temp_directory_path() / ("engine_bench_startup_" + std::to_string(getpid()));
        std::filesystem::create_directories(folder_ / "appdata");
        std::filesystem::create_directories(folder_ / "runtime");
    }
    ~Launcher() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // Runs the program with the probe preloaded; a positive presents ends
    // it at that present (the process is killed as its line arrives). With
    // a display the program opens its window there, else it runs headless.
    Launch run(const std::vector<std::string>& arguments, int presents, const std::string& display = {}) const {
        int pipeEnds[2];
        Launch launch;
        if (pipe(pipeEnds) != 0) return launch;
        std::vector<std::string> environment;
        auto replaced = [](const std::string& text) {
            for (const char* name : {"LD_PRELOAD=", "SDL_VIDEODRIVER=", "SDL_AUDIODRIVER=", "XDG_DATA_HOME=",
                                     "XDG_RUNTIME_DIR=", "DISPLAY=", "WAYLAND_DISPLAY=", "PRESENT_PROBE_"})
                if (text.rfind(name, 0) == 0) return true;
            return false;
        };
        for (char** entry = environ; *entry; ++entry)
            if (!replaced(*entry)) environment.push_back(*entry);
        environment.push_back(std::string("LD_PRELOAD=") + PRESENT_PROBE);
        environment.push_back("PRESENT_PROBE_FD=" + std::to_string(pipeEnds[1]));
        if (display.empty())
            environment.push_back("SDL_VIDEODRIVER=offscreen");
        else
            environment.push_back("DISPLAY=" + display);
        environment.push_back("SDL_AUDIODRIVER=dummy");
        environment.push_back("XDG_DATA_HOME=" + (folder_ / "appdata").string());
        environment.push_back("XDG_RUNTIME_DIR=" + (folder_ / "runtime").string());
        std::vector<char*> argv;
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);

        const double start = monotonicSeconds();
        const pid_t child = fork();
        if (child == 0) {
            close(pipeEnds[0]);
            if (FILE* quiet = std::freopen("/dev/null", "w", stdout)) (void)quiet;
            if (FILE* quiet = std::freopen("/dev/null", "w", stderr)) (void)quiet;
            if (chdir(folder_.c_str()) != 0) _exit(126);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(pipeEnds[1]);
        std::string lines;
        char buffer[4096];
        int seen = 0;
        bool ended = false;
        long long nanoseconds = -1;
        for (ssize_t n; !ended && (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
            lines.append(buffer, std::size_t(n));
            // Complete lines only: "present <ns>".
            for (std::size_t at; !ended && (at = lines.find('\n')) != std::string::npos; lines.erase(0, at + 1)) {
                long long value = 0;
                if (std::sscanf(lines.c_str(), "present %lld", &value) != 1) continue;
                if (++seen == presents) {
                    nanoseconds = value;
                    if (child > 0) kill(child, SIGKILL);
                    ended = true;
                }
            }
        }
        close(pipeEnds[0]);
        int status = 0;
        rusage usage{};
        if (child < 0 || wait4(child, &status, 0, &usage) != child) return launch;
        const double end = monotonicSeconds();
        // Ended at the present asked for, or by itself with exit code 0.
        launch.ran = ended || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
        if (nanoseconds >= 0) launch.presentAt = double(nanoseconds) * 1e-9;
        launch.seconds = (launch.presentAt >= 0.0 ? launch.presentAt : end) - start;
        launch.wholeRun = end - start;
        launch.peakMiB = double(usage.ru_maxrss) / 1024.0;
        return launch;
    }

private:
    std::filesystem::path folder_;
};

const std::vector<std::string> kGame = {DEMO_FOLDER "/bin/game"};
const std::vector<std::string> kFloor = {FLOOR_PROGRAM, "startup", DEMO_FOLDER};

// The game's present that shows its menu: the first when no splash lies
// beside its executable, else the one after the splash's.
int menuPresent() { return std::filesystem::exists(DEMO_FOLDER "/bin/splash_screen.dds") ? 2 : 1; }

// Launch to the menu's first frame, the game against the floor, headless or
// on the display given.
void firstPresentOn(benchmark::State& state, const std::string& display) {
    Launcher launcher;
    std::vector<double> gameMiB, floorMiB;
    bool failed = false;
    auto launch = [&](const std::vector<std::string>& program, std::vector<double>& peaks) {
        const Launch run = launcher.run(program, &program == &kGame ? menuPresent() : 1, display);
        if (!run.ran || run.presentAt < 0.0) failed = true;
        peaks.push_back(run.peakMiB);
        return run.seconds;
    };
    bench_pairs::runPaired(state, [&] { return launch(kGame, gameMiB); }, [&] { return launch(kFloor, floorMiB); });
    if (failed) state.SkipWithError("a launch ended without a present (demo data built? EGL?)");
    state.counters["game_rss_mib"] = bench_pairs::median(gameMiB);
    state.counters["floor_rss_mib"] = bench_pairs::median(floorMiB);
}

void firstPresent(benchmark::State& state) { firstPresentOn(state, {}); }
BENCHMARK(firstPresent)->Name("Startup/first_present")->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

void firstPresentWindow(benchmark::State& state) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        state.SkipWithError("no X display (DISPLAY) for the window");
        for (auto _ : state) {
        }
        return;
    }
    firstPresentOn(state, display);
}
BENCHMARK(firstPresentWindow)
    ->Name("Startup/first_present_window")
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void tour(benchmark::State& state) {
    Launcher launcher;
    std::vector<double> peaks;
    for (auto _ : state) {
        const Launch run = launcher.run(kGame, 0);
        if (!run.ran) {
            state.SkipWithError("the headless tour did not end with exit code 0");
            return;
        }
        state.SetIterationTime(run.wholeRun);
        peaks.push_back(run.peakMiB);
    }
    state.counters["tour_peak_rss_mib"] = bench_pairs::median(peaks);
}
BENCHMARK(tour)->Name("Startup/tour")->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
