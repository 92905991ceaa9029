// The console's login: the password goes to the BBS once and is kept nowhere;
// the session cookie it answers with is the browser's to keep.
"use strict";

const form = document.getElementById("login-form");
const field = document.getElementById("login-password");
const button = document.getElementById("login-submit");
const error = document.getElementById("login-error");

// Only the console's own notes: a link cannot put words of its own on this page.
const NOTES = { ended: "Your session has ended: log in again.", out: "Logged out.", error: "The console could not start: log in again." };
const why = new URLSearchParams(location.search).get("why");
if (NOTES[why]) error.textContent = NOTES[why];

// Already logged in (a second tab, the back button): straight to the console.
fetch("/api/session", { credentials: "same-origin", cache: "no-store" })
  .then((res) => { if (res.ok) location.replace("/"); })
  .catch(() => {});

form.addEventListener("submit", async (ev) => {
  ev.preventDefault();
  button.disabled = true;
  error.textContent = "";
  try {
    const res = await fetch("/api/login", {
      method: "POST", credentials: "same-origin", cache: "no-store",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify({ password: field.value }),
    });
    field.value = "";
    if (res.ok) { location.replace("/"); return; }
    let message = res.statusText;
    try { message = (await res.json()).error || message; } catch { /* not JSON */ }
    error.textContent = message;
  } catch (err) {
    error.textContent = "The BBS does not answer: " + err.message;
  } finally {
    field.value = "";
    button.disabled = false;
    field.focus();
  }
});
