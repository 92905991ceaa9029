// The records of the database files. Sysops keep these files for years and
// copy them between machines, so their bytes are fixed: every record is
// encoded and decoded here, field by field at fixed offsets, integers as
// 32-bit little-endian, texts NUL-terminated inside their width. The structs
// below are the in-memory form only; their memory never goes to disk.
//
// Text members have exactly the width of their field on disk, so a text
// holds at most width - 1 characters; fill them with CopyField (platform/
// text.h). An over-long or unterminated member is cut on encoding, never
// written past its field.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orn {

constexpr size_t kUserDBSize = 19326;
constexpr size_t kUserDBidxSize = 34;
constexpr size_t kMsgDBSize = 415;
constexpr size_t kMsgDBidxSize = 8;
constexpr size_t kUserFwdPrivSize = 27;
constexpr size_t kHowtoconnectSize = 310;
constexpr size_t kMailsSize = 11;

constexpr int kHowtoconnectCount = 10;
constexpr int kUserFwdPrivCount = 501;

// One connect/schedule entry of a forwarding partner.
struct Howtoconnect {
  char hours[5];
  char mlength[11];
  char daysago[6];
  char port[3];
  char send[101];
  char rcv[101];
  char fwdkind[2];
  char expfile[80];
  // One byte on disk with no room for a terminator: the letter itself, 0 when
  // unset.
  char flag;
};

// One message queued for a forwarding partner; FwdMsgNumbers 0 = free slot.
struct UserFwdPriv {
  char Type[2];
  char Status[2];
  int32_t FwdMsgNumbers;
  int32_t Size;
  char ExpDays[15];
};

// A user or forwarding partner (users.adb).
struct UserDB {
  int32_t Id;
  char Call[7];
  char Name[15];
  char Type[2];
  char ZipCode[6];
  char HomeBbs[40];
  char HierAddress[40];
  char Language[40];
  int32_t MaxStayMinutes;
  int32_t MaxDownload;
  char isFwdStation[2];
  char Country[15];
  char OkWithBids[2];
  int32_t Count;
  char LLoginD[9];
  char LLoginT[6];
  int32_t LMsgRead;
  char HowtoConnect[1200];
  Howtoconnect Hcon[kHowtoconnectCount];
  char FwdDest[601];
  UserFwdPriv FwdMsgNo[kUserFwdPrivCount];
  int32_t FwdQueue;
  char Favourites[601];
  int32_t FwdKind;
  char Password[81];
  int32_t PasswordOk;
};

// The user index (users.idx), one record per users.adb record.
struct UserDBidx {
  int32_t Id;
  char Call[7];
  char Name[15];
  char Type[2];
  char isFwdStation[2];
  int32_t FwdQueue;
};

// A message header (msg.adb).
struct MsgDB {
  int32_t MsgNo;
  char Type[2];
  char Status[2];
  int32_t Size;
  char ToStation[40];
  char FromStation[40];
  char AtBbs[40];
  char MsgDate[15];
  char MsgSubject[255];
  char Bid[13];
};

// The message index (msg.idx), one record per msg.adb record, sorted by MsgNo.
struct MsgDBidx {
  int32_t MsgNo;
  char Type[2];
  char Status[2];
};

// One callsign of the mail-beacon list (mail.adb).
struct Mails {
  char call[7];
  int32_t howmany;
};

// Byte images. `out` holds the record's size; `in` too.
void EncodeUserDB(const UserDB& r, char* out);
void DecodeUserDB(const char* in, UserDB* r);
void EncodeUserDBidx(const UserDBidx& r, char* out);
void DecodeUserDBidx(const char* in, UserDBidx* r);
void EncodeMsgDB(const MsgDB& r, char* out);
void DecodeMsgDB(const char* in, MsgDB* r);
void EncodeMsgDBidx(const MsgDBidx& r, char* out);
void DecodeMsgDBidx(const char* in, MsgDBidx* r);
void EncodeMails(const Mails& r, char* out);
void DecodeMails(const char* in, Mails* r);

// The index record of a full record: the index is never written on its own.
void EqualIndices(const UserDB& r, UserDBidx* idx);
void EqualIndices(const MsgDB& r, MsgDBidx* idx);

// The labels the sysop's windows show for the letter codes; "" for a letter
// that has none.
const char* UserTypeLabel(char type);
const char* MsgTypeLabel(char type);
const char* MsgStatusLabel(char status);

}  // namespace orn
