/*
 * The live view of the virtual arm: draws the selected controller's arm from
 * the geometry the library serves (/arm.json) and follows its state
 * (/events, a frame whenever it changes). Nothing here can command the arm.
 *
 * Robot coordinates (millimetres, z up) live in one group, `world`, turned
 * and scaled into three.js's (metres, y up).
 */
(function () {
  "use strict";

  var DEG = 180 / Math.PI;
  var TRAIL_SECONDS = 5;
  var TRAIL_POINTS = 2400;
  var ARM_COLOUR = 0xff7a1a;   /* links: tests look for this hue in the screenshot */
  var JOINT_COLOUR = 0x3d4450;
  var TARGET_COLOUR = 0x2f9e44;
  var TRAIL_COLOUR = 0x1c7ed6;

  var geometry = null;         /* /arm.json */
  var state = null;            /* the latest frame */
  var selected = decodeURIComponent(location.hash.slice(1));
  var trails = {};             /* address -> [{t, x, y, z}] */
  var framesSeen = 0;
  var arrivals = [];           /* times of the frames of the last second */
  var dirty = true;

  /* ---- the scene ------------------------------------------------------------ */

  var container = document.getElementById("scene");
  var renderer = new THREE.WebGLRenderer({antialias: true, preserveDrawingBuffer: true});
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  renderer.setClearColor(0xdde3ea);
  container.appendChild(renderer.domElement);

  var scene = new THREE.Scene();
  var camera = new THREE.PerspectiveCamera(40, 1, 0.01, 50);
  camera.position.set(1.55, 1.05, 1.35);
  var controls = new THREE.OrbitControls(camera, renderer.domElement);
  controls.target.set(0.2, 0.3, 0);
  controls.update();
  controls.addEventListener("change", function () { dirty = true; });

  scene.add(new THREE.HemisphereLight(0xffffff, 0x8090a0, 0.75));
  var sun = new THREE.DirectionalLight(0xffffff, 0.7);
  sun.position.set(2, 4, 3);
  scene.add(sun);
  var grid = new THREE.GridHelper(2, 20, 0x9aa5b1, 0xbcc5cf);
  grid.position.y = -0.06;          /* the floor the pedestal stands on */
  scene.add(grid);

  var world = new THREE.Group();
  world.rotation.x = -Math.PI / 2;  /* robot z up is three's y up */
  world.scale.setScalar(0.001);     /* mm to m */
  scene.add(world);
  world.add(new THREE.AxesHelper(150));

  var armGroup = new THREE.Group();
  world.add(armGroup);
  var links = [];                   /* per joint: a group placed at F(i-1) * Rz(q_i) */
  var flangeMarker = new THREE.Group();
  var toolAxes = new THREE.AxesHelper(90);
  var toolStem = lineBetween(0x495057);
  var userAxes = new THREE.AxesHelper(120);
  var targetMarker = new THREE.Group();
  var targetLine = lineBetween(TARGET_COLOUR);
  world.add(flangeMarker, userAxes, targetMarker, targetLine);
  flangeMarker.add(toolAxes, toolStem);
  flangeMarker.matrixAutoUpdate = false;
  userAxes.matrixAutoUpdate = false;
  targetMarker.matrixAutoUpdate = false;
  targetMarker.add(onTop(new THREE.Mesh(new THREE.SphereBufferGeometry(16, 20, 14),
    new THREE.MeshBasicMaterial({color: TARGET_COLOUR, transparent: true, opacity: 0.7}))));
  targetMarker.add(new THREE.AxesHelper(60));

  var trailGeometry = new THREE.BufferGeometry();
  trailGeometry.setAttribute("position", new THREE.BufferAttribute(new Float32Array(TRAIL_POINTS * 3), 3));
  var trailLine = onTop(new THREE.Line(trailGeometry, new THREE.LineBasicMaterial({color: TRAIL_COLOUR})));
  trailLine.frustumCulled = false;
  world.add(trailLine);

  /* The trail and the target are drawn over the arm: the wrist hides them otherwise. */
  function onTop(object) {
    object.material.depthTest = false;
    object.material.transparent = true;
    object.renderOrder = 1;
    return object;
  }

  function lineBetween(colour) {
    var g = new THREE.BufferGeometry();
    g.setAttribute("position", new THREE.BufferAttribute(new Float32Array(6), 3));
    var line = onTop(new THREE.Line(g, new THREE.LineBasicMaterial({color: colour})));
    line.frustumCulled = false;
    return line;
  }

  function setLine(line, a, b) {
    var p = line.geometry.attributes.position;
    p.setXYZ(0, a.x, a.y, a.z);
    p.setXYZ(1, b.x, b.y, b.z);
    p.needsUpdate = true;
  }

  /* A cylinder of `radius` from a to b (Vector3, in the parent's frame). */
  function cylinder(a, b, radius, material) {
    var along = new THREE.Vector3().subVectors(b, a);
    var length = along.length();
    var mesh = new THREE.Mesh(new THREE.CylinderBufferGeometry(radius, radius, length, 32), material);
    mesh.position.copy(a).addScaledVector(along, 0.5);
    mesh.quaternion.setFromUnitVectors(new THREE.Vector3(0, 1, 0), along.normalize());
    return mesh;
  }

  /* Standard DH: T_i = Rz(q_i) Tz(d_i) Tx(a_i) Rx(alpha_i). */
  function linkTransform(row, q) {
    var m = new THREE.Matrix4().makeRotationZ(q);
    m.multiply(new THREE.Matrix4().makeTranslation(row[0], 0, row[2]));
    return m.multiply(new THREE.Matrix4().makeRotationX(row[1]));
  }

  /* The frames F0 (base) .. F6 (flange) for joints q. */
  function frames(q) {
    var f = [new THREE.Matrix4()];
    for (var i = 0; i < 6; i++)
      f.push(f[i].clone().multiply(linkTransform(geometry.dh[i], q[i])));
    return f;
  }

  /* R = Rz(rz) Ry(ry) Rx(rx), the library's roll-pitch-yaw; translation in mm. */
  function poseMatrix(p) {
    var m = new THREE.Matrix4().makeRotationZ(p[5]);
    m.multiply(new THREE.Matrix4().makeRotationY(p[4]));
    m.multiply(new THREE.Matrix4().makeRotationX(p[3]));
    m.setPosition(p[0], p[1], p[2]);
    return m;
  }

  function buildArm() {
    var linkMaterial = new THREE.MeshStandardMaterial({color: ARM_COLOUR, roughness: 0.55, metalness: 0.1});
    var jointMaterial = new THREE.MeshStandardMaterial({color: JOINT_COLOUR, roughness: 0.6, metalness: 0.2});
    var base = cylinder(new THREE.Vector3(0, 0, -60), new THREE.Vector3(0, 0, 0), 95, jointMaterial);
    armGroup.add(base);
    for (var i = 0; i < 6; i++) {
      var row = geometry.dh[i];  /* [a, alpha, d] */
      var big = i < 3;
      var housing = big ? 62 : 46;
      var group = new THREE.Group();
      group.matrixAutoUpdate = false;
      /* the joint: a housing along its axis */
      group.add(cylinder(new THREE.Vector3(0, 0, -housing), new THREE.Vector3(0, 0, housing), housing, jointMaterial));
      /* the link: along the axis by d, then along x by a */
      var bend = new THREE.Vector3(0, 0, row[2]);
      if (Math.abs(row[2]) > 1)
        group.add(cylinder(new THREE.Vector3(0, 0, 0), bend, big ? 50 : 38, i === 0 ? jointMaterial : linkMaterial));
      if (Math.abs(row[0]) > 1)
        group.add(cylinder(bend, new THREE.Vector3(row[0], 0, row[2]), big ? 48 : 36, linkMaterial));
      armGroup.add(group);
      links.push(group);
    }
    var flange = new THREE.Mesh(new THREE.CylinderBufferGeometry(34, 34, 10, 32),
      new THREE.MeshStandardMaterial({color: 0x868e96}));
    flange.rotation.x = Math.PI / 2;
    flange.position.z = -5;
    flangeMarker.add(flange);
  }

  /* ---- following the state ---------------------------------------------------- */

  function current() {
    if (!state || !state.controllers.length)
      return null;
    for (var i = 0; i < state.controllers.length; i++)
      if (state.controllers[i].address === selected)
        return state.controllers[i];
    return state.controllers[0];
  }

  function remember(arm, now) {
    var f = frames(arm.joints);
    var tcp = new THREE.Vector3().setFromMatrixPosition(f[6].clone().multiply(poseMatrix(arm.tool)));
    var trail = trails[arm.address] || (trails[arm.address] = []);
    var last = trail[trail.length - 1];
    if (!last || last.p.distanceTo(tcp) > 0.2)
      trail.push({t: now, p: tcp});
    while (trail.length > TRAIL_POINTS || (trail.length > 1 && now - trail[0].t > TRAIL_SECONDS * 1000))
      trail.shift();
  }

  function place(arm) {
    var f = frames(arm.joints);
    for (var i = 0; i < 6; i++) {
      links[i].matrix.copy(f[i]).multiply(new THREE.Matrix4().makeRotationZ(arm.joints[i]));
      links[i].matrixWorldNeedsUpdate = true;
    }
    var tool = poseMatrix(arm.tool);
    flangeMarker.matrix.copy(f[6]);
    flangeMarker.matrixWorldNeedsUpdate = true;
    toolAxes.visible = toolStem.visible = arm.tool_id !== 0;
    toolAxes.matrixAutoUpdate = false;
    toolAxes.matrix.copy(tool);
    setLine(toolStem, new THREE.Vector3(), new THREE.Vector3().setFromMatrixPosition(tool));
    userAxes.visible = arm.user_frame_id !== 0;
    userAxes.matrix.copy(poseMatrix(arm.user_frame));
    userAxes.matrixWorldNeedsUpdate = true;

    var tcp = new THREE.Vector3().setFromMatrixPosition(f[6].clone().multiply(tool));
    targetMarker.visible = targetLine.visible = !!arm.target;
    if (arm.target) {
      var end = frames(arm.target)[6].multiply(tool);
      targetMarker.matrix.copy(end);
      targetMarker.matrixWorldNeedsUpdate = true;
      setLine(targetLine, tcp, new THREE.Vector3().setFromMatrixPosition(end));
    }

    var trail = trails[arm.address] || [];
    var positions = trailGeometry.attributes.position;
    for (var n = 0; n < trail.length; n++)
      positions.setXYZ(n, trail[n].p.x, trail[n].p.y, trail[n].p.z);
    positions.needsUpdate = true;
    trailGeometry.setDrawRange(0, trail.length);
  }

  function text(id, value) {
    var element = document.getElementById(id);
    if (element.textContent !== value)
      element.textContent = value;
  }

  function lamp(element, on) {
    element.className = on ? "lamp on" : "lamp";
  }

  var PROGRAM_STATES = ["idle", "running", "paused", "stopped by an error"];

  function show(arm) {
    document.getElementById("empty").hidden = !!arm;
    document.body.dataset.address = arm ? arm.address : "";
    if (!arm)
      return;
    for (var j = 0; j < 6; j++)
      text("joint-" + (j + 1), (arm.joints[j] * DEG).toFixed(2));
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

  function receive(frame) {
    var now = performance.now();
    state = frame;
    framesSeen++;
    arrivals.push(now);
    while (arrivals.length && now - arrivals[0] > 1000)
      arrivals.shift();
    state.controllers.forEach(function (arm) { remember(arm, now); });
    fillSelector();
    var arm = current();
    show(arm);
    armGroup.visible = flangeMarker.visible = !!arm;
    if (arm)
      place(arm);
    document.body.dataset.frames = String(framesSeen);
    dirty = true;
  }

  /* ---- drawing ------------------------------------------------------------------ */

  function resize() {
    var w = container.clientWidth, h = container.clientHeight;
    renderer.setSize(w, h);
    camera.aspect = w / Math.max(h, 1);
    camera.updateProjectionMatrix();
    dirty = true;
  }

  /* Where the arm lies on the screen (CSS pixels), for tests and tools. */
  function markArmBox() {
    var box = new THREE.Box3().setFromObject(armGroup);
    if (box.isEmpty() || !armGroup.visible)
      return;
    var rect = renderer.domElement.getBoundingClientRect();
    var x0 = Infinity, y0 = Infinity, x1 = -Infinity, y1 = -Infinity;
    for (var n = 0; n < 8; n++) {
      var p = new THREE.Vector3(n & 1 ? box.max.x : box.min.x, n & 2 ? box.max.y : box.min.y,
        n & 4 ? box.max.z : box.min.z).project(camera);
      var x = rect.left + (p.x + 1) / 2 * rect.width, y = rect.top + (1 - p.y) / 2 * rect.height;
      x0 = Math.min(x0, x); x1 = Math.max(x1, x); y0 = Math.min(y0, y); y1 = Math.max(y1, y);
    }
    document.body.dataset.armBox = [x0, y0, x1, y1].map(Math.round).join(",");
  }

  function draw() {
    requestAnimationFrame(draw);
    if (!dirty)
      return;
    dirty = false;
    scene.updateMatrixWorld();
    renderer.render(scene, camera);
    markArmBox();
  }

  function showRate() {
    var now = performance.now();
    while (arrivals.length && now - arrivals[0] > 1000)
      arrivals.shift();
    text("rate", arrivals.length + " frames/s");
  }

  /* ---- start ------------------------------------------------------------------- */

  document.getElementById("arm-select").addEventListener("change", function (event) {
    selected = event.target.value;
    location.hash = encodeURIComponent(selected);
    if (state)
      receive(state);
  });
  window.addEventListener("resize", resize);

  fetch("arm.json").then(function (r) { return r.json(); }).then(function (arm) {
    geometry = arm;
    buildArm();
    resize();
    draw();
    setInterval(showRate, 500);
    var badge = document.getElementById("connection");
    var events = new EventSource("events");
    events.onopen = function () { badge.textContent = "live"; badge.className = "badge live"; };
    events.onerror = function () { badge.textContent = "reconnecting"; badge.className = "badge lost"; };
    events.onmessage = function (message) { receive(JSON.parse(message.data)); };
  });
})();
