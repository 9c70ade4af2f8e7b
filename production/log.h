// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The production log: one CSV line per record, appended as a whole and
// flushed to disk. It is also the state of serial numbering: a run reads it
// to continue after the values already given to chips. It is written ahead:
// a chip's value is reserved by a record on disk before its first
// programming pulse, and its result follows.
//
//   # zk7prog production log, format 2: time,serial,result,position,checksum,config_word,ms
//   2024-05-02T09:14:02Z,100,RESERVED,,D3,0007,
//   2024-05-02T09:14:03Z,100,PASSED,,D3,0007,1812
//   2024-05-02T09:14:20Z,101,RESERVED,,D2,0007,
//   2024-05-02T09:14:21Z,101,FAILED,2F,D2,0007,431
//   2024-05-02T09:14:40Z,102,REFUSED,config,D1,0007,95
//   2024-05-02T09:14:52Z,102,RESERVED,,D1,0007,
//   2024-05-02T09:14:52Z,102,UNUSED,stopped,D1,0007,40
//
// time is UTC in ISO 8601; serial the value in hex (empty without a serial
// rule); result one of the words below; position the image position (hex)
// that failed or was unfit first, "config", or a reason word (UNUSED:
// "stopped", "busy" for a port another program holds, "guard" for a run
// whose guard could not be started or ended); checksum the image checksum; config_word the
// configuration word; ms the time the chip took (empty in a reservation).
//
// Format 1 had no RESERVED and UNUSED records. A run appending to a
// format-1 log first writes a format-2 header; a header line may stand
// anywhere in the file.
#pragma once

#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zk7 {

constexpr int kLogFormat = 2;

enum class ChipResult {
  Passed,    // burnt and verified
  Failed,    // a word did not verify: the chip holds part of the image
  Refused,   // the pre-burn check found the chip unfit: nothing was burnt
  Aborted,   // stopped after the first programming pulse: the chip may hold part of the image
  Reserved,  // the value is given to the chip about to be burnt; its result follows
  Unused,    // the chip got nothing after all (stopped before the first pulse, port busy)
};
constexpr std::size_t kChipResultCount = 6;
const char* ResultText(ChipResult result);  // "PASSED", ...

struct LogRecord {
  std::string time;  // ISO 8601, UTC
  std::optional<std::uint64_t> serial;
  ChipResult result = ChipResult::Passed;
  std::string position;  // "" when none
  std::uint8_t checksum = 0;
  std::uint16_t configWord = 0;
  long long ms = 0;  // not written for a reservation
  bool operator==(const LogRecord& o) const;
};

// The header line and a record line, each ended by LF.
std::string LogHeader();
std::string FormatLogLine(const LogRecord& record);
// The current time as the log writes it: "2024-05-02T09:14:03Z".
std::string LogTimeNow();

// Serial values outside [low, high] are not counted as used (another rule's
// values, a garbage line's): they can be on no chip of this rule's range.
struct SerialRange {
  std::uint64_t low = 0;
  std::uint64_t high = ~std::uint64_t{0};
};

// The values a log shows given to chips, within a range: held are those a
// chip may hold whatever happens (PASSED, ABORTED, a reservation without a
// result, the value of a damaged line); failed those of FAILED chips, which
// --reuse-failed gives out again. REFUSED and UNUSED values are free.
struct SerialUse {
  std::optional<std::uint64_t> held;    // the highest
  std::optional<std::uint64_t> failed;  // the highest
  void add(std::optional<std::uint64_t>& slot, std::uint64_t value, const SerialRange& range);
};

// A line that is not a whole record: torn by a crash while it was written, or
// garbage. Its serial field, when it parses, counts as held.
struct DamagedLine {
  long long line = 0;
  std::optional<std::uint64_t> serial;
};

// What a log holds, read as a stream: counts, the last records and what needs
// saying, never the whole file.
struct LogContents {
  static constexpr std::size_t kRecent = 20;         // the last records kept
  static constexpr std::size_t kReported = 20;       // damaged lines and open reservations listed
  std::array<long long, kChipResultCount> totals{};  // records by result
  std::vector<LogRecord> recent;                     // the last kRecent records, oldest first
  std::vector<DamagedLine> damaged;                  // the first kReported
  long long damagedCount = 0;
  std::vector<LogRecord> openReservations;  // reservations without a result, the first kReported
  long long openReservationCount = 0;
  SerialUse use;
  bool formatTwo = false;  // a format-2 header is in the file
  long long lines = 0;
  long long total(ChipResult r) const { return totals[static_cast<std::size_t>(r)]; }
};

