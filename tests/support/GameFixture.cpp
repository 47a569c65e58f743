#include "support/GameFixture.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "foundation/DataStream.h"
#include "script/ScriptVariable.h"
#include "shaderpack/ShaderPacker.h"
#include "support/PackageFixture.h"
#include "variables/VariableWriter.h"

namespace testing_support {

namespace {

// The bytes of a variable file (one full node record) from the text form.
bool variableFileBytes(const std::string& text, std::string& bytes, std::string& error) {
    ScriptVariable root("root", ScriptVariable::TypeArray);
    if (!variable_tools::parseVariableText(text, root, error)) return false;
    MemoryStream stream;
    if (variable_tools::writeVariableTree(root, stream) < 0) return error = "variable tree not written", false;
    bytes.assign(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
    return true;
}

}  // namespace

std::map<std::string, std::string> quittingScripts() {
    return {{"main",
             "function system_reset() end\n"
             "function game_start() world:quitGame() end\n"}};
}

GameFixture::GameFixture(const GameData& data, const std::string& program) {
    FixturePackage scripts;
    scripts.rule = "scripts.pak";
    for (const auto& [name, text] : data.scripts) scripts.files.push_back({".lua", name, text, "", true});
    std::vector<FixturePackage> packages = {scripts};
    FixturePackage variables;
    variables.rule = "variables.pak";
    const std::pair<const std::string*, const char*> trees[] = {{&data.globals, "var"}, {&data.locales, "loc"}};
    for (const auto& [text, source] : trees) {
        if (text->empty()) continue;
        std::string bytes;
        if (!variableFileBytes(*text, bytes, error_)) return;
        variables.files.push_back({".ptxt4", std::string(source) == "var" ? "globals" : "locale", bytes, source, true});
    }
    if (!variables.files.empty()) packages.push_back(variables);
    if (!data.dataFiles.empty()) {
        FixturePackage stored;
        stored.rule = "data.pak";
        stored.files = data.dataFiles;
        packages.push_back(stored);
    }
    if (!writeDataRoot(dir_.path(), packages)) {
        error_ = "data root not written";
        return;
    }
    if (!writeFile(dir_.file("game.ini"), data.gameIni)) {
        error_ = "game.ini not written";
        return;
    }
    // The compiled-shader package beside the game, as the build installs it.
    std::string why;
    if (!packAllShaders(dir_.file("shaders.0050"), why)) {
        error_ = "shader package not written: " + why;
        return;
    }
    makeFolders(dir_.file("appdata"));
    makeFolders(dir_.file("runtime"));
    std::error_code failure;
    std::filesystem::copy_file(program, executable(), failure);
    if (failure) error_ = "game not copied: " + failure.message();
}

GameFixture::~GameFixture() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::vector<std::string> GameFixture::environment() const {
    return {"XDG_DATA_HOME=" + dir_.file("appdata"), "XDG_RUNTIME_DIR=" + dir_.file("runtime"),
            "SDL_VIDEODRIVER=offscreen", "SDL_AUDIODRIVER=dummy"};
}

int GameFixture::run(int timeoutSeconds, std::string* stderrText) const {
    return runProgram(executable(), {}, environment(), root(), timeoutSeconds, stderrText);
}

bool GameFixture::start() {
    const std::vector<std::string> env = environment();
    const std::string program = executable();
    const std::string folder = root();
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        ::execv(program.c_str(), argv);
        ::_exit(127);
    }
    return true;
}

bool GameFixture::waitForLog(const std::string& text, int timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (log().find(text) != std::string::npos) return true;
        if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return log().find(text) != std::string::npos;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool GameFixture::signal(int number) { return pid_ > 0 && ::kill(pid_, number) == 0; }

int GameFixture::wait(int timeoutSeconds) {
    if (pid_ <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    for (;;) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

std::string GameFixture::logPath() const {
    std::error_code failure;
    const std::filesystem::path games = dir_.file("appdata/Games");
    for (const auto& entry : std::filesystem::directory_iterator(games, failure)) {
        const std::filesystem::path candidate = entry.path() / "log" / "game.log";
        if (std::filesystem::exists(candidate, failure)) return candidate.string();
    }
    return {};
}

std::string GameFixture::log() const {
    const std::string path = logPath();
    return path.empty() ? std::string() : readFile(path);
}

bool containsInOrder(const std::string& log, const std::vector<std::string>& texts, std::string* missing) {
    std::size_t from = 0;
    for (const std::string& text : texts) {
        const std::size_t at = log.find(text, from);
        if (at == std::string::npos) {
            if (missing) *missing = text;
            return false;
        }
        from = at + text.size();
    }
    return true;
}

}  // namespace testing_support
