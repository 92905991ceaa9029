// The sysop's console in the browser. Plain JS modules, no build step: every
// view asks the BBS through /api/ (ornctl's requests) and follows it through
// the live stream. The password is never kept; the CSRF token lives in memory.
import { $, $$ } from "./js/dom.js";
import { api } from "./js/api.js";
import { station, pages } from "./js/station.js";
import { live, loadSysop } from "./js/live.js";
import { messages } from "./js/messages.js";
import { users } from "./js/users.js";
import { forwarding, repair } from "./js/forwarding.js";

// The login is a page of its own (the server shows it to whoever has no session).
// `why` is one of the login page's own notes (ended, out, error), never free text.
function showLogin(why) {
  live.stop();
  api.csrf = null;
  location.replace("/login.html" + (why ? "?why=" + why : ""));
}
api.onLoggedOut = showLogin;

$("#logout").addEventListener("click", async () => {
  try { await api.post("logout"); } catch { /* the session is gone either way */ }
  showLogin("out");
});

const views = ["station", "messages", "users", "forwarding", "repair"];
function showView(name) {
  if (!views.includes(name)) name = "station";
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

async function start() {
  const s = await api.get("session");
  api.csrf = s.csrf;
  $("#app").hidden = false;
  if (s.call) $("#top-call").textContent = s.call;
  live.start();
  showView(location.hash.slice(1) || "station");
  await Promise.all([station.refresh(), station.loadTalks(), pages.load(), loadSysop()]);
}

start().catch((err) => showLogin(err.status === 401 ? "" : "error"));
