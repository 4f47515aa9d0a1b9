/*
 * The live view's 3D scene: every arm of the process, each at its base and
 * labelled with its address; the selected arm's trail, target and frames;
 * the floor's grid and its scale. A fault tints an arm, a joint at its
 * limit marks its housing.
 *
 * Robot coordinates (millimetres, z up) live in one group, `world`, turned
 * and scaled into three.js's (metres, y up). Nothing here reads the page's
 * readouts; view.js calls in.
 */
var ViewScene = (function () {
  "use strict";

  var ARM_COLOUR = 0xff7a1a;   /* links: tests look for this hue in the screenshot */
  var FAULT_COLOUR = 0xd62828; /* the links of an arm in its error state */
  var LIMIT_COLOUR = 0x7048e8; /* the housing of a joint at its limit (as in the readout) */
  var JOINT_COLOUR = 0x3d4450;
  var TARGET_COLOUR = 0x2f9e44;
  var TRAIL_COLOUR = 0x1c7ed6;
  var SPACING = 1600;          /* mm between arms standing side by side */
  var GRID_STEP = 100;         /* mm, one square of the floor's grid */
  var TRAIL_SECONDS = 5;
  var TRAIL_POINTS = 2400;

  var geometry = null;         /* /arm.json */
  var container, renderer, scene, camera, controls, world, grid, labels;
  var models = {};             /* address -> the arm drawn for it */
  var order = [];              /* addresses, in the order the controllers are listed */
  var trails = {};             /* address -> [{t, p}] */
  var selected = null;
  var dirty = true;

  var flangeMarker, toolAxes, toolStem, userAxes, targetMarker, targetLine, trailGeometry;

  /* ---- building blocks ------------------------------------------------------- */

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

  /* The frames F0 (base) .. F6 (flange) for joints q, in the arm's base frame. */
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

  /* Where an arm's base stands in the cell: the controllers stand side by
   * side along y, in the order they are listed. */
  function basePose(index) {
    return new THREE.Matrix4().makeTranslation(0, -index * SPACING, 0);
  }

  /* ---- one arm ------------------------------------------------------------------- */

  function makeArm(address) {
    var model = {
      group: new THREE.Group(),
      links: [],
      housings: [],
      linkMaterial: new THREE.MeshStandardMaterial({color: ARM_COLOUR, roughness: 0.55, metalness: 0.1}),
      jointMaterial: new THREE.MeshStandardMaterial({color: JOINT_COLOUR, roughness: 0.6, metalness: 0.2}),
      label: document.createElement("button"),
      base: new THREE.Matrix4(),
      flange: new THREE.Matrix4(),
    };
    model.group.matrixAutoUpdate = false;
    model.group.add(cylinder(new THREE.Vector3(0, 0, -60), new THREE.Vector3(0, 0, 0), 95, model.jointMaterial));
    for (var i = 0; i < 6; i++) {
      var row = geometry.dh[i];  /* [a, alpha, d] */
      var big = i < 3;
      var size = big ? 62 : 46;
      var link = new THREE.Group();
      link.matrixAutoUpdate = false;
      var housing = new THREE.MeshStandardMaterial({color: JOINT_COLOUR, roughness: 0.6, metalness: 0.2});
      /* the joint: a housing along its axis */
      link.add(cylinder(new THREE.Vector3(0, 0, -size), new THREE.Vector3(0, 0, size), size, housing));
      /* the link: along the axis by d, then along x by a */
      var bend = new THREE.Vector3(0, 0, row[2]);
      if (Math.abs(row[2]) > 1)
        link.add(cylinder(new THREE.Vector3(0, 0, 0), bend, big ? 50 : 38, i === 0 ? model.jointMaterial
          : model.linkMaterial));
      if (Math.abs(row[0]) > 1)
        link.add(cylinder(bend, new THREE.Vector3(row[0], 0, row[2]), big ? 48 : 36, model.linkMaterial));
      model.group.add(link);
      model.links.push(link);
      model.housings.push(housing);
    }
    model.label.className = "arm-label";
    model.label.type = "button";
    model.label.dataset.address = address;
    model.label.textContent = address;
    model.label.title = "show " + address + " in the readout";
    model.label.addEventListener("click", function () { ViewScene.onpick(address); });
    labels.appendChild(model.label);
    world.add(model.group);
    return model;
  }

  function dropArm(address) {
    var model = models[address];
    world.remove(model.group);
    labels.removeChild(model.label);
    delete models[address];
    delete trails[address];
  }

  function placeArm(model, arm) {
    var f = frames(arm.joints);
    model.group.matrix.copy(model.base);
    model.group.matrixWorldNeedsUpdate = true;
    for (var i = 0; i < 6; i++) {
      model.links[i].matrix.copy(f[i]).multiply(new THREE.Matrix4().makeRotationZ(arm.joints[i]));
      model.links[i].matrixWorldNeedsUpdate = true;
      var atLimit = !!(arm.at_limit && arm.at_limit[i]);
      model.housings[i].color.setHex(atLimit ? LIMIT_COLOUR : JOINT_COLOUR);
      model.housings[i].emissive.setHex(atLimit ? 0x2b1a66 : 0x000000);
    }
    var fault = arm.error.code !== 0 || arm.collision;
    model.linkMaterial.color.setHex(fault ? FAULT_COLOUR : ARM_COLOUR);
    model.linkMaterial.emissive.setHex(fault ? 0x4a0000 : 0x000000);
    model.label.classList.toggle("fault", fault);
    model.label.textContent = fault ? arm.address + " \u2014 error " + arm.error.code : arm.address;
    model.flange.copy(model.base).multiply(f[6]);
    model.fault = fault;
  }

  function remember(arm, model, now) {
    var tcp = new THREE.Vector3().setFromMatrixPosition(model.flange.clone().multiply(poseMatrix(arm.tool)));
    var trail = trails[arm.address] || (trails[arm.address] = []);
    var last = trail[trail.length - 1];
    if (!last || last.p.distanceTo(tcp) > 0.2)
      trail.push({t: now, p: tcp});
    while (trail.length > TRAIL_POINTS || (trail.length > 1 && now - trail[0].t > TRAIL_SECONDS * 1000))
      trail.shift();
  }

  /* The selected arm's tool, user frame, target and trail. */
  function placeMarkers(arm, model) {
    var visible = !!(arm && model);
    flangeMarker.visible = visible;
    userAxes.visible = visible && arm.user_frame_id !== 0;
    targetMarker.visible = targetLine.visible = visible && !!arm.target;
    trailGeometry.setDrawRange(0, 0);
    if (!visible)
      return;
    var tool = poseMatrix(arm.tool);
    flangeMarker.matrix.copy(model.flange);
    flangeMarker.matrixWorldNeedsUpdate = true;
    toolAxes.visible = toolStem.visible = arm.tool_id !== 0;
    toolAxes.matrix.copy(tool);
    setLine(toolStem, new THREE.Vector3(), new THREE.Vector3().setFromMatrixPosition(tool));
    userAxes.matrix.copy(model.base).multiply(poseMatrix(arm.user_frame));
    userAxes.matrixWorldNeedsUpdate = true;
    var tcp = new THREE.Vector3().setFromMatrixPosition(model.flange.clone().multiply(tool));
    if (arm.target) {
      var end = model.base.clone().multiply(frames(arm.target)[6]).multiply(tool);
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

  /* The grid covers every base with a metre to spare; the camera takes in
   * every arm when their number changes (not otherwise: the viewer may have
   * turned it). */
  function frameTheCell() {
    var count = Math.max(order.length, 1);
    var spread = (count - 1) * SPACING / 1000;                 /* m, along three's z */
    var size = Math.ceil(spread + 2.4);
    scene.remove(grid);
    grid = new THREE.GridHelper(size, Math.round(size * 1000 / GRID_STEP), 0x9aa5b1, 0xbcc5cf);
    grid.position.set(0, -0.06, spread / 2);                   /* the floor the pedestals stand on */
    scene.add(grid);
    var centre = new THREE.Vector3(0.2, 0.3, spread / 2);
    var away = new THREE.Vector3(1.35, 0.75, 1.35).multiplyScalar(1 + spread / 2.2);
    camera.position.copy(centre).add(away);
    controls.target.copy(centre);
    controls.update();
    document.getElementById("grid-scale").textContent = "grid: " + GRID_STEP + " mm squares";
  }

  /* ---- drawing ------------------------------------------------------------------ */

  function resize() {
    var w = container.clientWidth, h = container.clientHeight;
    renderer.setSize(w, h);
    camera.aspect = w / Math.max(h, 1);
    camera.updateProjectionMatrix();
    dirty = true;
  }

  /* Where each arm lies on the screen (CSS pixels), for tests and tools:
   * data-arm-boxes on the body, data-arm-box for the selected arm. */
  function markArmBoxes() {
    var rect = renderer.domElement.getBoundingClientRect();
    var boxes = {};
    order.forEach(function (address) {
      var box = new THREE.Box3().setFromObject(models[address].group);
      if (box.isEmpty())
        return;
      var x0 = Infinity, y0 = Infinity, x1 = -Infinity, y1 = -Infinity;
      for (var n = 0; n < 8; n++) {
        var p = new THREE.Vector3(n & 1 ? box.max.x : box.min.x, n & 2 ? box.max.y : box.min.y,
          n & 4 ? box.max.z : box.min.z).project(camera);
        var x = rect.left + (p.x + 1) / 2 * rect.width, y = rect.top + (1 - p.y) / 2 * rect.height;
        x0 = Math.min(x0, x); x1 = Math.max(x1, x); y0 = Math.min(y0, y); y1 = Math.max(y1, y);
      }
      boxes[address] = [x0, y0, x1, y1].map(Math.round);
    });
    document.body.dataset.armBoxes = JSON.stringify(boxes);
    if (boxes[selected])
      document.body.dataset.armBox = boxes[selected].join(",");
  }

  /* Each label just under its arm's pedestal. */
  function placeLabels() {
    var rect = renderer.domElement.getBoundingClientRect();
    var origin = container.getBoundingClientRect();
    order.forEach(function (address) {
      var model = models[address];
      var p = new THREE.Vector3().setFromMatrixPosition(model.base.clone().multiply(
        new THREE.Matrix4().makeTranslation(0, 0, -60)));
      p.applyMatrix4(world.matrixWorld).project(camera);
      model.label.style.left = Math.round(rect.left - origin.left + (p.x + 1) / 2 * rect.width) + "px";
      model.label.style.top = Math.round(rect.top - origin.top + (1 - p.y) / 2 * rect.height + 14) + "px";
      model.label.classList.toggle("selected", address === selected);
    });
  }

  function draw() {
    requestAnimationFrame(draw);
    if (!dirty)
      return;
    dirty = false;
    scene.updateMatrixWorld();
    renderer.render(scene, camera);
    markArmBoxes();
    placeLabels();
  }

  /* ---- what view.js calls ----------------------------------------------------- */

  function start(armGeometry) {
    geometry = armGeometry;
    container = document.getElementById("scene");
    labels = document.getElementById("labels");
    renderer = new THREE.WebGLRenderer({antialias: true, preserveDrawingBuffer: true});
    renderer.setPixelRatio(window.devicePixelRatio || 1);
    renderer.setClearColor(0xdde3ea);
    container.insertBefore(renderer.domElement, labels);

    scene = new THREE.Scene();
    camera = new THREE.PerspectiveCamera(40, 1, 0.01, 80);
    controls = new THREE.OrbitControls(camera, renderer.domElement);
    controls.addEventListener("change", function () { dirty = true; });
    scene.add(new THREE.HemisphereLight(0xffffff, 0x8090a0, 0.75));
    var sun = new THREE.DirectionalLight(0xffffff, 0.7);
    sun.position.set(2, 4, 3);
    scene.add(sun);

    world = new THREE.Group();
    world.rotation.x = -Math.PI / 2;  /* robot z up is three's y up */
    world.scale.setScalar(0.001);     /* mm to m */
    scene.add(world);
    world.add(new THREE.AxesHelper(150));

    flangeMarker = new THREE.Group();
    toolAxes = new THREE.AxesHelper(90);
    toolStem = lineBetween(0x495057);
    userAxes = new THREE.AxesHelper(120);
    targetMarker = new THREE.Group();
    targetLine = lineBetween(TARGET_COLOUR);
    world.add(flangeMarker, userAxes, targetMarker, targetLine);
    flangeMarker.add(toolAxes, toolStem);
    flangeMarker.matrixAutoUpdate = toolAxes.matrixAutoUpdate = false;
    userAxes.matrixAutoUpdate = targetMarker.matrixAutoUpdate = false;
    targetMarker.add(onTop(new THREE.Mesh(new THREE.SphereBufferGeometry(16, 20, 14),
      new THREE.MeshBasicMaterial({color: TARGET_COLOUR, transparent: true, opacity: 0.7}))));
    targetMarker.add(new THREE.AxesHelper(60));
    var flange = new THREE.Mesh(new THREE.CylinderBufferGeometry(34, 34, 10, 32),
      new THREE.MeshStandardMaterial({color: 0x868e96}));
    flange.rotation.x = Math.PI / 2;
    flange.position.z = -5;
    flangeMarker.add(flange);
    trailGeometry = new THREE.BufferGeometry();
    trailGeometry.setAttribute("position", new THREE.BufferAttribute(new Float32Array(TRAIL_POINTS * 3), 3));
    var trailLine = onTop(new THREE.Line(trailGeometry, new THREE.LineBasicMaterial({color: TRAIL_COLOUR})));
    trailLine.frustumCulled = false;
    world.add(trailLine);

    frameTheCell();
    window.addEventListener("resize", resize);
    resize();
    draw();
  }

  /* Every controller of a sample, and which of them the readout shows. */
  function show(controllers, chosen) {
    var now = performance.now();
    var addresses = controllers.map(function (c) { return c.address; });
    Object.keys(models).forEach(function (address) {
      if (addresses.indexOf(address) < 0)
        dropArm(address);
    });
    var changed = addresses.join("\n") !== order.join("\n");
    order = addresses;
    selected = chosen ? chosen.address : null;
    controllers.forEach(function (arm, index) {
      var model = models[arm.address] || (models[arm.address] = makeArm(arm.address));
      model.base.copy(basePose(index));
      placeArm(model, arm);
      remember(arm, model, now);
    });
    if (changed)
      frameTheCell();
    placeMarkers(chosen, chosen && models[chosen.address]);
    dirty = true;
  }

  return {
    start: start,
    show: show,
    onpick: function () {},  /* set by view.js: a label was clicked */
  };
})();
