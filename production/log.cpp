#include "production/log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <string_view>

#include "model/format.h"
#include "model/named_fields.h"

namespace zk7 {

namespace {

constexpr std::string_view kHeaderStart = "# zk7prog production log, format ";
constexpr std::string_view kColumns = "time,serial,result,position,checksum,config_word,ms";
constexpr int kFields = 7;

constexpr ChipResult kResults[] = {ChipResult::Passed, ChipResult::Failed, ChipResult::Refused,
                                   ChipResult::Aborted};

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    const auto comma = line.find(',', start);
    fields.push_back(line.substr(start, comma - start));
    if (comma == std::string_view::npos) return fields;
    start = comma + 1;
  }
}

bool ParseHex(std::string_view text, std::uint64_t max, std::uint64_t& value) {
  return text.substr(0, 2) != "0x" && ParseHexNumber(text, max, value);
}

bool ParseRecord(std::string_view line, LogRecord& r) {
  const auto f = SplitFields(line);
  if (f.size() != kFields || f[0].empty()) return false;
  r.time = std::string(f[0]);
  std::uint64_t v = 0;
  if (!f[1].empty()) {
    if (!ParseHex(f[1], ~std::uint64_t{0}, v)) return false;
    r.serial = v;
  }
  bool known = false;
  for (ChipResult c : kResults)
    if (f[2] == ResultText(c)) r.result = c, known = true;
  if (!known) return false;
  if (!f[3].empty() && f[3] != "config" && !(f[3].size() == 2 && ParseHex(f[3], 0xFF, v)))
    return false;
  r.position = std::string(f[3]);
  if (!ParseHex(f[4], 0xFF, v)) return false;
  r.checksum = static_cast<std::uint8_t>(v);
  if (!ParseHex(f[5], 0xFFFF, v)) return false;
  r.configWord = static_cast<std::uint16_t>(v);
  const auto* end = f[6].data() + f[6].size();
  const auto [ptr, ec] = std::from_chars(f[6].data(), end, r.ms);
  return !f[6].empty() && ec == std::errc() && ptr == end && r.ms >= 0;
}

std::string SystemText(int err) {
  return std::strerror(err);
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
  }
  return "";
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
          Hex2(r.configWord & 0xFF) + ',' + std::to_string(r.ms) + '\n';
  return line;
}

std::string LogTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

bool ParseLog(const std::string& text, LogContents& out, std::string& error) {
  LogContents parsed;
  std::size_t start = 0;
  int line = 0;
  while (start < text.size()) {
    const auto stop = text.find('\n', start);
    const bool whole = stop != std::string::npos;
    std::string_view content(text.data() + start, (whole ? stop : text.size()) - start);
    if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
    start = whole ? stop + 1 : text.size();
    ++line;
    if (line == 1) {
      int format = 0;
      const auto digits = content.substr(std::min(content.size(), kHeaderStart.size()));
      const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), format);
      if (content.substr(0, kHeaderStart.size()) != kHeaderStart || ec != std::errc()) {
        error = "line 1 is not the header of a zk7prog production log";
        return false;
      }
      if (format != kLogFormat) {
        error = "the log has format " + std::to_string(format) + "; this zk7prog writes format " +
                std::to_string(kLogFormat);
        return false;
      }
      (void)ptr;
      continue;
    }
    if (content.empty() && whole) continue;
    LogRecord r;
    if (whole && ParseRecord(content, r)) {
      parsed.records.push_back(r);
      continue;
    }
    parsed.damagedLines.push_back(line);
    // A serial value whose field ended before the tear was given to a chip.
    const auto f = SplitFields(content);
    std::uint64_t v = 0;
    if (f.size() > 2 && !f[1].empty() && ParseHex(f[1], ~std::uint64_t{0}, v))
      parsed.damagedSerials.push_back(v);
  }
  out = parsed;
  return true;
}

ProductionLog::~ProductionLog() {
  if (fd_ >= 0) ::close(fd_);
}

bool ProductionLog::writeDurably(const std::string& text, std::string& error) {
  const ssize_t n = ::write(fd_, text.data(), text.size());
  if (n != static_cast<ssize_t>(text.size())) {
    const int err = n < 0 ? errno : ENOSPC;
    if (n > 0) endsTorn_ = true;
    error = "cannot write " + path_ + ": " + SystemText(err);
    return false;
  }
  if (::fsync(fd_) != 0) {
    error = "cannot flush " + path_ + " to disk: " + SystemText(errno);
    return false;
  }
  return true;
}

bool ProductionLog::open(const std::string& path, std::string& error) {
  path_ = path;
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = "cannot open " + path + ": " + SystemText(errno);
    return false;
  }
  fd_ = fd;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    error = "cannot open " + path + ": " + SystemText(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = path + " is not a plain file";
    return false;
  }
  // Two runs on one log would hand out the same serial values.
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    error = errno == EWOULDBLOCK ? path + " is in use by another run"
                                 : "cannot lock " + path + ": " + SystemText(errno);
    return false;
  }
  if (static_cast<std::uint64_t>(st.st_size) > kMaxLogBytes) {
    error = path + " is larger than " + std::to_string(kMaxLogBytes) + " bytes";
    return false;
  }
  std::string text(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::pread(fd_, &text[got], text.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot read " + path + ": " + SystemText(errno);
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  text.resize(got);
  if (!ParseLog(text, contents_, error)) {
    error = path + ": " + error;
    return false;
  }
  endsTorn_ = !text.empty() && text.back() != '\n';
  if (text.empty()) {
    if (!writeDurably(LogHeader(), error)) return false;
    // The new file's name must survive a crash as well as its content.
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
  }
  return true;
}

bool ProductionLog::append(const LogRecord& record, std::string& error) {
  if (fd_ < 0) {
    error = "the log is not open";
    return false;
  }
  // A torn last line gets its line end first, so the new record stands on a line of its own.
  std::string text = (endsTorn_ ? "\n" : "") + FormatLogLine(record);
  if (!writeDurably(text, error)) return false;
  endsTorn_ = false;
  contents_.records.push_back(record);
  return true;
}

}  // namespace zk7
