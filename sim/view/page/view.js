/*
 * The live view of the virtual arms: follows the state the library streams
 * (/events, a sample whenever it changes), draws every arm of the process
 * (scene.js), the selected one's readout and its last seconds (plots.js).
 * A page whose script has ended, or whose stream is lost, greys out and
 * says so; it keeps trying to reconnect and comes back with the next run.
 * Nothing here can command the arm.
 */
(function () {
  "use strict";

  var DEG = 180 / Math.PI;
  var NEAR = 0.05;             /* of a joint's range: near its limit */
  var PROGRAM_STATES = ["idle", "running", "paused", "stopped by an error"];

  var geometry = null;         /* /arm.json */
  var state = null;            /* the latest sample */
  var selected = decodeURIComponent(location.hash.slice(1));
  var samplesSeen = 0;
  var arrivals = [];           /* times of the samples of the last second */
  var connected = false;

  function current() {
    if (!state || !state.controllers.length)
      return null;
    for (var i = 0; i < state.controllers.length; i++)
      if (state.controllers[i].address === selected)
        return state.controllers[i];
    return state.controllers[0];
  }

  function text(id, value) {
    var element = document.getElementById(id);
    if (element.textContent !== value)
      element.textContent = value;
  }

  function lamp(element, on) {
    element.className = on ? "lamp on" : "lamp";
  }

  /* ---- the readout ----------------------------------------------------------- */

  function showJoints(arm) {
    for (var j = 0; j < 6; j++) {
      var lower = geometry.lower_limit[j], upper = geometry.upper_limit[j];
      var atLimit = arm.at_limit[j];
      var near = Math.min(arm.joints[j] - lower, upper - arm.joints[j]) < NEAR * (upper - lower);
      var cell = document.getElementById("joint-" + (j + 1));
      text("joint-" + (j + 1), (arm.joints[j] * DEG).toFixed(2));
      cell.className = atLimit ? "at-limit" : "";
      cell.title = atLimit ? "at its limit" : "";
      var bar = document.getElementById("bar-" + (j + 1));
      bar.style.left = (100 * (arm.joints[j] - lower) / (upper - lower)).toFixed(2) + "%";
      bar.parentNode.className = "track" + (atLimit ? " at-limit" : near ? " near" : "");
      bar.parentNode.title = "joint " + (j + 1) + " between " + (lower * DEG).toFixed(0) + " and " +
        (upper * DEG).toFixed(0) + " deg";
    }
  }

  function show(arm) {
    document.getElementById("empty").hidden = !!arm;
    document.body.dataset.address = arm ? arm.address : "";
    if (!arm)
      return;
    showJoints(arm);
    var names = ["x", "y", "z", "rx", "ry", "rz"];
    for (var k = 0; k < 6; k++)
      text("tcp-" + names[k], (k < 3 ? arm.tcp[k] : arm.tcp[k] * DEG).toFixed(2));
    text("tool-id", String(arm.tool_id));
    text("user-frame-id", String(arm.user_frame_id));
    lamp(document.getElementById("powered"), arm.powered && !arm.shut_down);
    lamp(document.getElementById("enabled"), arm.enabled);
    lamp(document.getElementById("servo-mode"), arm.servo_mode);
    lamp(document.getElementById("in-position"), arm.in_position);
    text("queued", arm.queued ? arm.queued + " queued" : "");
    text("rapid-rate", arm.rapid_rate.toFixed(2));
    var error = document.getElementById("error");
    error.className = arm.error.code ? "active" : "";
    var stop = arm.collision && arm.error.message.indexOf("protective stop") < 0 ? " (protective stop)" : "";
    text("error", arm.shut_down ? "shut down" : arm.error.code ? arm.error.code + ": " + arm.error.message + stop
      : "none");
    var program = arm.program.name ? arm.program.name + ", line " + arm.program.line + ", " +
      (PROGRAM_STATES[arm.program.state] || arm.program.state) : "none";
    text("program", program);
    text("time-scale", String(state.time_scale));
    showIo(arm.io);
  }

  function showIo(io) {
    var box = document.getElementById("io");
    if (!box.childNodes.length) {
      ["cabinet", "tool", "extension"].forEach(function (type) {
        var group = document.createElement("div");
        group.className = "io-group";
        var label = document.createElement("span");
        label.className = "label";
        label.textContent = type;
        group.appendChild(label);
        ["in", "out"].forEach(function (kind) {
          var row = document.createElement("div");
          row.className = "io-row";
          var name = document.createElement("span");
          name.className = "kind";
          name.textContent = kind;
          row.appendChild(name);
          for (var c = 0; c < io[type][kind].length; c++) {
            var l = document.createElement("span");
            l.className = "lamp";
            l.id = "io-" + type + "-" + kind + "-" + c;
            l.title = type + " digital " + kind + "put " + c;
            row.appendChild(l);
          }
          group.appendChild(row);
        });
        box.appendChild(group);
      });
    }
    for (var type in io)
      for (var kind in io[type])
        for (var c = 0; c < io[type][kind].length; c++)
          lamp(document.getElementById("io-" + type + "-" + kind + "-" + c), io[type][kind][c] !== 0);
  }

  function fillSelector() {
    var select = document.getElementById("arm-select");
    var addresses = state.controllers.map(function (c) { return c.address; });
    var listed = Array.prototype.map.call(select.options, function (o) { return o.value; });
    if (addresses.join("\n") !== listed.join("\n")) {
      select.textContent = "";
      addresses.forEach(function (a) {
        var option = document.createElement("option");
        option.value = option.textContent = a;
        select.appendChild(option);
      });
    }
    var arm = current();
    if (arm)
      select.value = arm.address;
  }

  /* ---- live, ended or lost ------------------------------------------------------ */

  /* A page that shows no running script is greyed and says why. */
  function showLiveness() {
    var ended = !!state && state.script === "ended";
    var stale = ended || !connected;
    document.body.classList.toggle("stale", stale);
    document.body.dataset.script = ended ? "ended" : connected ? "running" : "lost";
    text("stale-title", ended ? "script ended" : "connection lost");
    text("stale-detail", ended ? "the view serves on until this page closes; the arm is shown as it was left"
      : "the script has ended or stopped; this page reconnects to the next run by itself");
    var badge = document.getElementById("connection");
    badge.textContent = ended ? "script ended" : connected ? "live" : "reconnecting";
    badge.className = "badge " + (ended ? "ended" : connected ? "live" : "lost");
  }

  function showRate() {
    var now = performance.now();
    while (arrivals.length && now - arrivals[0] > 1000)
      arrivals.shift();
    text("rate", !connected ? "" : arrivals.length ? arrivals.length + " updates/s" : "at rest");
    var arm = current();
    if (arm)
      ViewPlots.draw(arm.address, now);
  }

  function receive(sample) {
    var now = performance.now();
    state = sample;
    samplesSeen++;
    arrivals.push(now);
    state.controllers.forEach(function (arm) { ViewPlots.record(arm, now); });
    ViewPlots.forget(state.controllers.map(function (c) { return c.address; }));
    refresh();
    document.body.dataset.samples = String(samplesSeen);
  }

  function refresh() {
    fillSelector();
    var arm = current();
    show(arm);
    ViewScene.show(state.controllers, arm, state.scene);
    showLiveness();
    if (arm)
      ViewPlots.draw(arm.address, performance.now());
  }

  function choose(address) {
    selected = address;
    location.hash = encodeURIComponent(address);
    if (state)
      refresh();
  }

  /* ---- start ------------------------------------------------------------------- */

  document.getElementById("arm-select").addEventListener("change", function (event) {
    choose(event.target.value);
  });
  ViewScene.onpick = choose;

  fetch("arm.json").then(function (r) { return r.json(); }).then(function (arm) {
    geometry = arm;
    ViewScene.start(arm);
    ViewPlots.start(arm);
    showLiveness();
    setInterval(showRate, 250);
    var events = null;
    function listen() {
      events = new EventSource("events");
      events.onopen = function () { connected = true; showLiveness(); };
      events.onerror = function () { connected = false; showLiveness(); };
      events.onmessage = function (message) { receive(JSON.parse(message.data)); };
    }
    /* A page the browser keeps for its back button stops watching: the view
     * knows when its last page is gone (and may end a script's hold). */
    window.addEventListener("pagehide", function () { events.close(); connected = false; });
    window.addEventListener("pageshow", function (event) { if (event.persisted) listen(); });
    listen();
  });
})();
