// Parsing of layout texts into items, and unrolling of the items into the
// step sequence that the record writer and reader walk through.
#include <cctype>
#include <stdexcept>
#include <string>

#include "report/record_layout.hpp"

namespace btcfit {
namespace {

// Largest repeat count, width or move accepted in a layout, and the largest
// number of unrolled steps. Layouts are program constants; anything beyond
// these is a mistake in the program text.
constexpr int kMaxNumber = 1'000'000;
constexpr std::size_t kMaxSteps = 1'000'000;

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  std::vector<LayoutItem> parse_layout() {
    skip_blanks();
    expect('(');
    std::vector<LayoutItem> items = parse_list();
    expect(')');
    skip_blanks();
    if (pos_ != s_.size()) fail("text after the closing parenthesis");
    return items;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw std::invalid_argument("layout \"" + std::string(s_) + "\": " + what +
                                " at position " + std::to_string(pos_ + 1));
  }

  void skip_blanks() {
    while (pos_ < s_.size() && s_[pos_] == ' ') ++pos_;
  }

  char peek() {
    skip_blanks();
    return pos_ < s_.size() ? s_[pos_] : '\0';
  }

  void expect(char c) {
    if (peek() != c) fail(std::string("expected '") + c + "'");
    ++pos_;
  }

  bool at_digit() {
    return std::isdigit(static_cast<unsigned char>(peek())) != 0;
  }

  int number() {
    if (!at_digit()) fail("expected a number");
    long v = 0;
    while (pos_ < s_.size() &&
           std::isdigit(static_cast<unsigned char>(s_[pos_]))) {
      v = v * 10 + (s_[pos_] - '0');
      if (v > kMaxNumber) fail("number too large");
      ++pos_;
    }
    return static_cast<int>(v);
  }

  int positive_number() {
    int v = number();
    if (v < 1) fail("a count or width must be at least 1");
    return v;
  }

  // Items up to (not including) the closing parenthesis of the list.
  // Items are separated by commas; a record end also separates by itself.
  std::vector<LayoutItem> parse_list() {
    std::vector<LayoutItem> items;
    if (peek() == ')') return items;
    for (;;) {
      LayoutItem item = parse_item();
      bool slash = item.kind == LayoutItem::Kind::RecordEnd;
      items.push_back(std::move(item));
      char c = peek();
      if (c == ')') return items;
      if (c == ',') {
        ++pos_;
        continue;
      }
      if (slash || c == '/') continue;
      fail("expected ',' or ')'");
    }
  }

  LayoutItem parse_item() {
    LayoutItem item{};
    char c = peek();
    if (c == '\'') {
      item.kind = LayoutItem::Kind::Literal;
      item.text = literal();
      return item;
    }
    if (c == '/') {
      ++pos_;
      item.kind = LayoutItem::Kind::RecordEnd;
      return item;
    }
    if (c == 'T' || c == 't') {
      ++pos_;
      if (pos_ >= s_.size() || (s_[pos_] != 'R' && s_[pos_] != 'r'))
        fail("expected TR");
      ++pos_;
      item.kind = LayoutItem::Kind::Move;
      item.width = positive_number();
      return item;
    }
    bool counted = at_digit();
    int repeat = counted ? positive_number() : 1;
    item.repeat = repeat;
    c = peek();
    switch (c) {
      case '(':
        ++pos_;
        item.kind = LayoutItem::Kind::Group;
        item.items = parse_list();
        if (item.items.empty()) fail("empty group");
        expect(')');
        return item;
      case '/':
        ++pos_;
        item.kind = LayoutItem::Kind::RecordEnd;
        return item;
      case 'I':
      case 'i':
        ++pos_;
        item.kind = LayoutItem::Kind::Int;
        item.width = positive_number();
        return item;
      case 'A':
      case 'a':
        ++pos_;
        item.kind = LayoutItem::Kind::Text;
        item.width = positive_number();
        return item;
      case 'F':
      case 'f':
        ++pos_;
        item.kind = LayoutItem::Kind::Real;
        item.width = positive_number();
        expect('.');
        item.decimals = number();
        return item;
      default:
        fail(counted ? "expected a group or a data field after a repeat count"
                     : "unknown layout item");
    }
  }

  // A quoted literal; a doubled quote inside it stands for one quote.
  std::string literal() {
    ++pos_;  // opening quote
    std::string text;
    for (;;) {
      if (pos_ >= s_.size()) fail("unterminated literal");
      char c = s_[pos_++];
      if (c == '\'') {
        if (pos_ < s_.size() && s_[pos_] == '\'') {
          text += '\'';
          ++pos_;
          continue;
        }
        if (text.empty()) fail("empty literal");
        return text;
      }
      text += c;
    }
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

bool is_field(LayoutItem::Kind k) {
  return k == LayoutItem::Kind::Int || k == LayoutItem::Kind::Real ||
         k == LayoutItem::Kind::Text;
}

class Unroller {
 public:
  Unroller(std::vector<LayoutStep>& steps, std::string_view text)
      : steps_(steps), text_(text) {}

  void items(const std::vector<LayoutItem>& list) {
    for (const LayoutItem& item : list) one(item);
  }

  void one(const LayoutItem& item) {
    for (int r = 0; r < item.repeat; ++r) {
      if (item.kind == LayoutItem::Kind::Group) {
        items(item.items);
      } else {
        add(LayoutStep{item.kind, item.width, item.decimals, item.text});
      }
    }
  }

  // Marks the point where reversion resumes: adjacent literals are not
  // joined across it.
  void mark() { barrier_ = steps_.size(); }

 private:
  void add(LayoutStep step) {
    if (step.kind == LayoutItem::Kind::Literal && steps_.size() > barrier_ &&
        steps_.back().kind == LayoutItem::Kind::Literal) {
      steps_.back().text += step.text;
      return;
    }
    if (steps_.size() >= kMaxSteps)
      throw std::invalid_argument("layout \"" + std::string(text_) +
                                  "\": too many items when unrolled");
    steps_.push_back(std::move(step));
  }

  std::vector<LayoutStep>& steps_;
  std::string_view text_;
  std::size_t barrier_ = 0;
};

}  // namespace

Layout::Layout(std::string_view text) : text_(text) {
  items_ = Parser(text).parse_layout();
  for (std::size_t k = 0; k < items_.size(); ++k)
    if (items_[k].kind == LayoutItem::Kind::Group)
      reversion_ = static_cast<int>(k);

  Unroller unroll(steps_, text_);
  for (std::size_t k = 0; k < items_.size(); ++k) {
    if (static_cast<int>(k) == reversion_) {
      unroll.mark();
      resume_step_ = steps_.size();
    }
    unroll.one(items_[k]);
  }
  for (std::size_t k = 0; k < steps_.size(); ++k) {
    if (is_field(steps_[k].kind)) {
      has_field_ = true;
      if (k >= resume_step_) resume_has_field_ = true;
    }
  }
}

}  // namespace btcfit
