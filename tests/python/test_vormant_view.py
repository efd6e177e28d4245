"""`vormant view`: its pages in a real browser (Debian's chromium, headless, driven by Selenium
against a server the test starts; screenshots of each state kept in build/view-screenshots/), its
door knocked at with raw requests, and its page built in this process."""

import pathlib
import re
import shutil
import signal
import socket
import subprocess
import sys

import pytest
from conftest import child_environment
from vormant_files import ROOT, plot_text, with_bad_field, write_plot

pytest.importorskip("bokeh", reason="vormant view needs bokeh (the view extra)")
webdriver = pytest.importorskip("selenium.webdriver", reason="the browser tests need selenium")
from selenium.webdriver.common.action_chains import ActionChains, ScrollOrigin  # noqa: E402
from selenium.webdriver.support.wait import WebDriverWait  # noqa: E402

BROWSER, DRIVER = shutil.which("chromium"), shutil.which("chromedriver")
SCREENSHOTS = ROOT / "build" / "view-screenshots"
# How long the page may take to show a state: a generous bound for a loaded machine, not a
# measure of speed.
PATIENCE = 30


def start_view(servers, *args):
    """`vormant view --no-browser --port 0` on the files and arguments given; its address."""
    server = subprocess.Popen(
        [sys.executable, "-m", "vormant", "view", "--no-browser", "--port", "0", *args],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=child_environment())
    servers.append(server)
    line = server.stdout.readline()
    assert line.startswith("vormant view: http://127.0.0.1:"), server.stderr.read()
    return line.split()[-1]


def stop_views(servers):
    for server in servers:  # Ctrl-C ends the view, quietly, with status 0
        server.send_signal(signal.SIGINT)
        assert server.wait() == 0
        assert "Traceback" not in server.stderr.read()


@pytest.fixture
def view():
    servers = []
    yield lambda *args: start_view(servers, *args)
    stop_views(servers)


@pytest.fixture(scope="module")
def served_port(tmp_path_factory):
    """The port of a view of a small file, shared by the tests that only knock at its door."""
    servers = []
    url = start_view(servers, write_plot(tmp_path_factory.mktemp("served"), 4, 200, 12))
    yield int(url.rstrip("/").rsplit(":", 1)[1])
    stop_views(servers)


@pytest.fixture
def browser(request):
    """Headless chromium; an indirect parameter gives it more arguments."""
    if not (BROWSER and DRIVER):
        pytest.skip("the browser tests need Debian's chromium and chromium-driver "
                    "(tools/install-deps.sh)")
    options = webdriver.ChromeOptions()
    options.binary_location = BROWSER
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1200,800",
                     *getattr(request, "param", ())):
        options.add_argument(argument)
    driver = webdriver.Chrome(options=options, service=webdriver.ChromeService(DRIVER))
    yield driver
    driver.quit()


def model(driver, name, attribute):
    """An attribute of the page's Bokeh model `name`, as the browser has it (None before)."""
    return driver.execute_script(
        "const doc = window.Bokeh && Bokeh.documents[0];"
        "const model = doc && doc.get_model_by_name(arguments[0]);"
        "if (!model) return null;"
        "const value = model[arguments[1]];"
        "const x = value && (value.get ? value.get('x') : value.x);"
        "return x ? Array.from(x) : value;", name, attribute)


def wait_for(driver, test):
    return WebDriverWait(driver, PATIENCE).until(lambda _: test())


def screenshot(driver, name):
    SCREENSHOTS.mkdir(parents=True, exist_ok=True)
    path = SCREENSHOTS / f"{name}.png"
    driver.save_screenshot(str(path))
    return path


