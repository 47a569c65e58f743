// The game's one text log.
//
// Every part of the system reports through printf-style writers, each bound
// to a channel and a level. Records stay in memory for the whole run; once
// output is switched on, each record is written at once as one line of the
// log file in the user folder (every channel goes to that one file). The
// file of the previous run is replaced at the first line written. The log is
// shared by the main and the sound thread and takes its own lock.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Time.h"

#define ENGINE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

class WinFileStream;
class DataStream;

enum LogChannel : std::uint32_t {
    LogMain = 0,
    LogSystem = 1,
    LogResources = 2,
    LogErrors = 3,
    LogScript = 4,
    LogQuests = 5,
    LogDialogs = 6,
    LogAnimation = 7,
    LogScriptOutput = 8,
    LogChannelCount = 9,
};

enum LogLevel : std::uint32_t { LevelSysError = 0, LevelError = 1, LevelWarning = 2, LevelInfo = 3 };

struct LogRecord {
    std::uint32_t channel = 0;
    std::uint32_t level = 0;
    bool hasText = false;  // false: written as "INVALID MESSAGE (EXCEPTION)"
    std::string text;
    platform::LocalTime time;
};

class Log {
public:
    static constexpr std::size_t kBufferSize = 16192;

    Log();
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    void message(const char* format, ...) ENGINE_PRINTF(2, 3);
    void warning(const char* format, ...) ENGINE_PRINTF(2, 3);
    void info(const char* format, ...) ENGINE_PRINTF(2, 3);
    bool systemError(const char* format, ...) ENGINE_PRINTF(2, 3);
    void resourceInfo(const char* format, ...) ENGINE_PRINTF(2, 3);
    bool resourceError(const char* format, ...) ENGINE_PRINTF(2, 3);
    bool error(const char* format, ...) ENGINE_PRINTF(2, 3);
    bool scriptInfo(const char* format, ...) ENGINE_PRINTF(2, 3);
    bool scriptError(const char* format, ...) ENGINE_PRINTF(2, 3);
    bool questInfo(const char* format, ...) ENGINE_PRINTF(2, 3);
    bool questError(const char* format, ...) ENGINE_PRINTF(2, 3);
    bool dialogInfo(const char* format, ...) ENGINE_PRINTF(2, 3);
    bool dialogError(const char* format, ...) ENGINE_PRINTF(2, 3);
    bool scriptPrint(const char* format, ...) ENGINE_PRINTF(2, 3);
    // The two lines under a parser's error message: the text, then a line
    // of spaces with "^" under the column (an empty line for a column below
    // 0); the caret line is never longer than the log's buffer.
    void textWithCaret(const char* text, std::int32_t column);

    // Formats and adds a record (the writers' common path).
    void addFormatted(std::uint32_t channel, std::uint32_t level, const char* format, va_list args);
    // Appends a record with the current local time, then flushes.
    void addRecord(std::uint32_t channel, std::uint32_t level, const char* text);
    // Writes the records not written yet (nothing while output is off).
    void flush();
    // Flushes, then forgets every record.
    void clear();
    // Closes the file and forgets every record. Records added later are
    // appended to the same file, never replacing it.
    void closeFiles();
    void release();

    void setOutput(bool on);
    bool outputOn() const { return outputOn_; }
    // The file the log writes to; empty until the first line opened it.
    std::string filePath() const;
    // Copies of the records kept in memory.
    std::vector<LogRecord> records() const;
    std::size_t recordCount() const;
    // True when some record's text contains the given text.
    bool contains(const std::string& text) const;

    // The lock that guards the log; the crash reporter tries it before writing.
    std::recursive_mutex& mutex() { return mutex_; }

    // Crash path. Tries the lock for at most waitMilliseconds; when it cannot
    // be had, or this thread was stopped half-way through a log operation,
    // the records this thread adds until endCrashReport go straight to the end
    // of the log file (standard error when no file is open) and are not kept,
    // so a crash never waits on the log nor touches a half-changed record
    // list. Otherwise the lock is held until endCrashReport.
    void beginCrashReport(int waitMilliseconds);
    void endCrashReport();

private:
    // Holds the lock and counts the operation as in progress.
    class Hold {
    public:
        explicit Hold(const Log& log) : log_(log) {
            log_.mutex_.lock();
            log_.busy_.fetch_add(1);
        }
        ~Hold() {
            log_.busy_.fetch_sub(1);
            log_.mutex_.unlock();
        }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        const Log& log_;
    };

    bool writesDirect() const;
    void writeDirect(const LogRecord& record);
    void writeLine(const LogRecord& record);
    WinFileStream* mainFile();

    mutable std::recursive_mutex mutex_;
    mutable std::atomic<int> busy_{0};
    std::atomic<bool> direct_{false};
    std::atomic<std::thread::id> directThread_{};
    bool crashLocked_ = false;
    bool outputOn_ = false;
    std::size_t flushed_[LogChannelCount] = {};
    // Per channel: null before the first write; failed when opening failed.
    WinFileStream* files_[LogChannelCount] = {};
    bool fileFailed_ = false;
    bool fileOpenedOnce_ = false;
    std::string filePath_;
    std::vector<LogRecord> records_;
};

// Formats into a 2,048-byte buffer and writes the text, without terminator,
// to a stream; returns the number of characters.
int streamPrintf(DataStream& stream, const char* format, ...) ENGINE_PRINTF(2, 3);
// Formats into the caller's buffer only when size is non-zero and the format
// non-empty; otherwise the buffer is unchanged.
void formatStringChecked(char* buffer, std::size_t size, const char* format, va_list args);

// A file path as log lines show it: the host's own path, with the real
// names of the folders and files that exist (the engine keeps its paths
// lower-cased and joined with '\'). An empty path stays empty.
std::string logPath(std::string_view path);

// The log of the game core; a process-wide log when none is installed.
Log& engineLog();
