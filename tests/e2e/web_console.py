#!/usr/bin/env python3
"""The web console in headless Chromium against a running BBS, as its sysop uses it.

    web_console.py --url http://127.0.0.1:PORT/ --ornctl BIN --bbs DIR --peer DIR
                   --engine HOST:PORT --password PW --shots DIR

The BBS (XX9ORN-1, sysop away, nobody a partner yet) and its peer XX8ORN-1
(which takes XX9ORN as a partner) run on the virtual engine. Each step uses
the page the way a sysop would, and checks the BBS with ornctl. Screenshots
of every view at phone and desktop size go to --shots as web-VIEW-SIZE.png.
Exit status 0 when every step passes; the first failure ends it with 1.
"""
import argparse
import json
import os
import subprocess
import sys
import threading
import time
import traceback

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException, TimeoutException
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from station import Station  # noqa: E402

SIZES = {"phone": (390, 844), "desktop": (1600, 1000)}

p = argparse.ArgumentParser()
for name in ("url", "ornctl", "bbs", "peer", "engine", "password", "shots"):
    p.add_argument("--" + name, required=True)
args = p.parse_args()


def step(text):
    print("web console:", text, flush=True)


def ornctl(bbs, *argv, input_text=None):
    r = subprocess.run([args.ornctl, "--dir", bbs, *argv], input=input_text, capture_output=True, text=True, timeout=30)
    if r.returncode != 0:
        raise AssertionError(f"ornctl {' '.join(argv)}: {r.returncode} {r.stderr}")
    return json.loads(r.stdout) if "--json" in argv else r.stdout


def until(what, predicate, timeout=20):
    end = time.time() + timeout
    while time.time() < end:
        try:
            if predicate():
                return
        except AssertionError:
            pass
        time.sleep(0.2)
    raise AssertionError("timed out: " + what)


options = Options()
for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
          "--disable-extensions", "--disable-background-networking", "--disable-sync", "--lang=en-GB"):
    options.add_argument(a)
options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
driver.set_page_load_timeout(20)
# The live stream redraws tables at any moment: an element found a moment ago may be gone.
RETRY = (StaleElementReferenceException,)
wait = WebDriverWait(driver, 20, ignored_exceptions=RETRY)
# Answers to window.confirm() (kill, repair) come from the test, not a person.
driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": "window.confirm = () => true;"})


def size(name):
    w, h = SIZES[name]
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": w, "height": h, "deviceScaleFactor": 1, "mobile": name == "phone"})


def css(sel):
    return driver.find_element(By.CSS_SELECTOR, sel)


def visible(sel):
    wait.until(lambda d: any(e.is_displayed() for e in d.find_elements(By.CSS_SELECTOR, sel)), f"{sel} shown")
    return next(e for e in driver.find_elements(By.CSS_SELECTOR, sel) if e.is_displayed())


def text_in(sel, text, timeout=20):
    try:
        WebDriverWait(driver, timeout, ignored_exceptions=RETRY).until(
            lambda d: any(text in e.text for e in d.find_elements(By.CSS_SELECTOR, sel)))
    except TimeoutException:
        now = [e.text for e in driver.find_elements(By.CSS_SELECTOR, sel)]
        raise AssertionError(f"{text!r} not in {sel}: {now!r}")


def click(sel):
    """Clicks what `sel` finds now, finding it again when a redraw took it away."""
    for _ in range(5):
        try:
            driver.find_element(By.CSS_SELECTOR, sel).click()
            return
        except StaleElementReferenceException:
            time.sleep(0.2)
    raise AssertionError(f"{sel} kept going away")


def toast(text):
    text_in("#toast", text)


def view(name):
    driver.find_element(By.CSS_SELECTOR, f'#nav a[data-view="{name}"]').click()
    visible(f"#view-{name}")


def shots(name, prepare=None):
    """The current view at both sizes; `prepare` runs after each resize (a dialog to reopen)."""
    for tag in ("phone", "desktop"):
        size(tag)
        if prepare:
            prepare()
        time.sleep(0.4)
        driver.save_screenshot(os.path.join(args.shots, f"web-{name}-{tag}.png"))
    size("desktop")


def close_dialogs():
    driver.execute_script("document.querySelectorAll('dialog[open]').forEach(d => d.close())")


