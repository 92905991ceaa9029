// The sysop's console in the browser. Plain JS, no build step: every view
// asks the BBS through /api/ (ornctl's requests) and follows it through the
// live stream. The CSRF token lives in this page's memory only; the password
// is never kept.
"use strict";

const $ = (sel, root = document) => root.querySelector(sel);
const $$ = (sel, root = document) => Array.from(root.querySelectorAll(sel));

// Builds an element; text goes in as text, never as markup.
function el(tag, attrs = {}, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (v === undefined || v === null || v === false) continue;
    if (k === "class") e.className = v;
    else if (k === "text") e.textContent = v;
    else if (k.startsWith("on")) e.addEventListener(k.slice(2), v);
    else if (k in e && typeof v !== "string") e[k] = v;
    else e.setAttribute(k, v === true ? "" : v);
  }
  for (const c of children.flat()) if (c !== null && c !== undefined) e.append(c instanceof Node ? c : String(c));
  return e;
}

// ---------------------------------------------------------------- the API

class ApiError extends Error {
  constructor(status, message) { super(message); this.status = status; }
}

const api = {
  csrf: null,

  async request(method, path, { params, body, raw } = {}) {
    const qs = params ? new URLSearchParams(Object.entries(params).filter(([, v]) => v !== undefined && v !== null && v !== "")) : null;
    const url = "/api/" + path + (qs && String(qs) ? "?" + qs : "");
    const headers = {};
    if (method !== "GET") {
      headers["Content-Type"] = "application/json";
      if (this.csrf) headers["X-CSRF-Token"] = this.csrf;
    }
    const res = await fetch(url, {
      method, headers, credentials: "same-origin", cache: "no-store",
      body: method === "GET" ? undefined : JSON.stringify(body || {}),
    });
    if (res.status === 401 && path !== "login" && path !== "session") {
      showLogin("ended");
      throw new ApiError(401, "not logged in");
    }
    if (raw && res.ok) return res;
    const text = await res.text();
    let data = null;
    try { data = text ? JSON.parse(text) : null; } catch { data = null; }
    if (!res.ok) throw new ApiError(res.status, (data && data.error) || text || res.statusText);
    return data;
  },
  get(path, params) { return this.request("GET", path, { params }); },
  post(path, body) { return this.request("POST", path, { body }); },
};

// ---------------------------------------------------------------- feedback

let toastTimer = 0;
function toast(text, bad = false) {
  const t = $("#toast");
  t.textContent = text;
  t.classList.toggle("bad", bad);
  t.classList.add("show");
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => t.classList.remove("show"), bad ? 6000 : 3000);
}
function failed(err) {
  if (err instanceof ApiError && err.status === 401) return;
  toast(err.message || String(err), true);
}

// A small question in a dialog of our own (no window.prompt: it looks foreign and blocks tests).
function ask(label, value = "") {
  const dlg = $("#dlg-ask");
  $("#ask-label").textContent = label;
  $("#ask-input").value = value;
  dlg.returnValue = "";
  dlg.showModal();
  $("#ask-input").focus();
  return new Promise((resolve) => {
    dlg.addEventListener("close", () => resolve(dlg.returnValue === "ok" ? $("#ask-input").value.trim() : null), { once: true });
  });
}
function confirmAction(text) { return window.confirm(text); }

// ---------------------------------------------------------------- login

// The login is a page of its own (the server shows it to whoever has no session).
// `why` is one of the login page's own notes (ended, out, error), never free text.
function showLogin(why) {
  live.stop();
  api.csrf = null;
  location.replace("/login.html" + (why ? "?why=" + why : ""));
}

$("#logout").addEventListener("click", async () => {
  try { await api.post("logout"); } catch { /* the session is gone either way */ }
  showLogin("out");
});

// ---------------------------------------------------------------- views

const views = ["station", "messages", "users", "forwarding", "repair"];
let current = "";

