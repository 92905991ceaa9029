#include "store/decode_send.h"

#include "platform/text.h"

namespace orn {
namespace {

constexpr const char* kMarkers = "@ <$";

void DropLeadingBlanks(std::string& s) { s.erase(0, std::min(s.find_first_not_of(' '), s.size())); }

// A destination or sender: "XX2BBS-1" and "XX2BBS,XX3BBS" both name XX2BBS.
std::string Address(const std::string& token) {
  std::string s = UpperAscii(token.substr(0, 39));
  DropLeadingBlanks(s);
  s = s.substr(0, s.find('-'));
  return s.substr(0, s.find(','));
}

}  // namespace

void DecodeSend(std::string& cn, MsgDB& msg) {
  if (cn.empty()) return;
  const char marker = cn[0];
  if (std::string(kMarkers).find(marker) != std::string::npos) cn.erase(0, 1);
  DropLeadingBlanks(cn);

  const size_t end = cn.find_first_of(kMarkers);
  const std::string token = cn.substr(0, end);
  cn.erase(0, end == std::string::npos ? cn.size() : end + 1);
  DropLeadingBlanks(cn);

  switch (marker) {
    case '@':
      CopyField(msg.AtBbs, Address(token));
      break;
    case '<':
      CopyField(msg.FromStation, Address(token));
      break;
    case '$': {
      std::string bid = token.size() > 12 ? std::string() : UpperAscii(token);
      DropLeadingBlanks(bid);
      CopyField(msg.Bid, bid);
      break;
    }
    case '\r':
      msg.MsgSubject[0] = '\0';
      break;
    default: {
      // Every word counts: "hello world" is the subject, not "world".
      std::string subject = FieldText(msg.MsgSubject);
      if (!subject.empty() && !token.empty()) subject += ' ';
      CopyField(msg.MsgSubject, subject + token);
      break;
    }
  }
  if (msg.MsgSubject[0] == '\r') msg.MsgSubject[0] = '\0';
}

}  // namespace orn
