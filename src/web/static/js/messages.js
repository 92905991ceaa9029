// Messages: a table the BBS sorts and pages (the browser never holds the whole
// list), the database window's searches, the reader and its actions, a new
// message or a reply, and an exchange file uploaded for import.
import { $, $$, el, confirmAction, failed, shown, toast } from "./dom.js";
import { api } from "./api.js";
import { station } from "./station.js";

const PAGE = 100;
function msgDate(d) {
  // "HHMM/YYMMDD" as the records keep it; anything else as it is.
  const m = /^(\d\d)(\d\d)\/(\d\d)(\d\d)(\d\d)$/.exec(d || "");
  return m ? `20${m[3]}-${m[4]}-${m[5]} ${m[1]}:${m[2]}` : d || "";
}

export const messages = {
  offset: 0, total: 0, sort: "MsgNo", desc: true, field: "", text: "", loading: false, rows: [], choices: null,

  // The database window's searches as the BBS lists them; letters (type, status) become a list to pick from.
  async loadChoices() {
    if (this.choices) return;
    try { this.choices = await api.get("msg/choices"); } catch { return; }
    const select = $("#msg-field");
    select.replaceChildren(el("option", { value: "", text: "All messages" }),
      ...this.choices.searches.map((c) => el("option", { value: c.option, text: c.label })));
  },
  valuesOf(field) {
    const c = this.choices && this.choices.searches.find((x) => x.option === field);
    return c && c.values ? c.values.filter((v) => v.value) : null;
  },

  query() {
    // (offset 0 is the default: left out)
    const q = { offset: this.offset || undefined, limit: PAGE, sort: this.sort };
    if (this.desc) q.desc = "true";
    if (this.field === "mine") q.mine = "true";
    else if (this.field && this.text) q[this.field] = this.text;
    return q;
  },

  async load() {
    this.loading = true;
    try {
      const ans = await api.get("msg/list", this.query());
      const rows = Array.isArray(ans) ? ans : ans.messages || ans.rows || [];
      this.total = Array.isArray(ans) ? rows.length : ans.total ?? rows.length;
      if (this.offset > 0 && this.offset >= this.total) { this.offset = Math.max(0, (Math.ceil(this.total / PAGE) - 1) * PAGE); return this.load(); }
      this.rows = rows;
      this.render();
    } catch (err) { failed(err); } finally { this.loading = false; }
  },
  soon() { clearTimeout(this.t); this.t = setTimeout(() => this.load(), 500); },

  render() {
    const body = $("#msg-table tbody");
    // A refresh from the live stream keeps the keyboard on the row it was on.
    const focused = document.activeElement && body.contains(document.activeElement) ? document.activeElement.dataset.msg : null;
    body.replaceChildren();
    if (!this.rows.length) body.append(el("tr", {}, el("td", { colspan: 9, class: "empty", text: "No messages" })));
    for (const m of this.rows) {
      const tr = el("tr", { class: "link", tabindex: "0", "data-msg": m.MsgNo },
        el("td", { class: "num", text: m.MsgNo }), el("td", { text: m.Type }), el("td", { text: m.Status }),
        el("td", { class: "num hide-narrow", text: m.Size }), el("td", { class: "mono", text: m.ToStation }),
        el("td", { class: "mono", text: String(m.FromStation).split(".")[0] }), el("td", { class: "mono hide-narrow", text: m.AtBbs }),
        el("td", { class: "hide-narrow", text: msgDate(m.MsgDate) }), el("td", { class: "subject", text: m.MsgSubject }));
      tr.addEventListener("click", () => reader.open(m.MsgNo));
      tr.addEventListener("keydown", (e) => { if (e.key === "Enter") reader.open(m.MsgNo); });
      body.append(tr);
      if (focused && String(m.MsgNo) === focused) tr.focus({ preventScroll: true });
    }
    for (const th of $$("#msg-table th")) {
      th.classList.toggle("sorted", th.dataset.sort === this.sort);
      th.classList.toggle("desc", th.dataset.sort === this.sort && this.desc);
      if (["Size", "AtBbs", "MsgDate"].includes(th.dataset.sort)) th.classList.add("hide-narrow");
    }
    const last = Math.min(this.offset + this.rows.length, this.total);
    $("#pg-info").textContent = this.total ? `${(this.offset + 1).toLocaleString()}–${last.toLocaleString()} of ${this.total.toLocaleString()}` : "0 messages";
    $("#pg-first").disabled = $("#pg-prev").disabled = this.offset === 0;
    $("#pg-next").disabled = $("#pg-last").disabled = this.offset + PAGE >= this.total;
  },

  async go(offset) {
    this.offset = Math.max(0, offset);
    await this.load();
    // A new page starts at its top row.
    if ($("#msg-table").getBoundingClientRect().top < 0) window.scrollTo({ top: 0 });
  },
};

