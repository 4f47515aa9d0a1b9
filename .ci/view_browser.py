"""The live view in a real browser: Debian's headless chromium (driven by
selenium through Debian's chromedriver) opens the page that this process's
virtual controller serves while the script moves two arms, and checks what a
person would see:

- the readout follows the motion, and once the arm rests every joint shown
  matches the controller within 0.01 deg (and the TCP within 0.01 mm and
  0.01 deg);
- the selector lists each controller; choosing one shows its state: its
  error with its message, its IO lamps;
- the screenshot is not blank and shows the arm: pixels of the links' orange
  inside the region where the page says it drew the arm, few outside.

Usage: .ci/view_browser.py OUTPUT_DIR   (saves view.png there)
"""

import math
import os
import sys
import time

import velmo
import zandrel_sim
from PIL import Image
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

CHROMIUM = os.environ.get("CHROMIUM", "/usr/bin/chromium")
CHROMEDRIVER = os.environ.get("CHROMEDRIVER", "/usr/bin/chromedriver")
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def value(result):
    assert result[0] == 0, result
    return result[1]


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1280,800",
                 "--use-gl=swiftshader", "--enable-unsafe-swiftshader", "--ignore-gpu-blocklist",
                 "--force-device-scale-factor=1", "--no-first-run", "--disable-extensions"):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def readout(driver, names):
    return [float(driver.find_element(By.ID, n).text) for n in names]


JOINTS = [f"joint-{n}" for n in range(1, 7)]
TCP = ["tcp-x", "tcp-y", "tcp-z", "tcp-rx", "tcp-ry", "tcp-rz"]


def matches(driver, robot):
    """The page's readouts against the controller: joints in degrees, TCP in mm and degrees."""
    q = [math.degrees(v) for v in value(robot.get_joint_position())]
    p = value(robot.get_tcp_position())
    p = p[:3] + [math.degrees(v) for v in p[3:]]
    try:
        shown_q, shown_p = readout(driver, JOINTS), readout(driver, TCP)
    except ValueError:
        return False, None
    worst = max(max(abs(a - b) for a, b in zip(shown_q, q)), max(abs(a - b) for a, b in zip(shown_p, p)))
    return worst <= 0.01, worst


def screenshot_shows_the_arm(driver, path):
    driver.save_screenshot(path)
    image = Image.open(path).convert("RGB")
    scale = image.width / driver.execute_script("return window.innerWidth")
    box = [int(float(v) * scale) for v in driver.find_element(By.TAG_NAME, "body").get_attribute("data-arm-box")
           .split(",")]
    pixels = image.load()
    colours = image.getcolors(maxcolors=1 << 20) or []

    def orange(rgb):
        r, g, b = rgb
        return r > 150 and r - g > 45 and g - b > 25 and b < 120

    inside = outside = 0
    area = 0
    for y in range(0, image.height, 2):
        for x in range(0, image.width, 2):
            hit = orange(pixels[x, y])
            if box[0] <= x <= box[2] and box[1] <= y <= box[3]:
                area += 1
                inside += hit
            else:
                outside += hit
    print(f"     screenshot {image.width}x{image.height}, {len(colours)} colours, arm box {box}, "
          f"orange pixels inside {inside} of {area} sampled, outside {outside}")
    check(len(colours) > 200, "the screenshot is not blank")
    check(area > 0 and inside >= max(200, 0.03 * area), "the arm's orange fills part of the arm's region")
    check(outside <= 0.1 * inside, "and hardly any orange lies outside it")


