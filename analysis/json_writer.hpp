// A small writer of JSON text: objects, arrays, strings, numbers, booleans
// and null, indented by two spaces. Numbers are written with 17
// significant digits (they read back to the same double); numbers that are
// not finite are written as null, since JSON has no NaN or infinity.
#pragma once

#include <string>
#include <vector>

namespace btcfit::stats {

class JsonWriter {
 public:
  JsonWriter& begin_object();
  JsonWriter& end_object();
  JsonWriter& begin_array();
  JsonWriter& end_array();
  // The name of the next member (inside an object only).
  JsonWriter& key(const std::string& name);
  JsonWriter& value(const std::string& text);
  JsonWriter& value(const char* text);
  JsonWriter& value(double number);
  JsonWriter& value(int number);
  JsonWriter& value(bool flag);
  JsonWriter& null();
  // An array of numbers on one line.
  JsonWriter& numbers(const std::vector<double>& values);
  JsonWriter& strings(const std::vector<std::string>& values);

  // The document; throws std::logic_error while a container is open.
  std::string text() const;

 private:
  void before_value();
  void newline();
  std::string out_;
  // One entry per open container: true for an object; and whether it has
  // a member yet.
  std::vector<bool> is_object_;
  std::vector<bool> has_member_;
  bool after_key_ = false;
};

// `text` as a JSON string literal, quotes included.
std::string json_string(const std::string& text);

}  // namespace btcfit::stats
