#!/usr/bin/env python3
"""The web page driven in headless Chromium through a running chromedriver.

Run by test_webbrowser, which owns the monitor, the game-server double and
chromedriver. At each "step NAME" line on standard output the script waits
for a line on standard input: the test changes the double or measures the
monitor meanwhile. Any failed check ends the script with a message and a
non-zero status.

Arguments: DRIVER_URL PAGE_URL ADMIN PASSWORD VIEWER PASSWORD PROFILE_DIR SCREENSHOT_PATH
"""

import sys
import time

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException, StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support import expected_conditions as ec
from selenium.webdriver.support.ui import WebDriverWait

WAIT_S = 15
XSS_NAME = "<img src=x onerror=alert(1)>"
REASON = "Wallhack seen"


def step(name):
    print("step " + name, flush=True)
    if sys.stdin.readline().strip() != "go":
        sys.exit("the test did not answer step " + name)


def wait(driver, condition, what, timeout=WAIT_S):
    return WebDriverWait(driver, timeout, poll_frequency=0.1).until(condition, "waited in vain for " + what)


# Read in one script: the page replaces its rows at each update, so an
# element found in one call may be gone in the next.
def texts(driver, selector):
    return driver.execute_script(
        "return Array.from(document.querySelectorAll(arguments[0]), e => e.textContent)", selector)


def record_rows(driver):
    return driver.execute_script(
        "return Array.from(document.querySelectorAll('#records tbody tr'),"
        " row => Array.from(row.cells, c => c.textContent))")


def console_text(driver):
    return driver.execute_script("return document.getElementById('console-output').textContent")


# Sends a command from the console's box. While a pass of the monitor talks to
# the server the console refuses, as the window's does; the user sends again.
def send_console(driver, command):
    for _ in range(20):
        # The box is disabled while the server is busy: typed once it is free.
        box = wait(driver, ec.element_to_be_clickable((By.ID, "console-input")), "the console's box")
        driver.execute_script("arguments[0].value = arguments[1];"
                              "document.getElementById('action-result').textContent = ''", box, command)
        driver.find_element(By.CSS_SELECTOR, "#console-form button[type=submit]").click()
        refused = wait(driver, lambda d: d.execute_script(
            "const r = document.getElementById('action-result').textContent;"
            "if (r) return r;"
            "return document.getElementById('console-input').value === '' ? 'sent' : false"), "the console to take it")
        if refused == "sent":
            return
        if "waits for the server" not in refused:
            sys.exit("the console refused: " + refused)
        time.sleep(0.2)
    sys.exit("the console stayed busy")


def log_in(driver, account, password, role):
    wait(driver, ec.visibility_of_element_located((By.ID, "login-name")), "the login form")
    for field, text in (("login-name", account), ("login-password", password)):
        driver.find_element(By.ID, field).clear()
        driver.find_element(By.ID, field).send_keys(text)
    driver.find_element(By.CSS_SELECTOR, "#login-form button[type=submit]").click()
    wait(driver, ec.visibility_of_element_located((By.ID, "app")), "the page after login")
    wait(driver, ec.text_to_be_present_in_element((By.ID, "who"), "%s (%s)" % (account, role)), "the account shown")


def log_out(driver):
    driver.find_element(By.ID, "logout").click()
    wait(driver, ec.visibility_of_element_located((By.ID, "login-name")), "the login form after logout")
    if driver.find_element(By.ID, "app").is_displayed():
        sys.exit("the page still shows after logout")
    status = driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "fetch('/api/session', {cache: 'no-store'}).then(r => done(r.status), () => done(0));")
    if status != 401:
        sys.exit("the session still answers after logout: %s" % status)


# Clicks the button of that caption in the table's row whose cell `column`
# reads `text`. Found and clicked in one script, since a live update may
# replace the row, and clicked later, since the confirmation it opens would
# block this script.
def press_in_row(driver, table, column, text, caption):
    wait(driver, lambda d: d.execute_script(
        "const row = Array.from(document.querySelectorAll(arguments[0] + ' tbody tr'))"
        ".find(r => r.cells[arguments[1]].textContent === arguments[2]);"
        "const b = row && Array.from(row.querySelectorAll('button')).find(b => b.textContent === arguments[3]);"
        "if (!b) return false;"
        "setTimeout(() => b.click(), 0); return true;", table, column, text, caption),
        "%s in the row of %s" % (caption, text))


