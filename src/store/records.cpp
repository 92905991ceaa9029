#include "store/records.h"

#include <cstring>

#include "platform/bytes.h"

namespace orn {
namespace {

// A text member into its field: at most N - 1 characters, the rest zero.
template <size_t N>
void PutText(char* field, const char (&text)[N]) {
  const size_t n = strnlen(text, N - 1);
  std::memcpy(field, text, n);
  std::memset(field + n, 0, N - n);
}

// A field into its text member; a field without a terminator is cut to
// N - 1 characters, and the bytes after the terminator are dropped.
template <size_t N>
void GetText(const char* field, char (&text)[N]) {
  const size_t n = strnlen(field, N - 1);
  std::memcpy(text, field, n);
  std::memset(text + n, 0, N - n);
}

// Offsets of the fields in users.adb. Each must follow its predecessor with
// no gap: the static_asserts below hold the table to the member widths.
constexpr size_t kUId = 0, kUCall = 4, kUName = 11, kUType = 26, kUZipCode = 28, kUHomeBbs = 34,
                 kUHierAddress = 74, kULanguage = 114, kUMaxStayMinutes = 154, kUMaxDownload = 158,
                 kUisFwdStation = 162, kUCountry = 164, kUOkWithBids = 179, kUCount = 181, kULLoginD = 185,
                 kULLoginT = 194, kULMsgRead = 200, kUHowtoConnect = 204, kUHcon = 1404, kUFwdDest = 4504,
                 kUFwdMsgNo = 5105, kUFwdQueue = 18632, kUFavourites = 18636, kUFwdKind = 19237,
                 kUPassword = 19241, kUPasswordOk = 19322;

static_assert(kUCall == kUId + 4);
static_assert(kUName == kUCall + sizeof(UserDB::Call));
static_assert(kUType == kUName + sizeof(UserDB::Name));
static_assert(kUZipCode == kUType + sizeof(UserDB::Type));
static_assert(kUHomeBbs == kUZipCode + sizeof(UserDB::ZipCode));
static_assert(kUHierAddress == kUHomeBbs + sizeof(UserDB::HomeBbs));
static_assert(kULanguage == kUHierAddress + sizeof(UserDB::HierAddress));
static_assert(kUMaxStayMinutes == kULanguage + sizeof(UserDB::Language));
static_assert(kUMaxDownload == kUMaxStayMinutes + 4);
static_assert(kUisFwdStation == kUMaxDownload + 4);
static_assert(kUCountry == kUisFwdStation + sizeof(UserDB::isFwdStation));
static_assert(kUOkWithBids == kUCountry + sizeof(UserDB::Country));
static_assert(kUCount == kUOkWithBids + sizeof(UserDB::OkWithBids));
static_assert(kULLoginD == kUCount + 4);
static_assert(kULLoginT == kULLoginD + sizeof(UserDB::LLoginD));
static_assert(kULMsgRead == kULLoginT + sizeof(UserDB::LLoginT));
static_assert(kUHowtoConnect == kULMsgRead + 4);
static_assert(kUHcon == kUHowtoConnect + sizeof(UserDB::HowtoConnect));
static_assert(kUFwdDest == kUHcon + kHowtoconnectCount * kHowtoconnectSize);
static_assert(kUFwdMsgNo == kUFwdDest + sizeof(UserDB::FwdDest));
static_assert(kUFwdQueue == kUFwdMsgNo + kUserFwdPrivCount * kUserFwdPrivSize);
static_assert(kUFavourites == kUFwdQueue + 4);
static_assert(kUFwdKind == kUFavourites + sizeof(UserDB::Favourites));
static_assert(kUPassword == kUFwdKind + 4);
static_assert(kUPasswordOk == kUPassword + sizeof(UserDB::Password));
static_assert(kUserDBSize == kUPasswordOk + 4);

// One Howtoconnect entry.
constexpr size_t kHHours = 0, kHMlength = 5, kHDaysago = 16, kHPort = 22, kHSend = 25, kHRcv = 126,
                 kHFwdkind = 227, kHExpfile = 229, kHFlag = 309;
static_assert(kHMlength == kHHours + sizeof(Howtoconnect::hours));
static_assert(kHDaysago == kHMlength + sizeof(Howtoconnect::mlength));
static_assert(kHPort == kHDaysago + sizeof(Howtoconnect::daysago));
static_assert(kHSend == kHPort + sizeof(Howtoconnect::port));
static_assert(kHRcv == kHSend + sizeof(Howtoconnect::send));
static_assert(kHFwdkind == kHRcv + sizeof(Howtoconnect::rcv));
static_assert(kHExpfile == kHFwdkind + sizeof(Howtoconnect::fwdkind));
static_assert(kHFlag == kHExpfile + sizeof(Howtoconnect::expfile));
static_assert(kHowtoconnectSize == kHFlag + 1);

// One UserFwdPriv slot.
constexpr size_t kFType = 0, kFStatus = 2, kFFwdMsgNumbers = 4, kFSize = 8, kFExpDays = 12;
static_assert(kFStatus == kFType + sizeof(UserFwdPriv::Type));
static_assert(kFFwdMsgNumbers == kFStatus + sizeof(UserFwdPriv::Status));
static_assert(kFSize == kFFwdMsgNumbers + 4);
static_assert(kFExpDays == kFSize + 4);
static_assert(kUserFwdPrivSize == kFExpDays + sizeof(UserFwdPriv::ExpDays));

// users.idx.
constexpr size_t kIId = 0, kICall = 4, kIName = 11, kIType = 26, kIisFwdStation = 28, kIFwdQueue = 30;
static_assert(kICall == kIId + 4);
static_assert(kIName == kICall + sizeof(UserDBidx::Call));
static_assert(kIType == kIName + sizeof(UserDBidx::Name));
static_assert(kIisFwdStation == kIType + sizeof(UserDBidx::Type));
static_assert(kIFwdQueue == kIisFwdStation + sizeof(UserDBidx::isFwdStation));
static_assert(kUserDBidxSize == kIFwdQueue + 4);

// msg.adb.
constexpr size_t kMMsgNo = 0, kMType = 4, kMStatus = 6, kMSize = 8, kMToStation = 12, kMFromStation = 52,
                 kMAtBbs = 92, kMMsgDate = 132, kMMsgSubject = 147, kMBid = 402;
static_assert(kMType == kMMsgNo + 4);
static_assert(kMStatus == kMType + sizeof(MsgDB::Type));
static_assert(kMSize == kMStatus + sizeof(MsgDB::Status));
static_assert(kMToStation == kMSize + 4);
static_assert(kMFromStation == kMToStation + sizeof(MsgDB::ToStation));
static_assert(kMAtBbs == kMFromStation + sizeof(MsgDB::FromStation));
static_assert(kMMsgDate == kMAtBbs + sizeof(MsgDB::AtBbs));
static_assert(kMMsgSubject == kMMsgDate + sizeof(MsgDB::MsgDate));
static_assert(kMBid == kMMsgSubject + sizeof(MsgDB::MsgSubject));
static_assert(kMsgDBSize == kMBid + sizeof(MsgDB::Bid));

// msg.idx.
constexpr size_t kXMsgNo = 0, kXType = 4, kXStatus = 6;
static_assert(kXType == kXMsgNo + 4);
static_assert(kXStatus == kXType + sizeof(MsgDBidx::Type));
static_assert(kMsgDBidxSize == kXStatus + sizeof(MsgDBidx::Status));

// mail.adb.
constexpr size_t kBCall = 0, kBHowmany = 7;
static_assert(kBHowmany == kBCall + sizeof(Mails::call));
static_assert(kMailsSize == kBHowmany + 4);

void EncodeHowtoconnect(const Howtoconnect& h, char* out) {
  PutText(out + kHHours, h.hours);
  PutText(out + kHMlength, h.mlength);
  PutText(out + kHDaysago, h.daysago);
  PutText(out + kHPort, h.port);
  PutText(out + kHSend, h.send);
  PutText(out + kHRcv, h.rcv);
  PutText(out + kHFwdkind, h.fwdkind);
  PutText(out + kHExpfile, h.expfile);
  out[kHFlag] = h.flag;
}

void DecodeHowtoconnect(const char* in, Howtoconnect* h) {
  GetText(in + kHHours, h->hours);
  GetText(in + kHMlength, h->mlength);
  GetText(in + kHDaysago, h->daysago);
  GetText(in + kHPort, h->port);
  GetText(in + kHSend, h->send);
  GetText(in + kHRcv, h->rcv);
  GetText(in + kHFwdkind, h->fwdkind);
  GetText(in + kHExpfile, h->expfile);
  h->flag = in[kHFlag];
}

void EncodeUserFwdPriv(const UserFwdPriv& f, char* out) {
  PutText(out + kFType, f.Type);
  PutText(out + kFStatus, f.Status);
  WriteLeInt32(out + kFFwdMsgNumbers, f.FwdMsgNumbers);
  WriteLeInt32(out + kFSize, f.Size);
  PutText(out + kFExpDays, f.ExpDays);
}

void DecodeUserFwdPriv(const char* in, UserFwdPriv* f) {
  GetText(in + kFType, f->Type);
  GetText(in + kFStatus, f->Status);
  f->FwdMsgNumbers = ReadLeInt32(in + kFFwdMsgNumbers);
  f->Size = ReadLeInt32(in + kFSize);
  GetText(in + kFExpDays, f->ExpDays);
}

}  // namespace

void EncodeUserDB(const UserDB& r, char* out) {
  WriteLeInt32(out + kUId, r.Id);
  PutText(out + kUCall, r.Call);
  PutText(out + kUName, r.Name);
  PutText(out + kUType, r.Type);
  PutText(out + kUZipCode, r.ZipCode);
  PutText(out + kUHomeBbs, r.HomeBbs);
  PutText(out + kUHierAddress, r.HierAddress);
  PutText(out + kULanguage, r.Language);
  WriteLeInt32(out + kUMaxStayMinutes, r.MaxStayMinutes);
  WriteLeInt32(out + kUMaxDownload, r.MaxDownload);
  PutText(out + kUisFwdStation, r.isFwdStation);
  PutText(out + kUCountry, r.Country);
  PutText(out + kUOkWithBids, r.OkWithBids);
  WriteLeInt32(out + kUCount, r.Count);
  PutText(out + kULLoginD, r.LLoginD);
  PutText(out + kULLoginT, r.LLoginT);
  WriteLeInt32(out + kULMsgRead, r.LMsgRead);
  PutText(out + kUHowtoConnect, r.HowtoConnect);
  for (int i = 0; i < kHowtoconnectCount; ++i) EncodeHowtoconnect(r.Hcon[i], out + kUHcon + i * kHowtoconnectSize);
  PutText(out + kUFwdDest, r.FwdDest);
  for (int i = 0; i < kUserFwdPrivCount; ++i)
    EncodeUserFwdPriv(r.FwdMsgNo[i], out + kUFwdMsgNo + i * kUserFwdPrivSize);
  WriteLeInt32(out + kUFwdQueue, r.FwdQueue);
  PutText(out + kUFavourites, r.Favourites);
  WriteLeInt32(out + kUFwdKind, r.FwdKind);
  PutText(out + kUPassword, r.Password);
  WriteLeInt32(out + kUPasswordOk, r.PasswordOk);
}

void DecodeUserDB(const char* in, UserDB* r) {
  r->Id = ReadLeInt32(in + kUId);
  GetText(in + kUCall, r->Call);
  GetText(in + kUName, r->Name);
  GetText(in + kUType, r->Type);
  GetText(in + kUZipCode, r->ZipCode);
  GetText(in + kUHomeBbs, r->HomeBbs);
  GetText(in + kUHierAddress, r->HierAddress);
  GetText(in + kULanguage, r->Language);
  r->MaxStayMinutes = ReadLeInt32(in + kUMaxStayMinutes);
  r->MaxDownload = ReadLeInt32(in + kUMaxDownload);
  GetText(in + kUisFwdStation, r->isFwdStation);
  GetText(in + kUCountry, r->Country);
  GetText(in + kUOkWithBids, r->OkWithBids);
  r->Count = ReadLeInt32(in + kUCount);
  GetText(in + kULLoginD, r->LLoginD);
  GetText(in + kULLoginT, r->LLoginT);
  r->LMsgRead = ReadLeInt32(in + kULMsgRead);
  GetText(in + kUHowtoConnect, r->HowtoConnect);
  for (int i = 0; i < kHowtoconnectCount; ++i) DecodeHowtoconnect(in + kUHcon + i * kHowtoconnectSize, &r->Hcon[i]);
  GetText(in + kUFwdDest, r->FwdDest);
  for (int i = 0; i < kUserFwdPrivCount; ++i)
    DecodeUserFwdPriv(in + kUFwdMsgNo + i * kUserFwdPrivSize, &r->FwdMsgNo[i]);
  r->FwdQueue = ReadLeInt32(in + kUFwdQueue);
  GetText(in + kUFavourites, r->Favourites);
  r->FwdKind = ReadLeInt32(in + kUFwdKind);
  GetText(in + kUPassword, r->Password);
  r->PasswordOk = ReadLeInt32(in + kUPasswordOk);
}

void EncodeUserDBidx(const UserDBidx& r, char* out) {
  WriteLeInt32(out + kIId, r.Id);
  PutText(out + kICall, r.Call);
  PutText(out + kIName, r.Name);
  PutText(out + kIType, r.Type);
  PutText(out + kIisFwdStation, r.isFwdStation);
  WriteLeInt32(out + kIFwdQueue, r.FwdQueue);
}

void DecodeUserDBidx(const char* in, UserDBidx* r) {
  r->Id = ReadLeInt32(in + kIId);
  GetText(in + kICall, r->Call);
  GetText(in + kIName, r->Name);
  GetText(in + kIType, r->Type);
  GetText(in + kIisFwdStation, r->isFwdStation);
  r->FwdQueue = ReadLeInt32(in + kIFwdQueue);
}

void EncodeMsgDB(const MsgDB& r, char* out) {
  WriteLeInt32(out + kMMsgNo, r.MsgNo);
  PutText(out + kMType, r.Type);
  PutText(out + kMStatus, r.Status);
  WriteLeInt32(out + kMSize, r.Size);
  PutText(out + kMToStation, r.ToStation);
  PutText(out + kMFromStation, r.FromStation);
  PutText(out + kMAtBbs, r.AtBbs);
  PutText(out + kMMsgDate, r.MsgDate);
  PutText(out + kMMsgSubject, r.MsgSubject);
  PutText(out + kMBid, r.Bid);
}

void DecodeMsgDB(const char* in, MsgDB* r) {
  r->MsgNo = ReadLeInt32(in + kMMsgNo);
  GetText(in + kMType, r->Type);
  GetText(in + kMStatus, r->Status);
  r->Size = ReadLeInt32(in + kMSize);
  GetText(in + kMToStation, r->ToStation);
  GetText(in + kMFromStation, r->FromStation);
  GetText(in + kMAtBbs, r->AtBbs);
  GetText(in + kMMsgDate, r->MsgDate);
  GetText(in + kMMsgSubject, r->MsgSubject);
  GetText(in + kMBid, r->Bid);
}

void EncodeMsgDBidx(const MsgDBidx& r, char* out) {
  WriteLeInt32(out + kXMsgNo, r.MsgNo);
  PutText(out + kXType, r.Type);
  PutText(out + kXStatus, r.Status);
}

void DecodeMsgDBidx(const char* in, MsgDBidx* r) {
  r->MsgNo = ReadLeInt32(in + kXMsgNo);
  GetText(in + kXType, r->Type);
  GetText(in + kXStatus, r->Status);
}

void EncodeMails(const Mails& r, char* out) {
  PutText(out + kBCall, r.call);
  WriteLeInt32(out + kBHowmany, r.howmany);
}

void DecodeMails(const char* in, Mails* r) {
  GetText(in + kBCall, r->call);
  r->howmany = ReadLeInt32(in + kBHowmany);
}

void EqualIndices(const UserDB& r, UserDBidx* idx) {
  idx->Id = r.Id;
  GetText(r.Call, idx->Call);
  GetText(r.Name, idx->Name);
  GetText(r.Type, idx->Type);
  GetText(r.isFwdStation, idx->isFwdStation);
  idx->FwdQueue = r.FwdQueue;
}

void EqualIndices(const MsgDB& r, MsgDBidx* idx) {
  idx->MsgNo = r.MsgNo;
  GetText(r.Type, idx->Type);
  GetText(r.Status, idx->Status);
}

const char* UserTypeLabel(char type) {
  switch (type) {
    case 'U': return "U-nrgstrd";
    case 'R': return "R-egular";
    case 'S': return "S-ysop";
    case 'B': return "B-bs";
    case 'X': return "X-pert";
    case 'L': return "L-ocal";
    case 'E': return "E-xcluded";
    case 'K': return "K-illed";
    default: return "";
  }
}

const char* MsgTypeLabel(char type) {
  switch (type) {
    case ' ': return " -none";
    case 'P': return "P-rivate";
    case 'B': return "B-ulletin";
    case 'T': return "T-raffic";
    case 'H': return "H-tml";
    default: return "";
  }
}

const char* MsgStatusLabel(char status) {
  switch (status) {
    case 'N': return "N-unread";
    case 'Y': return "Y-read";
    case 'H': return "H-eld";
    case 'O': return "O-ld";
    case 'K': return "K-illed";
    default: return "";
  }
}

}  // namespace orn