try:
    size("desktop")

    # --- log in: a wrong password is refused, the right one opens the station view ---
    driver.get(args.url)
    pw = visible("#login-password")
    shots("login")
    pw.send_keys("not the password", Keys.ENTER)
    wait.until(lambda d: css("#login-error").text.strip() != "", "wrong password told")
    assert driver.current_url.endswith("/login.html"), f"a wrong password led to {driver.current_url}"
    assert css("#login-password").get_attribute("value") == "", "password left in the field"
    css("#login-password").send_keys(args.password, Keys.ENTER)
    visible("#view-station")
    stored = driver.execute_script("return JSON.stringify(localStorage) + JSON.stringify(sessionStorage)")
    assert args.password not in stored and "csrf" not in stored.lower(), stored
    text_in("#top-call", "XX9ORN-1")
    step("logged in")

    # --- a station's lines appear live in its channel ---
    anna = Station(args.engine, "XX1ABC", timeout=30, connect_timeout=15)
    anna.connect("XX9ORN-1")
    anna.expect(">\r")
    anna.send("N Anna")
    anna.expect(">\r")
    text_in('#panes [data-channel="1-1"] pre', "Anna")
    text_in('#panes [data-channel="1-1"] .who', "XX1ABC")
    text_in('#panes .monitor pre', "XX1ABC")
    shots("station")
    anna.send("B")
    anna.wait_disconnect()
    anna.close()
    step("a station's line seen live in channel 1-1")
    # A console opened afterwards (here: the page loaded again) still shows
    # what went on, once.
    driver.refresh()
    visible("#view-station")
    text_in('#panes [data-channel="1-1"] pre', "Anna")
    text_in('#panes .monitor pre', "XX1ABC")
    pane = driver.find_element(By.CSS_SELECTOR, '#panes [data-channel="1-1"] pre').text
    assert pane.count("N Anna") == 1, pane
    step("the channel's text is there again after a reload")

    # --- messages: the table pages on the server; read one; send one ---
    view("messages")
    text_in("#pg-info", "of 251")
    first_cells = "return [...document.querySelectorAll('#msg-table tbody tr td:first-child')].map(td => td.textContent)"
    page1 = driver.execute_script(first_cells)
    assert len(page1) == 100, f"{len(page1)} rows on a page"
    css("#pg-next").click()
    text_in("#pg-info", "101–200 of 251")
    assert not set(driver.execute_script(first_cells)) & set(page1), "the next page repeats the first"
    css("#pg-last").click()
    text_in("#pg-info", "201–251 of 251")
    driver.find_element(By.CSS_SELECTOR, '#msg-table th[data-sort="MsgNo"]').click()  # the other way round
    text_in("#pg-info", "1–100 of 251")
    numbers = [int(n) for n in driver.execute_script(first_cells)]
    assert numbers == sorted(numbers) or numbers == sorted(numbers, reverse=True), numbers[:5]
    shots("messages")

    def search(field, value):
        Select(css("#msg-field")).select_by_value(field)
        box = css("#msg-text")
        box.clear()
        box.send_keys(value, Keys.ENTER)

    def status_of(number):
        return ornctl(args.bbs, "msg", "read", str(number), "--json")["Status"]

    # Read, hold, release and export Anna's message.
    search("to", "XX1ABC")
    text_in("#pg-info", "1–1 of 1")
    anna_no = int(driver.execute_script("return document.querySelector('#msg-table tbody tr td').textContent"))
    click("#msg-table tbody tr")
    text_in("#read-text", "Hello Anna, see you on Sunday.")
    shots("read", lambda: None)
    css("#read-hold").click()
    toast(f"Held {anna_no}")
    until("held", lambda: status_of(anna_no) == "H")
    wait.until(lambda d: css("#read-release").is_enabled(), "release offered")
    css("#read-release").click()
    toast(f"Released {anna_no}")
    until("released", lambda: status_of(anna_no) == "N")
    downloads = os.path.join(os.path.dirname(args.bbs), "downloads")
    os.makedirs(downloads, exist_ok=True)
    driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    css("#read-export").click()
    exported = os.path.join(downloads, f"msg-{anna_no}.txt")
    until("the export downloaded", lambda: os.path.exists(exported) and "/EX" in open(exported).read())
    assert "Hello Anna, see you on Sunday." in open(exported).read(), open(exported).read()
    close_dialogs()

    # A reply to a message for the BBS, opened from the keyboard.
    search("to", "XX9ORN")
    text_in("#msg-table tbody", "Question for the sysop")  # (the last search had one row too)
    driver.execute_script("document.querySelector('#msg-table tbody tr').focus()")
    ActionChains(driver).send_keys(Keys.ENTER).perform()  # to whatever has the keyboard: the row
    text_in("#read-text", "Is the net on Sunday?")
    css("#read-reply").click()
    visible("#dlg-send")
    assert css("#send-subject").get_attribute("value").startswith("RE:"), css("#send-subject").get_attribute("value")
    css("#send-text").send_keys("Yes, at 10.")
    css("#send-submit").click()
    toast("Stored as")
    replies = ornctl(args.bbs, "msg", "list", "--to", "XX5DEF", "--json")
    assert [m["MsgSubject"] for m in replies] == ["RE:Question for the sysop"], replies

    # An exchange file from this computer; one of its messages killed.
    upload = os.path.join(os.path.dirname(args.bbs), "upload.txt")
    with open(upload, "w") as f:
        f.write("SP XX1ABC @ XX9ORN < XX5DEF\nUploaded one\nFirst.\n/EX\n"
                "SP XX1ABC @ XX9ORN < XX5DEF\nUploaded two\nSecond.\n/EX\n")
    css("#msg-import-file").send_keys(upload)
    toast("Imported 2")
    got = {m["MsgSubject"]: m["MsgNo"] for m in ornctl(args.bbs, "msg", "list", "--from", "XX5DEF", "--json")}
    assert "Uploaded one" in got and "Uploaded two" in got, got
    search("msgno", str(got["Uploaded two"]))
    text_in("#msg-table tbody", "Uploaded two")
    click("#msg-table tbody tr")
    text_in("#read-text", "Second.")
    css("#read-kill").click()
    toast(f"Killed {got['Uploaded two']}")
    until("killed", lambda: status_of(got["Uploaded two"]) == "K")
    Select(css("#msg-field")).select_by_value("")
    css("#msg-search button[type=submit]").click()
    text_in("#pg-info", "1–100 of")
    Select(css("#msg-field")).select_by_value("status")  # letters are picked from the BBS's list
    Select(visible("#msg-value")).select_by_value("K")
    css("#msg-search button[type=submit]").click()
    text_in("#pg-info", "1–1 of 1")
    text_in("#msg-table tbody", "Uploaded two")

    css("#msg-new").click()
    visible("#send-to").send_keys("ALL@WW")
    Select(css("#send-type")).select_by_value("B")
    css("#send-subject").send_keys("Weekend net from the web")
    css("#send-text").send_keys("Net on Sunday at 10.\n73 de Nikos\n")
    shots("send", lambda: None)
    css("#send-submit").click()
    toast("Stored as")
    listed = ornctl(args.bbs, "msg", "list", "--json")
    sent = [m for m in listed if m["MsgSubject"] == "Weekend net from the web"]
    assert len(sent) == 1 and sent[0]["Type"] == "B" and sent[0]["ToStation"] == "ALL", sent
    text = ornctl(args.bbs, "msg", "read", str(sent[0]["MsgNo"]))
    assert "73 de Nikos" in text, text
    step(f"messages paged, read, held, released, exported, answered, imported, killed, and {sent[0]['MsgNo']} sent")

    # --- a forwarding partner set up in the editor; ornctl user show agrees ---
    view("users")
    css("#user-new").click()
    visible("#ask-input").send_keys("xx8orn")
    css("#ask-ok").click()
    visible("#dlg-user")
    text_in("#user-title", "XX8ORN")

    def field(name):
        return driver.find_element(By.CSS_SELECTOR, f'#user-form [data-field="{name}"]')

    def set_field(name, value):
        e = field(name)
        if e.tag_name == "select":
            Select(e).select_by_value(value)
        else:
            e.clear()
            e.send_keys(value)

    set_field("Name", "Thessaloniki")
    set_field("Type", "B")
    set_field("isFwdStation", "Y")
    set_field("OkWithBids", "Y")
    set_field("FwdQueue", "51")
    css("#user-save").click()
    # The BBS's refusal names the field, and the page shows it there.
    wait.until(lambda d: "invalid" in field("FwdQueue").get_attribute("class"), "FwdQueue marked")
    note = field("FwdQueue").find_element(By.XPATH, "following-sibling::div[contains(@class,'field-error')]")
    assert note.text.startswith("FwdQueue:"), note.text
    assert ornctl(args.bbs, "user", "show", "XX8ORN", "--json")["Type"] != "B", "a refused set wrote"
    shots("user-error", lambda: None)
    set_field("FwdQueue", "1")
    set_field("FwdDest", "@WW\n>XX3CCC")
    for part, value in (("hours", "0023"), ("mlength", "0"), ("daysago", "0"), ("port", "1"),
                        ("send", "XX8ORN-1"), ("rcv", "CONNECTED"), ("fwdkind", "N"), ("flag", "N")):
        set_field(f"Hcon[0].{part}", value)
    set_field("Hcon[1].hours", "0506")
    css("#user-save").click()
    toast("Saved XX8ORN")
    u = ornctl(args.bbs, "user", "show", "XX8ORN", "--json")
    got = (u["Name"], u["Type"], u["isFwdStation"], u["OkWithBids"], u["FwdQueue"], u["FwdDest"],
           u["Hcon"][0]["send"], u["Hcon"][0]["rcv"], u["Hcon"][0]["hours"], u["Hcon"][0]["port"],
           u["Hcon"][0]["fwdkind"], u["Hcon"][0]["flag"], u["Hcon"][1]["hours"])
    want = ("Thessaloniki", "B", "Y", "Y", 1, "@WW\r\n>XX3CCC\r\n", "XX8ORN-1", "CONNECTED", "0023", "1", "N", "N", "0506")
    assert got == want, f"user show: {got}"
    text_in("#user-table", "Thessaloniki")
    shots("users")
    click('#user-table tr[data-call="XX8ORN"]')
    visible("#dlg-user")
    wait.until(lambda d: field("Hcon[0].send").get_attribute("value") == "XX8ORN-1", "editor reloaded")
    shots("user", lambda: None)
    close_dialogs()
    step("partner XX8ORN set up; ornctl user show agrees")

    # --- forwarding: the bulletin waits for the partner; "Forward now" takes it there ---
    ornctl(args.bbs, "msg", "send", "--to", "ALL@WW", "--type", "B", "--subject", "For the partner",
           input_text="Bulletin for the partner.\n")
    view("forwarding")
    text_in('#fwd-table tr[data-call="XX8ORN"]', "XX8ORN")
    wait.until(lambda d: int(d.find_element(By.CSS_SELECTOR, '#fwd-table tr[data-call="XX8ORN"] td:nth-child(3)').text) >= 1,
               "queue shown")
    shots("forwarding")
    css("#fwd-now").click()
    toast("Forwarding cycle started")
    until("the bulletin at the partner",
          lambda: any(m["MsgSubject"] == "For the partner" for m in ornctl(args.peer, "msg", "list", "--json")), 60)
    step("forward now: the partner received the bulletin")

    # --- a page: the banner at once, Answer chats in the channel's view, End gives the station back ---
    view("station")
    if not css("#sysop-present").is_selected():
        driver.execute_script("document.getElementById('sysop-present').click()")
    until("sysop present in ORN.INI", lambda: "SYSOP=1" in open(os.path.join(args.bbs, "ORN.INI")).read(), 10)
    anna = Station(args.engine, "XX1ABC", timeout=30, connect_timeout=15)
    anna.connect("XX9ORN-1")
    anna.expect(">\r")
    anna.send("T")
    anna.expect("please wait")
    banner = visible('.page-banner[data-channel="1-1"]')
    assert "XX1ABC" in banner.text, banner.text
    shots("page")
    banner.find_element(By.XPATH, ".//button[text()='Answer']").click()
    talk = visible('#panes [data-channel="1-1"] .talk input')
    anna.expect("Go ahead!")
    talk.send_keys("Hi Anna, from the web", Keys.ENTER)
    anna.expect("Hi Anna, from the web")
    anna.send("Hello Nikos")
    text_in('#panes [data-channel="1-1"] pre', "Hello Nikos")
    shots("chat")
    # The page loaded again in the middle of the chat: its controls come back from the BBS.
    driver.refresh()
    talk = visible('#panes [data-channel="1-1"] .talk input')
    talk.send_keys("Still here after a reload", Keys.ENTER)
    anna.expect("Still here after a reload")
    step("the chat's controls are back after a reload")

    # Another station pages while the sysop types in the chat: the banner
    # shows, the keyboard stays in the chat, and Enter sends the line there.
    bob = Station(args.engine, "XX2BCD", timeout=30, connect_timeout=15)
    bob.connect("XX9ORN-1")
    bob.expect(">\r")
    bob.send("N Bob")
    bob.expect(">\r")
    talk.click()
    talk.send_keys("Half a line")
    bob.send("T")
    bob.expect("please wait")
    visible('.page-banner[data-channel="1-2"]')
    text_in("#page-news", "XX2BCD pages you on channel 1-2")
    assert driver.switch_to.active_element == talk, "the page took the keyboard from the chat"
    talk.send_keys(" and the rest", Keys.ENTER)
    anna.expect("Half a line and the rest")
    assert [p["channel"] for p in ornctl(args.bbs, "page", "--json")] == ["1-2"], "Enter answered the page"
    visible('.page-banner[data-channel="1-2"]').find_element(By.XPATH, ".//button[text()='Decline']").click()
    bob.expect("The sysop does not answer.")
    bob.expect(">\r")
    step("a page while typing in a chat: the line went to the chat, the page waited for a click")

    driver.find_element(By.CSS_SELECTOR, '#panes [data-channel="1-1"] .talk button.danger').click()
    anna.expect("You are back in the BBS.")
    anna.expect(">\r")
    # Paged again and declined: the station hears so, the banner goes.
    anna.send("T")
    anna.expect("please wait")
    visible('.page-banner[data-channel="1-1"]').find_element(By.XPATH, ".//button[text()='Decline']").click()
    anna.expect("The sysop does not answer.")
    anna.expect(">\r")
    wait.until(lambda d: not d.find_elements(By.CSS_SELECTOR, ".page-banner"), "banner gone after Decline")
    step("page answered, a line each way, chat ended; a second page declined")

    # A chat whose station leaves: the channel leaves terminal mode, the
    # chat's controls go, and with every other channel taken it serves the
    # next station as the BBS.
    anna.send("T")
    anna.expect("please wait")
    visible('.page-banner[data-channel="1-1"]').find_element(By.XPATH, ".//button[text()='Answer']").click()
    anna.expect("Go ahead!")
    visible('#panes [data-channel="1-1"] .talk input')
    carl = Station(args.engine, "XX3CDE", timeout=30, connect_timeout=15)
    carl.connect("XX9ORN-1")
    carl.expect(">\r")
    anna.disconnect()
    anna.close()
    state = lambda: {c["port"] * 100 + c["channel"]: c["state"] for c in ornctl(args.bbs, "status", "--json")["channels"]}
    until("channel 1-1 free again", lambda: state()[101] == "idle", 15)
    assert ornctl(args.bbs, "talk", "list", "--json") == [], "the chat outlived its station"
    wait.until(lambda d: not css('#panes [data-channel="1-1"] .talk').is_displayed(), "chat controls gone")
    dora = Station(args.engine, "XX4DEF", timeout=30, connect_timeout=15)
    dora.connect("XX9ORN-1")
    dora.expect(">\r")
    dora.send("N Dora")
    dora.expect(">\r")
    assert state()[101] == "station", state()
    for s in (bob, carl, dora):
        s.send("B")
        s.wait_disconnect()
        s.close()
    step("a chat's station left: the channel served the next station")

    # --- the repair view and a last look at the status ---
    view("repair")
    shots("repair")
    css("#repair-start").click()
    until("repair done", lambda: not ornctl(args.bbs, "status", "--json")["repair"]["running"], 60)
    wait.until(lambda d: "Running" not in css("#repair-state").text and css("#repair-state").text, "repair's end shown")
    step("repair started from the page and ended")

    # At rest the page asks nothing: the live stream alone would bring news.
    view("station")
    time.sleep(2)
    driver.execute_script("performance.clearResourceTimings()")  # (a full buffer would take nothing more)
    time.sleep(6)
    asked = driver.execute_script("return performance.getEntriesByType('resource').map(e => e.name)")
    assert not asked, f"requests while nothing happened: {asked}"
    step("no requests while nothing happens")

    # Refusals the test asked for (401 before the login, 409 for the bad value) are no faults of the page.
    bad = [e for e in driver.get_log("browser") if e["level"] == "SEVERE" and
           not (e["source"] == "network" and any(f"status of {c}" in e["message"] for c in (401, 409)))]
    assert not bad, f"browser errors: {bad}"
    print("web console: ok")
except Exception as e:  # the page as it was, for the one who reads the failure
    try:
        driver.save_screenshot(os.path.join(args.shots, "web-failure.png"))
        for entry in driver.get_log("browser"):
            print("browser:", entry, file=sys.stderr)
    except Exception:
        pass
    traceback.print_exc(limit=3)
    print(f"FAIL: {type(e).__name__}: {e}", file=sys.stderr)
    sys.exit(1)
finally:
    driver.quit()
