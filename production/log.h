// The production log: one CSV line per chip, appended as a whole and flushed
// to disk before the next chip. It is also the state of serial numbering:
// the next run reads it to continue after the values already used.
//
//   # zk7prog production log, format 1: time,serial,result,position,checksum,config_word,ms
//   2024-05-02T09:14:03Z,100,PASSED,,D3,0007,1812
//   2024-05-02T09:14:21Z,101,FAILED,2F,D2,0007,431
//   2024-05-02T09:14:40Z,102,REFUSED,config,D1,0007,95
//
// time is UTC in ISO 8601; serial the value in hex (empty without a serial
// rule); result PASSED, FAILED, REFUSED (the pre-burn check found the chip
// unfit, nothing was burnt) or ABORTED (stopped by the user); position the
// image position (hex) that failed or was unfit first, or "config"; checksum
// the image checksum burnt; config_word the configuration word; ms the time
// the chip took.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zk7 {

constexpr int kLogFormat = 1;

enum class ChipResult { Passed, Failed, Refused, Aborted };
const char* ResultText(ChipResult result);  // "PASSED", ...

struct LogRecord {
  std::string time;  // ISO 8601, UTC
  std::optional<std::uint64_t> serial;
  ChipResult result = ChipResult::Passed;
  std::string position;  // "" when none
  std::uint8_t checksum = 0;
  std::uint16_t configWord = 0;
  long long ms = 0;
};

// The header line and a record line, each ended by LF.
std::string LogHeader();
std::string FormatLogLine(const LogRecord& record);
// The current time as the log writes it: "2024-05-02T09:14:03Z".
std::string LogTimeNow();

struct LogContents {
  std::vector<LogRecord> records;
  // Lines that are not a whole record, by line number: a line torn by a crash
  // while it was written. They are skipped; a serial value that such a line
  // still shows counts as used.
  std::vector<int> damagedLines;
  std::vector<std::uint64_t> damagedSerials;
};

// Parses a log's text. An empty text is a new log. False with error when the
// first line is not a production log header of a format this program knows.
bool ParseLog(const std::string& text, LogContents& out, std::string& error);

// A log far beyond any production run is not read.
constexpr std::size_t kMaxLogBytes = 64u * 1024 * 1024;

// An open log: appends go to the end with one write() each on an O_APPEND
// descriptor, then fsync.
class ProductionLog {
 public:
  ProductionLog() = default;
  ~ProductionLog();
  ProductionLog(const ProductionLog&) = delete;
  ProductionLog& operator=(const ProductionLog&) = delete;

  // Opens path (created when missing; a new file gets the header, flushed),
  // locks it for as long as this object lives, and reads what it holds. False
  // with error for a file that is not a plain file, is locked by another run,
  // is larger than kMaxLogBytes, is not a log, or cannot be opened, read or
  // written.
  bool open(const std::string& path, std::string& error);
  const LogContents& contents() const { return contents_; }
  // Appends the record's line and flushes it to disk. False with error when
  // the line could not be written whole and flushed.
  bool append(const LogRecord& record, std::string& error);

 private:
  bool writeDurably(const std::string& text, std::string& error);

  int fd_ = -1;
  std::string path_;
  LogContents contents_;
  bool endsTorn_ = false;  // the file's last line has no line end yet
};

}  // namespace zk7