function showView(name) {
  if (!views.includes(name)) name = "station";
  current = name;
  for (const v of views) $("#view-" + v).hidden = v !== name;
  for (const a of $$("#nav a")) {
    a.classList.toggle("active", a.dataset.view === name);
    if (a.dataset.view === name) a.setAttribute("aria-current", "page"); else a.removeAttribute("aria-current");
  }
  if (name === "messages") { messages.loadChoices(); messages.load(); }
  if (name === "users") users.load();
  if (name === "forwarding") forwarding.load();
  if (name === "repair") repair.show();
}
window.addEventListener("hashchange", () => { if (!$("#app").hidden) showView(location.hash.slice(1)); });

// ---------------------------------------------------------------- status and the channels

const KEEP_LINES = 600;
const station = {
  status: null,
  panes: new Map(),   // "1-1" -> {root, pre, head, ...}; "monitor" too
  talking: new Map(),  // channel -> when the chat began
  refreshing: null,
  again: false,

  async refresh() {
    // One request at a time; a wish for another while one runs is kept.
    if (this.refreshing) { this.again = true; return this.refreshing; }
    this.refreshing = (async () => {
      try {
        const s = await api.get("status");
        this.status = s;
        this.render(s);
        if (pages.open.size) pages.load();
        repair.status(s);
        forwarding.status(s);
      } catch (err) { failed(err); }
    })();
    await this.refreshing;
    this.refreshing = null;
    if (this.again) { this.again = false; this.refresh(); }
  },

  soon() {
    clearTimeout(this.soonTimer);
    this.soonTimer = setTimeout(() => this.refresh(), 700);
  },

  render(s) {
    $("#top-call").textContent = s.call;
    document.title = s.call + " · ornbbs console";
    const state = $("#top-state");
    state.textContent = s.running ? (s.engine.connected ? "on the air" : "no engine") : "stopped";
    state.className = "pill " + (s.running && s.engine.connected ? "ok" : "bad");

    const eng = $("#st-engine");
    eng.textContent = s.engine.connected ? "Connected" : "Not connected";
    eng.className = "big " + (s.engine.connected ? "ok" : "bad");
    $("#st-engine-at").textContent = s.engine.host + ":" + s.engine.port + (s.status ? " · " + s.status : "");
    const c = s.counters;
    $("#st-msgs").textContent = c.activemsg.toLocaleString() + " active";
    $("#st-msgs-sub").textContent = `last #${c.lastmsg} · total ${c.totalmsg.toLocaleString()} · held ${c.heldmsg}`;
    const f = s.fwd;
    $("#st-fwd").textContent = f.running ? "Cycle running" : !f.FwdOk ? "Off" : "Next " + (f.next || "–").slice(11);
    $("#st-fwd").className = "big " + (f.running ? "ok" : "");
    $("#st-fwd-sub").textContent = !f.FwdOk ? "FWDOK=0 in ORN.INI" : f.next ? "next cycle " + f.next : "";
    $("#st-mail").textContent = s.mailbeacon.length ? s.mailbeacon.join(" ") : "nobody";
    $("#st-ports").textContent = s.ports.map((p) => `port ${p.port}: ${p.enabled ? p.maxchannels + " ch" + (p.conok ? "" : ", no connects") : "off"}`).join(" · ");

    this.ensurePanes(s.channels);
  },

  ensurePanes(channels) {
    const box = $("#panes");
    if (!this.panes.has("monitor")) {
      const grid = el("div", { class: "chan-grid", id: "chan-grid" });
      box.append(this.makePane("monitor", "Monitor").root, grid);
    }
    const grid = $("#chan-grid");
    const names = channels.map((ch) => ch.port + "-" + ch.channel);
    for (const [name, p] of this.panes) if (name !== "monitor" && !names.includes(name)) { p.root.remove(); this.panes.delete(name); }
    channels.forEach((ch, i) => {
      const name = names[i];
      let p = this.panes.get(name);
      if (!p) { p = this.makePane(name, "Channel " + name); grid.append(p.root); }
      p.who.textContent = ch.call || "";
      // A chat ends with the station gone or given back, wherever that was done.
      // (A status asked for before the answer may still show the station's session.)
      if (this.talking.has(name) && ch.state !== "terminal" && Date.now() - this.talking.get(name) > 3000) this.talking.delete(name);
      const talking = this.talking.has(name);
      p.state.textContent = talking ? "chat" : ch.state;
      p.state.className = "pill state " + (ch.state === "idle" ? "" : "ok");
      p.root.classList.toggle("busy", ch.state !== "idle");
      p.root.classList.toggle("talking", talking);
      p.talk.hidden = !talking;
      p.call = ch.call;
    });
  },

  makePane(name, title) {
    const pre = el("pre", { tabindex: "0", "aria-label": title + " text", "aria-live": name === "monitor" ? "off" : "polite" });
    const who = el("span", { class: "who" });
    const state = el("span", { class: "pill state" });
    const input = el("input", { placeholder: "Type to the station; Enter sends", "aria-label": "Line to the station on " + name, autocomplete: "off" });
    const endBtn = el("button", { type: "button", text: "End chat", class: "danger" });
    const talk = el("form", { class: "talk", hidden: true }, input, el("button", { type: "submit", text: "Send" }), endBtn);
    const root = el("section", { class: "pane" + (name === "monitor" ? " monitor" : ""), "data-channel": name },
      el("div", { class: "pane-head" }, el("span", { class: "name", text: title }), who, state), pre, talk);
    talk.addEventListener("submit", (ev) => {
      ev.preventDefault();
      const line = input.value;
      input.value = "";
      this.append(name, line, "me");
      api.post("talk/line", { channel: name, line }).catch(failed);
    });
    endBtn.addEventListener("click", () => this.endTalk(name));
    const p = { root, pre, who, state, talk, input, name };
    this.panes.set(name, p);
    return p;
  },

  append(name, line, cls) {
    const p = this.panes.get(name);
    if (!p) return false;
    const pre = p.pre;
    const follow = pre.scrollTop + pre.clientHeight >= pre.scrollHeight - 8;
    const node = cls ? el("span", { class: cls, text: line + "\n" }) : document.createTextNode(line + "\n");
    pre.append(node);
    while (pre.childNodes.length > KEEP_LINES) pre.firstChild.remove();
    if (follow) pre.scrollTop = pre.scrollHeight;
    return true;
  },

  async answer(channel) {
    try {
      await api.post("talk/start", { channel });
      this.talking.set(channel, Date.now());
      pages.drop(channel);
      location.hash = "#station";
      showView("station");
      await this.refresh();
      const p = this.panes.get(channel);
      if (p) { p.root.scrollIntoView({ block: "nearest" }); p.pre.scrollTop = p.pre.scrollHeight; p.input.focus(); }
    } catch (err) { failed(err); }
  },

  async endTalk(channel) {
    try { await api.post("talk/end", { channel }); } catch (err) { failed(err); }
    this.talking.delete(channel);
    this.append(channel, "*** chat ended, the station is back in the BBS", "sys");
    this.refresh();
  },
};

