// A forwarding partner that sends anything at all: its SID, then proposal
// blocks, compressed packets or plain garbage, in whatever pieces, with the
// service timer ticking and the coder threads running in between. Nothing
// may crash, hang, overrun a buffer or store a message that did not arrive
// whole.
//
// Input: byte 0 chooses the opening (bit 0: the partner's SID and a valid
// block whose proposal is accepted, so the rest lands in the compressed
// receive; otherwise the rest follows the SID as text); byte 1 sets the piece
// size; the rest is the partner's bytes.
#include "fuzz_support.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "channel/channel.h"
#include "fwd/proposal.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/orn_dbase.h"

using namespace orn;
using namespace orn::fuzz;

namespace {

FuzzBbs* bbs_;
long runs_ = 0;

const char* const kPartner = "XX2BBB";

TChannel* Channel() {
  MDIClient& client = bbs_->bbs->client();
  const int i = client.FindChannel(0, kPartner);
  return i ? client.channel(i) : nullptr;
}

// A tick; while a coder runs, the ticks wait for it (a little).
void Tick() {
  for (int i = 0; i < 2000; ++i) {
    bbs_->Tick();
    TChannel* ch = Channel();
    if (!ch || (ch->whattodo != ']' && ch->whattodo != '\\')) return;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  std::abort();  // a coder that never ends
}

void AddPartner() {
  for (const char* f : {"USERS.ADB", "USERS.IDX", "MSG.ADB", "MSG.IDX"}) CreateFileIfDontExist(f);
  TOrnDbase db(StoreSite{CurrentDirectory(), "MAIL", "XX9ORN", ""});
  if (!db.OpenUserFile()) std::abort();
  const long pos = db.AppendUser(kPartner);
  CopyField(db.userdb.Type, "B");
  CopyField(db.userdb.isFwdStation, "Y");
  CopyField(db.userdb.OkWithBids, "Y");
  if (!pos || !db.WriteToFile(pos, db.userdb)) std::abort();
  db.CloseAll();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  bbs_ = new FuzzBbs("ornfwdfuzz",
                     "[PERSONAL]\nMYCALL=XX9ORN-1\n[RADIO]\nPORTS=1\n"
                     "[PORT0]\nCHANNELS=2\nBBSONLY=0\nLIMITED=0\nTIMEOUT=0\n",
                     AddPartner);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  bbs_->Connected(kPartner);
  // B1 too: partial messages, resumes and the CRC.
  std::string opening = data[0] & 2 ? "[FBB-7.0.11-AB1FHMR$]\r" : "[FBB-7.00-ABFHMR$]\r";
  if (data[0] & 1) {
    // A BID of its own for every run, so the proposal is always accepted;
    // with bit 2 one of a few, so that what a cut run left is taken up.
    const std::string bid = data[0] & 4 ? std::to_string(data[0] >> 3) : std::to_string(++runs_);
    const std::string line = "FB P XX1AAA XX9ORN XX3CCC " + bid + "_XX1AAA 100\r";
    opening += line + "F> " + ProposalChecksum(line) + "\r";
  }
  bbs_->Push('D', kPartner, opening);
  const size_t chunk = 1 + data[1] % 200;
  for (size_t at = 2; at < size; at += chunk) {
    bbs_->Push('D', kPartner, std::string(reinterpret_cast<const char*>(data) + at, std::min(chunk, size - at)));
    Tick();
  }
  for (int i = 0; i < 5; ++i) Tick();
  bbs_->Disconnected(kPartner);
  return 0;
}