def confirm(driver, question):
    alert = wait(driver, ec.alert_is_present(), "the confirmation " + question)
    if alert.text != question:
        sys.exit("confirmation asked: " + alert.text)
    alert.accept()


# Presses a session button until the monitor takes it: while a pass holds
# the server it answers that it is busy, as the window's buttons are disabled.
def press_until_taken(driver, button_id):
    for _ in range(50):
        wait(driver, ec.element_to_be_clickable((By.ID, button_id)), "the %s button" % button_id)
        driver.execute_script("document.getElementById('action-result').textContent = ''")
        driver.find_element(By.ID, button_id).click()
        result = wait(driver, lambda d: d.find_element(By.ID, "action-result").text, "the %s answer" % button_id)
        if "busy" not in result:
            if "fail" in driver.find_element(By.ID, "action-result").get_attribute("class"):
                sys.exit("%s refused: %s" % (button_id, result))
            return
        time.sleep(0.2)
    sys.exit("the monitor stayed busy for " + button_id)


# Whether a settings box is disabled; None while it is not on the page. Read
# in one script, as the form is drawn anew whenever the settings change.
def setting_disabled(driver, control):
    return driver.execute_script(
        "const e = document.getElementById('setting-' + arguments[0]); return e ? e.disabled : null", control)


def click_setting(driver, control):
    wait(driver, lambda d: d.execute_script(
        "const e = document.getElementById('setting-' + arguments[0]);"
        "if (!e || e.disabled) return false; e.click(); return true;", control), "a click on " + control)


# Types into a settings box and leaves it. The form is drawn anew when the
# settings change, which may replace the box before it has the focus.
def type_setting(driver, control, text):
    for _ in range(20):
        try:
            box = driver.find_element(By.ID, "setting-" + control)
            box.click()
            box.clear()
            box.send_keys(text + Keys.TAB)
            return
        except StaleElementReferenceException:
            time.sleep(0.1)
    sys.exit("the box of %s kept being replaced" % control)


def no_alert(driver):
    try:
        text = driver.switch_to.alert.text
    except NoAlertPresentException:
        return
    sys.exit("an alert opened: " + text)