// ---------------------------------------------------------------- pages

const pages = {
  open: new Map(), // channel -> {call, text, node}

  show(p) {
    if (this.open.has(p.channel) || station.talking.has(p.channel)) return;
    const answerBtn = el("button", { class: "primary", text: "Answer", onclick: () => station.answer(p.channel) });
    const node = el("div", { class: "page-banner", role: "alert", "data-channel": p.channel },
      // (The BBS's notice text says no more than call, port and channel.)
      el("span", { text: `${p.call} pages you on channel ${p.channel}` }),
      el("span", { class: "grow" }),
      answerBtn,
      el("button", { text: "Decline", onclick: () => this.decline(p.channel) }));
    this.open.set(p.channel, { ...p, node });
    $("#pages").append(node);
    answerBtn.focus({ preventScroll: true });
  },

  drop(channel) {
    const p = this.open.get(channel);
    if (p) { p.node.remove(); this.open.delete(channel); }
  },

  async decline(channel) {
    try { await api.post("page/decline", { args: [channel] }); } catch (err) { failed(err); }
    this.drop(channel);
  },

  // The pages waiting when the console opens; the live stream brings the rest.
  async load() {
    try {
      const list = await api.get("page");
      const waiting = new Set(list.map((p) => p.channel));
      for (const ch of [...this.open.keys()]) if (!waiting.has(ch)) this.drop(ch);
      for (const p of list) this.show(p);
    } catch { /* the repair holds every request but status for a while; the next change brings the pages */ }
  },
};

