/*
 * The last seconds of each joint of the selected arm: its position against
 * its limits and its speed against its maximum, drawn from the samples the
 * page receives. A speed is the change of the joint between two samples
 * over the change of their joints_time (the arm's own cycle clock), so it
 * does not depend on when the samples arrive; at time scale 0 a move takes
 * no time and shows no speed.
 */
var ViewPlots = (function () {
  "use strict";

  var SECONDS = 10;            /* shown, of the page's own time */
  var REST_AFTER = 250;        /* ms without a sample: the arm rests */
  var POSITION_COLOUR = "#1c7ed6", SPEED_COLOUR = "#e8590c", LIMIT_COLOUR = "#7048e8";

  var geometry = null;
  var histories = {};          /* address -> [{wall, sim, q, v}] */
  var canvases = [];           /* per joint: {position, speed} */

  function start(armGeometry) {
    geometry = armGeometry;
    var box = document.getElementById("plots");
    for (var j = 0; j < 6; j++) {
      var row = document.createElement("div");
      row.className = "plot-row";
      var name = document.createElement("span");
      name.className = "plot-joint";
      name.textContent = String(j + 1);
      row.appendChild(name);
      var pair = {};
      ["position", "speed"].forEach(function (kind) {
        var canvas = document.createElement("canvas");
        canvas.className = "plot " + kind;
        canvas.id = "plot-" + kind + "-" + (j + 1);
        canvas.width = 136;
        canvas.height = 34;
        canvas.title = "joint " + (j + 1) + ": " + (kind === "position"
          ? "position between its limits" : "speed within its maximum") + ", last " + SECONDS + " s";
        row.appendChild(canvas);
        pair[kind] = canvas;
      });
      box.appendChild(row);
      canvases.push(pair);
    }
  }

  function record(arm, now) {
    var history = histories[arm.address] || (histories[arm.address] = []);
    var v = [0, 0, 0, 0, 0, 0];
    var last = history[history.length - 1];
    var dt = last ? arm.joints_time - last.sim : 0;
    if (dt > 0 && now - last.wall < 4 * REST_AFTER)  /* not from the rest before a motion */
      for (var j = 0; j < 6; j++)
        v[j] = (arm.joints[j] - last.q[j]) / dt;
    else if (last && dt === 0 && !arm.in_position)
      v = last.v;                /* still moving, no cycle since the last sample */
    history.push({wall: now, sim: arm.joints_time, q: arm.joints.slice(), v: v});
    while (history.length > 1 && now - history[0].wall > SECONDS * 1000)
      history.shift();
  }

  function forget(addresses) {
    Object.keys(histories).forEach(function (a) {
      if (addresses.indexOf(a) < 0)
        delete histories[a];
    });
  }

  /* One trace: value(point) in [low, high] across the last SECONDS, with
   * the bounds as lines; after the last point, `rest` of it until now. */
  function trace(canvas, history, now, value, low, high, colour, rest) {
    var g = canvas.getContext("2d");
    var w = canvas.width, h = canvas.height, pad = 3;
    var y = function (v) { return pad + (h - 2 * pad) * (high - Math.max(low, Math.min(high, v))) / (high - low); };
    var x = function (t) { return w * (1 - (now - t) / (SECONDS * 1000)); };
    g.clearRect(0, 0, w, h);
    g.strokeStyle = LIMIT_COLOUR;
    g.setLineDash([3, 3]);
    g.lineWidth = 1;
    g.beginPath();
    g.moveTo(0, y(high)); g.lineTo(w, y(high));
    g.moveTo(0, y(low)); g.lineTo(w, y(low));
    g.stroke();
    g.setLineDash([]);
    g.strokeStyle = "#adb5bd";
    g.beginPath();
    g.moveTo(0, y(0)); g.lineTo(w, y(0));
    g.stroke();
    if (!history.length)
      return;
    g.strokeStyle = colour;
    g.lineWidth = 1.5;
    g.beginPath();
    history.forEach(function (p, n) {
      if (n) g.lineTo(x(p.wall), y(value(p))); else g.moveTo(x(p.wall), y(value(p)));
    });
    var last = history[history.length - 1];
    g.lineTo(x(last.wall), y(rest(last)));
    g.lineTo(w, y(rest(last)));
    g.stroke();
  }

  /* The selected arm's plots, as of `now` (the page's clock). */
  function draw(address, now) {
    var history = histories[address] || [];
    var resting = !history.length || now - history[history.length - 1].wall > REST_AFTER;
    for (var j = 0; j < 6; j++) {
      (function (j) {
        var lower = geometry.lower_limit[j], upper = geometry.upper_limit[j], top = geometry.max_speed[j];
        trace(canvases[j].position, history, now, function (p) { return p.q[j]; }, lower, upper, POSITION_COLOUR,
          function (p) { return p.q[j]; });
        trace(canvases[j].speed, history, now, function (p) { return p.v[j]; }, -top, top, SPEED_COLOUR,
          function (p) { return resting ? 0 : p.v[j]; });
      })(j);
    }
    document.body.dataset.plotted = String(history.length);
  }

  return {start: start, record: record, forget: forget, draw: draw};
})();
