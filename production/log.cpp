// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unordered_map>

#include "files/atomicfile.h"
#include "model/format.h"
#include "model/named_fields.h"

namespace zk7 {

namespace {

constexpr std::string_view kHeaderStart = "# zk7prog production log, format ";
constexpr std::string_view kColumns = "time,serial,result,position,checksum,config_word,ms";
constexpr std::size_t kFields = 7;
// Reservations waiting for their results; beyond this many the oldest count
// as open (held), which is what they would count as anyway if no result came.
constexpr std::size_t kMaxPending = 256;

constexpr ChipResult kResults[] = {ChipResult::Passed,  ChipResult::Failed,   ChipResult::Refused,
                                   ChipResult::Aborted, ChipResult::Reserved, ChipResult::Unused};
static_assert(sizeof kResults / sizeof kResults[0] == kChipResultCount);

using Fields = std::array<std::string, kFields + 1>;

// Splits a CSV line as RFC 4180 reads it, and as spreadsheets save it: a
// field may be quoted ("" inside stands for "), and spaces around a field
// are not part of it. At most kFields + 1 fields; the count is returned.
std::size_t SplitFields(std::string_view line, Fields& f) {
  std::size_t n = 0, at = 0;
  for (;;) {
    std::string& field = f[n++];
    field.clear();
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (at < line.size() && line[at] == '"') {
      for (++at; at < line.size(); ++at) {
        if (line[at] != '"') {
          field += line[at];
        } else if (at + 1 < line.size() && line[at + 1] == '"') {
          field += '"';
          ++at;
        } else {
          ++at;
          break;
        }
      }
      while (at < line.size() && line[at] != ',') ++at;  // after the closing quote
      // No field of ours starts with a space: one inside quotes came from the separator.
      const auto first = field.find_first_not_of(" \t");
      field.erase(0, first == std::string::npos ? field.size() : first);
    } else {
      const auto comma = std::min(line.find(',', at), line.size());
      field.assign(line.substr(at, comma - at));
      at = comma;
    }
    while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.pop_back();
    if (at >= line.size() || n == f.size()) return n;
    ++at;  // the comma
  }
}

bool ParseHex(std::string_view text, std::uint64_t max, std::uint64_t& value) {
  return text.substr(0, 2) != "0x" && ParseHexNumber(text, max, value);
}

bool ParseSerialField(std::string_view text, std::optional<std::uint64_t>& serial) {
  std::uint64_t v = 0;
  if (!ParseHex(text, ~std::uint64_t{0}, v)) return false;
  serial = v;
  return true;
}

// "", two hex digits, "config" or a reason word in lower case.
bool PositionValid(std::string_view p) {
  std::uint64_t v = 0;
  if (p.empty() || (p.size() == 2 && ParseHex(p, 0xFF, v))) return true;
  if (p.size() > 16) return false;
  for (char c : p)
    if (c < 'a' || c > 'z') return false;
  return true;
}

bool ParseRecord(const Fields& f, std::size_t n, LogRecord& r) {
  if (n != kFields || f[0].empty()) return false;
  r.time = f[0];
  r.serial.reset();
  if (!f[1].empty() && !ParseSerialField(f[1], r.serial)) return false;
  bool known = false;
  for (ChipResult c : kResults)
    if (f[2] == ResultText(c)) r.result = c, known = true;
  if (!known || !PositionValid(f[3])) return false;
  r.position = f[3];
  std::uint64_t v = 0;
  if (!ParseHex(f[4], 0xFF, v)) return false;
  r.checksum = static_cast<std::uint8_t>(v);
  if (!ParseHex(f[5], 0xFFFF, v)) return false;
  r.configWord = static_cast<std::uint16_t>(v);
  r.ms = 0;
  if (r.result == ChipResult::Reserved) return f[6].empty();
  const auto* end = f[6].data() + f[6].size();
  const auto [ptr, ec] = std::from_chars(f[6].data(), end, r.ms);
  return !f[6].empty() && ec == std::errc() && ptr == end && r.ms >= 0;
}

bool ParseRecord(std::string_view line, LogRecord& r) {
  Fields f;
  return ParseRecord(f, SplitFields(line, f), r);
}

// The line's text as this program writes the record (a spreadsheet's quotes
// and spaces gone), without its line end.
std::string RecordText(const LogRecord& r) {
  std::string text = FormatLogLine(r);
  text.pop_back();
  return text;
}

std::string SystemText(int err) {
  return std::strerror(err);
}

void Merge(SerialUse& into, const SerialUse& from) {
  const SerialRange all;
  if (from.held) into.add(into.held, *from.held, all);
  if (from.failed) into.add(into.failed, *from.failed, all);
}

}  // namespace

const char* ResultText(ChipResult result) {
  switch (result) {
    case ChipResult::Passed:
      return "PASSED";
    case ChipResult::Failed:
      return "FAILED";
    case ChipResult::Refused:
      return "REFUSED";
    case ChipResult::Aborted:
      return "ABORTED";
    case ChipResult::Reserved:
      return "RESERVED";
    case ChipResult::Unused:
      return "UNUSED";
  }
  return "";
}

bool LogRecord::operator==(const LogRecord& o) const {
  return time == o.time && serial == o.serial && result == o.result && position == o.position &&
         checksum == o.checksum && configWord == o.configWord && ms == o.ms;
}

std::string LogHeader() {
  return std::string(kHeaderStart) + std::to_string(kLogFormat) + ": " + std::string(kColumns) +
         "\n";
}

std::string FormatLogLine(const LogRecord& r) {
  std::string line = r.time + ',';
  if (r.serial) line += HexText(*r.serial);
  line += ',';
  line += ResultText(r.result);
  line += ',' + r.position + ',' + Hex2(r.checksum) + ',' + Hex2(r.configWord >> 8) +
          Hex2(r.configWord & 0xFF) + ',';
  if (r.result != ChipResult::Reserved) line += std::to_string(r.ms);
  return line + '\n';
}

std::string LogTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

void SerialUse::add(std::optional<std::uint64_t>& slot, std::uint64_t value,
                    const SerialRange& range) {
  if (value < range.low || value > range.high) return;
  if (!slot || value > *slot) slot = value;
}

std::vector<std::string> LogNotes(const std::string& path, const LogContents& c) {
  std::vector<std::string> notes;
  for (const auto& d : c.damaged)
    notes.push_back(
        path + ": line " + std::to_string(d.line) +
        (d.serial ? " is not a whole record; its value " + HexText(*d.serial) + " counts as used"
                  : " is not a record and shows no serial value; ignored"));
  if (c.damagedCount > static_cast<long long>(c.damaged.size()))
    notes.push_back(path + ": " + std::to_string(c.damagedCount - c.damaged.size()) +
                    " more damaged lines");
  for (const auto& r : c.openReservations)
    notes.push_back(path + ": " +
                    (r.serial ? "value " + HexText(*r.serial) : std::string("a chip")) +
                    " was reserved at " + r.time + " and has no result: a chip may hold it");
  if (c.openReservationCount > static_cast<long long>(c.openReservations.size()))
    notes.push_back(path + ": " +
                    std::to_string(c.openReservationCount - c.openReservations.size()) +
                    " more reservations have no result");
  return notes;
}

void LogReader::leaveOpen(const LogRecord& reservation) {
  if (reservation.serial) c_.use.add(c_.use.held, *reservation.serial, range_);
  if (c_.openReservations.size() < LogContents::kReported)
    c_.openReservations.push_back(reservation);
  ++c_.openReservationCount;
}

void LogReader::record(const LogRecord& r) {
  ++c_.totals[static_cast<std::size_t>(r.result)];
  ring_[ringNext_] = r;
  ringNext_ = (ringNext_ + 1) % ring_.size();
  if (ringCount_ < ring_.size()) ++ringCount_;
  if (onRecord) onRecord(r);

  if (r.result == ChipResult::Reserved) {
    if (pending_.size() >= kMaxPending) {
      for (const auto& [key, waiting] : pending_) leaveOpen(waiting);
      pending_.clear();
    }
    const auto [it, fresh] = pending_.emplace(r.serial, r);
    if (!fresh) {  // reserved again without a result between: the first stays open
      leaveOpen(it->second);
      it->second = r;
    }
    return;
  }
  pending_.erase(r.serial);
  if (!r.serial) return;
  if (r.result == ChipResult::Passed || r.result == ChipResult::Aborted)
    c_.use.add(c_.use.held, *r.serial, range_);
  else if (r.result == ChipResult::Failed)
    c_.use.add(c_.use.failed, *r.serial, range_);
}

bool LogReader::line(std::string_view content, bool whole, std::string& error) {
  const long long number = ++c_.lines;
  if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
  const std::size_t n = SplitFields(content, fields_);
  // The header, also as a spreadsheet saves it back: quoted, or with a space after the comma.
  int format = 0;
  constexpr std::string_view kTitle = kHeaderStart.substr(0, kHeaderStart.find(','));
  constexpr std::string_view kFormatWord = "format ";
  if (n >= 2 && fields_[0] == kTitle && fields_[1].rfind(kFormatWord, 0) == 0) {
    const std::string& digits = fields_[1];
    std::from_chars(digits.data() + kFormatWord.size(), digits.data() + digits.size(), format);
  }
  if (format != 0) {
    if (format != 1 && format != 2) {
      error = "line " + std::to_string(number) + " is the header of a format " +
              std::to_string(format) + " log; this zk7prog reads formats 1 and 2";
      return false;
    }
    if (format == 2) c_.formatTwo = true;
    return true;
  }
  if (number == 1) {
    error = "line 1 is not the header of a zk7prog production log";
    return false;
  }
  if (content.empty() && whole) return true;
  LogRecord& r = scratch_;
  if (whole && !overlong_ && ParseRecord(fields_, n, r)) {
    record(r);
    return true;
  }
  DamagedLine d{number, std::nullopt};
  if (n >= 2) ParseSerialField(fields_[1], d.serial);
  if (d.serial) c_.use.add(c_.use.held, *d.serial, range_);
  if (c_.damaged.size() < LogContents::kReported) c_.damaged.push_back(d);
  ++c_.damagedCount;
  return true;
}

bool LogReader::feed(std::string_view text, std::string& error) {
  while (!text.empty()) {
    const auto stop = text.find('\n');
    const std::string_view piece = text.substr(0, stop);
    if (partial_.empty() && !overlong_ && stop != std::string_view::npos &&
        piece.size() <= kMaxLogLineBytes) {
      if (!line(piece, true, error)) return false;  // the common case: no copy
    } else {
      const std::size_t room = kMaxLogLineBytes - std::min(kMaxLogLineBytes, partial_.size());
      if (piece.size() > room) overlong_ = true;
      partial_.append(piece.data(), std::min(room, piece.size()));
      if (stop != std::string_view::npos) {
        const bool ok = line(partial_, true, error);
        partial_.clear();
        overlong_ = false;
        if (!ok) return false;
      }
    }
    if (stop == std::string_view::npos) break;
    text.remove_prefix(stop + 1);
  }
  return true;
}

bool LogReader::finish(LogContents& out, std::string& error) {
  if (!partial_.empty() || overlong_) {
    if (!line(partial_, false, error)) return false;
    partial_.clear();
    overlong_ = false;
  }
  for (const auto& [key, waiting] : pending_) leaveOpen(waiting);
  pending_.clear();
  c_.recent.clear();
  for (std::size_t k = 0; k < ringCount_; ++k)
    c_.recent.push_back(ring_[(ringNext_ + ring_.size() - ringCount_ + k) % ring_.size()]);
  out = c_;
  return true;
}

bool ParseLog(std::string_view text, LogContents& out, std::string& error, SerialRange range) {
  LogReader reader(range);
  return reader.feed(text, error) && reader.finish(out, error);
}

ProductionLog::~ProductionLog() {
  if (lockFd_ >= 0) ::close(lockFd_);  // the lock goes with it
}

bool ProductionLog::lockFile(int fd, std::string& error) {
  // Two runs on one log would hand out the same serial values. The lock is on
  // the file itself, so every name of it (a link, a second hard link) shares it
  // and no lock file can be deleted from under it.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno == EWOULDBLOCK ? path_ + " is in use by another run"
                                 : "cannot lock " + path_ + ": " + SystemText(errno);
    return false;
  }
  const int kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (kept < 0) {
    error = "cannot lock " + path_ + ": " + SystemText(errno);
    return false;
  }
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = kept;
  return true;
}

