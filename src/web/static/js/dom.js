// The page's small tools: finding and making elements, the notice at the
// bottom, a question of our own. Text always goes in as text, never as markup.
export const $ = (sel, root = document) => root.querySelector(sel);
export const $$ = (sel, root = document) => Array.from(root.querySelectorAll(sel));

// Builds an element; text goes in as text, never as markup.
export function el(tag, attrs = {}, ...children) {
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

let toastTimer = 0;
export function toast(text, bad = false) {
  const t = $("#toast");
  t.textContent = text;
  t.classList.toggle("bad", bad);
  t.classList.add("show");
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => t.classList.remove("show"), bad ? 6000 : 3000);
}
export function failed(err) {
  if (err && err.status === 401) return;  // the login page is on its way
  toast(err.message || String(err), true);
}

// A small question in a dialog of our own (no window.prompt: it looks foreign and blocks tests).
export function ask(label, value = "") {
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
export function confirmAction(text) { return window.confirm(text); }


// Whether a view is the one on screen.
export function shown(view) { return !document.getElementById("view-" + view).hidden; }
