"""The live view in a real browser: Debian's headless chromium (driven by
selenium through Debian's chromedriver) opens the page the virtual
controller serves and checks what a person would see.

In this process, while the script moves two arms:
- both arms stand in one scene, each labelled with its address, each drawn
  where the page says (the links' orange inside each arm's region);
- the readout follows the motion, and once the arm rests every joint shown
  matches the controller within 0.01 deg (the TCP within 0.01 mm, 0.01 deg);
- the selector (or a label) chooses the readout: its error with its
  message, its IO lamps;
- a fault tints its arm red, the other stays orange; a joint at its limit is
  marked in the readout and on the arm (violet);
- the plots of the last seconds are drawn, "at rest" shows when nothing moves;
- placed with set_base, the two arms stand at their bases across a table,
  the scene's objects drawn where they are (the table's steel blue inside
  its region), the grid labelled every metre; an object that touches an
  arm tints the touching parts pink and marks each contact point yellow,
  and the tint goes with the object.

In child processes, as a person would run a short script:
- ZSIM_VIEW_WAIT: the script's first motion waits until the page is open,
  and the page sees the arm before it moves, then moving;
- ZSIM_VIEW_HOLD: after the script the page turns grey and says "script
  ended"; the process serves on until the page closes, then exits;
- a page whose script stops without a hold greys out and says the
  connection is lost.

Usage: .ci/view_browser.py OUTPUT_DIR   (saves the screenshots there; view.png,
two arms side by side, one moving and one stopped, and view-cell.png, two
placed arms across a table, one moving, one touching a ball, are the docs'
docs/images/view.png and docs/images/view-cell.png)
"""

import json
import math
import os
import re
import subprocess
import sys
import time

import velmo
import zandrel_sim
from PIL import Image
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

from view_page import body, browser, check, failures, matches, pixels_in_boxes, value, wait_for


def orange(rgb):
    r, g, b = rgb
    return r > 150 and r - g > 45 and g - b > 25 and b < 120


def red(rgb):
    r, g, b = rgb
    return r > 120 and r - g > 70 and abs(g - b) < 30


def violet(rgb):
    r, g, b = rgb
    return b > 150 and b - g > 60 and r < b - 20


def pink(rgb):  # the parts that touch something
    r, g, b = rgb
    return r > 140 and b - g > 25 and r - b > 50


def yellow(rgb):  # a contact's marker
    r, g, b = rgb
    return r > 200 and g > 180 and b < 90


def steel(rgb):  # the scene's objects
    r, g, b = rgb
    return b > 70 and b - r > 33 and g - r > 17 and b - g < 45


def on_the_arm(driver, path, address, kind):
    """How many pixels of a kind the screenshot at `path` has inside the
    arm's region but not on its label (whose ring can take the same hue)."""
    image = Image.open(path).convert("RGB")
    scale = image.width / driver.execute_script("return window.innerWidth")
    x0, y0, x1, y1 = (int(v * scale) for v in json.loads(body(driver, "data-arm-boxes"))[address])
    label = driver.find_element(By.CSS_SELECTOR, f'.arm-label[data-address="{address}"]').rect
    lx0, ly0 = (label["x"] - 4) * scale, (label["y"] - 4) * scale
    lx1, ly1 = (label["x"] + label["width"] + 4) * scale, (label["y"] + label["height"] + 4) * scale
    return sum(kind(image.getpixel((x, y))) for x in range(x0, x1 + 1) for y in range(y0, y1 + 1)
               if 0 <= x < image.width and 0 <= y < image.height and not (lx0 <= x <= lx1 and ly0 <= y <= ly1))


def near(path, driver, points, kinds, radius=12):
    """Counts of the pixels of each kind within `radius` CSS pixels of any of
    `points` on the screenshot at `path`."""
    image = Image.open(path).convert("RGB")
    scale = image.width / driver.execute_script("return window.innerWidth")
    pixels = image.load()
    counts = dict.fromkeys(kinds, 0)
    seen = set()
    for px, py in points:
        for y in range(int((py - radius) * scale), int((py + radius) * scale) + 1):
            for x in range(int((px - radius) * scale), int((px + radius) * scale) + 1):
                if (x, y) in seen or not (0 <= x < image.width and 0 <= y < image.height):
                    continue
                seen.add((x, y))
                for k, test in kinds.items():
                    counts[k] += test(pixels[x, y])
    return counts


