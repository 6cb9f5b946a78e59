#!/usr/bin/python3
"""kestrova serve in headless Chromium against the real engine at --turn 1000: a click and a
keyboard move with the engine's replies, a takeback, the screenshot, Ctrl-C. Prints the load time.
Usage: browser_test.py KESTROVA_TOOL SCREENSHOT.png; exits 77 (skipped) without Chromium, its
driver or Selenium, unless KESTROVA_REQUIRE_BROWSER is set.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

SKIP = 77


def main():
    tool, screenshot = sys.argv[1], sys.argv[2]
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys
        from selenium.webdriver.support.ui import WebDriverWait
        why = ", ".join(p + " is not installed" for p in ("chromium", "chromedriver")
                        if not shutil.which(p))
    except ImportError:
        why = "python3-selenium is not installed"
    if why:
        required = os.environ.get("KESTROVA_REQUIRE_BROWSER")
        print(f"FAILED: the browser test must run here, but {why}" if required else
              f"SKIPPED: the browser test needs Chromium and Selenium: {why}")
        return 1 if required else SKIP

    server = subprocess.Popen([tool, "serve", "--port", "0", "--turn", "1000"],
                              stdout=subprocess.PIPE, text=True)
    profile = tempfile.mkdtemp(prefix="kestrova_browser_")
    driver = None
    try:
        url = server.stdout.readline().split(" play at ")[1].split()[0]
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium")
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--window-size=1000,940", f"--user-data-dir={profile}"):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
        wait = WebDriverWait(driver, 15, poll_frequency=0.02)
        # Read in one script each: the page redraws these while the engine answers.
        status = lambda: driver.execute_script('return document.getElementById("status").textContent')
        stones = lambda: len(driver.find_elements(By.CSS_SELECTOR, "#board circle.stone"))
        moves = lambda: driver.execute_script(
            'return [...document.querySelectorAll("#moves li")].map((li) => li.textContent)')
        replied = lambda count: wait.until(
            lambda d: len(moves()) >= count and re.match("Your move|Game over", status()))

        driver.get(url)
        wait.until(lambda d: status().startswith("Your move"))
        timing = driver.execute_script("""
            const nav = performance.getEntriesByType("navigation")[0];
            const foreign = performance.getEntriesByType("resource")
                .filter((e) => !e.name.startsWith(location.origin)).map((e) => e.name);
            return { load: nav.loadEventEnd, html: nav.responseEnd, dom: nav.domContentLoadedEventEnd, foreign };
        """)
        assert not timing["foreign"], f"the page fetched from elsewhere: {timing['foreign']}"

        # The click's time and the moment the reply is in the move list, both in the page; and
        # whether the move list ever showed a stone put while the engine thought.
        driver.execute_script("""
            window.measured = {};
            document.getElementById("board").addEventListener(
                "click", () => { measured.click = measured.click || performance.now(); }, true);
            new MutationObserver(() => {
              const listed = [...document.querySelectorAll("#moves li")].map((li) => li.textContent);
              if (listed.length === 2 && !measured.reply) measured.reply = performance.now();
              measured.a1 = measured.a1 || listed.includes("a1 you");
            }).observe(document.getElementById("moves"), { childList: true });
        """)
        cell = lambda x, y: driver.find_element(By.CSS_SELECTOR, f'[data-cell="{x},{y}"]')
        cell(9, 9).click()
        assert "thinking" in status(), status()
        cell(0, 0).click()  # the board must take no stone while the engine thinks
        replied(2)
        listed = moves()
        assert stones() == 2 and listed[0] == "j10 you", listed
        assert re.fullmatch(r"[a-t]\d+ Kestrova v\S+ \d+\.\d s", listed[1]), listed
        measured = driver.execute_script("return window.measured;")
        assert not measured["a1"], "the board took a1 while the engine thought"
        reply_ms = measured["reply"] - measured["click"]
        thought_ms = driver.execute_script("return game.moves[1].ms;")

        driver.find_element(By.ID, "takeback").click()
        wait.until(lambda d: stones() == 0 and not moves())

        # The keyboard: the cursor stays where the last click was, a1; nine steps right and
        # nine down is j10 again. Two more clicked stones fill out the screenshot.
        driver.find_element(By.ID, "board").send_keys(
            *[Keys.ARROW_RIGHT] * 9, *[Keys.ARROW_DOWN] * 9, Keys.ENTER)
        replied(2)
        assert moves()[0] == "j10 you", moves()
        for x, y in ((10, 10), (11, 11)):
            if not driver.execute_script(f"return game.moves.some((m) => m.x == {x} && m.y == {y});"):
                count = len(moves())
                cell(x, y).click()
                replied(count + 2)
        driver.execute_script("document.activeElement.blur(); window.scrollTo(0, 0);")
        driver.save_screenshot(screenshot)

        engines = subprocess.run(["pgrep", "-P", str(server.pid)], capture_output=True,
                                 text=True).stdout.split()
        assert len(engines) == 1, engines
        server.send_signal(signal.SIGINT)
        assert server.wait(timeout=10) == 0
        assert not [p for p in engines if os.path.exists(f"/proc/{p}")], "Ctrl-C left the engine"

        print(f"page load (navigation start to load event): {timing['load']:.0f} ms "
              f"(HTML in at {timing['html']:.0f} ms, DOM ready at {timing['dom']:.0f} ms)")
        print(f"engine reply shown at --turn 1000 (click to move list): {reply_ms:.0f} ms, "
              f"of which the engine thought {thought_ms} ms")
        print(f"screenshot: {screenshot}")
        return 0
    finally:
        if driver:
            driver.quit()
        if server.poll() is None:
            server.kill()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
