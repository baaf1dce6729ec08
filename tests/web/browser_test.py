#!/usr/bin/env python3
"""The web pages in a real browser, as a colleague uses them.

sdvoice-web runs in the foreground on 127.0.0.1 (plain HTTP) over a private configuration with an
archive folder of sample recordings, and headless Chromium, driven through WebDriver, logs in,
searches, looks at the statistics of the search with their chart, opens a call, plays it (the audio element's time advances), seeks to 75 % (the bytes the
server gives for the range the browser asked for equal the decoder's, as `voctool convert` writes
them), saves a note and reads it back with `voctool note`, logs out, and finds the pages refused.

    browser_test.py BUILD_DIR

Exits 77 (skipped) with a message where Chromium, its driver or Selenium is missing or cannot start.
"""

import base64
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

SKIPPED = 77
WAIT_SECONDS = 20
PASSWORD = "korrekt-Pferd-42"
NOTE = "客户要求回电 浏览器测试"


def skip(reason):
    print(f"[  SKIPPED ] {reason}")
    sys.exit(SKIPPED)


try:
    from selenium import webdriver
    from selenium.common.exceptions import TimeoutException, WebDriverException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    skip("python3-selenium is not installed")


def write_hour_long(sample, path):
    """An hour-long recording from the sample's IMA blocks repeated (each block starts afresh):
    long enough that the browser does not hold the whole sound when it seeks."""
    with open(sample, "rb") as source:
        head = source.read()
    data = head.index(b"data")
    blocks = head[data + 8:data + 8 + struct.unpack("<I", head[data + 4:data + 8])[0]]
    blocks = blocks[:len(blocks) // 256 * 256] * (12_600_000 // (len(blocks) // 256 * 256) + 1)
    recording = bytearray(head[:data]) + b"data" + struct.pack("<I", len(blocks)) + blocks
    recording[4:8] = struct.pack("<I", len(recording) - 8)
    fact = recording.index(b"fact")
    recording[fact + 8:fact + 12] = struct.pack("<I", len(blocks) // 256 * 505)
    with open(path, "wb") as output:
        output.write(recording)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def run(command, env, stdin=None):
    return subprocess.run(command, env=env, input=stdin, capture_output=True, check=True, timeout=60)


class Server:
    """sdvoice-web in the foreground, until it says where it listens."""

    def __init__(self, program, port, env):
        self.process = subprocess.Popen([program, "--port", str(port), "--plain"], env=env,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        line = self.process.stdout.readline()  # the first line, or nothing when it ends
        if "Listening" not in line:
            self.stop()
            raise AssertionError(f"sdvoice-web did not start: {line}")

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise AssertionError("sdvoice-web did not end within 10 s of SIGTERM")


def start_browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for argument in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     f"--user-data-dir={profile}", "--autoplay-policy=no-user-gesture-required", "--mute-audio"]:
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    driver_program = shutil.which("chromedriver") or "/usr/bin/chromedriver"
    if not os.path.exists(options.binary_location) or not os.path.exists(driver_program):
        skip("chromium or chromium-driver is not installed")
    try:
        return webdriver.Chrome(service=Service(driver_program), options=options)
    except WebDriverException as error:
        skip(f"Chromium cannot start here: {error.msg}")


def wait_for(driver, what, condition):
    try:
        return WebDriverWait(driver, WAIT_SECONDS).until(lambda _: condition())
    except TimeoutException:
        raise AssertionError(f"waited {WAIT_SECONDS} s in vain for {what} (at {driver.current_url}):\n"
                             + driver.find_element(By.TAG_NAME, "body").text)


def audio_ranges(driver):
    """The Range headers of the browser's requests for the audio since the last call."""
    ranges = []
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] != "Network.requestWillBeSent":
            continue
        request = message["params"]["request"]
        if "/api/audio" in request["url"]:
            ranges += [value for name, value in request["headers"].items() if name.lower() == "range"]
    return ranges


FETCH_RANGE = """
const [url, range, done] = arguments;
fetch(url, {headers: {Range: range}, credentials: 'same-origin'})
  .then(async (response) => {
    const bytes = new Uint8Array(await response.arrayBuffer());
    let text = '';
    for (const byte of bytes) text += String.fromCharCode(byte);
    done({status: response.status, body: btoa(text)});
  })
  .catch((error) => done({status: 0, body: String(error)}));
"""


def check_seek(driver, call_url, decoded):
    """Seeks to 75 %; the range the browser then asks for is served as the decoder's bytes."""
    audio_ranges(driver)
    driver.execute_script("const a = document.getElementById('audio'); a.currentTime = a.duration * 0.75;")
    wait_for(driver, "the position at 75 %", lambda: driver.execute_script(
        "const a = document.getElementById('audio'); return a.currentTime >= a.duration * 0.74;"))
    asked = [value for value in audio_ranges(driver) if not value.startswith("bytes=0-")]
    assert asked, "the seek asked for no range beyond the start"
    print(f"the seek to 75 % asked for {asked[-1]}")
    first = int(asked[-1].split("=")[1].split("-")[0])
    assert first >= len(decoded) // 2, f"the seek asked for {asked[-1]}"
    last = min(first + 65535, len(decoded) - 1)
    answer = driver.execute_async_script(FETCH_RANGE, call_url.replace("/call?", "/api/audio?"),
                                         f"bytes={first}-{last}")
    assert answer["status"] == 206, answer
    assert base64.b64decode(answer["body"]) == decoded[first:last + 1], "the range differs from the decoder's bytes"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    build = sys.argv[1]
    server_program = os.path.join(build, "web", "sdvoice-web")
    voctool = os.path.join(build, "tools", "voctool")
    home = tempfile.mkdtemp(prefix="sdvoice-browser-")
    # voctool draws the statistics' chart for the server: beside it once installed, here on the PATH.
    env = dict(os.environ, PATH=os.path.dirname(voctool) + os.pathsep + os.environ.get("PATH", ""),
               HOME=home, XDG_CONFIG_HOME=f"{home}/config", XDG_DATA_HOME=f"{home}/data",
               XDG_CACHE_HOME=f"{home}/cache", LC_ALL="C.UTF-8")
    server = driver = None
    try:
        archive = f"{home}/archive"
        run([voctool, "make-sample", archive, "8"], env)
        write_hour_long(f"{archive}/VOC00001.WAV", f"{archive}/VOC00099.WAV")
        run([voctool, "stats", archive], env)  # the folder becomes known to the index
        run([server_program, "account", "add", "li", "note"], env, stdin=PASSWORD.encode())
        port = free_port()
        server = Server(server_program, port, env)
        base = f"http://127.0.0.1:{port}"
        driver = start_browser(f"{home}/chromium")

        driver.get(base + "/")
        wait_for(driver, "the login page", lambda: driver.current_url.endswith("/login"))
        driver.find_element(By.ID, "name").send_keys("li")
        driver.find_element(By.ID, "password").send_keys(PASSWORD)
        driver.find_element(By.CSS_SELECTOR, "form.login button").click()
        wait_for(driver, "the search form", lambda: len(driver.find_elements(By.CSS_SELECTOR, "#mode option")) > 1)

        driver.execute_script("document.getElementById('from').value = '2023-01-01';"
                              "document.getElementById('to').value = '2023-12-31';")
        driver.find_element(By.ID, "btnSearch").click()
        wait_for(driver, "the results", lambda: driver.find_elements(By.CSS_SELECTOR, "#results tbody tr a"))
        assert "共 9 条" in driver.find_element(By.ID, "pageText").text, driver.find_element(By.ID, "pageText").text

        driver.find_element(By.ID, "statisticsLink").click()
        wait_for(driver, "the statistics with their chart", lambda: driver.execute_script(
            "return document.querySelectorAll('#totals tbody tr').length > 0"
            " && document.getElementById('chart').naturalWidth > 0;"))
        assert driver.find_element(By.CSS_SELECTOR, "#totals tbody tr td").text == "全部"
        driver.back()
        wait_for(driver, "the results again", lambda: driver.find_elements(By.LINK_TEXT, "VOC00099.WAV"))
        driver.find_element(By.LINK_TEXT, "VOC00099.WAV").click()
        wait_for(driver, "the call", lambda: driver.find_elements(By.CSS_SELECTOR, "#details tbody tr"))
        call_url = driver.current_url
        folder = driver.find_elements(By.CSS_SELECTOR, "#details tbody tr td")[-1].text
        assert folder == "archive", f"the call shows where it lies as {folder!r}, not by the folder's own name"
        path = f"{archive}/VOC00099.WAV"

        driver.execute_script("document.getElementById('audio').play();")
        wait_for(driver, "the playback to advance", lambda: driver.execute_script(
            "return document.getElementById('audio').currentTime > 0.3;"))
        run([voctool, "convert", path, f"{home}/decoded.wav"], env)
        with open(f"{home}/decoded.wav", "rb") as wave:
            check_seek(driver, call_url, wave.read())

        driver.find_element(By.ID, "noteDescription").send_keys(NOTE)
        driver.find_element(By.ID, "btnSaveNote").click()
        wait_for(driver, "the note saved", lambda: driver.find_element(By.ID, "message").text == "备注已保存")
        shown = run([voctool, "note", path], env).stdout.decode()
        assert NOTE in shown, shown
        with open(f"{home}/config/sdvoice/web-access.log", encoding="utf-8") as log:
            assert "\tplay\t" in log.read(), "the play is not in the access log"

        driver.find_element(By.ID, "btnLogout").click()
        wait_for(driver, "the login page after logging out", lambda: driver.current_url.endswith("/login"))
        for page in ["/", call_url.replace(base, "")]:
            driver.get(base + page)
            wait_for(driver, f"{page} refused", lambda: driver.current_url.endswith("/login"))
        answer = driver.execute_async_script(FETCH_RANGE, call_url.replace("/call?", "/api/audio?"), "bytes=0-99")
        assert answer["status"] == 401, f"the audio after logging out: {answer['status']}"
        print("browser test passed")
    finally:
        if driver:
            driver.quit()
        if server:
            server.stop()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