// ---------------------------------------------------------------- the live stream

const live = {
  source: null,
  start() {
    this.stop();
    const src = new EventSource("/api/live");
    this.source = src;
    src.addEventListener("monitor", (e) => { const d = JSON.parse(e.data); station.append("monitor", d.line); });
    src.addEventListener("channel", (e) => {
      const d = JSON.parse(e.data);
      if (!station.append(d.channel, d.line)) station.soon();
      // A line on a channel the status shows idle (a connect) or the end of a session.
      const ch = station.status && station.status.channels.find((c) => c.port + "-" + c.channel === d.channel);
      if (!ch || ch.state === "idle" || /disconnect|\*\*\*/i.test(d.line)) station.soon();
    });
    src.addEventListener("page", (e) => { pages.show(JSON.parse(e.data)); });
    src.addEventListener("changed", (e) => {
      const d = JSON.parse(e.data);
      if (d.what === "status") { station.soon(); pages.load(); }
      if (d.what === "msgs" && current === "messages") messages.soon();
      if (d.what === "users" && current === "users") users.soon();
      if (d.what === "msgs" || d.what === "users") station.soon();
      if (current === "forwarding") forwarding.soon();
    });
    src.addEventListener("open", () => { $("#top-state").title = "live"; });
    src.addEventListener("error", async () => {
      // The browser retries by itself; a lost session stops it here.
      try { await api.get("session"); } catch (err) { if (err.status === 401) showLogin("ended"); }
    });
  },
  stop() { if (this.source) { this.source.close(); this.source = null; } },
};

// ---------------------------------------------------------------- sysop present

$("#sysop-present").addEventListener("change", async (ev) => {
  const on = ev.target.checked;
  try {
    await api.post("sysop/" + (on ? "on" : "off"));
    toast(on ? "Sysop present: T pages you" : "Sysop away: T tells the station so");
  } catch (err) { ev.target.checked = !on; failed(err); }
});
async function loadSysop() {
  try { $("#sysop-present").checked = !!(await api.get("sysop")).sysop; } catch (err) { failed(err); }
}

// ---------------------------------------------------------------- messages

const PAGE = 100;
function msgDate(d) {
  // "HHMM/YYMMDD" as the records keep it; anything else as it is.
  const m = /^(\d\d)(\d\d)\/(\d\d)(\d\d)(\d\d)$/.exec(d || "");
  return m ? `20${m[3]}-${m[4]}-${m[5]} ${m[1]}:${m[2]}` : d || "";
}

