/*
 * The live view's 3D scene: every arm of the process, each at its base and
 * labelled with its address, drawn as its collision body (the capsules
 * /state.json lists); the scene's objects and the grid (cell.js); the
 * selected arm's trail, target and frames. A fault tints an arm, a joint at
 * its limit marks its housing, a contact tints the touching parts and marks
 * the point.
 *
 * Robot coordinates (millimetres, z up) live in one group, `world`, turned
 * and scaled into three.js's (metres, y up). Nothing here reads the page's
 * readouts; view.js calls in.
 */
var ViewScene = (function () {
  "use strict";

  var TARGET_COLOUR = 0x2f9e44;
  var TRAIL_COLOUR = 0x1c7ed6;
  var SPACING = 1600;          /* mm between arms never placed, drawn side by side */
  var REACH = 700;             /* mm round a base, and up from it, that the camera takes in */
  var TRAIL_SECONDS = 5;
  var TRAIL_POINTS = 2400;

  var container, renderer, scene, camera, controls, world, labels;
  var models = {};             /* address -> the arm drawn for it */
  var order = [];              /* addresses, in the order the controllers are listed */
  var trails = {};             /* address -> [{t, p}] */
  var selected = null;
  var dirty = true;

  var flangeMarker, toolAxes, toolStem, userAxes, targetMarker, targetLine, trailGeometry;

  var poseMatrix = ViewCell.poseMatrix, frames = ViewArm.frames, onTop = ViewArm.onTop;
  var lineBetween = ViewArm.lineBetween, setLine = ViewArm.setLine;

  /* Where an arm is drawn: a placed arm at its base (its body is listed in
   * the world frame already); the arms never placed all stand at the origin,
   * so the first of them is drawn there and the others beside it along -y,
   * body and contacts shifted with them. */
  function displayShift(arm, unplacedIndex) {
    return arm.base ? new THREE.Matrix4() : new THREE.Matrix4().makeTranslation(0, -unplacedIndex * SPACING, 0);
  }

  /* ---- the arms ------------------------------------------------------------------ */

  function makeArm(address) {
    var model = ViewArm.make(address, function () { ViewScene.onpick(address); });
    labels.appendChild(model.label);
    world.add(model.group, model.marks);
    return model;
  }

  function dropArm(address) {
    var model = models[address];
    world.remove(model.group, model.marks);
    labels.removeChild(model.label);
    delete models[address];
    delete trails[address];
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


  /* The grid covers every base and object with a metre to spare; the camera
   * takes in the whole cell when the grid changes or an arm comes or goes
   * (not otherwise: the viewer may have turned it). */
  function frameTheCell(force) {
    var box = new THREE.Box3();
    order.forEach(function (address) {
      var at = new THREE.Vector3().setFromMatrixPosition(models[address].base);
      box.expandByPoint(at.clone().add(new THREE.Vector3(-REACH, -REACH, 0)));
      box.expandByPoint(at.clone().add(new THREE.Vector3(REACH, REACH, 1.3 * REACH)));
    });
    var objects = ViewCell.bounds();
    if (objects)
      box.union(objects);
    if (box.isEmpty())
      box.set(new THREE.Vector3(-REACH, -REACH, 0), new THREE.Vector3(REACH, REACH, 1.3 * REACH));
    if (!ViewCell.cover(box) && !force)
      return;
    scene.updateMatrixWorld();
    var centre = world.localToWorld(box.getCenter(new THREE.Vector3()));
    var radius = box.getSize(new THREE.Vector3()).length() / 2000;  /* m */
    var away = new THREE.Vector3(1.35, 0.75, 1.35).normalize();
    camera.position.copy(centre).addScaledVector(away, 0.75 * radius / Math.sin(camera.fov * Math.PI / 360));
    controls.target.copy(centre);
    controls.update();
    document.getElementById("grid-scale").textContent = "grid: " + ViewCell.MINOR + " mm squares, lines every " +
      ViewCell.MAJOR / 1000 + " m";
  }

  /* ---- drawing ------------------------------------------------------------------ */

  function resize() {
    var w = container.clientWidth, h = container.clientHeight;
    renderer.setSize(w, h);
    camera.aspect = w / Math.max(h, 1);
    camera.updateProjectionMatrix();
    dirty = true;
  }

  /* Where a point of the world group (mm) lies on the screen: x, y in the
   * scene's element, pageX, pageY in the page (CSS pixels). */
  function project(point) {
    var rect = renderer.domElement.getBoundingClientRect();
    var origin = container.getBoundingClientRect();
    var p = point.clone().applyMatrix4(world.matrixWorld).project(camera);
    var x = (p.x + 1) / 2 * rect.width, y = (1 - p.y) / 2 * rect.height;
    return {x: Math.round(rect.left - origin.left + x), y: Math.round(rect.top - origin.top + y),
            pageX: rect.left + x, pageY: rect.top + y, visible: p.z < 1};
  }

  /* Where each arm lies on the screen (CSS pixels), for tests and tools:
   * data-arm-boxes on the body, data-arm-box for the selected arm; where
   * each arm's base is drawn in the world (mm) and on the screen,
   * data-arm-bases; each contact, data-contacts. */
  function markArmBoxes() {
    var boxes = {}, bases = {}, contacts = [];
    order.forEach(function (address) {
      var model = models[address];
      var box = new THREE.Box3();
      [model.plate, model.body.visible ? model.body : model.kinematic].forEach(function (part) {
        part.traverse(function (o) {
          if (o.isMesh && o.visible)
            box.expandByObject(o);
        });
      });
      if (box.isEmpty())
        return;
      var inverse = new THREE.Matrix4().getInverse(world.matrixWorld);
      var x0 = Infinity, y0 = Infinity, x1 = -Infinity, y1 = -Infinity;
      for (var n = 0; n < 8; n++) {
        var p = project(new THREE.Vector3(n & 1 ? box.max.x : box.min.x, n & 2 ? box.max.y : box.min.y,
          n & 4 ? box.max.z : box.min.z).applyMatrix4(inverse));
        x0 = Math.min(x0, p.pageX); x1 = Math.max(x1, p.pageX); y0 = Math.min(y0, p.pageY); y1 = Math.max(y1, p.pageY);
      }
      boxes[address] = [x0, y0, x1, y1].map(Math.round);
      var at = new THREE.Vector3().setFromMatrixPosition(model.base);
      var screen = project(at);
      bases[address] = {world: [at.x, at.y, at.z].map(Math.round), screen: [screen.pageX, screen.pageY].map(Math.round),
                        touching: model.touching};
      model.contacts.forEach(function (c) {
        var s = project(new THREE.Vector3().fromArray(c.point).applyMatrix4(model.shift));
        contacts.push({address: address, link: c.link, with: c.with, other: c.other,
                       screen: [s.pageX, s.pageY].map(Math.round)});
      });
    });
    document.body.dataset.armBoxes = JSON.stringify(boxes);
    document.body.dataset.armBases = JSON.stringify(bases);
    document.body.dataset.contacts = JSON.stringify(contacts);
    if (boxes[selected])
      document.body.dataset.armBox = boxes[selected].join(",");
  }

  /* Each label just under its arm's base plate. */
  function placeLabels() {
    order.forEach(function (address) {
      var model = models[address];
      var p = project(new THREE.Vector3().setFromMatrixPosition(model.base));
      model.label.style.left = p.x + "px";
      model.label.style.top = (p.y + 14) + "px";
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
    ViewCell.place(project);
  }

  /* ---- what view.js calls ----------------------------------------------------- */

  function start(armGeometry) {
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
    ViewCell.start(world, labels);
    ViewArm.start(armGeometry);

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

    frameTheCell(true);
    window.addEventListener("resize", resize);
    resize();
    draw();
  }

  /* Every controller of a sample, and which of them the readout shows. */
  /* Every controller of a sample, which of them the readout shows, and the
   * scene's objects. */
  function show(controllers, chosen, objects) {
    var now = performance.now();
    var addresses = controllers.map(function (c) { return c.address; });
    Object.keys(models).forEach(function (address) {
      if (addresses.indexOf(address) < 0)
        dropArm(address);
    });
    var changed = addresses.join("\n") !== order.join("\n");
    order = addresses;
    selected = chosen ? chosen.address : null;
    var unplaced = 0;
    controllers.forEach(function (arm) {
      var model = models[arm.address] || (models[arm.address] = makeArm(arm.address));
      ViewArm.place(model, arm, displayShift(arm, arm.base ? 0 : unplaced++));
      remember(arm, model, now);
    });
    ViewCell.show(objects);
    scene.updateMatrixWorld();
    frameTheCell(changed);
    placeMarkers(chosen, chosen && models[chosen.address]);
    dirty = true;
  }

  return {
    start: start,
    show: show,
    onpick: function () {},  /* set by view.js: a label was clicked */
  };
})();