// The sentences a run prints about what it read: damaged lines and
// reservations without a result.
std::vector<std::string> LogNotes(const std::string& path, const LogContents& contents);

// A line longer than this is damaged; only its start is looked at.
constexpr std::size_t kMaxLogLineBytes = 4096;

// Reads a log's text piece by piece in memory bounded by kMaxLogLineBytes.
class LogReader {
 public:
  explicit LogReader(SerialRange range = {}) : range_(range) {}
  // False with error once the text is not a production log of a known
  // format: line 1 is not a header, or a header names another format.
  bool feed(std::string_view text, std::string& error);
  // Ends the text (a last line without LF is torn) and returns what it holds.
  bool finish(LogContents& out, std::string& error);
  // Told of every whole record as it is read.
  std::function<void(const LogRecord&)> onRecord;

 private:
  bool line(std::string_view content, bool whole, std::string& error);
  void record(const LogRecord& r);
  void leaveOpen(const LogRecord& reservation);

  SerialRange range_;
  LogContents c_;
  LogRecord scratch_;                  // the line being parsed, reused
  std::array<std::string, 8> fields_;  // its fields, reused
  std::string partial_;                // the start of the line being read, at most kMaxLogLineBytes
  bool overlong_ = false;
  std::array<LogRecord, LogContents::kRecent> ring_;  // the last records
  std::size_t ringNext_ = 0, ringCount_ = 0;
  std::map<std::optional<std::uint64_t>, LogRecord> pending_;  // reservations awaiting results
};

// Parses a whole log text (an empty text is a new log). False with error when
// it is not a production log of a format this program knows.
bool ParseLog(std::string_view text, LogContents& out, std::string& error, SerialRange range = {});

// An open production log. The run holds an flock on the log file itself for
// the object's life, so a second run on it is refused through any name (a
// symbolic or hard link) whatever happens to lock files; a file that takes
// the log's name later is locked before it is read. Each record opens the log
// by name, goes to its end with one write() and is flushed with fsync. A log
// that was replaced meanwhile (a rotation, rm, an editor renaming its copy
// over it) or changed by someone else (an editor saving in place) is read
// again, and the records this run wrote that it lacks are appended to it.
class ProductionLog {
 public:
  ProductionLog() = default;
  ~ProductionLog();
  ProductionLog(const ProductionLog&) = delete;
  ProductionLog& operator=(const ProductionLog&) = delete;

  // Opens path (created when missing; a new file gets the header, flushed),
  // locks it and reads its state. False with error for a log another run
  // holds, a file that is not a plain file or not a log, or one that cannot
  // be created, read or written.
  bool open(const std::string& path, SerialRange range, std::string& error);
  const std::string& path() const { return path_; }
  // The file the name led to when it was opened (links followed).
  const std::string& realPath() const { return realPath_; }
  // Its permissions and owner, as last seen.
  const struct stat& fileStat() const { return file_; }
  // What the file at the log's name holds, with this run's records.
  const LogContents& contents() const { return contents_; }
  // The values used in every state this run has read from the file: a
  // rotation that left an empty log does not bring old values back. The
  // records this run appends are not in it (the run follows its own).
  const SerialUse& use() const { return use_; }
  // Reads the state again when the name no longer names the file read (and
  // appends this run's records it lacks). False with error when the new file
  // cannot be read or written.
  bool refresh(std::string& error);
  // Appends the record's line (after refresh) and flushes it to disk. False
  // with error when it could not be written whole and flushed.
  bool append(const LogRecord& record, std::string& error);
  // Sentences for the user since the last call: damaged lines and open
  // reservations found, a replaced log read again.
  std::vector<std::string> takeNotes();

 private:
  // Opens the log by name; reads the state again when the name leads to
  // another file than the one read. -1 with error on failure.
  int openCurrent(std::string& error);
  // Reads the file's state; how says why when it is read again ("replaced").
  bool readState(int fd, const char* how, std::string& error);
  bool writeRecords(int fd, const std::string& lines, std::string& error);
  bool lockFile(int fd, std::string& error);
  void count(const LogRecord& r);  // a record appended joins the counts

  int lockFd_ = -1;  // the locked file
  std::string path_, realPath_;
  SerialRange range_;
  LogContents contents_;
  SerialUse use_;
  bool stateRead_ = false;
  struct stat file_ {};               // the file the state was read from, as this run left it
  std::vector<std::string> written_;  // this run's lines, without LF
  std::vector<std::string> notes_;
};

}  // namespace zk7