$("#msg-search").addEventListener("submit", (ev) => {
  ev.preventDefault();
  messages.field = $("#msg-field").value;
  messages.text = ($("#msg-value").hidden ? $("#msg-text").value : $("#msg-value").value).trim();
  messages.go(0);
});
$("#msg-field").addEventListener("change", () => {
  const f = $("#msg-field").value;
  const values = messages.valuesOf(f);
  $("#msg-text").hidden = !!values;
  $("#msg-value").hidden = !values;
  if (values) $("#msg-value").replaceChildren(...values.map((v) => el("option", { value: v.value, text: v.label })));
  $("#msg-text").disabled = f === "" || f === "mine";
  $("#msg-text").placeholder = { msgno: "message number" }[f] || "call or text";
});
for (const th of $$("#msg-table th[data-sort]")) {
  th.tabIndex = 0;
  const sortBy = () => {
    if (messages.sort === th.dataset.sort) messages.desc = !messages.desc;
    else { messages.sort = th.dataset.sort; messages.desc = th.dataset.sort === "MsgNo" || th.dataset.sort === "MsgDate"; }
    messages.go(0);
  };
  th.addEventListener("click", sortBy);
  th.addEventListener("keydown", (e) => { if (e.key === "Enter" || e.key === " ") { e.preventDefault(); sortBy(); } });
}
$("#pg-first").addEventListener("click", () => messages.go(0));
$("#pg-prev").addEventListener("click", () => messages.go(messages.offset - PAGE));
$("#pg-next").addEventListener("click", () => messages.go(messages.offset + PAGE));
$("#pg-last").addEventListener("click", () => messages.go(Math.floor((messages.total - 1) / PAGE) * PAGE));

export const reader = {
  msg: null,
  async open(number) {
    try {
      const m = await api.get("msg/read", { number });
      this.msg = m;
      $("#read-title").textContent = `Message ${m.MsgNo}`;
      const head = $("#read-head");
      head.replaceChildren();
      const rows = [["Type / Status", `${m.Type} / ${m.Status}`], ["To", m.ToStation + (m.AtBbs ? " @ " + m.AtBbs : "")],
        ["From", m.FromStation], ["Date", msgDate(m.MsgDate)], ["BID", m.Bid], ["Size", m.Size], ["Subject", m.MsgSubject]];
      for (const [k, v] of rows) head.append(el("dt", { text: k }), el("dd", { text: v }));
      $("#read-text").textContent = m.text === null || m.text === undefined ? "(no text file)" : m.text;
      $("#read-hold").disabled = m.Status === "H" || m.Status === "K";
      $("#read-release").disabled = m.Status !== "H";
      $("#read-kill").disabled = m.Status === "K";
      // As in the database window, only what was sent to this BBS is answered here.
      const own = String((station.status && station.status.call) || "").split("-")[0];
      $("#read-reply").disabled = !!own && m.ToStation !== own;
      $("#read-reply").title = $("#read-reply").disabled ? `Only messages to ${own} are answered here` : "";
      const dlg = $("#dlg-read");
      if (!dlg.open) dlg.showModal();
    } catch (err) { failed(err); }
  },
  async act(what) {
    const n = this.msg.MsgNo;
    if (what === "kill" && !confirmAction(`Kill message ${n}?`)) return;
    try {
      await api.post("msg/" + what, { args: [String(n)] });
      toast({ kill: "Killed", hold: "Held", release: "Released" }[what] + " " + n);
      if (what === "kill") $("#dlg-read").close(); else await this.open(n);
      messages.load();
    } catch (err) { failed(err); }
  },
  async exportIt() {
    const n = this.msg.MsgNo;
    try {
      const res = await api.request("GET", "msg/export", { params: { numbers: String(n) }, raw: true });
      const blob = await res.blob();
      const a = el("a", { href: URL.createObjectURL(blob), download: `msg-${n}.txt` });
      document.body.append(a);
      a.click();
      a.remove();
      setTimeout(() => URL.revokeObjectURL(a.href), 10000);
    } catch (err) { failed(err); }
  },
};
$("#read-hold").addEventListener("click", () => reader.act("hold"));
$("#read-release").addEventListener("click", () => reader.act("release"));
$("#read-kill").addEventListener("click", () => reader.act("kill"));
$("#read-export").addEventListener("click", () => reader.exportIt());
$("#read-reply").addEventListener("click", () => {
  const m = reader.msg;
  $("#dlg-read").close();
  const quoted = (m.text || "").split("\n").map((l) => (l ? "> " + l : ">")).join("\n");
  composer.open({
    title: `Reply to ${m.MsgNo}`, to: String(m.FromStation).split(".")[0], type: m.Type === "B" ? "B" : "P",
    subject: /^re:/i.test(m.MsgSubject) ? m.MsgSubject : "RE:" + m.MsgSubject,
    text: "\n\n" + quoted, reply: m.MsgNo,
  });
});