def the_cell(driver, out):
    sim = zandrel_sim.Probe()
    sim.set_time_scale(1)
    robot = velmo.RC("127.0.0.1")
    assert robot.login() == (0,) and robot.power_on() == (0,) and robot.enable_robot() == (0,)
    url = sim.serve_view()
    second = velmo.RC("cell-2")  # a second controller: a name only, nothing is contacted
    assert second.login() == (0,) and second.power_on() == (0,) and second.enable_robot() == (0,)
    print(f"view at {url}", flush=True)

    driver.get(url)
    wait = WebDriverWait(driver, 30, poll_frequency=0.05)
    wait.until(lambda d: body(d, "data-arm-boxes") and len(eval(body(d, "data-arm-boxes"))) == 2)
    check("live" in driver.find_element(By.ID, "connection").text, "the page connects to the event stream")
    options = [o.text for o in Select(driver.find_element(By.ID, "arm-select")).options]
    check(options == ["127.0.0.1", "cell-2"], f"the selector lists both controllers {options}")
    labels = [e.text for e in driver.find_elements(By.CSS_SELECTOR, ".arm-label")]
    check(labels == ["127.0.0.1", "cell-2"], f"each arm is labelled with its address {labels}")
    check(wait_for(driver, lambda d: d.find_element(By.ID, "rate").text == "at rest"),
          "nothing moves: the page says \"at rest\"")

    # The readout follows a move as it happens (about 4 s): the page records
    # each change of joint 1's readout itself, so a slow browser under load
    # does not hide them.
    driver.execute_script("""
        window.joint1Changes = [];
        new MutationObserver(function () {
            window.joint1Changes.push(document.getElementById("joint-1").textContent);
        }).observe(document.getElementById("joint-1"), {childList: true, characterData: true, subtree: true});
    """)
    pose = (1.2, 1.25, -1.45, -1.3, -1.45, 0.3)
    assert robot.joint_move(pose, 0, False, 0.3) == (0,)
    assert second.joint_move((-0.6, 1.7, -1.9, -1.2, -1.5, 0.2), 0, False, 0.5) == (0,)
    start_samples = int(body(driver, "data-samples"))
    started = time.monotonic()
    rates = set()
    while value(robot.is_in_pos()) == 0 and time.monotonic() - started < 15:
        rates.add(driver.find_element(By.ID, "rate").text)
        time.sleep(0.1)
    elapsed = time.monotonic() - started
    rate = (int(body(driver, "data-samples")) - start_samples) / elapsed
    changes = driver.execute_script("return window.joint1Changes")
    print(f"     during the {elapsed:.2f} s move: joint 1's readout changed {len(changes)} times "
          f"({changes[:3]} ... {changes[-3:]}), {rate:.0f} samples/s received", flush=True)
    check(len(set(changes)) >= 20 and float(changes[-1]) == round(math.degrees(pose[0]), 2),
          "the joint readout follows the arm while it moves")
    check(rate >= 10, "samples keep arriving while the arm moves")
    check(any(re.fullmatch(r"\d+ updates/s", r) for r in rates), f"the rate shows while it moves {sorted(rates)}")
    check(wait_for(driver, lambda d: matches(d, robot)[0]),
          f"every joint and the TCP on the page match the controller within 0.01 (worst {matches(driver, robot)[1]})")
    plotted = int(body(driver, "data-plotted") or 0)
    check(plotted >= 20, f"the plots hold the move's samples ({plotted})")

    # IO lamps, a tool frame; then the second controller's fault, seen on its arm.
    assert robot.set_digital_output(0, 5, 1) == (0,)
    assert robot.set_tool_data(1, (0, 0, 120, 0, 0, 0), "probe") == (0,) and robot.set_tool_id(1) == (0,)
    lamp = driver.find_element(By.ID, "io-cabinet-out-5")
    check(wait_for(driver, lambda d: "on" in lamp.get_attribute("class")), "the cabinet output 5 lamp is lit")
    check(wait_for(driver, lambda d: d.find_element(By.ID, "tool-id").text == "1"), "the tool in use is shown")
    check(wait_for(driver, lambda d: matches(d, robot)[0]), "the TCP shown is the tool's")
    sim.trigger_fault("cell-2", 8)
    check(wait_for(driver, lambda d: "fault" in d.find_element(By.CSS_SELECTOR, '.arm-label[data-address="cell-2"]')
                   .get_attribute("class")), "the faulted arm's label says so")
    time.sleep(0.3)
    path = os.path.join(out, "view-fault.png")
    driver.save_screenshot(path)
    counts = pixels_in_boxes(driver, path, {"orange": orange, "red": red})
    print(f"     arm regions {counts}", flush=True)
    mine, stopped = counts["127.0.0.1"], counts["cell-2"]
    check(mine["orange"] >= 200 and mine["red"] <= 0.05 * mine["orange"], "the first arm is drawn, orange")
    check(stopped["red"] >= 200 and stopped["orange"] <= 0.05 * stopped["red"],
          "the arm in its protective stop is tinted red")
    check(counts[None]["orange"] <= 0.1 * mine["orange"], "and hardly any orange lies outside the arms")

    # The readout of the second controller, chosen by its label.
    driver.find_element(By.CSS_SELECTOR, '.arm-label[data-address="cell-2"]').click()
    message = value(second.get_last_error())[1]
    shown_error = wait.until(lambda d: d.find_element(By.ID, "error").text.startswith("8:")
                             and d.find_element(By.ID, "error").text)
    check(message in shown_error and "protective stop" in shown_error,
          f"a click on the label shows that controller's error and its message ({shown_error!r})")
    check(Select(driver.find_element(By.ID, "arm-select")).first_selected_option.text == "cell-2",
          "and the selector follows")
    check(wait_for(driver, lambda d: matches(d, second)[0]), "its joints are shown, not the first arm's")

    # A joint at its limit: in the readout and on the arm.
    Select(driver.find_element(By.ID, "arm-select")).select_by_value("127.0.0.1")
    upper6 = 2 * math.pi
    assert robot.joint_move(pose[:5] + (upper6,), 0, True, 3.0) == (0,)
    assert value(robot.is_on_limit()) == 1
    cell = driver.find_element(By.ID, "joint-6")
    check(wait_for(driver, lambda d: "at-limit" in cell.get_attribute("class")), "joint 6 at its limit is marked")
    check(all("at-limit" not in driver.find_element(By.ID, f"joint-{j}").get_attribute("class") for j in range(1, 6)),
          "and no other joint")
    time.sleep(0.3)
    path = os.path.join(out, "view-limit.png")
    driver.save_screenshot(path)
    counts = pixels_in_boxes(driver, path, {"violet": violet})
    check(counts["127.0.0.1"]["violet"] >= 30, f"its housing on the arm is violet ({counts['127.0.0.1']})")

    # The picture of the docs: the cell while the first arm moves (its trail
    # and target; joint 6 stays at its limit), the second in its protective stop.
    assert robot.joint_move((0.1, 1.7, -1.95, -1.3, -1.45, upper6), 0, False, 0.5) == (0,)
    time.sleep(1.3)
    driver.save_screenshot(os.path.join(out, "view.png"))
    assert robot.motion_abort() == (0,)
    log = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
    check(not log, f"no errors in the page's console {log}")
    return robot, second


