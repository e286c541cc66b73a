#!/usr/bin/env python3
"""Debian's Chromium, headless, with the extension loaded and driven by
chromium-driver: a page on loopback sets a cookie and links a file; the click
becomes a task in a running Zipvane (保存时询问 off) whose request carries the
cookie, the page as referrer and the browser's user agent, and the file
completes in the download folder, not in the browser's. The context menu's
entry is run at its function, the one road every link takes.

Usage: browser_extension.py SOURCE_DIR PROGRAM HOST. Exits 77 (skipped) when
chromium, chromium-driver or python3-selenium is missing. Nothing leaves
loopback: the browser's background traffic is switched off."""
import base64, hashlib, http.server, json, os, shutil, signal, subprocess, sys
import tempfile, threading, time

CHROMIUM, DRIVER = "/usr/lib/chromium/chromium", "/usr/bin/chromedriver"
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    sys.exit(77)
if not (os.access(CHROMIUM, os.X_OK) and os.access(DRIVER, os.X_OK)):
    sys.exit(77)

source, program, host = sys.argv[1:4]
extension = os.path.join(source, "browser", "extension")
FILE = bytes(range(256)) * 8192  # 2 MiB: caught by the default size
COOKIE = "sid=s3cret"


def wait_for(what, check, seconds=30):
    end = time.time() + seconds
    while time.time() < end:
        value = check()
        if value:
            return value
        time.sleep(0.1)
    sys.exit("timed out waiting for " + what)


class Site(http.server.BaseHTTPRequestHandler):
    requests = []  # (path, headers) of every request

    def log_message(self, *args):
        pass

    def do_GET(self):
        Site.requests.append((self.path, dict(self.headers.items())))
        if self.path == "/":
            page = (b'<a id="file" href="/files/big.zip">big</a> <a href="/files/menu.iso">menu</a>'
                    b' <a href="/files/picked.mp4">picked</a>')
            self.send_response(200)
            self.send_header("Set-Cookie", COOKIE + "; Path=/")
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(page)))
            self.end_headers()
            self.wfile.write(page)
        elif self.path.startswith("/files/"):
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(FILE)))
            self.end_headers()
            self.wfile.write(FILE)
        else:
            self.send_error(404)


def zipvane_requests(path):
    # Zipvane's own requests ask for the identity coding in Chinese.
    return [h for p, h in Site.requests if p == path and h.get("Accept-Language") == "zh-cn"]