export const composer = {
  open({ title = "New message", to = "", type = "P", subject = "", text = "", reply = "" } = {}) {
    $("#send-title").textContent = title;
    $("#send-to").value = to;
    $("#send-type").value = type;
    $("#send-subject").value = subject;
    $("#send-bid").value = "";
    $("#send-text").value = text;
    $("#send-reply").value = reply;
    // A reply goes back the way the original came: the BBS fills in its addressee and type.
    $("#send-to").disabled = $("#send-type").disabled = !!reply;
    $("#send-error").textContent = "";
    for (const f of $$("#send-form .invalid")) f.classList.remove("invalid");
    $("#dlg-send").showModal();
    (to ? $("#send-text") : $("#send-to")).focus();
    if (to) $("#send-text").setSelectionRange(0, 0);
  },
};
$("#msg-new").addEventListener("click", () => composer.open());
$("#send-form").addEventListener("submit", async (ev) => {
  ev.preventDefault();
  const reply = $("#send-reply").value;
  const args = reply ? [reply, "--subject", $("#send-subject").value]
    : ["--to", $("#send-to").value.trim(), "--subject", $("#send-subject").value, "--type", $("#send-type").value];
  const bid = $("#send-bid").value.trim();
  if (bid) args.push("--bid", bid);
  $("#send-submit").disabled = true;
  try {
    const m = await api.post(reply ? "msg/reply" : "msg/send", { args, input: $("#send-text").value });
    $("#dlg-send").close();
    toast(`Stored as ${m.MsgNo}` + (m.Bid ? ` (BID ${m.Bid})` : ""));
    if (shown("messages")) messages.load();
  } catch (err) {
    $("#send-error").textContent = err.message;
    const opt = /^--(to|subject|bid)\b/.exec(err.message);
    if (opt) $("#send-" + opt[1]).classList.add("invalid");
  } finally { $("#send-submit").disabled = false; }
});

$("#msg-import-label").addEventListener("keydown", (e) => { if (e.key === "Enter" || e.key === " ") { e.preventDefault(); $("#msg-import-file").click(); } });
$("#msg-import-file").addEventListener("change", async (ev) => {
  const file = ev.target.files[0];
  ev.target.value = "";
  if (!file) return;
  const tooBig = () => toast("The file is larger than the console takes (1 MiB): import it with ornctl msg import on the BBS's machine.", true);
  if (file.size > 1024 * 1024) { tooBig(); return; }
  toast(`Importing ${file.name}…`);
  try {
    const text = await file.text();
    // The request as sent, with its JSON escapes, must stay within the BBS's bound.
    if (new Blob([JSON.stringify({ input: text })]).size > 1024 * 1024 - 64) { tooBig(); return; }
    const r = await api.post("msg/import", { input: text });
    const stored = r && r.stored ? r.stored.length : 0;
    toast(`Imported ${stored}, already here ${r ? r.known : 0}, skipped ${r ? r.skipped : 0}`);
    messages.load();
  } catch (err) { failed(err); }
});
