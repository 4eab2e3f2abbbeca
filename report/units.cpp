// Line-oriented input and output units over C streams.
#include <cerrno>
#include <cstring>
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

IoError::IoError(int unit, std::string_view file, std::string_view detail)
    : std::runtime_error(unit_message(unit, file, detail)), unit_(unit) {}

// ---------------------------------------------------------------- output

OutputUnit::OutputUnit(int unit, std::string name, std::FILE* file, bool owned)
    : unit_(unit), name_(std::move(name)), file_(file), owned_(owned) {}

OutputUnit::~OutputUnit() {
  if (file_ != nullptr) {
    if (owned_)
      std::fclose(file_);
    else
      std::fflush(file_);
  }
}

void OutputUnit::put_record(std::string_view record) {
  if (file_ == nullptr) throw IoError(unit_, name_, "write on a closed unit");
  errno = 0;
  bool ok = std::fwrite(record.data(), 1, record.size(), file_) == record.size();
  if (ok) ok = std::fwrite("\r\n", 1, 2, file_) == 2;
  if (!ok || std::ferror(file_))
    throw IoError(unit_, name_, with_reason("write failed", errno));
}

void OutputUnit::flush() {
  if (file_ == nullptr) return;
  errno = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_))
    throw IoError(unit_, name_, with_reason("write failed", errno));
}

void OutputUnit::close() {
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

InputUnit::~InputUnit() {
  if (owned_ && file_ != nullptr) std::fclose(file_);
}

bool InputUnit::get_record(std::string& record) {
  record.clear();
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

void InputUnit::fail(std::string_view detail) const {
  throw IoError(unit_, name_, detail);
}

}  // namespace btcfit
