#include "fwd/proposal.h"

#include <cctype>

#include "platform/text.h"
#include "store/callsign.h"

namespace orn {
namespace {

std::string CutAtDot(const std::string& s) { return s.substr(0, s.find('.')); }

std::vector<std::string> Words(const std::string& s) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < s.size()) {
    const size_t start = s.find_first_not_of(' ', at);
    if (start == std::string::npos) break;
    size_t end = s.find(' ', start);
    if (end == std::string::npos) end = s.size();
    words.push_back(s.substr(start, end - start));
    at = end;
  }
  return words;
}

std::string WithoutCr(const std::string& line) {
  return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Escape sequences, BEL or Ctrl-Z in an address would be stored as sent and
// reach the sysop's terminal or the BID list: a line holding one is no
// proposal.
bool HasControl(const std::string& line) {
  for (unsigned char c : line)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

}  // namespace

std::string DtoHex(long S, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out(static_cast<size_t>(digits > 0 ? digits : 0), '0');
  unsigned long v = static_cast<unsigned long>(S);
  for (int i = digits - 1; i >= 0; --i) {
    const unsigned long d = i == 0 ? v : v % 16;
    out[static_cast<size_t>(i)] = d > 15 ? 'X' : kDigits[d];
    v /= 16;
  }
  return out;
}

std::string ProposalChecksum(const std::string& lines) {
  unsigned sum = 0;
  for (unsigned char c : lines) sum += c;
  return DtoHex((256 - sum % 256) % 256, 2);
}

// A message stored without a type goes out as P when its addressee is a
// callsign, B otherwise: peers refuse a blank type.
char TypeLetter(const MsgDB& m) {
  const std::string type = Trim(FieldText(m.Type));
  if (!type.empty()) return type[0];
  return CallIsValid(CallKey(FieldText(m.ToStation))) ? 'P' : 'B';
}

std::string FormatProposalLine(const MsgDB& m, bool hier, bool compressed) {
  const std::string at = FieldText(m.AtBbs);
  std::string line = compressed ? "FA " : "FB ";
  line += TypeLetter(m);
  line += ' ' + CutAtDot(FieldText(m.FromStation));
  line += ' ' + (hier ? at : CutAtDot(at));
  line += ' ' + CutAtDot(FieldText(m.ToStation));
  line += ' ' + CutAtDot(FieldText(m.Bid));
  line += ' ' + std::to_string(m.Size) + '\r';
  return line;
}

std::string FormatMblOffer(const MsgDB& m, bool hier) {
  const std::string at = FieldText(m.AtBbs);
  std::string line = "S";
  line += TypeLetter(m);
  line += ' ' + CutAtDot(FieldText(m.ToStation));
  line += " @ " + (hier ? at : CutAtDot(at));
  line += " < " + CutAtDot(FieldText(m.FromStation));
  const std::string bid = CutAtDot(FieldText(m.Bid));
  if (!bid.empty()) line += " $" + bid;
  return line + '\r';
}

bool ParseMblOffer(const std::string& raw, ProposalFields* f) {
  const std::string line = WithoutCr(raw);
  if (line.size() >= kProposalWidth || line.size() < 3 || line[0] != 'S' || HasControl(line)) return false;
  const char type = line[1];
  if (!std::isalpha(static_cast<unsigned char>(type))) return false;
  // The marks may stand against their fields ("@XX1ABC") or apart.
  std::string spaced;
  for (char c : line.substr(2)) {
    if (c == '@' || c == '<' || c == '$') {
      spaced += ' ';
      spaced += c;
      spaced += ' ';
    } else {
      spaced += c;
    }
  }
  const std::vector<std::string> w = Words(spaced);
  if (w.empty() || w[0] == "@" || w[0] == "<" || w[0] == "$") return false;
  ProposalFields out;
  out.type = static_cast<char>(std::toupper(static_cast<unsigned char>(type)));
  out.to = UpperAscii(w[0]);
  bool at = false, from = false;
  auto station = [](const std::string& s) { return UpperAscii(s.substr(0, s.find_first_of("-,"))); };
  // The fields come in pairs: a mark, then its value.
  for (size_t i = 1; i < w.size(); i += 2) {
    const bool mark = w[i] == "@" || w[i] == "<" || w[i] == "$";
    if (!mark || i + 1 >= w.size()) return false;
    const std::string& v = w[i + 1];
    if (v == "@" || v == "<" || v == "$") return false;
    if (w[i] == "@") {
      out.at = station(v);
      at = true;
    } else if (w[i] == "<") {
      out.from = station(v);
      from = true;
    } else {
      out.bid = UpperAscii(v);
    }
  }
  if (!at || !from || out.to.size() > 39 || out.at.size() > 39 || out.from.size() > 39) return false;
  if (out.at.empty() || out.from.empty() || out.bid.size() > 12) return false;
  *f = out;
  return true;
}

bool ParseProposalLine(const std::string& raw, ProposalFields* f) {
  const std::string line = WithoutCr(raw);
  if (line.size() >= kProposalWidth || line.size() < 5 || HasControl(line)) return false;
  if (line.compare(0, 3, "FB ") != 0 && line.compare(0, 3, "FA ") != 0) return false;
  const char type = line[3];
  if (!std::isalpha(static_cast<unsigned char>(type))) return false;
  const std::vector<std::string> w = Words(line.substr(4));
  if (w.size() != 5) return false;
  for (int i = 0; i < 3; ++i)
    if (w[static_cast<size_t>(i)].size() > 39) return false;
  if (w[3].empty() || w[3].size() > 12) return false;
  if (w[4].empty() || w[4].size() > 9) return false;
  for (char c : w[4])
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  f->type = static_cast<char>(std::toupper(static_cast<unsigned char>(type)));
  // Calls, addresses and BIDs are read in capitals, whatever case they came in.
  f->from = UpperAscii(w[0]);
  f->at = UpperAscii(w[1]);
  f->to = UpperAscii(w[2]);
  f->bid = UpperAscii(w[3]);
  f->size = std::stol(w[4]);
  return true;
}

int ParseChecksumLine(const std::string& raw) {
  const std::string line = WithoutCr(raw);
  if (line.size() < 5 || line.compare(0, 2, "F>") != 0) return -1;
  const std::string digits = Trim(line.substr(2));
  if (digits.size() != 2) return -1;
  const int hi = HexDigit(digits[0]), lo = HexDigit(digits[1]);
  if (hi < 0 || lo < 0) return -1;
  return hi * 16 + lo;
}

bool ParseAnswerLine(const std::string& raw, int proposals, std::string* flags, std::vector<long>* offsets) {
  const std::string line = WithoutCr(raw);
  if (line.compare(0, 3, "FS ") != 0) return false;
  std::string letters;
  std::vector<long> from;
  for (size_t i = 3; i < line.size(); ++i) {
    const char c = line[i];
    long offset = 0;
    char flag;
    switch (c) {
      case '+': case 'Y': case 'H': flag = '+'; break;
      case '-': case 'N': case 'R': case 'E': flag = '-'; break;
      case '=': case 'L': flag = '='; break;
      case '!': case 'A': {
        if (!offsets || i + 1 >= line.size() || !std::isdigit(static_cast<unsigned char>(line[i + 1]))) return false;
        while (i + 1 < line.size() && std::isdigit(static_cast<unsigned char>(line[i + 1]))) {
          if (offset > 100000000) return false;
          offset = offset * 10 + (line[++i] - '0');
        }
        flag = '+';
        break;
      }
      default: return false;
    }
    letters += flag;
    from.push_back(offset);
  }
  if (static_cast<int>(letters.size()) > proposals) return false;
  *flags = letters;
  if (offsets) *offsets = from;
  return true;
}

bool ReturnBbsinLine(const std::string& raw, std::string* id) {
  const std::string line = WithoutCr(raw);
  if (line.compare(0, 2, "R:") != 0) return false;
  size_t at = line.find('@', 2);
  if (at == std::string::npos) return false;
  ++at;
  if (at < line.size() && line[at] == ':') ++at;
  size_t end = line.find_first_of(" \t\n", at);
  if (end == std::string::npos) end = line.size();
  if (end - at > kMaxRelayId) return false;
  *id = line.substr(at, end - at);
  return true;
}

}  // namespace orn
