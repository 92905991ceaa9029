#include "ornpe/telnet_stream.h"

#include <utility>

namespace orn {

bool TelnetStream::IsData(char ch) {
  if (raw_) return true;
  const auto b = static_cast<unsigned char>(ch);
  switch (state_) {
    case State::Data:
      if (b != kIac) return true;
      state_ = State::Command;
      return false;
    case State::Command:
      if (b == kIac) {
        state_ = State::Data;
        return true;
      }
      if (b == kSb) {
        state_ = State::Sub;
      } else if (b >= kWill && b <= kDont) {
        verb_ = b;
        state_ = State::Option;
      } else {
        state_ = State::Data;  // NOP, GA, AYT, ... mean nothing to a byte stream
      }
      return false;
    case State::Option:
      state_ = State::Data;
      Negotiate(verb_, b);
      return false;
    case State::Sub:
      // No option is ever agreed that has subnegotiation: its bytes go.
      if (b == kIac) state_ = State::SubIac;
      return false;
    case State::SubIac:
      state_ = b == kSe ? State::Data : State::Sub;
      return false;
  }
  return false;
}

void TelnetStream::Negotiate(unsigned char verb, unsigned char option) {
  // An answer only where the state changes or a request is refused, so that
  // two ends never echo each other's answers for ever.
  const bool binary = option == kBinary;
  switch (verb) {
    case kWill:
      if (!binary) {
        Answer(kDont, option);
      } else if (!binaryIn_) {
        binaryIn_ = true;
        Answer(kDo, option);
      }
      break;
    case kDo:
      if (!binary) {
        Answer(kWont, option);
      } else if (!binaryOut_) {
        binaryOut_ = true;
        Answer(kWill, option);
      }
      break;
    case kWont:
      if (binary && binaryIn_) {
        binaryIn_ = false;
        Answer(kDont, option);
      }
      break;
    case kDont:
      if (binary && binaryOut_) {
        binaryOut_ = false;
        Answer(kWont, option);
      }
      break;
    default:
      break;
  }
}

void TelnetStream::Answer(unsigned char verb, unsigned char option) {
  answers_ += static_cast<char>(kIac);
  answers_ += static_cast<char>(verb);
  answers_ += static_cast<char>(option);
}

std::string TelnetStream::Decode(std::string_view bytes) {
  if (raw_) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    if (IsData(c)) out += c;
  }
  return out;
}

std::string TelnetStream::Encode(std::string_view data) const {
  if (raw_) return std::string(data);
  std::string out;
  out.reserve(data.size());
  for (char c : data) {
    out += c;
    if (static_cast<unsigned char>(c) == kIac) out += c;
  }
  return out;
}

std::string TelnetStream::TakeAnswers() { return std::exchange(answers_, {}); }

}  // namespace orn