def main():
    driver_url, page_url, account, password, viewer, viewer_password, profile, screenshot = sys.argv[1:9]
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    # Root needs --no-sandbox; the rest keeps a browser without network quiet.
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", "--window-size=1000,1700", "--user-data-dir=" + profile):
        options.add_argument(argument)
    driver = webdriver.Remote(command_executor=driver_url, options=options)
    try:
        driver.set_page_load_timeout(WAIT_S)
        driver.get(page_url)

        log_in(driver, account, password, "admin")
        wait(driver, lambda d: d.find_element(By.ID, "player-count").text == "0", "an empty Players list")

        # Players join on the double; a scan asked for from the page reads
        # them, and the list shows them without a reload.
        driver.execute_script("window.skelvarLoaded = true")
        step("players")
        press_until_taken(driver, "scan")
        wait(driver, lambda d: sorted(texts(d, "#players tbody td.name")) == sorted(["Bob", XSS_NAME]),
             "Bob and the markup-named player in Players", timeout=25)
        if not driver.execute_script("return window.skelvarLoaded === true"):
            sys.exit("the page was reloaded")

        # The markup in a name is text: no image, no request for it, no alert.
        if driver.find_elements(By.CSS_SELECTOR, "img"):
            sys.exit("an img element was made from a player's name")
        if driver.execute_script("return performance.getEntriesByType('resource')"
                                 ".filter(e => /\\/x$/.test(e.name)).length"):
            sys.exit("the page asked for the image of a player's name")
        no_alert(driver)

        # Ban Bob from Players, for ever, with a reason; the confirmation is accepted.
        wait(driver, ec.element_to_be_clickable((By.CSS_SELECTOR, "#lists .tabs button[data-list=bans]")),
             "the Bans tab").click()
        driver.find_element(By.ID, "ban-reason").send_keys(REASON)
        press_in_row(driver, "#players", 2, "Bob", "Ban")
        confirm(driver, "Ban Bob for ever?")
        wait(driver, lambda d: any(r[:3] == ["10.0.0.5", "Bob", REASON] for r in record_rows(d)),
             "Bob's ban in the Bans list")
        no_alert(driver)

        # Search by name, then by address, then show all again.
        search = driver.find_element(By.ID, "list-search")
        for term, names in (("bob", ["Bob"]), ("9.9.9", ["Eve"]), ("", ["Bob", "Eve"])):
            search.clear()
            search.send_keys(term)
            if term == "":
                # clear() alone fires no input event.
                driver.execute_script("arguments[0].dispatchEvent(new Event('input'))", search)
            wait(driver, lambda d: sorted(r[1] for r in record_rows(d)) == names, "search %r to show %s" % (term, names))
            wait(driver, lambda d: d.find_element(By.ID, "list-matched").text == "%d of 2" % len(names),
                 "the count of search %r" % term)

        # The mini console: a raw command and the server's answer.
        send_console(driver, "sv_hostname")
        wait(driver, lambda d: console_text(d).startswith("> sv_hostname\n") and "Browser Test Host" in console_text(d),
             "the console's answer")

        driver.execute_script("document.activeElement.blur(); window.scrollTo(0, 0)")
        driver.save_screenshot(screenshot)

        # A record list's button: Ban Subrank widens Eve's ban to her subnet.
        press_in_row(driver, "#records", 1, "Eve", "Ban Subrank")
        confirm(driver, "Ban Subrank 9.9.9.9 (Eve)?")
        wait(driver, lambda d: any(r[:2] == ["9.9.9.xxx", "Eve"] for r in record_rows(d)), "Eve's widened ban")

        # Kick the markup-named player; in the Kicks list his name is text too.
        press_in_row(driver, "#players", 2, XSS_NAME, "Kick")
        confirm(driver, "Kick %s?" % XSS_NAME)
        wait(driver, lambda d: XSS_NAME not in texts(d, "#players tbody td.name"), "the player gone from Players")
        driver.find_element(By.CSS_SELECTOR, "#lists .tabs button[data-list=kicks]").click()
        wait(driver, lambda d: any(r[:3] == ["10.0.0.6", XSS_NAME, "Admin. Kick"] for r in record_rows(d)),
             "the kick in the Kicks list")
        if driver.find_elements(By.CSS_SELECTOR, "img"):
            sys.exit("an img element was made from a kicked player's name")
        no_alert(driver)
        driver.find_element(By.CSS_SELECTOR, "#lists .tabs button[data-list=bans]").click()

        # The page stays open while the test measures the idle monitor.
        step("idle")
        if driver.find_element(By.ID, "app").get_attribute("hidden") is not None:
            sys.exit("the session ended while idle")

        # Settings, on the window's tabs: ticking "Kick on high ping" opens
        # its notice, and a typed limit is saved when the box is left.
        wait(driver, ec.element_to_be_clickable(
            (By.XPATH, "//nav[@id='settings-tabs']/button[text()='Server Management']")), "the settings' tab").click()
        wait(driver, lambda d: setting_disabled(d, "Text7") is not None, "the ping kick notice")
        if not setting_disabled(driver, "Text7"):
            sys.exit("the ping kick notice is open while the ping kick is off")
        click_setting(driver, "Check2")
        wait(driver, lambda d: setting_disabled(d, "Text7") is False, "the notice to open")
        wait(driver, lambda d: d.find_element(By.ID, "action-result").text == "Settings saved.", "the tick saved")
        driver.execute_script("document.getElementById('action-result').textContent = ''")
        type_setting(driver, "Text5", "250")
        wait(driver, lambda d: d.find_element(By.ID, "action-result").text == "Settings saved.", "the limit saved")
        wait(driver, lambda d: d.execute_script("const e = document.getElementById('setting-Text5');"
                                                "return e && e.value") == "250", "the limit shown as saved")

        log_out(driver)

        # A viewer sees the lists with the addresses masked, and nothing to act with.
        log_in(driver, viewer, viewer_password, "viewer")
        wait(driver, lambda d: sorted(r[0] for r in record_rows(d)) == ["10.0.*.*", "9.9.*.*"],
             "the Bans list with masked addresses")
        if driver.execute_script("return document.querySelector('#settings-page input, #console-output:not(:empty)') !== null"):
            sys.exit("the admin's settings or console stayed in the page for a viewer")
        for selector in ("#settings", "#console", "#add-ban", "#records td.actions", "#players td.actions"):
            if any(e.is_displayed() for e in driver.find_elements(By.CSS_SELECTOR, selector)):
                sys.exit("a viewer is shown " + selector)
        log_out(driver)
        no_alert(driver)
        print("done", flush=True)
    except Exception:
        print("the page's result line: %r, console: %r" % (
            driver.execute_script("return document.getElementById('action-result').textContent"),
            console_text(driver)), file=sys.stderr)
        raise
    finally:
        driver.quit()


if __name__ == "__main__":
    main()