def main():
    work = tempfile.mkdtemp(prefix="zv-browser-")
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Site)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = "http://127.0.0.1:%d" % server.server_address[1]
    zipvane = None
    driver = None
    try:
        # The program and its host in a folder of their own: the list is kept there.
        bin_dir, home, downloads = (os.path.join(work, d) for d in ("bin", "home", "downloads"))
        os.makedirs(bin_dir)
        os.makedirs(os.path.join(home, ".config", "Zipvane"))
        shutil.copy2(program, os.path.join(bin_dir, "zipvane"))
        shutil.copy2(host, os.path.join(bin_dir, "zipvane-native-host"))
        with open(os.path.join(home, ".config", "Zipvane", "Zipvane.conf"), "w") as conf:
            conf.write("[General]\naskWhereToSave=false\ndownloadFolder=%s\n" % downloads)
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   XDG_DATA_HOME=os.path.join(home, ".local", "share"), TMPDIR=work,
                   QT_QPA_PLATFORM="offscreen")
        env.pop("XDG_RUNTIME_DIR", None)
        zipvane = subprocess.Popen([os.path.join(bin_dir, "zipvane")], env=env)
        wait_for("Zipvane to hold its list",
                 lambda: os.path.exists(os.path.join(bin_dir, "Zipvane.zvt.lock")))

        # The extension's id comes from its key; the host answers to it only.
        with open(os.path.join(extension, "manifest.json")) as m:
            key = base64.b64decode(json.load(m)["key"])
        ext_id = "".join(chr(ord("a") + int(c, 16)) for c in hashlib.sha256(key).hexdigest()[:32])
        profile = os.path.join(work, "profile")
        os.makedirs(os.path.join(profile, "NativeMessagingHosts"))
        with open(os.path.join(profile, "NativeMessagingHosts", "zipvane.json"), "w") as m:
            json.dump({"name": "zipvane", "description": "test", "type": "stdio",
                       "path": os.path.join(bin_dir, "zipvane-native-host"),
                       "allowed_origins": ["chrome-extension://%s/" % ext_id]}, m)

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ("--headless=new", "--no-sandbox", "--user-data-dir=" + profile,
                     "--load-extension=" + extension, "--disable-extensions-except=" + extension,
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--disable-default-apps",
                     "--disable-domain-reliability", "--disable-dev-shm-usage",
                     "--no-proxy-server"):
            options.add_argument(flag)
        browser_downloads = os.path.join(work, "browser-downloads")
        options.add_experimental_option("prefs", {
            "download.default_directory": browser_downloads,
            "download.prompt_for_download": False})
        # The browser and its driver see the same folders as the program.
        os.environ.update(HOME=home, TMPDIR=work)
        driver = webdriver.Chrome(options=options, service=Service(DRIVER))
        driver.set_script_timeout(30)

        # The background answers before the first click (a click too early is lost).
        driver.get("chrome-extension://%s/options.html" % ext_id)
        state = driver.execute_async_script(
            "chrome.runtime.sendMessage({kind: 'state'}).then(arguments[0])")
        assert state and state["paused"] is False and state["minMiB"] == 1, state
        options_tab = driver.current_window_handle

        # A click on the page's link: caught, handed over, downloaded by Zipvane.
        driver.switch_to.new_window("tab")
        driver.get(base + "/")
        driver.find_element(By.ID, "file").click()
        target = os.path.join(downloads, "big.zip")
        wait_for("the clicked file to complete",
                 lambda: os.path.exists(target) and os.path.getsize(target) == len(FILE), 60)
        with open(target, "rb") as f:
            assert f.read() == FILE
        [got] = zipvane_requests("/files/big.zip")
        agent = driver.execute_script("return navigator.userAgent")
        assert got.get("Cookie") == COOKIE, got
        assert got.get("Referer") == base + "/", got
        assert got.get("User-Agent") == agent, got
        assert not os.path.exists(os.path.join(browser_downloads, "big.zip"))

        # The context menu's entries, at their function: the same road. The
        # link's entry twice; then a selection over all three links sends the
        # one the list lacks.
        driver.execute_script("window.getSelection().selectAllChildren(document.body)")
        driver.switch_to.window(options_tab)
        listed = {"ok": False, "error": "该URL已经在下载队列中了"}
        answers = driver.execute_async_script(
            "const [info, tab, done] = arguments;"
            "zipvaneMenuClicked(info, tab).then(async (a) =>"
            "  done(a.concat(await zipvaneMenuClicked(info, tab))))",
            {"menuItemId": "zipvane-link", "linkUrl": base + "/files/menu.iso"},
            {"url": base + "/"})
        assert answers == [{"ok": True}, listed], answers
        answers = driver.execute_async_script(
            "const [url, done] = arguments;"
            "chrome.tabs.query({url}).then(([tab]) =>"
            "  zipvaneMenuClicked({menuItemId: 'zipvane-selection'}, tab)).then(done)",
            base + "/")
        assert answers == [listed, listed, {"ok": True}], answers
        for name in ("menu.iso", "picked.mp4"):
            path = os.path.join(downloads, name)
            wait_for(name + " to complete",
                     lambda: os.path.exists(path) and os.path.getsize(path) == len(FILE), 60)
            [got] = zipvane_requests("/files/" + name)
            assert got.get("Cookie") == COOKIE and got.get("Referer") == base + "/", got
        print("browser_extension: ok")
    finally:
        if driver:
            driver.quit()
        if zipvane:
            zipvane.send_signal(signal.SIGTERM)
            try:
                zipvane.wait(10)
            except subprocess.TimeoutExpired:
                zipvane.kill()
        server.shutdown()
        shutil.rmtree(work, ignore_errors=True)


main()