bool ProductionLog::open(const std::string& path, SerialRange range, std::string& error) {
  path_ = path;
  range_ = range;
  const int fd = openCurrent(error);
  if (fd < 0) return false;
  ::close(fd);
  // The file the name leads to, for what lives beside it (the serial state).
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    realPath_ = real;
    std::free(real);
  } else {
    realPath_ = path;
  }
  return true;
}

int ProductionLog::openCurrent(std::string& error) {
  const int fd = ::open(path_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int err = errno;
    error = "cannot open " + path_ + ": " + SystemText(err);
    if (err == EACCES && ::access(path_.c_str(), F_OK) != 0)
      error =
          "cannot create " + path_ + ": the folder " + FolderOf(path_) + " is not writable for you";
    return -1;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok) {
    error = "cannot open " + path_ + ": " + SystemText(errno);
  } else if (!S_ISREG(st.st_mode)) {
    error = path_ + " is not a plain file";
    ok = false;
  } else if (!stateRead_ || st.st_dev != file_.st_dev || st.st_ino != file_.st_ino) {
    // A new file (a rotation, rm, an editor renaming its copy over it) is
    // locked before it is read: another run may have found it first.
    ok = lockFile(fd, error) && readState(fd, "replaced", error);
  } else if (st.st_size != file_.st_size || st.st_mtim.tv_sec != file_.st_mtim.tv_sec ||
             st.st_mtim.tv_nsec != file_.st_mtim.tv_nsec) {
    // The same file changed by someone else (an editor saving in place, "> log").
    ok = readState(fd, "changed in place", error);
  }
  if (ok) return fd;
  ::close(fd);
  return -1;
}

