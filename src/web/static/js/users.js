// Users and forwarding partners: the list, and the editor with every field of
// the record (the BBS checks each value; a refusal shows by its field).
import { $, $$, el, ask, confirmAction, failed, shown, toast } from "./dom.js";
import { api } from "./api.js";
import { forwarding } from "./forwarding.js";

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

export const users = {
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
    const focused = document.activeElement && body.contains(document.activeElement) ? document.activeElement.dataset.call : null;
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
      if (focused === u.Call) tr.focus({ preventScroll: true });
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

export const editor = {
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
    $("#user-info").textContent = `Record ${u.position} · id ${u.Id} · logins ${u.Count} · last ${u.LLoginD || "–"} ${u.LLoginT || ""} · last read #${u.LMsgRead} · ${u.queued} waiting to be forwarded`;
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
      if (shown("users")) users.load();
      if (shown("forwarding")) forwarding.load();
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
