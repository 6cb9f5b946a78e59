#!/usr/bin/python3
"""kestrova serve in headless Chromium against the real engine at --turn 1000: a stone by
click and one by keyboard with the engine's replies, a takeback, the screenshot, a 9x9 game
the engine opens, a fifth tab turned away as busy, Ctrl-C ending every engine. Prints how
long the page took to load and the engine's reply to show.

Usage: browser_test.py KESTROVA_TOOL SCREENSHOT.png. Exits 77 (skipped) without Chromium,
its driver or Selenium, unless KESTROVA_REQUIRE_BROWSER is set.
"""
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

SKIP = 77


def missing_browser():
    for program in ("chromium", "chromedriver"):
        if not shutil.which(program):
            return program + " is not installed"
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "python3-selenium is not installed"
    return ""


def children(pid):
    found = []
    for stat in glob.glob("/proc/[0-9]*/stat"):
        try:
            with open(stat) as f:
                if f.read().rsplit(")", 1)[1].split()[1] == str(pid):
                    found.append(int(stat.split("/")[2]))
        except OSError:
            pass  # gone meanwhile
    return found


def main():
    tool, screenshot = sys.argv[1], sys.argv[2]
    why = missing_browser()
    if why:
        if os.environ.get("KESTROVA_REQUIRE_BROWSER"):
            print(f"FAILED: the browser test must run here, but {why}")
            return 1
        print(f"SKIPPED: the browser test needs Chromium and Selenium: {why}")
        return SKIP
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select, WebDriverWait

    server = subprocess.Popen([tool, "serve", "--port", "0", "--turn", "1000"],
                              stdout=subprocess.PIPE, text=True)
    profile = tempfile.mkdtemp(prefix="kestrova_browser_")
    driver = None
    try:
        banner = server.stdout.readline()
        url = banner.split(" play at ")[1].split()[0]
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium")
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--window-size=1000,940", f"--user-data-dir={profile}"):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
        wait = WebDriverWait(driver, 15, poll_frequency=0.02)
        # Read in one script each: the page redraws these while the engine answers.
        status = lambda: driver.execute_script('return document.getElementById("status").textContent')
        stones = lambda: driver.execute_script(
            'return document.querySelectorAll("#board circle.stone").length')
        moves = lambda: driver.execute_script(
            'return [...document.querySelectorAll("#moves li")].map((li) => li.textContent)')
        cell = lambda x, y: driver.find_element(By.CSS_SELECTOR, f'[data-cell="{x},{y}"]')

        driver.get(url)
        wait.until(lambda d: status().startswith("Your move"))
        timing = driver.execute_script("""
            const nav = performance.getEntriesByType("navigation")[0];
            const game = performance.getEntriesByType("resource")
                .find((e) => e.name.endsWith("/api/games"));
            const foreign = performance.getEntriesByType("resource")
                .filter((e) => !e.name.startsWith(location.origin)).map((e) => e.name);
            return { load: nav.loadEventEnd, html: nav.responseEnd,
                     dom: nav.domContentLoadedEventEnd, game: game.responseEnd, foreign };
        """)
        assert not timing["foreign"], f"the page fetched from elsewhere: {timing['foreign']}"
        assert len(driver.find_elements(By.CSS_SELECTOR, "#board .cell")) == 400
        assert driver.find_element(By.CSS_SELECTOR, "#board text.coord").text == "a"

        # The click's time and the moment the reply is in the move list, both in the page.
        driver.execute_script("""
            window.measured = {};
            document.getElementById("board").addEventListener(
                "click", () => { measured.click = measured.click || performance.now(); }, true);
            new MutationObserver(() => {
              if (document.querySelectorAll("#moves li").length === 2 && !measured.reply)
                measured.reply = performance.now();
            }).observe(document.getElementById("moves"), { childList: true });
        """)
        cell(9, 9).click()
        assert "thinking" in status(), status()
        cell(0, 0).click()  # the board takes no stone while the engine thinks
        wait.until(lambda d: len(moves()) == 2 and status().startswith("Your move"))
        assert stones() == 2, stones()
        listed = moves()
        assert listed[0] == "j10 you", listed
        assert re.fullmatch(r"[a-t]\d+ Kestrova v\S+ \d+\.\d s", listed[1]), listed
        assert not listed[1].startswith("a1 "), listed
        measured = driver.execute_script("return window.measured;")
        reply_ms = measured["reply"] - measured["click"]
        thought_ms = driver.execute_script("return game.moves[1].ms;")

        driver.find_element(By.ID, "takeback").click()
        wait.until(lambda d: stones() == 0 and not moves())

        # The keyboard: the cursor stays where the last click was, a1; nine steps right and
        # nine down is j10 again.
        board = driver.find_element(By.ID, "board")
        board.send_keys(*[Keys.ARROW_RIGHT] * 9, *[Keys.ARROW_DOWN] * 9, Keys.ENTER)
        wait.until(lambda d: len(moves()) == 2 and status().startswith("Your move"))
        assert moves()[0] == "j10 you", moves()
        for x, y in ((10, 10), (11, 11)):
            if not driver.find_elements(By.CSS_SELECTOR, f'circle[cx="{34 + 32 * x}"]'
                                        f'[cy="{34 + 32 * y}"]'):
                count = len(moves())
                cell(x, y).click()
                wait.until(lambda d: len(moves()) >= count + 2 or "Game over" in status())
        assert driver.find_elements(By.CSS_SELECTOR, "#board circle.last")
        driver.execute_script("document.activeElement.blur(); window.scrollTo(0, 0);")
        driver.save_screenshot(screenshot)

        # A new 9x9 game that the engine opens, in a new engine process.
        Select(driver.find_element(By.ID, "size")).select_by_value("9")
        Select(driver.find_element(By.ID, "first")).select_by_value("engine")
        driver.find_element(By.ID, "newGame").click()
        wait.until(lambda d: len(moves()) == 1 and status().startswith("Your move"))
        assert len(driver.find_elements(By.CSS_SELECTOR, "#board .cell")) == 81
        assert re.fullmatch(r"[a-i][1-9] Kestrova v\S+ \d+\.\d s", moves()[0]), moves()
        assert status() == "Your move (white).", status()

        # With this tab's game and three more, a new tab is told the server is busy.
        api = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        for _ in range(3):
            api.open(urllib.request.Request(url + "api/games", data=b"{}", method="POST"))
        driver.switch_to.new_window("tab")
        driver.get(url)
        wait.until(lambda d: d.title == "Kestrova: busy")
        assert "busy: all 4 games" in driver.find_element(By.ID, "busyPage").text

        engines = children(server.pid)
        assert len(engines) == 4, engines
        server.send_signal(signal.SIGINT)
        assert server.wait(timeout=10) == 0
        time.sleep(0.2)
        left = [pid for pid in engines if os.path.exists(f"/proc/{pid}")]
        assert not left, f"engines still running after Ctrl-C: {left}"

        print(f"page load (navigation start to load event): {timing['load']:.0f} ms "
              f"(HTML in at {timing['html']:.0f} ms, DOM ready at {timing['dom']:.0f} ms)")
        print(f"game ready (the new game's reply in): {timing['game']:.0f} ms")
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
