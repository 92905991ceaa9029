#include "store/orn_dbase.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/file_names.h"
#include "platform/text.h"
#include "store/msg_text.h"

namespace orn {

const char* const kUsersFile = "users.adb";
const char* const kUsersIdxFile = "users.idx";
const char* const kMsgFile = "msg.adb";
const char* const kMsgIdxFile = "msg.idx";

namespace {

int64_t RecordOffset(long position, size_t size) {
  if (position <= 0) position = 1;
  return static_cast<int64_t>(position - 1) * static_cast<int64_t>(size);
}

// Reads a whole file record by record in blocks of about 64 KiB.
template <class Rec, class Decode, class Visit>
void ScanFile(const RecordFile& f, size_t size, Decode decode, const Visit& visit) {
  const size_t perBlock = (64 * 1024 + size - 1) / size;
  std::vector<char> buf(perBlock * size);
  Rec rec{};
  long position = 1;
  for (int64_t offset = 0;; offset += static_cast<int64_t>(buf.size())) {
    const size_t got = f.ReadAt(offset, buf.data(), buf.size());
    for (size_t at = 0; at + size <= got; at += size, ++position) {
      decode(buf.data() + at, &rec);
      if (!visit(position, rec)) return;
    }
    if (got < buf.size()) return;
  }
}

}  // namespace

TOrnDbase::TOrnDbase(StoreSite site) : site_(std::move(site)) {}

bool TOrnDbase::OpenUserFile() {
  const bool a = UserFile.Open(JoinPath(site_.dir, kUsersFile));
  const bool b = UserIdxFile.Open(JoinPath(site_.dir, kUsersIdxFile));
  return a && b;
}

bool TOrnDbase::OpenMsgFile() {
  const bool a = MsgFile.Open(JoinPath(site_.dir, kMsgFile));
  const bool b = MsgIdxFile.Open(JoinPath(site_.dir, kMsgIdxFile));
  return a && b;
}

void TOrnDbase::CloseUserFile() {
  UserFile.Close();
  UserIdxFile.Close();
}

void TOrnDbase::CloseMsgFile() {
  MsgFile.Close();
  MsgIdxFile.Close();
}

bool TOrnDbase::SeekToRecord(long position, const UserDB&, const UserDBidx&) {
  const bool a = UserFile.Seek(RecordOffset(position, kUserDBSize));
  const bool b = UserIdxFile.Seek(RecordOffset(position, kUserDBidxSize));
  return a && b;
}

bool TOrnDbase::SeekToRecord(long position, const MsgDB&, const MsgDBidx&) {
  const bool a = MsgFile.Seek(RecordOffset(position, kMsgDBSize));
  const bool b = MsgIdxFile.Seek(RecordOffset(position, kMsgDBidxSize));
  return a && b;
}

namespace {

// An append the disk refused (full) is taken back whole: a torn record, or a
// record without its index entry, would shift every later append's pair.
bool WritePair(RecordFile& file, const char* rec, size_t recSize, RecordFile& idxFile, const char* idx,
               size_t idxSize) {
  const int64_t fileSize = file.Size(), idxFileSize = idxFile.Size();
  if (file.Write(rec, recSize) && idxFile.Write(idx, idxSize)) return true;
  if (file.Size() > fileSize) file.Truncate(fileSize);
  if (idxFile.Size() > idxFileSize) idxFile.Truncate(idxFileSize);
  return false;
}

}  // namespace

// The record files take no buffer of ours (see RecordFile), so a completed
// write is already visible to every other handle: no reopen is needed.
bool TOrnDbase::WriteToFile(long position, const UserDB& r) {
  if (!SeekToRecord(position, r, useridx)) return false;
  std::vector<char> rec(kUserDBSize);
  char idx[kUserDBidxSize];
  UserDBidx i{};
  EqualIndices(r, &i);
  EncodeUserDB(r, rec.data());
  EncodeUserDBidx(i, idx);
  return WritePair(UserFile, rec.data(), rec.size(), UserIdxFile, idx, sizeof idx);
}

bool TOrnDbase::WriteToFile(long position, const MsgDB& r) {
  if (!SeekToRecord(position, r, msgidx)) return false;
  char rec[kMsgDBSize], idx[kMsgDBidxSize];
  MsgDBidx i{};
  EqualIndices(r, &i);
  EncodeMsgDB(r, rec);
  EncodeMsgDBidx(i, idx);
  return WritePair(MsgFile, rec, sizeof rec, MsgIdxFile, idx, sizeof idx);
}

bool TOrnDbase::ReadFromFile(long position, UserDB& r, UserDBidx& idx) {
  if (!SeekToRecord(position, r, idx)) return false;
  std::vector<char> rec(kUserDBSize);
  if (!UserFile.Read(rec.data(), rec.size())) return false;
  char ibuf[kUserDBidxSize];
  const bool haveIdx = UserIdxFile.Read(ibuf, sizeof ibuf);
  DecodeUserDB(rec.data(), &r);
  if (haveIdx)
    DecodeUserDBidx(ibuf, &idx);
  else
    EqualIndices(r, &idx);
  return true;
}

bool TOrnDbase::ReadFromFile(long position, MsgDB& r, MsgDBidx& idx) {
  if (!SeekToRecord(position, r, idx)) return false;
  char rec[kMsgDBSize], ibuf[kMsgDBidxSize];
  if (!MsgFile.Read(rec, sizeof rec)) return false;
  const bool haveIdx = MsgIdxFile.Read(ibuf, sizeof ibuf);
  DecodeMsgDB(rec, &r);
  if (haveIdx)
    DecodeMsgDBidx(ibuf, &idx);
  else
    EqualIndices(r, &idx);
  return true;
}

void TOrnDbase::DBdefaults(UserDB* r, long id) const {
  *r = UserDB{};
  r->Id = static_cast<int32_t>(id);
  CopyField(r->Call, "XX1Q");
  CopyField(r->Name, "Noname");
  CopyField(r->Type, "U");
  CopyField(r->ZipCode, "?????");
  CopyField(r->HomeBbs, "?????");
  CopyField(r->HierAddress, "?????");
  CopyField(r->Language, "ENGLISH");
  CopyField(r->isFwdStation, "N");
  CopyField(r->Country, "??????");
  CopyField(r->OkWithBids, "N");
  CopyField(r->LLoginD, "00/00/00");
  CopyField(r->LLoginT, "00:00");
  // No routing rules and no connect entry: a sample would become live the
  // moment the sysop makes the user a forwarding partner. The editor shows
  // examples where these are empty.
  r->FwdKind = 'D';
}

void TOrnDbase::DBdefaults(MsgDB* r, long number) const {
  *r = MsgDB{};
  r->MsgNo = static_cast<int32_t>(number);
  CopyField(r->Type, " ");
  CopyField(r->Status, "N");
  r->Size = 1;
  CopyField(r->ToStation, "SYSOP");
  const std::string own = site_.ownCall + "." + site_.ownHier;
  CopyField(r->FromStation, own);
  CopyField(r->AtBbs, own);
  CopyField(r->MsgDate, "0000/000000");
  const std::string digits = std::to_string(number);
  CopyField(r->Bid, site_.ownCall + (digits.size() < 6 ? "_" : "") + digits);
}

long TOrnDbase::UserCount() const { return static_cast<long>(UserFile.Size() / kUserDBSize); }
long TOrnDbase::MsgCount() const { return static_cast<long>(MsgFile.Size() / kMsgDBSize); }

long TOrnDbase::FindUser(const std::string& call) {
  long found = 0;
  ScanUserIdx([&](long position, const UserDBidx& idx) {
    if (call != idx.Call) return true;
    found = position;
    return false;
  });
  if (found == 0 || !ReadFromFile(found, userdb, useridx)) return 0;
  return found;
}

long TOrnDbase::AppendUser(const std::string& call) {
  const long position = UserCount() + 1;
  UserDB r;
  DBdefaults(&r, position);
  CopyField(r.Call, call);
  if (!WriteToFile(position, r)) return 0;
  userdb = r;
  EqualIndices(r, &useridx);
  return position;
}

long TOrnDbase::AppendMsg(const MsgDB& r) {
  const long position = MsgCount() + 1;
  return WriteToFile(position, r) ? position : 0;
}

long TOrnDbase::SearchBinary(long number) {
  const long N = static_cast<long>(MsgIdxFile.Size() / kMsgDBidxSize);
  long L = 0, U = N, P = 0;
  std::vector<long> probed;
  for (;;) {
    long M = (L + U) / 2;
    if (M == P) M = N;  // the midpoint alone never reaches the last record
    P = M;
    if (!ReadFromFile(M, msgdb, msgidx)) return 1;
    if (msgdb.MsgNo == number || U == L) return M;
    const long oldL = L, oldU = U;
    if (number > msgdb.MsgNo)
      L = M;
    else
      U = M;
    // A number missing between two neighbours sends the probes back and
    // forth between them with the bounds standing still: that ends it. The
    // bound on the probe count only guards against a damaged, unsorted file.
    const bool repeated = std::find(probed.begin(), probed.end(), M) != probed.end();
    if ((L == oldL && U == oldU && repeated) || probed.size() > 128) return M;
    probed.push_back(M);
  }
}

void TOrnDbase::FormatMsgHeader(std::string* out, const MsgDB& r, short /*option*/) const {
  *out = orn::FormatMsgHeader(r);
}

void TOrnDbase::ScanUserIdx(const UserIdxVisitor& visit) const {
  ScanFile<UserDBidx>(UserIdxFile, kUserDBidxSize, DecodeUserDBidx, visit);
}

void TOrnDbase::ScanMsgIdx(const MsgIdxVisitor& visit) const {
  ScanFile<MsgDBidx>(MsgIdxFile, kMsgDBidxSize, DecodeMsgDBidx, visit);
}

void TOrnDbase::ScanMsgs(const MsgVisitor& visit) const {
  ScanFile<MsgDB>(MsgFile, kMsgDBSize, DecodeMsgDB, visit);
}

}  // namespace orn
