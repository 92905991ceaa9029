// The BBS's requests: ornctl's commands under /api/. The CSRF token lives in
// this object only (never in storage); a lost session sends the page to the login.
export class ApiError extends Error {
  constructor(status, message) { super(message); this.status = status; }
}

export const api = {
  // Called when the BBS says the session is gone.
  onLoggedOut: null,
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
      if (this.onLoggedOut) this.onLoggedOut("ended");
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
