#!/usr/bin/env bash
# The web console against another site's page open in the sysop's browser
# (headless Chromium): the page floods the console with logins it may send
# without asking (no-cors, text/plain), and loads GET URLs that would change
# things if query values became command words. None of it is hashed, logged
# as a wrong password or done; the sysop, logged in in the same browser,
# goes on as before.
BUILD=${1:?build directory}
. "$(dirname "$0")/lib.bash"
HERE=$(cd "$(dirname "$0")" && pwd)
CTL="$BUILD/ornctl"

[ -x /usr/bin/chromedriver ] && command -v chromium >/dev/null || { echo "SKIP: chromium and chromium-driver are not installed"; exit 77; }
PY=
for p in python3 /usr/bin/python3; do
  if "$p" -c "import selenium" 2>/dev/null; then PY=$p; break; fi
done
[ -n "$PY" ] || { echo "SKIP: python3-selenium is not installed"; exit 77; }

make_workdir
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
      [ -n "${KEEP:-}" ] || rm -rf "$WORK" 2>/dev/null || { sleep 1; rm -rf "$WORK"; }' EXIT

start_ornpe
a="$WORK/a"; mkdir -p "$a"
web_port=$(free_port)
hostile_port=$(free_port)
write_ini "$a" "[PERSONAL]" "MYCALL=XX9ORN-1" "SYSOP=1" "[RADIO]" "PORTS=1" "ENGINEPORT=$api_port" "[PORT0]" \
  "CHANNELS=2" "BBSONLY=0" "LIMITED=0" "TIMEOUT=0" "[LOG]" "LOGOK=1" "LOGOTHER=1" "[WEB]" "LISTEN=127.0.0.1:$web_port"
"$BUILD/ornbbs" --headless --dir "$a" >>"$a.out" 2>>"$a.err" &
pids+=($!)
wait_for 15 grep -qs "UP" "$a/BBS.LOG" || fail "BBS did not start: $(cat "$a.err")"
password="hostile page $RANDOM$RANDOM"
printf '%s\n' "$password" | "$CTL" --dir "$a" web password >/dev/null || fail "ornctl web password"
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$web_port" 2>/dev/null || fail "console not listening: $(cat "$a.err")"

# The other site: one page, served from another port (another origin).
mkdir -p "$WORK/site"
cat >"$WORK/site/index.html" <<HTML
<!doctype html><html><body><p>Nothing to see here.</p><script>
const c = "http://127.0.0.1:$web_port";
const tries = [];
for (let i = 0; i < 30; i++) {
  tries.push(fetch(c + "/api/login", {method: "POST", mode: "no-cors", credentials: "include",
    headers: {"Content-Type": "text/plain"}, body: JSON.stringify({password: "guess " + i})}).catch(() => 0));
}
for (const u of ["/api/sysop?call=off", "/api/page?channel=decline&call=1-1", "/api/sysop/off",
                 "/api/msg?args=export"]) {
  new Image().src = c + u;
  tries.push(fetch(c + u, {mode: "no-cors", credentials: "include"}).catch(() => 0));
}
tries.push(fetch(c + "/api/sysop/off", {method: "POST", mode: "no-cors", credentials: "include",
  headers: {"Content-Type": "text/plain"}, body: "{}"}).catch(() => 0));
Promise.all(tries).then(() => { document.title = "done"; });
</script></body></html>
HTML
"$PY" -m http.server "$hostile_port" --bind 127.0.0.1 --directory "$WORK/site" >/dev/null 2>&1 &
pids+=($!)
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$hostile_port" 2>/dev/null || fail "the other site did not start"

"$PY" - "$web_port" "$hostile_port" "$password" <<'PY' || fail "the hostile page"
import sys, time
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

port, hostile, password = sys.argv[1], sys.argv[2], sys.argv[3]
options = Options()
for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
          "--disable-extensions", "--disable-background-networking", "--disable-sync"):
    options.add_argument(a)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
try:
    # The sysop logs in first: the browser holds the console's cookie.
    driver.get("http://127.0.0.1:%s/login.html" % port)
    driver.find_element(By.CSS_SELECTOR, "input[type=password]").send_keys(password + "\n")
    deadline = time.time() + 20
    while time.time() < deadline and "login" in driver.current_url:
        time.sleep(0.2)
    assert "login" not in driver.current_url, "the sysop's login: " + driver.current_url
    # Then opens the other site's page in another tab.
    driver.switch_to.new_window("tab")
    driver.get("http://127.0.0.1:%s/" % hostile)
    deadline = time.time() + 30
    while time.time() < deadline and driver.title != "done":
        time.sleep(0.2)
    assert driver.title == "done", "the hostile page did not finish"
    # Back in the console: still logged in, and a login of its own works at once.
    driver.switch_to.window(driver.window_handles[0])
    t0 = time.time()
    status = driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "fetch('/api/login', {method: 'POST', headers: {'Content-Type': 'application/json'},"
        " body: JSON.stringify({password: arguments[0]})}).then(r => done(r.status));", password)
    assert status == 200 and time.time() - t0 < 3, "the sysop after the page: %s in %.1f s" % (status, time.time() - t0)
finally:
    driver.quit()
PY
[ "$("$CTL" --dir "$a" sysop)" = on ] || fail "the other site's page changed the sysop's presence"
! grep -q "wrong password" "$a/BBS.LOG" || fail "the page's logins were hashed: $(grep 'wrong password' "$a/BBS.LOG" | head -3)"
! grep -q "wrong password" "$a.err" || fail "the page's logins reached the journal"
grep -q "<Web> login from 127.0.0.1" "$a/BBS.LOG" || fail "no audit line of the sysop's login"
echo "web_hostile_page: ok"
