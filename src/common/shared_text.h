#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace kopiensieb {

// A byte text that copies share instead of each holding its own: the folder text of every
// file of one folder, for instance, which a catalogue of a million files would otherwise keep
// a million times. Never changed in place; assigning gives it another text.
class SharedText {
 public:
  SharedText() = default;
  // Implicit, like the std::string it stands for.
  SharedText(std::string text)  // NOLINT(google-explicit-constructor)
      : text_(text.empty() ? nullptr : std::make_shared<const std::string>(std::move(text))) {}
  SharedText(const char* text)  // NOLINT(google-explicit-constructor)
      : SharedText(std::string(text)) {}

  const std::string& Text() const { return text_ ? *text_ : Empty(); }
  operator const std::string&() const { return Text(); }  // NOLINT(google-explicit-constructor)
  operator std::string_view() const { return Text(); }    // NOLINT(google-explicit-constructor)
  std::size_t size() const { return Text().size(); }
  bool empty() const { return Text().empty(); }

  // Copies of one text compare without looking at the bytes.
  friend bool operator==(const SharedText& left, const SharedText& right) {
    return left.text_ == right.text_ || left.Text() == right.Text();
  }
  friend bool operator==(const SharedText& left, std::string_view right) {
    return std::string_view(left.Text()) == right;
  }
  friend bool operator==(const SharedText& left, const std::string& right) {
    return left.Text() == right;
  }
  friend bool operator==(const SharedText& left, const char* right) {
    return std::string_view(left.Text()) == right;
  }
  friend std::ostream& operator<<(std::ostream& out, const SharedText& text) {
    return out << text.Text();
  }

 private:
  static const std::string& Empty() {
    static const std::string empty;
    return empty;
  }

  std::shared_ptr<const std::string> text_;  // null for the empty text
};

}  // namespace kopiensieb
