#include "store/store_generator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "platform/file_names.h"
#include "platform/text.h"
#include "store/date_time.h"
#include "store/mail_beacon_list.h"
#include "store/msg_text.h"

namespace orn {

std::string GeneratedCall(long i) {
  // Two letters, a digit, one to three letters: a valid callsign.
  std::string call;
  long n = i;
  call += static_cast<char>('A' + n % 26);
  n /= 26;
  call += static_cast<char>('A' + n % 26);
  n /= 26;
  call += static_cast<char>('0' + n % 10);
  n /= 10;
  do {
    call += static_cast<char>('A' + n % 26);
    n /= 26;
  } while (n > 0 && call.size() < 6);
  return call;
}

namespace {

bool CreateEmpty(const std::string& path) {
  const int fd = ::open(ResolveCase(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

const char* const kCategories[] = {"ALL", "SYSOP", "AMSAT", "DX", "KEPS", "WX"};

}  // namespace

bool GenerateStore(const StoreSite& site, const GenerateOptions& o, const Clock& clock, std::string* error) {
  ::mkdir(site.dir.c_str(), 0755);
  ::mkdir(site.mailDir.c_str(), 0755);
  for (const char* name : {kUsersFile, kUsersIdxFile, kMsgFile, kMsgIdxFile, kMailBeaconFile}) {
    if (!CreateEmpty(JoinPath(site.dir, name))) {
      *error = std::string("cannot create ") + JoinPath(site.dir, name);
      return false;
    }
  }
  TOrnDbase db(site);
  if (!db.OpenUserFile() || !db.OpenMsgFile()) {
    *error = "cannot open the record files in " + site.dir;
    return false;
  }
  std::mt19937 rng(o.seed);
  const std::string date = FormatMsgDateTime(clock);

  for (long i = 1; i <= o.users; ++i) {
    if (db.AppendUser(GeneratedCall(i)) != i) {
      *error = "cannot append user " + std::to_string(i);
      return false;
    }
  }

  MsgDB r;
  for (long k = 0; k < o.messages; ++k) {
    const long number = 1001 + k;
    db.DBdefaults(&r, number);
    const bool bulletin = rng() % 3 == 0 || o.users == 0;
    if (bulletin) {
      CopyField(r.Type, "B");
      CopyField(r.ToStation, kCategories[rng() % std::size(kCategories)]);
      CopyField(r.AtBbs, "WW");
    } else {
      CopyField(r.Type, "P");
      CopyField(r.ToStation, GeneratedCall(1 + static_cast<long>(rng() % static_cast<uint32_t>(o.users))));
      CopyField(r.Bid, "");
    }
    const long from = o.users ? 1 + static_cast<long>(rng() % static_cast<uint32_t>(o.users)) : 1;
    CopyField(r.FromStation, GeneratedCall(from) + "." + site.ownHier);
    if (o.killedEvery && number % o.killedEvery == 0)
      CopyField(r.Status, "K");
    else if (o.heldEvery && number % o.heldEvery == 0)
      CopyField(r.Status, "H");
    else
      CopyField(r.Status, rng() % 2 ? "Y" : "N");
    CopyField(r.MsgDate, date);
    CopyField(r.MsgSubject, "Generated message " + std::to_string(number));
    if (o.texts) {
      const std::string text = MsgTextHead("R:" + GetDate(clock, 0) + "/" + GetTime(clock, 0) + "z @:" + site.ownCall, r) +
                               "Text of message " + std::to_string(number) + ".\n";
      const long size = WriteMsgText(site.mailDir, number, text, false);
      if (size < 0) {
        *error = "cannot write the text of message " + std::to_string(number);
        return false;
      }
      r.Size = static_cast<int32_t>(size);
    } else {
      r.Size = 100 + static_cast<int32_t>(rng() % 4000);
    }
    if (db.AppendMsg(r) != k + 1) {
      *error = "cannot append message " + std::to_string(number);
      return false;
    }
  }
  db.CloseAll();
  return true;
}

}  // namespace orn
