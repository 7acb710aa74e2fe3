#pragma once
// Holder for key material: its memory is wiped when it is dropped.

#include <string>
#include <string_view>

namespace ferroglade {

/// Overwrites the whole buffer of `text` (its capacity, not just its size) with zeros
/// in a way the compiler cannot elide, then clears it.
void wipe(std::string& text);

/// Overwrites `size` bytes at `data` with zeros in a way the compiler cannot elide.
void wipe(void* data, std::size_t size);

/// A text that is wiped on destruction, on assignment and when moved from.
/// Not copyable, so that no unwiped copy is made by accident.
class SecretText {
 public:
  SecretText() = default;
  explicit SecretText(std::string text) : text_(std::move(text)) {}
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;
  SecretText(SecretText&& other) noexcept;
  SecretText& operator=(SecretText&& other) noexcept;
  ~SecretText();

  [[nodiscard]] std::string_view view() const { return text_; }
  /// Mutable access, for filling the text in place without reallocating.
  std::string& buffer() { return text_; }
  /// Wipes the text now.
  void clear() { wipe(text_); }

 private:
  std::string text_;
};

}  // namespace ferroglade
