// The station at a glance: the status cards, the monitor and a pane for every
// channel with its text as it happens, a chat in an answered channel, and the
// banners of stations paging the sysop.
import { $, el, failed } from "./dom.js";
import { api } from "./api.js";
import { forwarding, repair } from "./forwarding.js";

const KEEP_LINES = 600;
export const station = {
  status: null,
  panes: new Map(),   // "1-1" -> {root, pre, head, ...}; "monitor" too
  talking: new Map(),  // channel -> when the chat began
  pending: new Map(),  // text for panes not made yet: name -> [lines]
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
    pages.title();
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
      const over = ch.state === "idle" || (ch.state !== "terminal" && Date.now() - this.talking.get(name) > 3000);
      if (this.talking.has(name) && over) this.talking.delete(name);
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
    for (const line of this.pending.get(name) || []) this.append(name, line);
    this.pending.delete(name);
    return p;
  },

  // The stream's first event: each window's last text, in place of what the
  // panes showed (after a reconnect they would show it twice).
  backlog(all) {
    this.pending = new Map();
    for (const [name, lines] of Object.entries(all)) {
      const p = this.panes.get(name);
      if (!p) { this.pending.set(name, lines); continue; }
      p.pre.textContent = "";
      for (const line of lines) this.append(name, line);
    }
  },

  append(name, line, cls) {
    const p = this.panes.get(name);
    if (!p) {
      // Until the status has made the pane.
      if (!cls) {
        const lines = this.pending.get(name) || [];
        lines.push(line);
        this.pending.set(name, lines.slice(-KEEP_LINES));
      }
      return false;
    }
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
      await this.refresh();
      const p = this.panes.get(channel);
      if (p) { p.root.scrollIntoView({ block: "nearest" }); p.pre.scrollTop = p.pre.scrollHeight; p.input.focus(); }
    } catch (err) { failed(err); }
  },

  // The chats this console holds, as the BBS has them: a page loaded again
  // in the middle of one shows its controls again.
  async loadTalks() {
    try {
      for (const t of await api.get("talk")) if (t.console === "web" && !this.talking.has(t.channel)) this.talking.set(t.channel, Date.now());
      if (this.status) this.ensurePanes(this.status.channels);
    } catch { /* the repair holds every request but status for a while */ }
  },

  async endTalk(channel) {
    try { await api.post("talk/end", { channel }); } catch (err) { failed(err); }
    this.talking.delete(channel);
    this.append(channel, "*** chat ended, the station is back in the BBS", "sys");
    this.refresh();
  },
};

export const pages = {
  open: new Map(), // channel -> {call, text, node}

  show(p) {
    if (this.open.has(p.channel) || station.talking.has(p.channel)) return;
    // Told through a live region that is always there (a region shown only
    // now would be missed), never by taking the focus: the sysop may be typing
    // in another chat, whose next Enter must stay there.
    const news = `${p.call} pages you on channel ${p.channel}`;
    const node = el("div", { class: "page-banner", "data-channel": p.channel },
      // (The BBS's notice text says no more than call, port and channel.)
      el("span", { text: news }),
      el("span", { class: "grow" }),
      el("button", { type: "button", class: "primary", text: "Answer", onclick: () => station.answer(p.channel) }),
      el("button", { type: "button", text: "Decline", onclick: () => this.decline(p.channel) }));
    this.open.set(p.channel, { ...p, node });
    this.title();
    $("#pages").append(node);
    $("#page-news").textContent = news;
  },

  drop(channel) {
    const p = this.open.get(channel);
    if (p) { p.node.remove(); this.open.delete(channel); }
    this.title();
  },

  // A page shows in the tab's title too, for a console left in a background tab.
  title() {
    const base = document.title.replace(/^\(\d+ pag\w+\) /, "");
    const n = this.open.size;
    document.title = n ? `(${n} page${n > 1 ? "s" : ""}) ${base}` : base;
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
