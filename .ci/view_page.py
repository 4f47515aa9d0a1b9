"""What .ci/view_browser.py needs to drive the live view's page: the
browser, the page's readouts and data attributes, its screenshots."""

import json
import math
import os
import time

from PIL import Image
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

CHROMIUM = os.environ.get("CHROMIUM", "/usr/bin/chromium")
CHROMEDRIVER = os.environ.get("CHROMEDRIVER", "/usr/bin/chromedriver")
JOINTS = [f"joint-{n}" for n in range(1, 7)]
TCP = ["tcp-x", "tcp-y", "tcp-z", "tcp-rx", "tcp-ry", "tcp-rz"]
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


def body(driver, attribute):
    return driver.find_element(By.TAG_NAME, "body").get_attribute(attribute)


def wait_for(driver, condition, timeout=15):
    """condition(driver)'s first true value, or False after `timeout` seconds."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            got = condition(driver)
        except Exception:  # the page between two states: ask again
            got = False
        if got:
            return got
        time.sleep(0.05)
    return False


def readout(driver, names):
    return [float(driver.find_element(By.ID, n).text) for n in names]


def matches(driver, robot):
    """The page's readouts against the controller: joints in degrees, TCP in
    mm and degrees; (within 0.01, the worst difference)."""
    q = [math.degrees(v) for v in value(robot.get_joint_position())]
    p = value(robot.get_tcp_position())
    p = p[:3] + [math.degrees(v) for v in p[3:]]
    try:
        shown_q, shown_p = readout(driver, JOINTS), readout(driver, TCP)
    except ValueError:
        return False, None
    worst = max(max(abs(a - b) for a, b in zip(shown_q, q)), max(abs(a - b) for a, b in zip(shown_p, p)))
    return worst <= 0.01, worst


def pixels_in_boxes(driver, path, kinds):
    """Counts of the pixels of each kind (a test of an RGB triple) inside each
    arm's region on the screenshot at `path` (the page's data-arm-boxes, in
    CSS pixels), and in the rest of the scene (key None); every other pixel."""
    image = Image.open(path).convert("RGB")
    scale = image.width / driver.execute_script("return window.innerWidth")
    boxes = {a: [int(v * scale) for v in box] for a, box in json.loads(body(driver, "data-arm-boxes")).items()}
    scene = driver.find_element(By.ID, "scene").rect
    scene_right = int((scene["x"] + scene["width"]) * scale)
    counts = {a: dict.fromkeys(kinds, 0) for a in list(boxes) + [None]}
    pixels = image.load()
    for y in range(0, image.height, 2):
        for x in range(0, scene_right, 2):
            hits = [k for k, test in kinds.items() if test(pixels[x, y])]
            if not hits:
                continue
            inside = [a for a, (x0, y0, x1, y1) in boxes.items() if x0 <= x <= x1 and y0 <= y <= y1]
            for where in inside or [None]:
                for k in hits:
                    counts[where][k] += 1
    print(f"     screenshot {os.path.basename(path)} {image.width}x{image.height}, "
          f"{len(image.getcolors(maxcolors=1 << 20) or [])} colours", flush=True)
    return counts
