// Line-oriented input and output units over C streams.
#include <cerrno>
#include <cstring>
#include <istream>
#include <ostream>
#include <string>

#include "report/record_layout.hpp"

namespace btcfit {
namespace {

std::string unit_message(int unit, std::string_view file,
                         std::string_view detail) {
  std::string m = "unit " + std::to_string(unit);
  if (!file.empty()) {
    m += " (";
    m += file;
    m += ')';
  }
  m += ": ";
  m += detail;
  return m;
}

std::string with_reason(std::string_view what, int err) {
  std::string m(what);
  if (err != 0) {
    m += ": ";
    m += std::strerror(err);
  }
  return m;
}

}  // namespace

IoError::IoError(int unit, std::string_view file, std::string_view detail, int record,
                 int first_column, int last_column)
    : std::runtime_error(unit_message(unit, file, detail)),
      unit_(unit),
      record_(record),
      first_column_(first_column),
      last_column_(last_column) {}

// ---------------------------------------------------------------- output

OutputUnit::OutputUnit(int unit, std::string name, std::FILE* file, bool owned)
    : unit_(unit), name_(std::move(name)), file_(file), owned_(owned) {}

OutputUnit::OutputUnit(int unit, std::string name, std::ostream& stream)
    : unit_(unit), name_(std::move(name)), file_(nullptr), owned_(false), stream_(&stream) {}

OutputUnit::~OutputUnit() {
  if (file_ != nullptr) {
    if (owned_)
      std::fclose(file_);
    else
      std::fflush(file_);
  }
}

void OutputUnit::put_record(std::string_view record) {
  if (stream_ != nullptr) {
    stream_->write(record.data(), static_cast<std::streamsize>(record.size()));
    stream_->write("\r\n", 2);
    if (!*stream_) throw IoError(unit_, name_, "write failed");
    return;
  }
  if (file_ == nullptr) throw IoError(unit_, name_, "write on a closed unit");
  errno = 0;
  bool ok = std::fwrite(record.data(), 1, record.size(), file_) == record.size();
  if (ok) ok = std::fwrite("\r\n", 1, 2, file_) == 2;
  if (!ok || std::ferror(file_))
    throw IoError(unit_, name_, with_reason("write failed", errno));
}

void OutputUnit::flush() {
  if (stream_ != nullptr) {
    if (!stream_->flush()) throw IoError(unit_, name_, "write failed");
    return;
  }
  if (file_ == nullptr) return;
  errno = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_))
    throw IoError(unit_, name_, with_reason("write failed", errno));
}

void OutputUnit::close() {
  if (stream_ != nullptr) {
    std::ostream* s = stream_;
    stream_ = nullptr;
    if (!s->flush()) throw IoError(unit_, name_, "write failed");
    return;
  }
  if (file_ == nullptr) return;
  std::FILE* f = file_;
  file_ = nullptr;
  errno = 0;
  bool ok = std::fflush(f) == 0 && !std::ferror(f);
  int err = errno;
  if (owned_) {
    errno = 0;
    if (std::fclose(f) != 0) {
      ok = false;
      if (err == 0) err = errno;
    }
  }
  if (!ok) throw IoError(unit_, name_, with_reason("write failed", err));
}

// ----------------------------------------------------------------- input

InputUnit::InputUnit(int unit, std::string name, std::FILE* file, bool owned)
    : unit_(unit), name_(std::move(name)), file_(file), owned_(owned) {}

InputUnit::InputUnit(int unit, std::string name, std::istream& stream)
    : unit_(unit), name_(std::move(name)), file_(nullptr), owned_(false), stream_(&stream) {}

InputUnit::~InputUnit() {
  if (owned_ && file_ != nullptr) std::fclose(file_);
}

bool InputUnit::get_record(std::string& record) {
  record.clear();
  if (stream_ != nullptr) {
    if (!std::getline(*stream_, record)) {
      if (stream_->bad()) throw IoError(unit_, name_, "read failed");
      // A last line without a line end still counts.
      if (record.empty()) return false;
    }
    if (!record.empty() && record.back() == '\r') record.pop_back();
    ++count_;
    return true;
  }
  if (file_ == nullptr) return false;
  errno = 0;
  int c;
  bool any = false;
  while ((c = std::getc(file_)) != EOF) {
    any = true;
    if (c == '\n') {
      if (!record.empty() && record.back() == '\r') record.pop_back();
      ++count_;
      return true;
    }
    record += static_cast<char>(c);
  }
  if (std::ferror(file_))
    throw IoError(unit_, name_, with_reason("read failed", errno));
  if (!any) return false;
  ++count_;  // a last line without a line end
  return true;
}

void InputUnit::fail(std::string_view detail, int record, int first_column,
                     int last_column) const {
  throw IoError(unit_, name_, detail, record, first_column, last_column);
}

}  // namespace btcfit
