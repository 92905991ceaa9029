// Forwarding queues with "Forward now", and the database repair with its progress.
import { $, $$, el, confirmAction, failed, shown, toast } from "./dom.js";
import { api } from "./api.js";
import { station } from "./station.js";
import { editor } from "./users.js";

export const forwarding = {
  async load() {
    try {
      const list = await api.get("fwd/queue");
      const body = $("#fwd-table tbody");
      body.replaceChildren();
      if (!list.length) body.append(el("tr", {}, el("td", { colspan: 5, class: "empty", text: "No forwarding partners yet: make a user of type B a partner in Users." })));
      for (const p of list) {
        const numbers = p.FwdMsgNo.map((m) => `${m.FwdMsgNumbers} ${m.Type}${m.Status}`).join(", ");
        const now = el("button", { text: "Forward now", onclick: () => this.now(p.Call) });
        const tr = el("tr", { "data-call": p.Call },
          el("td", { class: "mono" }, el("a", { href: "#users", text: p.Call, onclick: (e) => { e.preventDefault(); editor.open(p.Call); } })),
          el("td", { class: "num", text: p.FwdQueue }), el("td", { class: "num", text: p.FwdMsgNo.length }),
          el("td", { class: "wrap mono", text: numbers || "–" }), el("td", {}, now));
        body.append(tr);
      }
    } catch (err) { failed(err); }
    if (station.status) this.status(station.status);
  },
  soon() { clearTimeout(this.t); this.t = setTimeout(() => this.load(), 500); },
  status(s) {
    const f = s.fwd;
    $("#fwd-state").textContent = f.running ? "A forwarding cycle is running." : !f.FwdOk ? "Forwarding is off (FWDOK=0 in ORN.INI)." : `Next cycle ${f.next || "–"}.`;
    for (const b of $$("#view-forwarding button")) b.disabled = !!f.running || !f.FwdOk || !s.running;
  },
  async now(call) {
    try {
      await api.post("fwd/now", call ? { args: [call] } : {});
      toast(call ? `Forwarding to ${call} started` : "Forwarding cycle started");
      station.refresh();
    } catch (err) { failed(err); }
  },
};
$("#fwd-now").addEventListener("click", () => forwarding.now());

const STAGES = { waiting: [5, "Waiting for the stations to go"], messages: [35, "Rewriting the messages"], users: [75, "Rewriting the users"], done: [100, "Done"] };
export const repair = {
  timer: 0,
  show() { station.refresh(); this.progress(); },
  status(s) {
    const r = s.repair;
    $("#repair-state").textContent = r.running ? "Running…" : r.next ? `Next scheduled repair ${r.next}` : "No repair scheduled";
    $("#repair-start").disabled = !!r.running || !s.running;
    if (shown("repair")) this.progress();
  },
  // While a repair runs and this view is open, its stage is asked for each second; nothing ticks otherwise.
  async progress() {
    clearTimeout(this.timer);
    let p;
    try { p = await api.get("optimize/progress"); } catch { return; }
    const bar = $("#repair-progress");
    bar.hidden = !p.running;
    const stage = STAGES[p.stage] || [0, p.stage || ""];
    bar.value = stage[0];
    let text = p.running ? stage[1] + "…" : "";
    const l = p.last;
    if (!p.running && l) {
      text = l.ok ? `Last repair: ${l.messagesKept} messages kept, ${l.messagesDropped} dropped (${l.messagesAged} made old); ${l.usersKept} users kept, ${l.usersDropped} dropped.`
        : `The last repair failed: ${l.error}`;
    }
    $("#repair-text").textContent = text;
    if (p.running) {
      $("#repair-state").textContent = "Running…";
      if (shown("repair")) this.timer = setTimeout(() => this.progress(), 1000);
    } else if ($("#repair-state").textContent === "Running…") {
      station.refresh();
    }
  },
};
$("#repair-start").addEventListener("click", async () => {
  if (!confirmAction("Start the database repair now?")) return;
  try { await api.post("optimize/now"); toast("Repair started"); repair.progress(); } catch (err) { failed(err); }
});