def main(out):
    os.makedirs(out, exist_ok=True)
    for old in ("view.png", "view-moving.png", "view-second.png"):
        if os.path.exists(os.path.join(out, old)):
            os.remove(os.path.join(out, old))
    sim = zandrel_sim.Probe()
    sim.set_time_scale(1)
    robot = velmo.RC("127.0.0.1")
    assert robot.login() == (0,) and robot.power_on() == (0,) and robot.enable_robot() == (0,)
    url = sim.serve_view()
    second = velmo.RC("cell-2")  # a second controller: a name only, nothing is contacted
    assert second.login() == (0,)
    print(f"view at {url}", flush=True)

    driver = browser()
    try:
        driver.get(url)
        wait = WebDriverWait(driver, 30, poll_frequency=0.05)
        wait.until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-arm-box"))
        check("live" in driver.find_element(By.ID, "connection").text, "the page connects to the event stream")
        options = [o.text for o in Select(driver.find_element(By.ID, "arm-select")).options]
        check(options == ["127.0.0.1", "cell-2"], f"the selector lists both controllers {options}")

        # The readout follows a move as it happens (about 4 s): the page
        # records each change of joint 1's readout itself, so a slow browser
        # under load does not hide them.
        driver.execute_script("""
            window.joint1Changes = [];
            new MutationObserver(function () {
                window.joint1Changes.push(document.getElementById("joint-1").textContent);
            }).observe(document.getElementById("joint-1"), {childList: true, characterData: true, subtree: true});
        """)
        pose = (1.2, 1.25, -1.45, -1.3, -1.45, 0.3)
        assert robot.joint_move(pose, 0, False, 0.3) == (0,)
        start_frames = int(driver.find_element(By.TAG_NAME, "body").get_attribute("data-frames"))
        started = time.monotonic()
        while value(robot.is_in_pos()) == 0 and time.monotonic() - started < 15:
            if time.monotonic() - started > 2 and not os.path.exists(os.path.join(out, "view-moving.png")):
                driver.save_screenshot(os.path.join(out, "view-moving.png"))  # with the target and the trail
            time.sleep(0.05)
        elapsed = time.monotonic() - started
        rate = (int(driver.find_element(By.TAG_NAME, "body").get_attribute("data-frames")) - start_frames) / elapsed
        changes = driver.execute_script("return window.joint1Changes")
        print(f"     during the {elapsed:.2f} s move: joint 1's readout changed {len(changes)} times "
              f"({changes[:3]} ... {changes[-3:]}), {rate:.0f} frames/s received", flush=True)
        check(len(set(changes)) >= 20 and float(changes[-1]) == round(math.degrees(pose[0]), 2),
              "the joint readout follows the arm while it moves")
        check(rate >= 10, "frames keep arriving while the arm moves")
        try:
            wait.until(lambda d: matches(d, robot)[0])
        except Exception:
            pass
        ok, worst = matches(driver, robot)
        check(ok, f"every joint and the TCP on the page match the controller within 0.01 (worst {worst})")

        # IO lamps, a tool frame, and the second controller's error.
        assert robot.set_digital_output(0, 5, 1) == (0,)
        assert robot.set_tool_data(1, (0, 0, 120, 0, 0, 0), "probe") == (0,) and robot.set_tool_id(1) == (0,)
        lamp = driver.find_element(By.ID, "io-cabinet-out-5")
        check(wait.until(lambda d: "on" in lamp.get_attribute("class")), "the cabinet output 5 lamp is lit")
        check(wait.until(lambda d: d.find_element(By.ID, "tool-id").text == "1"), "the tool in use is shown")
        check(wait.until(lambda d: matches(d, robot)[0]), "the TCP shown is the tool's")
        screenshot_shows_the_arm(driver, os.path.join(out, "view.png"))

        sim.trigger_fault("cell-2", 8)
        Select(driver.find_element(By.ID, "arm-select")).select_by_value("cell-2")
        message = value(second.get_last_error())[1]
        shown_error = wait.until(lambda d: d.find_element(By.ID, "error").text.startswith("8:")
                                 and d.find_element(By.ID, "error").text)
        check(message in shown_error and "protective stop" in shown_error,
              f"the selected controller's error and its message are shown ({shown_error!r})")
        check(wait.until(lambda d: matches(d, second)[0]), "its joints are shown, not the first arm's")
        driver.save_screenshot(os.path.join(out, "view-second.png"))
        log = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
        check(not log, f"no errors in the page's console {log}")
    finally:
        driver.quit()
    print(f"{len(failures)} failed" if failures else "view in the browser: all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "build/view"))