bool ProductionLog::refresh(std::string& error) {
  if (lockFd_ < 0) {
    error = "the log is not open";
    return false;
  }
  const int fd = openCurrent(error);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool ProductionLog::readState(int fd, const char* how, std::string& error) {
  // This run's lines that the file at the name lacks (all of them in a new file).
  std::unordered_map<std::string, bool> mine;
  for (const auto& line : written_) mine.emplace(line, false);
  LogReader reader(range_);
  reader.onRecord = [&mine](const LogRecord& r) {
    if (mine.empty()) return;
    if (auto it = mine.find(RecordText(r)); it != mine.end()) it->second = true;
  };
  char buffer[65536];
  off_t at = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot read " + path_ + ": " + SystemText(errno);
      return false;
    }
    if (n == 0) break;
    at += n;
    if (!reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)), error)) {
      error = path_ + ": " + error;
      return false;
    }
  }
  LogContents read;
  if (!reader.finish(read, error)) {
    error = path_ + ": " + error;
    return false;
  }
  const bool again = stateRead_;
  contents_ = read;
  Merge(use_, read.use);
  std::string missing;
  std::vector<LogRecord> added;
  for (const auto& line : written_) {
    LogRecord r;
    if (mine[line] || !ParseRecord(line, r)) continue;
    missing += line + '\n';
    added.push_back(r);
  }
  if (at == 0 || !missing.empty()) {
    if (!writeRecords(fd, missing, error)) return false;
    if (at == 0) SyncFolder(FolderOf(path_));
    for (const auto& r : added) count(r);
  } else if (::fstat(fd, &file_) != 0) {
    error = "cannot read " + path_ + ": " + SystemText(errno);
    return false;
  }
  stateRead_ = true;
  if (!again)
    for (auto& note : LogNotes(path_, contents_)) notes_.push_back(std::move(note));
  else
    notes_.push_back(path_ + " was " + how +
                     " while this run used it (an editor saving it, a rotation?); its state was "
                     "read again" +
                     (added.empty() ? std::string()
                                    : " and the " + std::to_string(added.size()) +
                                          " records of this run that it lacked were appended"));
  return true;
}

