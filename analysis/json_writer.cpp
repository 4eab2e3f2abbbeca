#include "analysis/json_writer.hpp"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace btcfit::stats {

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

void JsonWriter::newline() {
  out_ += '\n';
  out_.append(2 * is_object_.size(), ' ');
}

void JsonWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!is_object_.empty()) {
    if (is_object_.back()) throw std::logic_error("JSON: a member needs a key");
    if (has_member_.back()) out_ += ',';
    has_member_.back() = true;
    newline();
  } else if (!out_.empty()) {
    throw std::logic_error("JSON: one document only");
  }
}

JsonWriter& JsonWriter::begin_object() {
  before_value();
  out_ += '{';
  is_object_.push_back(true);
  has_member_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::begin_array() {
  before_value();
  out_ += '[';
  is_object_.push_back(false);
  has_member_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::end_object() {
  if (is_object_.empty() || !is_object_.back() || after_key_) {
    throw std::logic_error("JSON: no object to close");
  }
  const bool any = has_member_.back();
  is_object_.pop_back();
  has_member_.pop_back();
  if (any) newline();
  out_ += '}';
  return *this;
}

JsonWriter& JsonWriter::end_array() {
  if (is_object_.empty() || is_object_.back()) throw std::logic_error("JSON: no array to close");
  const bool any = has_member_.back();
  is_object_.pop_back();
  has_member_.pop_back();
  if (any) newline();
  out_ += ']';
  return *this;
}

JsonWriter& JsonWriter::key(const std::string& name) {
  if (is_object_.empty() || !is_object_.back() || after_key_) {
    throw std::logic_error("JSON: a key outside an object");
  }
  if (has_member_.back()) out_ += ',';
  has_member_.back() = true;
  newline();
  out_ += json_string(name) + ": ";
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::value(const std::string& text) {
  before_value();
  out_ += json_string(text);
  return *this;
}

JsonWriter& JsonWriter::value(const char* text) { return value(std::string(text)); }

static std::string number_text(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

JsonWriter& JsonWriter::value(double number) {
  before_value();
  out_ += number_text(number);
  return *this;
}

JsonWriter& JsonWriter::value(int number) {
  before_value();
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
  before_value();
  out_ += flag ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::null() {
  before_value();
  out_ += "null";
  return *this;
}

JsonWriter& JsonWriter::numbers(const std::vector<double>& values) {
  before_value();
  out_ += '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out_ += ", ";
    out_ += number_text(values[i]);
  }
  out_ += ']';
  return *this;
}

JsonWriter& JsonWriter::strings(const std::vector<std::string>& values) {
  before_value();
  out_ += '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out_ += ", ";
    out_ += json_string(values[i]);
  }
  out_ += ']';
  return *this;
}

std::string JsonWriter::text() const {
  if (!is_object_.empty() || after_key_) throw std::logic_error("JSON: a container is open");
  return out_ + "\n";
}

}  // namespace btcfit::stats
