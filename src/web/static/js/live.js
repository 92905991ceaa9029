// The live stream (server-sent events) and the sysop-present switch. Nothing
// here polls: the BBS says when something changed.
import { $, failed, shown, toast } from "./dom.js";
import { api } from "./api.js";
import { station, pages } from "./station.js";
import { messages } from "./messages.js";
import { users } from "./users.js";
import { forwarding } from "./forwarding.js";

export const live = {
  source: null,
  start() {
    this.stop();
    const src = new EventSource("/api/live");
    this.source = src;
    // First on every (re)opened stream: the last text of each window.
    src.addEventListener("backlog", (e) => { station.backlog(JSON.parse(e.data)); });
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
      if (d.what === "msgs" && shown("messages")) messages.soon();
      if (d.what === "users" && shown("users")) users.soon();
      if (d.what === "msgs" || d.what === "users") station.soon();
      if (shown("forwarding")) forwarding.soon();
    });
    src.addEventListener("open", () => { $("#top-state").title = "live"; });
    src.addEventListener("error", async () => {
      // The browser retries by itself; a lost session stops it here.
      try { await api.get("session"); } catch (err) { if (err.status === 401 && api.onLoggedOut) api.onLoggedOut("ended"); }
    });
  },
  stop() { if (this.source) { this.source.close(); this.source = null; } },
};

$("#sysop-present").addEventListener("change", async (ev) => {
  const on = ev.target.checked;
  try {
    await api.post("sysop/" + (on ? "on" : "off"));
    toast(on ? "Sysop present: T pages you" : "Sysop away: T tells the station so");
  } catch (err) { ev.target.checked = !on; failed(err); }
});
export async function loadSysop() {
  try { $("#sysop-present").checked = !!(await api.get("sysop")).sysop; } catch (err) { failed(err); }
}