void ProductionLog::count(const LogRecord& r) {
  ++contents_.totals[static_cast<std::size_t>(r.result)];
  contents_.recent.push_back(r);
  if (contents_.recent.size() > LogContents::kRecent)
    contents_.recent.erase(contents_.recent.begin());
}

bool ProductionLog::writeRecords(int fd, const std::string& lines, std::string& error) {
  // A torn last line gets its line end first, so a record stands on a line of its own.
  std::string text;
  struct stat st {};
  const bool sized = ::fstat(fd, &st) == 0;
  char last = '\n';
  if (sized && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
    text += '\n';
  const bool header = !contents_.formatTwo;
  if (header) text += LogHeader();
  text += lines;
  // Where cutting a partial write off fails too, a torn end gets its line end
  // and the header (again) next time.
  if (!AppendDurably(fd, path_, text, error)) {
    // A write that stayed (only its flush failed) holds the header already.
    struct stat now {};
    if (header && sized && ::fstat(fd, &now) == 0 && now.st_size > st.st_size)
      contents_.formatTwo = true;
    return false;
  }
  if (header) contents_.formatTwo = true;
  // What the file is after our write: any other change is someone else's.
  if (::fstat(fd, &file_) != 0) {
    error = "cannot read " + path_ + ": " + SystemText(errno);
    return false;
  }
  return true;
}

bool ProductionLog::append(const LogRecord& record, std::string& error) {
  if (lockFd_ < 0) {
    error = "the log is not open";
    return false;
  }
  const int fd = openCurrent(error);
  if (fd < 0) return false;
  std::string line = FormatLogLine(record);
  const bool ok = writeRecords(fd, line, error);
  ::close(fd);
  if (!ok) return false;
  line.pop_back();
  written_.push_back(line);
  count(record);
  return true;
}

std::vector<std::string> ProductionLog::takeNotes() {
  std::vector<std::string> notes;
  notes.swap(notes_);
  return notes;
}

}  // namespace zk7
