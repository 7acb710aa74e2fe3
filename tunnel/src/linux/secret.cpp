#include "linux/secret.hpp"

#include <string.h>

namespace ferroglade {

void wipe(void* data, std::size_t size) {
  if (size != 0) {
    explicit_bzero(data, size);
  }
}

void wipe(std::string& text) {
  // Everything up to the capacity may hold bytes of an earlier, longer value.
  wipe(text.data(), text.capacity());
  text.clear();
}

SecretText::SecretText(SecretText&& other) noexcept : text_(std::move(other.text_)) { wipe(other.text_); }

SecretText& SecretText::operator=(SecretText&& other) noexcept {
  if (this != &other) {
    wipe(text_);
    text_ = std::move(other.text_);
    wipe(other.text_);
  }
  return *this;
}

SecretText::~SecretText() { wipe(text_); }

}  // namespace ferroglade