const messages = {
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
      // The API takes "number" as the message a command works on: a search by number is that message's read.
      if (this.field === "number" && this.text) return this.showOne(this.text);
      const ans = await api.get("msg/list", this.query());
      const rows = Array.isArray(ans) ? ans : ans.messages || ans.rows || [];
      this.total = Array.isArray(ans) ? rows.length : ans.total ?? rows.length;
      if (this.offset > 0 && this.offset >= this.total) { this.offset = Math.max(0, (Math.ceil(this.total / PAGE) - 1) * PAGE); return this.load(); }
      this.rows = rows;
      this.render();
    } catch (err) { failed(err); } finally { this.loading = false; }
  },
  soon() { clearTimeout(this.t); this.t = setTimeout(() => this.load(), 500); },

  async showOne(number) {
    let rows = [];
    if (/^\d{1,9}$/.test(number)) {
      try { rows = [await api.get("msg/read", { number })]; } catch (err) { if (err.status !== 409) throw err; }
    }
    this.offset = 0;
    this.total = rows.length;
    this.rows = rows;
    this.render();
  },

  render() {
    const body = $("#msg-table tbody");
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
  $("#msg-text").placeholder = { number: "message number" }[f] || "call or text";
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

const reader = {
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

const composer = {
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
    if (current === "messages") messages.load();
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
  if (file.size > 1024 * 1024) { toast("The file is larger than 1 MiB: import it with ornctl msg import on the BBS's machine.", true); return; }
  toast(`Importing ${file.name}…`);
  try {
    const text = await file.text();
    const r = await api.post("msg/import", { input: text });
    const stored = r && r.stored ? r.stored.length : 0;
    toast(`Imported ${stored}, already here ${r ? r.known : 0}, skipped ${r ? r.skipped : 0}`);
    messages.load();
  } catch (err) { failed(err); }
});

// ---------------------------------------------------------------- users

// The record's fields as the editor shows them, in the groups of the desktop's editor.
const USER_FIELDS = {
  user: [
    ["Name", "Name"],
    ["Type", "Type", { choices: [["U", "U – unregistered"], ["R", "R – regular"], ["S", "S – sysop"], ["B", "B – BBS"], ["X", "X – expert"], ["L", "L – local"], ["E", "E – excluded"], ["K", "K – killed"]] }],
    ["ZipCode", "Zip code"], ["HomeBbs", "Home BBS"], ["HierAddress", "Hierarchical address"], ["Language", "Language"],
    ["MaxStayMinutes", "Max stay (minutes)", { number: [0, 100000] }],
    ["MaxDownload", "Max download (1000 bytes)", { number: [0, 10000000] }],
    ["Password", "Password"],
    ["PasswordOk", "Ask for the password at login", { choices: [["0", "no"], ["1", "yes"]] }],
  ],
  fwd: [
    ["isFwdStation", "Forwarding partner", { choices: [["N", "no"], ["Y", "yes"]] }],
    ["FwdQueue", "Forwarding number (0 = not in the cycle)", { number: [0, 50] }],
    ["FwdKind", "Forwarding kind", { choices: [["D", "D – normal"], ["E", "E – reverse"], ["F", "F – receive only"], ["C", "C – per connect entry"]] }],
    ["OkWithBids", "Bulletins with a BID go into circulation at once", { choices: [["N", "no"], ["Y", "yes"]] }],
    ["Country", "Country"], ["HowtoConnect", "How to connect"], ["Favourites", "Favourites"],
    ["FwdDest", "Routing rules (one a line: @BBS, >CALL, <CALL)", { rules: true }],
  ],
};
const HCON_COLUMNS = [
  ["hours", "Hours"], ["mlength", "Size (kB)"], ["daysago", "Days"], ["port", "Port"], ["send", "Connect script", "wide"],
  ["rcv", "Answers", "wide"], ["fwdkind", "Kind", "", [["", ""], ["N", "N – normal"], ["F", "F – reverse"], ["R", "R – rev. only"], ["E", "E – export"]]],
  ["expfile", "Export file"], ["flag", "Flag", "", [["", ""], ["N", "N – none"], ["C", "C – continue"]]],
];

const users = {
  list: [],
  async load() {
    try {
      this.list = await api.get("user/list", $("#user-partners").checked ? { partners: "true" } : undefined);
      this.render();
    } catch (err) { failed(err); }
  },
  soon() { clearTimeout(this.t); this.t = setTimeout(() => this.load(), 500); },
  render() {
    const q = $("#user-filter").value.trim().toUpperCase();
    const body = $("#user-table tbody");
    body.replaceChildren();
    const rows = this.list.filter((u) => !q || u.Call.includes(q) || String(u.Name).toUpperCase().includes(q));
    if (!rows.length) body.append(el("tr", {}, el("td", { colspan: 6, class: "empty", text: "No users" })));
    for (const u of rows) {
      const tr = el("tr", { class: "link", tabindex: "0", "data-call": u.Call },
        el("td", { class: "num", text: u.position }), el("td", { class: "mono", text: u.Call }), el("td", { text: u.Name }),
        el("td", { text: u.Type }), el("td", { text: u.isFwdStation === "Y" ? "yes" : "" }), el("td", { class: "num", text: u.FwdQueue || "" }));
      tr.addEventListener("click", () => editor.open(u.Call));
      tr.addEventListener("keydown", (e) => { if (e.key === "Enter") editor.open(u.Call); });
      body.append(tr);
    }
  },
};
$("#user-filter").addEventListener("input", () => users.render());
$("#user-partners").addEventListener("change", () => users.load());
$("#user-new").addEventListener("click", async () => {
  const call = await ask("Call of the new user (or BBS)");
  if (!call) return;
  try {
    await api.post("user/add", { args: [call] });
    toast(`Added ${call.toUpperCase()}`);
    await users.load();
    editor.open(call.toUpperCase().split("-")[0]);
  } catch (err) { failed(err); }
});

const editor = {
  call: "", original: {}, inputs: new Map(),

  build() {
    if (this.inputs.size) return;
    const make = (group, box) => {
      for (const [name, label, opt = {}] of USER_FIELDS[group]) {
        const id = "uf-" + name;
        let input;
        if (opt.choices) input = el("select", { id }, opt.choices.map(([v, t]) => el("option", { value: v, text: t })));
        else if (opt.rules) input = el("textarea", { id, rows: 5, placeholder: "@WW\n@EU\n>XX1ABC\n<XX7ZZ" });
        else if (opt.number) input = el("input", { id, type: "number", min: opt.number[0], max: opt.number[1], inputmode: "numeric" });
        else input = el("input", { id, autocomplete: "off" });
        input.dataset.field = name;
        const lab = el("label", { for: id, text: label });
        if (opt.rules) box.append(el("label", { for: id, text: label, class: "full" }), input);
        else box.append(lab, input);
        this.inputs.set(name, input);
      }
    };
    make("user", $("#uf-user"));
    make("fwd", $("#uf-fwd"));
    const table = $("#hcon-table");
    table.tHead.replaceChildren(el("tr", {}, el("th", { class: "num", text: "#" }), HCON_COLUMNS.map(([, t]) => el("th", { text: t }))));
    for (let i = 0; i < 10; i++) {
      const tr = el("tr", {}, el("td", { class: "num", text: i }));
      for (const [part, title, cls, choices] of HCON_COLUMNS) {
        const name = `Hcon[${i}].${part}`;
        const input = choices
          ? el("select", { "aria-label": `${title} of entry ${i}` }, choices.map(([v, t]) => el("option", { value: v, text: t })))
          : el("input", { "aria-label": `${title} of entry ${i}`, autocomplete: "off" });
        input.dataset.field = name;
        tr.append(el("td", { class: cls || "" }, input));
        this.inputs.set(name, input);
      }
      table.tBodies[0].append(tr);
    }
  },

  fill(u) {
    this.original = {};
    const set = (name, v) => {
      const input = this.inputs.get(name);
      if (!input) return;
      let value = v === null || v === undefined ? "" : String(v);
      if (name === "FwdDest") value = value.replace(/\r\n/g, "\n").replace(/\n$/, "");
      if (input.tagName === "SELECT" && value && ![...input.options].some((o) => o.value === value)) input.append(el("option", { value, text: value }));
      input.value = value;
      this.original[name] = input.value;
    };
    for (const [name] of [...USER_FIELDS.user, ...USER_FIELDS.fwd]) set(name, u[name]);
    (u.Hcon || []).forEach((e, i) => { for (const [part] of HCON_COLUMNS) set(`Hcon[${i}].${part}`, e[part]); });
    $("#user-info").textContent = `Record ${u.position} · logins ${u.Count} · last ${u.LLoginD || "–"} ${u.LLoginT || ""} · last read #${u.LMsgRead} · ${u.queued} waiting to be forwarded`;
  },

  clearErrors() {
    for (const e of $$("#user-form .field-error")) e.remove();
    for (const i of $$("#user-form .invalid")) { i.classList.remove("invalid"); i.removeAttribute("aria-invalid"); }
    $("#user-error").textContent = "";
  },

  // The BBS names the field it refuses ("FwdQueue: ..." or "no such field: X"): shown by that field.
  showError(message) {
    const m = /^(?:no such field: )?([A-Za-z]+(?:\[\d\]\.[a-z]+)?)\b/.exec(message);
    const name = m && [...this.inputs.keys()].find((k) => k.toLowerCase() === m[1].toLowerCase());
    $("#user-error").textContent = message;
    if (!name) return;
    const input = this.inputs.get(name);
    input.classList.add("invalid");
    input.setAttribute("aria-invalid", "true");
    const note = el("div", { class: "field-error", text: message, role: "alert" });
    if (input.closest("td")) input.closest("td").append(note); else input.after(note);
    if (input.closest("fieldset") && input.closest("td")) note.style.whiteSpace = "normal";
    input.focus();
  },

  async open(call) {
    this.build();
    try {
      const u = await api.get("user/show", { call });
      this.call = u.Call;
      $("#user-title").textContent = `User ${u.Call}`;
      this.clearErrors();
      this.fill(u);
      const dlg = $("#dlg-user");
      if (!dlg.open) dlg.showModal();
      this.inputs.get("Name").focus();
    } catch (err) { failed(err); }
  },

  async save() {
    this.clearErrors();
    const changes = [];
    for (const [name, input] of this.inputs) {
      if (input.value === this.original[name]) continue;
      changes.push(`${name}=${name === "FwdDest" ? input.value.replace(/\r?\n/g, "\n") : input.value}`);
    }
    if (!changes.length) { $("#dlg-user").close(); return; }
    $("#user-save").disabled = true;
    try {
      await api.post("user/set", { args: [this.call, ...changes] });
      toast(`Saved ${this.call}`);
      $("#dlg-user").close();
      if (current === "users") users.load();
      if (current === "forwarding") forwarding.load();
    } catch (err) { this.showError(err.message); } finally { $("#user-save").disabled = false; }
  },
};
$("#user-form").addEventListener("submit", (ev) => { ev.preventDefault(); editor.save(); });
$("#user-password").addEventListener("click", async () => {
  if (!confirmAction(`Give ${editor.call} a new password (written to ${editor.call}.pas in the BBS directory)?`)) return;
  try {
    const r = await api.post("user/password", { args: [editor.call] });
    const input = editor.inputs.get("Password");
    input.value = editor.original.Password = r.Password;
    toast("New password made");
  } catch (err) { failed(err); }
});
$("#user-kill").addEventListener("click", async () => {
  if (!confirmAction(`Kill user ${editor.call}? The record goes at the next repair.`)) return;
  try {
    await api.post("user/kill", { args: [editor.call] });
    $("#dlg-user").close();
    toast(`Killed ${editor.call}`);
    users.load();
  } catch (err) { failed(err); }
});

// ---------------------------------------------------------------- forwarding

const forwarding = {
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

// ---------------------------------------------------------------- repair

const STAGES = { waiting: [5, "Waiting for the stations to go"], messages: [35, "Rewriting the messages"], users: [75, "Rewriting the users"], done: [100, "Done"] };
const repair = {
  timer: 0,
  show() { station.refresh(); this.progress(); },
  status(s) {
    const r = s.repair;
    $("#repair-state").textContent = r.running ? "Running…" : r.next ? `Next scheduled repair ${r.next}` : "No repair scheduled";
    $("#repair-start").disabled = !!r.running || !s.running;
    if (current === "repair") this.progress();
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
      if (current === "repair") this.timer = setTimeout(() => this.progress(), 1000);
    } else if ($("#repair-state").textContent === "Running…") {
      station.refresh();
    }
  },
};
$("#repair-start").addEventListener("click", async () => {
  if (!confirmAction("Start the database repair now?")) return;
  try { await api.post("optimize/now"); toast("Repair started"); repair.progress(); } catch (err) { failed(err); }
});

// ---------------------------------------------------------------- start

async function start() {
  const s = await api.get("session");
  api.csrf = s.csrf;
  $("#app").hidden = false;
  if (s.call) $("#top-call").textContent = s.call;
  live.start();
  showView(location.hash.slice(1) || "station");
  await Promise.all([station.refresh(), pages.load(), loadSysop()]);
}

start().catch((err) => showLogin(err.status === 401 ? "" : "error"));
