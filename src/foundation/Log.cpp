#include "foundation/Log.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/DataStream.h"
#include "foundation/Time.h"

namespace {

const char* const kLevelText[4] = {" SysError |", " Error    |", " Warning  |", " Info     |"};

// One record as a line of the log file.
// A line longer than the buffer is cut and still ends with CR LF.
std::string fileLine(const LogRecord& record) {
    const std::string stamp = formatTimeStamp(record.time);
    const char* level = kLevelText[record.level & 3];
    const char* text = record.hasText ? record.text.c_str() : "INVALID MESSAGE (EXCEPTION)";
    const int length = std::snprintf(nullptr, 0, "%s %s %s\r\n", stamp.c_str(), level, text);
    if (length < 0) return "\r\n";
    std::string line(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(line.data(), line.size(), "%s %s %s\r\n", stamp.c_str(), level, text);
    line.resize(static_cast<std::size_t>(length));
    if (line.size() > Log::kBufferSize - 1) {
        line.resize(Log::kBufferSize - 1);
        line[Log::kBufferSize - 3] = '\r';
        line[Log::kBufferSize - 2] = '\n';
    }
    return line;
}

}  // namespace

Log::Log() { records_.reserve(1024); }

Log::~Log() { release(); }

#define LOG_WRITER(name, channel, level)            \
    void Log::name(const char* format, ...) {       \
        va_list args;                               \
        va_start(args, format);                     \
        addFormatted(channel, level, format, args); \
        va_end(args);                               \
    }
#define LOG_WRITER_FALSE(name, channel, level)      \
    bool Log::name(const char* format, ...) {       \
        va_list args;                               \
        va_start(args, format);                     \
        addFormatted(channel, level, format, args); \
        va_end(args);                               \
        return false;                               \
    }

LOG_WRITER(message, LogMain, LevelInfo)
LOG_WRITER(warning, LogMain, LevelWarning)
LOG_WRITER(info, LogSystem, LevelInfo)
LOG_WRITER_FALSE(systemError, LogSystem, LevelSysError)
LOG_WRITER(resourceInfo, LogResources, LevelInfo)
LOG_WRITER_FALSE(resourceError, LogResources, LevelSysError)
LOG_WRITER_FALSE(error, LogErrors, LevelError)
LOG_WRITER_FALSE(scriptInfo, LogScript, LevelInfo)
LOG_WRITER_FALSE(scriptError, LogScript, LevelError)
LOG_WRITER_FALSE(questInfo, LogQuests, LevelInfo)
LOG_WRITER_FALSE(questError, LogQuests, LevelError)
LOG_WRITER_FALSE(dialogInfo, LogDialogs, LevelInfo)
LOG_WRITER_FALSE(dialogError, LogDialogs, LevelError)
LOG_WRITER_FALSE(scriptPrint, LogScriptOutput, LevelInfo)

#undef LOG_WRITER
#undef LOG_WRITER_FALSE

void Log::textWithCaret(const char* text, std::int32_t column) {
    message("%s", text ? text : "");
    if (column < 0) {
        message("%s", "");
        return;
    }
    const std::size_t spaces = std::min<std::size_t>(static_cast<std::size_t>(column), kBufferSize - 2);
    const std::string caret = std::string(spaces, ' ') + "^";
    message("%s", caret.c_str());
}

void Log::addFormatted(std::uint32_t channel, std::uint32_t level, const char* format, va_list args) {
    char buffer[kBufferSize];
    buffer[0] = 0;
    if (format) std::vsnprintf(buffer, sizeof(buffer), format, args);
    addRecord(channel, level, buffer);
}

void Log::addRecord(std::uint32_t channel, std::uint32_t level, const char* text) {
    LogRecord record;
    record.channel = channel < LogChannelCount ? channel : LogMain;
    record.level = level < 4 ? level : LevelInfo;
    record.hasText = text && text[0];
    if (record.hasText) record.text = text;
    record.time = platform::localTime();
    if (writesDirect()) {
        writeDirect(record);
        return;
    }
    Hold hold(*this);
    records_.push_back(std::move(record));
    flush();
}

void Log::flush() {
    if (writesDirect()) return;
    Hold hold(*this);
    if (!outputOn_) return;
    for (std::uint32_t c = 0; c < LogChannelCount; ++c) {
        if (c == LogMain) {
            for (std::size_t i = flushed_[c]; i < records_.size(); ++i) writeLine(records_[i]);
        }
        flushed_[c] = records_.size();
    }
}

WinFileStream* Log::mainFile() {
    if (files_[LogMain]) return files_[LogMain];
    if (fileFailed_) return nullptr;
    if (fileOpenedOnce_) {
        // Reopened after closeFiles: append, never replace the run's file.
        files_[LogMain] = WinFileStream::open(filePath_, platform::GENERIC_WRITE, 0, platform::OPEN_ALWAYS);
        if (!files_[LogMain]) {
            fileFailed_ = true;
            return nullptr;
        }
        files_[LogMain]->setPosition(files_[LogMain]->size());
        return files_[LogMain];
    }
    const std::string path = gameCore.paths ? gameCore.paths->get(PathLogFile) : std::string();
    if (path.empty()) return nullptr;
    if (fileExists(path)) platform::deleteFile(path);
    ensurePathFolders(path);
    files_[LogMain] = WinFileStream::open(path, platform::GENERIC_WRITE, 0, platform::CREATE_ALWAYS);
    if (!files_[LogMain]) {
        fileFailed_ = true;
        return nullptr;
    }
    filePath_ = path;
    fileOpenedOnce_ = true;
    streamPrintf(*files_[LogMain], "Source from [%s]\r\n\r\n\r\n", logPath(path).c_str());
    return files_[LogMain];
}

void Log::writeLine(const LogRecord& record) {
    WinFileStream* file = mainFile();
    if (!file) return;
    const std::string line = fileLine(record);
    file->write(line.data(), static_cast<std::int32_t>(line.size()));
}

bool Log::writesDirect() const {
    return direct_.load() && directThread_.load() == std::this_thread::get_id();
}

void Log::writeDirect(const LogRecord& record) {
    const std::string line = fileLine(record);
    // The path is set once, before the first line; it is not changed after.
    if (fileOpenedOnce_ && !filePath_.empty()) {
        platform::FileHandle file = platform::openFile(filePath_, platform::GENERIC_WRITE, platform::OPEN_ALWAYS);
        if (file) {
            platform::seekFile(file, 0, platform::SeekOrigin::End);
            const bool written = platform::writeFile(file, line.data(), static_cast<std::int64_t>(line.size())) ==
                                 static_cast<std::int64_t>(line.size());
            platform::closeFile(file);
            if (written) return;
        }
    }
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void Log::beginCrashReport(int waitMilliseconds) {
    bool locked = false;
    for (int waited = 0;; ++waited) {
        if (mutex_.try_lock()) {
            locked = true;
            break;
        }
        if (waited >= waitMilliseconds) break;
        platform::sleepMilliseconds(1);
    }
    if (locked && busy_.load() == 0) {
        crashLocked_ = true;
        return;
    }
    if (locked) mutex_.unlock();
    directThread_.store(std::this_thread::get_id());
    direct_.store(true);
}

void Log::endCrashReport() {
    if (writesDirect()) {
        direct_.store(false);
        return;
    }
    if (!crashLocked_) return;
    flush();
    crashLocked_ = false;
    mutex_.unlock();
}

void Log::clear() {
    Hold hold(*this);
    flush();
    records_.clear();
    for (auto& n : flushed_) n = 0;
}

void Log::closeFiles() {
    Hold hold(*this);
    for (auto& file : files_) {
        delete file;
        file = nullptr;
    }
    records_.clear();
    for (auto& n : flushed_) n = 0;
}

void Log::release() {
    Hold hold(*this);
    clear();
    closeFiles();
    records_.shrink_to_fit();
}

void Log::setOutput(bool on) {
    Hold hold(*this);
    outputOn_ = on;
    if (on) flush();
}

std::string Log::filePath() const {
    Hold hold(*this);
    return filePath_;
}

std::vector<LogRecord> Log::records() const {
    Hold hold(*this);
    return records_;
}

std::size_t Log::recordCount() const {
    Hold hold(*this);
    return records_.size();
}

bool Log::contains(const std::string& text) const {
    Hold hold(*this);
    for (const auto& r : records_)
        if (r.text.find(text) != std::string::npos) return true;
    return false;
}

std::string logPath(std::string_view path) { return path.empty() ? std::string() : platform::hostPath(path); }

int streamPrintf(DataStream& stream, const char* format, ...) {
    char buffer[2048] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    const int n = static_cast<int>(std::strlen(buffer));
    stream.write(buffer, n);
    return n;
}

void formatStringChecked(char* buffer, std::size_t size, const char* format, va_list args) {
    if (!buffer || size == 0 || !format || !format[0]) return;
    std::vsnprintf(buffer, size, format, args);
}

Log& engineLog() {
    if (gameCore.log) return *gameCore.log;
    static Log fallback;
    return fallback;
}
