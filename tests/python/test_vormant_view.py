"""`vormant view` in a real browser: Debian's chromium, headless, driven by Selenium against a
server the test starts. Screenshots of each state are kept in build/view-screenshots/."""

import pathlib
import shutil
import signal
import subprocess
import sys

import pytest
from conftest import child_environment
from vormant_files import ROOT, write_plot

pytest.importorskip("bokeh", reason="vormant view needs bokeh (the view extra)")
webdriver = pytest.importorskip("selenium.webdriver", reason="the browser tests need selenium")
from selenium.webdriver.common.action_chains import ActionChains, ScrollOrigin  # noqa: E402
from selenium.webdriver.support.wait import WebDriverWait  # noqa: E402

BROWSER, DRIVER = shutil.which("chromium"), shutil.which("chromedriver")
pytestmark = pytest.mark.skipif(
    not (BROWSER and DRIVER),
    reason="the browser tests need Debian's chromium and chromium-driver (tools/install-deps.sh)")
SCREENSHOTS = ROOT / "build" / "view-screenshots"
# How long the page may take to show a state: a generous bound for a loaded machine, not a
# measure of speed.
PATIENCE = 30


@pytest.fixture
def view(tmp_path):
    """Starts `vormant view --no-browser --port 0` on the files and arguments given; its
    address."""
    servers = []

    def start(*args):
        server = subprocess.Popen(
            [sys.executable, "-m", "vormant", "view", "--no-browser", "--port", "0", *args],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=child_environment())
        servers.append(server)
        line = server.stdout.readline()
        assert line.startswith("vormant view: http://127.0.0.1:"), server.stderr.read()
        return line.split()[-1]

    yield start
    for server in servers:  # Ctrl-C ends the view, quietly, with status 0
        server.send_signal(signal.SIGINT)
        assert server.wait() == 0
        assert "Traceback" not in server.stderr.read()


@pytest.fixture
def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = BROWSER
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1200,800"):
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
    cut = whole.index(" TIME STEP     1001")
    path = tmp_path / "growing.txt"
    path.write_text(whole[:cut])
    browser.get(view(str(path), "--follow", "-p", "1"))
    wait_for(browser, lambda: (model(browser, "line-0-0", "data") or [0])[-1] > 0.998)
    screenshot(browser, "following")
    code = "import sys; open(sys.argv[1], 'a').write(sys.stdin.read())"
    subprocess.run([sys.executable, "-c", code, str(path)], input=whole[cut:], text=True,
                   check=True)
    wait_for(browser, lambda: model(browser, "line-0-0", "data")[-1] == pytest.approx(2.999))
    assert model(browser, "time", "end") == pytest.approx(2.999)
    assert shows_blue_line(screenshot(browser, "followed"))