# ---- the arms placed in a cell ---------------------------------------------------------

# Two arms 1.4 m apart along y, facing each other across a table.
BASES = {"127.0.0.1": [0, 0, 0, 0, 0, -math.pi / 2], "cell-2": [0, -1400, 0, 0, 0, math.pi / 2]}
TABLE = ([0, -700, 200, 0, 0, 0], [600, 500, 400])
BALL = ([128, -1100, 520], 80)  # over cell-2's wrist when it stands at home


def a_placed_cell(driver, out, robot, second):
    sim = zandrel_sim.Probe()
    for arm in (robot, second):
        arm.collision_recover()
        arm.clear_error()
    sim.set_time_scale(0)
    assert robot.joint_move((-0.2, 1.6, -1.7, -1.5, -1.57, 0), 0, True, 1.0) == (0,)
    assert second.joint_move((0, math.pi / 2, -math.pi / 2, -math.pi / 2, -math.pi / 2, 0), 0, True, 1.0) == (0,)
    sim.set_time_scale(1)
    for address, base in BASES.items():
        sim.set_base(address, base)
    sim.add_box("table", *TABLE)
    sim.add_box("part", [120, -600, 450, 0, 0, 0.4], [100, 100, 100])
    sim.add_cylinder("bin", [-150, -800, 475, 0, 0, 0], 60, 150)
    assert not sim.contacts("127.0.0.1") and not sim.contacts("cell-2")

    def drawn(d):
        bases = json.loads(body(d, "data-arm-bases") or "{}")
        return set(json.loads(body(d, "data-object-boxes") or "{}")) == {"table", "part", "bin"} and \
            all(bases.get(a, {}).get("world") == [round(v) for v in base[:3]] for a, base in BASES.items()) and bases
    bases = wait_for(driver, drawn)
    check(bool(bases), f"each arm is drawn at its base {body(driver, 'data-arm-bases')}")
    bases = bases or json.loads(body(driver, "data-arm-bases"))
    time.sleep(0.3)
    path = os.path.join(out, "view-placed.png")
    driver.save_screenshot(path)
    boxes = json.loads(body(driver, "data-arm-boxes"))
    for address, (x0, y0, x1, y1) in boxes.items():
        bx, by = bases[address]["screen"]
        check(x0 <= bx <= x1 and y1 - 0.3 * (y1 - y0) <= by <= y1 + 5,
              f"{address}'s body stands on its base: its foot at {bx, by}, its region {boxes[address]}")
        label = driver.find_element(By.CSS_SELECTOR, f'.arm-label[data-address="{address}"]').rect
        check(abs(label["x"] + label["width"] / 2 - bx) <= 2 and 0 <= label["y"] - by <= 30,
              f"{address}'s label is under its base")
    # seen from +x, -y: the arm standing further along -y is to the left
    check(boxes["cell-2"][0] < boxes["127.0.0.1"][0], f"the arms stand apart as placed {boxes}")
    counts = pixels_in_boxes(driver, path, {"orange": orange, "pink": pink, "yellow": yellow})
    check(all(counts[a]["orange"] >= 200 for a in BASES) and
          all(c["pink"] + c["yellow"] <= 5 for c in counts.values()),
          f"both arms drawn orange, nothing touches {counts}")
    objects = json.loads(body(driver, "data-object-boxes"))
    image = Image.open(path).convert("RGB")
    x0, y0, x1, y1 = objects["table"]
    table = sum(steel(image.getpixel((x, y))) for x in range(x0, x1, 2) for y in range(y0, y1, 2))
    check(table >= 0.3 * ((x1 - x0) // 2) * ((y1 - y0) // 2), f"the table is drawn in its region ({table} px)")
    regions = list(objects.values()) + list(boxes.values())
    scene_right = int(driver.find_element(By.ID, "scene").rect["width"])
    outside = sum(steel(image.getpixel((x, y))) for x in range(0, scene_right, 3) for y in range(0, image.height, 3)
                  if not any(a - 2 <= x <= c + 2 and b - 2 <= y <= d + 2 for a, b, c, d in regions))
    check(outside <= 20, f"and nothing steel-blue outside the objects and the arms ({outside} px)")
    scale = [e.get_attribute("textContent") for e in driver.find_elements(By.CSS_SELECTOR, ".scale-label")]
    metres = [int(t.split()[0]) for t in scale]
    check(metres == list(range(metres[0], metres[0] + len(metres))) and metres[0] <= -1 and metres[-1] >= 1,
          f"the grid's metre lines are labelled {scale}")
    check("100 mm" in driver.find_element(By.ID, "grid-scale").text, "and its squares' size said")

    # A ball over cell-2's wrist: the touching parts pink, each contact marked.
    sim.add_sphere("ball", *BALL)
    touching = sorted({c["link"] for c in sim.contacts("cell-2")})
    check(touching and not sim.contacts("127.0.0.1"), f"the ball touches cell-2's parts {touching}")
    marked = wait_for(driver, lambda d: json.loads(body(d, "data-arm-bases"))["cell-2"]["touching"] == touching
                      and json.loads(body(d, "data-contacts"))) or []
    check(bool(marked) and {(c["address"], c["other"]) for c in marked} == {("cell-2", "ball")} and
          len(marked) == len(sim.contacts("cell-2")), f"the page lists the contacts {marked}")
    check("touching" in driver.find_element(By.CSS_SELECTOR, '.arm-label[data-address="cell-2"]')
          .get_attribute("class"), "cell-2's label says it touches something")
    time.sleep(0.3)
    path = os.path.join(out, "view-contact.png")
    driver.save_screenshot(path)
    on_arms = {a: on_the_arm(driver, path, a, pink) for a in BASES}
    check(on_arms["cell-2"] >= 30 and on_arms["127.0.0.1"] <= 5,
          f"the touching parts are tinted pink, on that arm only {on_arms}")
    x0, y0, x1, y1 = json.loads(body(driver, "data-arm-boxes"))["cell-2"]
    points = [c["screen"] for c in marked]
    check(all(x0 <= x <= x1 and y0 <= y <= y1 for x, y in points), f"the contacts lie on the arm {points}")
    marks = near(path, driver, points, {"yellow": yellow})
    check(marks["yellow"] >= 20, f"a yellow marker at the contact points ({marks})")
    elsewhere = pixels_in_boxes(driver, path, {"yellow": yellow})
    check(elsewhere["127.0.0.1"]["yellow"] <= 3, "and none on the other arm")

    # The picture of the docs: the first arm moving over the table, the
    # second touching the ball. Then the ball goes, and the tint with it.
    assert robot.joint_move((0.5, 1.6, -1.7, -1.5, -1.57, 0.3), 0, False, 0.4) == (0,)
    time.sleep(1.4)
    driver.save_screenshot(os.path.join(out, "view-cell.png"))
    assert robot.motion_abort() == (0,)
    sim.remove("ball")
    check(not sim.contacts("127.0.0.1") and wait_for(driver, lambda d: body(d, "data-contacts") == "[]"),
          "the contacts go with the ball")
    time.sleep(0.3)
    path = os.path.join(out, "view-clear.png")
    driver.save_screenshot(path)
    on_arms = {a: on_the_arm(driver, path, a, pink) for a in BASES}
    marks = near(path, driver, points, {"yellow": yellow})
    check(all(n <= 5 for n in on_arms.values()) and marks["yellow"] <= 3,
          f"and so do the tint and the markers {on_arms} {marks}")
    log = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
    check(not log, f"no errors in the page's console {log}")


# ---- a short script, as a person runs it --------------------------------------------

SCRIPT = """
import sys, time
import velmo
robots = []
for address in ("127.0.0.1", "cell-2"):  # each logs in to the address it was made with
    robots.append(velmo.RC(address))
    assert robots[-1].login() == (0,) and robots[-1].power_on() == (0,) and robots[-1].enable_robot() == (0,)
start = time.monotonic()
assert robots[0].joint_move((0.8, 1.3, -1.2, -1.6, -1.5, 0.2), 0, True, 1.0) == (0,)
print("first motion after %.2f s" % (time.monotonic() - start), flush=True)
if "--stay" in sys.argv:
    time.sleep(60)
"""


def run_script(*arguments, **settings):
    env = dict(os.environ, ZSIM_VIEW="127.0.0.1:0", ZSIM_TIME_SCALE="1")
    env.update(settings)
    child = subprocess.Popen([sys.executable, "-c", SCRIPT, *arguments], env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    line = child.stderr.readline()
    found = re.search(r"http://\S+", line)
    assert found, line + child.stderr.read()
    return child, found.group(0)


def a_short_script(driver, out):
    # every change of joint 1's readout from the page's start, before its own scripts run
    driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": """
        window.joint1Changes = [];
        document.addEventListener("DOMContentLoaded", function () {
            var cell = document.getElementById("joint-1");
            new MutationObserver(function () { window.joint1Changes.push(cell.textContent); })
                .observe(cell, {childList: true, characterData: true, subtree: true});
        });"""})
    child, url = run_script(ZSIM_VIEW_WAIT="30", ZSIM_VIEW_HOLD="30")
    try:
        time.sleep(1.5)  # the person copies the URL
        check(child.poll() is None, "the script waits for a page before its first motion")
        driver.get(url)
        check(wait_for(driver, lambda d: float(d.find_element(By.ID, "joint-1").text or 0) > 10),
              "the page sees the arm move")
        shown = driver.execute_script("return window.joint1Changes")
        check(shown[:1] == ["0.00"] and len(set(shown)) >= 10,
              f"from where it stood before the motion ({shown[:3]} ... {shown[-2:]})")
        labels = [e.text for e in driver.find_elements(By.CSS_SELECTOR, ".arm-label")]
        check(labels == ["127.0.0.1", "cell-2"], f"both arms of the script stand in the scene {labels}")
        check(wait_for(driver, lambda d: body(d, "data-script") == "ended", timeout=20),
              "the page learns that the script ended")
        stale = driver.find_element(By.ID, "stale")
        check(stale.is_displayed() and "script ended" in stale.text, f"and says so over the scene ({stale.text!r})")
        check("stale" in driver.find_element(By.TAG_NAME, "body").get_attribute("class"), "the page is greyed")
        time.sleep(0.3)
        path = os.path.join(out, "view-ended.png")
        driver.save_screenshot(path)
        counts = pixels_in_boxes(driver, path, {"orange": orange})
        check(counts["127.0.0.1"]["orange"] <= 20, f"no colour left on the arm ({counts['127.0.0.1']})")
        waited = float(re.search(r"after ([0-9.]+) s", child.stdout.readline()).group(1))
        check(waited >= 1.4, f"the first motion waited for the page ({waited:.2f} s)")
        time.sleep(2)
        check(child.poll() is None, "the view serves on while the page is open")
        closed = time.monotonic()
        driver.get("about:blank")
        try:
            child.wait(10)
        except subprocess.TimeoutExpired:
            pass
        check(child.poll() == 0 and time.monotonic() - closed < 5,
              f"the process exits once its page closes ({time.monotonic() - closed:.1f} s)")
    finally:
        if child.poll() is None:
            child.kill()
        child.communicate()

    child, url = run_script("--stay")
    try:
        driver.get(url)
        check(wait_for(driver, lambda d: body(d, "data-script") == "running"), "a page of a running script is live")
        child.kill()
        check(wait_for(driver, lambda d: body(d, "data-script") == "lost", timeout=10),
              "when its process goes, the page knows")
        stale = driver.find_element(By.ID, "stale")
        check(stale.is_displayed() and "connection lost" in stale.text, f"and says so, greyed ({stale.text!r})")
        driver.save_screenshot(os.path.join(out, "view-lost.png"))
    finally:
        if child.poll() is None:
            child.kill()
        child.communicate()


def main(out):
    os.makedirs(out, exist_ok=True)
    for old in os.listdir(out):
        if old.endswith(".png"):
            os.remove(os.path.join(out, old))
    driver = browser()
    try:
        a_placed_cell(driver, out, *the_cell(driver, out))
        a_short_script(driver, out)
    finally:
        driver.quit()
    print(f"{len(failures)} failed" if failures else "view in the browser: all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "build/view"))