def shows_blue_line(path):
    from PIL import Image  # bokeh's own dependency

    # The line's blue, or its blend with the white around it where it is smoothed.
    image = Image.open(path).convert("RGB")
    pixels = image.crop((image.width // 4, 0, image.width, image.height)).tobytes()
    return sum(1 for at in range(0, len(pixels), 3)
               if pixels[at + 2] - pixels[at] > 60 and pixels[at + 2] > 150) > 300


def test_the_view_lists_draws_and_draws_a_zoom_again_from_the_file(tmp_path, view, browser):
    path = write_plot(tmp_path, 12, 20_000, 12)
    browser.get(view(path, "-p", "3"))
    names = wait_for(browser, lambda: model(browser, "chooser", "options"))
    assert names == [f"PARAM{p:04d}  UNIT{p % 5}" for p in range(1, 12)]
    whole = wait_for(browser, lambda: model(browser, "line-0-0", "data"))
    assert shows_blue_line(screenshot(browser, "drawn"))
    assert (min(whole), max(whole)) == pytest.approx((0, 19.999))

    # The wheel over the middle of the first panel (the page's elements are in shadow roots).
    ActionChains(browser).scroll_from_origin(ScrollOrigin.from_viewport(760, 100), 0,
                                             -600).perform()

    def zoomed():
        low, high = model(browser, "time", "start"), model(browser, "time", "end")
        x = model(browser, "line-0-0", "data")
        # The server's answer: the envelope of the steps in view and one either side.
        return x and high - low < 19 and low - 0.0015 < min(x) and max(x) < high + 0.0015 and (
            low, high, x)

    low, high, x = wait_for(browser, zoomed)
    # At the panel's width: four points for each of its pixel columns.
    assert len(x) == 4 * model(browser, "panel-0", "inner_width") < 4 * (high - low) / 0.001
    assert shows_blue_line(screenshot(browser, "zoomed"))


def test_follow_shows_the_steps_another_process_appends(tmp_path, view, browser):
    whole = pathlib.Path(write_plot(tmp_path, 4, 3000, 12)).read_text()
    # The value line of step 1000 is being written: it is left out, not refused.
    cut = whole.index(" TIME STEP     1001") - 20
    path = tmp_path / "growing.txt"
    path.write_text(whole[:cut])
    browser.get(view(str(path), "--follow", "-p", "1"))
    wait_for(browser, lambda: (model(browser, "line-0-0", "data") or [0])[-1] == pytest.approx(
        0.998))
    screenshot(browser, "following")
    code = "import sys; open(sys.argv[1], 'a').write(sys.stdin.read())"
    subprocess.run([sys.executable, "-c", code, str(path)], input=whole[cut:], text=True,
                   check=True)
    wait_for(browser, lambda: model(browser, "line-0-0", "data")[-1] == pytest.approx(2.999))
    assert model(browser, "time", "end") == pytest.approx(2.999)
    assert shows_blue_line(screenshot(browser, "followed"))


def knock(port, host, path="/", origin=None, websocket=False, extra=()):
    """The status of one raw request to the view on 127.0.0.1, and what came with it."""
    lines = [f"GET {path} HTTP/1.1", f"Host: {host.format(port=port)}", *extra]
    if origin:
        lines.append(f"Origin: {origin.format(port=port)}")
    if websocket:
        token = re.search(r'"token":"([^"]+)"', knock(port, "127.0.0.1:{port}")[1])[1]
        lines += ["Upgrade: websocket", "Connection: Upgrade", "Sec-WebSocket-Version: 13",
                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==",
                  f"Sec-WebSocket-Protocol: bokeh, {token}"]
    else:
        lines.append("Connection: close")
    with socket.create_connection(("127.0.0.1", port), timeout=PATIENCE) as door:
        door.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
        answer = door.makefile("rb")
        head = b"".join(iter(answer.readline, b"\r\n")).decode()
        length = re.search(r"Content-Length: (\d+)", head)
        return int(head.split()[1]), head + answer.read(int(length[1]) if length else 0).decode()


OWN, OTHER = "http://127.0.0.1:{port}", "http://evil.example:{port}"


@pytest.mark.parametrize("host, path, origin, websocket, extra, status", [
    ("127.0.0.1:{port}", "/", None, False, (), 200),
    ("localhost:{port}", "/", "http://localhost:{port}", False, (), 200),
    ("127.0.0.1:{port}", "/ws", OWN, True, (), 101),
    ("evil.example:{port}", "/", None, False, (), 403),
    ("evil.example:{port}", "/static/js/bokeh.min.js", None, False, (), 403),
    ("127.0.0.1:{port}", "/", OTHER, False, (), 403),
    ("evil.example:{port}", "/ws", OTHER, True, (), 403),
    ("evil.example:{port}", "/ws", OTHER, True, ("Sec-Fetch-Site: same-origin",), 403),
    ("127.0.0.1:{port}", "/ws", OTHER, True, ("Sec-Fetch-Site: same-origin",), 403),
    ("127.0.0.1:{port}", "/ws", None, True, (), 403),
], ids=["own", "localhost", "own-websocket", "other-host", "other-host-static",
        "other-origin", "other-websocket", "other-same-site", "other-origin-same-site",
        "websocket-of-nowhere"])
def test_the_view_answers_only_its_own_host_and_origin(served_port, host, path, origin,
                                                        websocket, extra, status):
    answer = knock(served_port, host, path, origin, websocket, extra)
    assert answer[0] == status
    assert ("token" in answer[1] or "PARAM" in answer[1]) == (status == 200)


@pytest.mark.parametrize("browser", [["--host-resolver-rules=MAP evil.example 127.0.0.1"]],
                         indirect=True)
def test_a_page_of_another_name_for_127_0_0_1_reads_nothing(served_port, browser):
    browser.get(f"http://evil.example:{served_port}/")
    assert "403" in browser.title and "PARAM" not in browser.page_source
    tried = browser.execute_async_script(
        "const done = arguments[0];"
        "fetch('/static/js/bokeh.min.js').then(answer => {"
        "  const socket = new WebSocket(`ws://${location.host}/ws`);"
        "  socket.onopen = () => done([answer.status, 'open']);"
        "  socket.onerror = () => done([answer.status, 'refused']); });")
    assert tried == [403, "refused"]


@pytest.fixture
def page():
    """Builds in this process the page of the files given, drawing `columns` of the first; its
    View and document. The files are closed after."""
    numpy = pytest.importorskip("numpy")
    from bokeh.document import Document
    from vormant._followed import Followed
    from vormant._view import View, bokeh_modules

    files = []

    def build(paths, columns, follow=False):
        files[:] = [Followed(numpy, str(path), None, follow) for path in paths]
        document = Document()
        return View(bokeh_modules(), files, columns, follow, document), document

    yield build
    for file in files:
        file.plot_file.close()


def test_a_panel_draws_its_parameter_and_the_same_name_line_of_other_files(tmp_path, page):
    first = tmp_path / "first.txt"
    first.write_text(plot_text(["TIME", "A  U", "A  U", "X", "B"],
                               [["0", "1", "2", "3", "4"], ["1", "1", "2", "3", "4"]]))
    # Blanks around a name line do not count, blanks inside it do.
    second = tmp_path / "second.txt"
    second.write_text(plot_text(["TIME", "  A  U", "X  OTHER", "A U", "B   "],
                                [["0", "10", "30", "20", "40"], ["1", "10", "30", "20", "40"]]))
    _, document = page([first, second], [1, 2, 3, 4])
    drawn = {}
    for panel in range(4):
        for file in range(2):
            line = document.select_one({"name": f"line-{panel}-{file}"})
            drawn[panel, file] = line and set(line.data["y"].tolist())
    assert drawn == {(0, 0): {1}, (0, 1): {10}, (1, 0): {2}, (1, 1): None, (2, 0): {3},
                     (2, 1): None, (3, 0): {4}, (3, 1): {40}}


def test_a_fault_met_on_the_page_is_shown_there(tmp_path, page):
    path = tmp_path / "bad.txt"
    line = with_bad_field(write_plot(tmp_path, 4, 30, 12), path, 29, 3, 4, 12)
    view, document = page([path], [1])
    view.chooser.value = [view.labels[2]]
    assert f"{path}, line {line}:" in document.select_one({"name": "message"}).text


@pytest.mark.parametrize("shown", [(0.0, 1.5), (0.2, 0.3)], ids=["to-the-end", "zoomed-in"])
def test_follow_keeps_the_points_of_a_line_bounded(tmp_path, page, shown):
    whole = pathlib.Path(write_plot(tmp_path, 3, 20_000, 12)).read_text()
    starts = [match.start() for match in re.finditer(" TIME STEP", whole)]
    growing = tmp_path / "growing.txt"
    growing.write_text(whole[:starts[1500]])
    view, document = page([growing], [1], follow=True)
    view.x_range.update(start=shown[0], end=shown[1])
    view.redraw()
    line = document.select_one({"name": "line-0-0"})
    before = line.data["x"].tolist()
    for begin, end in zip(starts[1500::3000], (*starts[4500::3000], len(whole))):
        with growing.open("a") as more:
            more.write(whole[begin:end])
        view.follow()
    if shown[1] < 1.499:  # out of sight: nothing added
        assert line.data["x"].tolist() == before
    else:  # the view moves on with the run, drawn at the panel's width
        assert line.data["x"][-1] == view.x_range.end == pytest.approx(19.999)
        assert len(line.data["x"]) <= 4 * 800
