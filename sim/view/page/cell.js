/*
 * What stands around the arms in the live view: the scene's objects in their
 * poses (boxes, cylinders, spheres; a plane, such as the floor, as a
 * rectangle the grid's size), and the grid on the plane z = 0 of the world with its
 * scale: thin lines every 100 mm, strong lines every metre, each metre
 * labelled along the grid's near edge.
 *
 * Everything is drawn in the robot's coordinates (millimetres, z up) inside
 * the `world` group that scene.js turns into three.js's; scene.js calls in.
 */
var ViewCell = (function () {
  "use strict";

  var OBJECT_COLOUR = 0x7f95a8;  /* steel blue: tests look for this hue in the screenshot */
  var PLANE_COLOUR = 0xe9e6df;
  var MINOR = 100;               /* mm between two thin lines of the grid */
  var MAJOR = 1000;              /* mm between two strong (labelled) lines */

  var world, labels;
  var objects = [];              /* [{name, mesh, plane}] as drawn */
  var drawnScene = "";           /* the scene's JSON, as drawn */
  var solidBounds;               /* bounds(), while the scene stays as it is (undefined: not known) */
  var grid = null;
  var extent = null;             /* the grid's [x0, y0, x1, y1], mm */
  var scaleLabels = [];          /* [{element, at: Vector3}] */

  /* R = Rz(rz) Ry(ry) Rx(rx), the library's roll-pitch-yaw; translation in mm. */
  function poseMatrix(p) {
    var m = new THREE.Matrix4().makeRotationZ(p[5]);
    m.multiply(new THREE.Matrix4().makeRotationY(p[4]));
    m.multiply(new THREE.Matrix4().makeRotationX(p[3]));
    m.setPosition(p[0], p[1], p[2]);
    return m;
  }

  function material(colour, options) {
    var m = new THREE.MeshStandardMaterial({color: colour, roughness: 0.8, metalness: 0.05});
    for (var key in options || {})
      m[key] = options[key];
    return m;
  }

  /* One object of the scene, as /state.json lists it. */
  function solid(object) {
    var mesh, matrix;
    switch (object.shape) {
    case "box":
      mesh = new THREE.Mesh(new THREE.BoxBufferGeometry(object.size[0], object.size[1], object.size[2]),
        material(OBJECT_COLOUR));
      matrix = poseMatrix(object.pose);
      break;
    case "cylinder":  /* its axis along the pose's z; three's cylinders stand along y */
      mesh = new THREE.Mesh(new THREE.CylinderBufferGeometry(object.radius, object.radius, object.length, 48),
        material(OBJECT_COLOUR));
      matrix = poseMatrix(object.pose).multiply(new THREE.Matrix4().makeRotationX(Math.PI / 2));
      break;
    case "sphere":
      mesh = new THREE.Mesh(new THREE.SphereBufferGeometry(object.radius, 40, 28), material(OBJECT_COLOUR));
      matrix = new THREE.Matrix4().makeTranslation(object.centre[0], object.centre[1], object.centre[2]);
      break;
    case "plane":  /* the solid is below it: its top face, the size of the grid, under the grid's lines */
      mesh = new THREE.Mesh(new THREE.PlaneBufferGeometry(1, 1), material(PLANE_COLOUR,
        {side: THREE.DoubleSide, transparent: true, opacity: 0.7, depthWrite: false}));
      matrix = poseMatrix(object.pose);
      break;
    default:
      return null;
    }
    mesh.matrixAutoUpdate = false;
    mesh.matrix.copy(matrix);
    mesh.name = object.name;
    return {name: object.name, mesh: mesh, pose: matrix, plane: object.shape === "plane"};
  }

  function drawObjects(scene) {
    objects.forEach(function (o) { world.remove(o.mesh); o.mesh.geometry.dispose(); });
    objects = [];
    solidBounds = undefined;
    scene.forEach(function (object) {
      var drawn = solid(object);
      if (drawn) {
        objects.push(drawn);
        world.add(drawn.mesh);
      }
    });
    sizePlanes();
  }

  /* A plane is drawn as a square the size of the grid, round the point of
   * the plane nearest the grid's centre (the grid's rectangle, on the floor). */
  function sizePlanes() {
    if (!extent)
      return;
    var centre = new THREE.Vector3((extent[0] + extent[2]) / 2, (extent[1] + extent[3]) / 2, 0);
    objects.forEach(function (o) {
      if (!o.plane)
        return;
      var local = centre.clone().applyMatrix4(new THREE.Matrix4().getInverse(o.pose));
      o.mesh.matrix.copy(o.pose).multiply(new THREE.Matrix4().makeTranslation(local.x, local.y, 0))
        .multiply(new THREE.Matrix4().makeScale(extent[2] - extent[0], extent[3] - extent[1], 1));
      o.mesh.matrixWorldNeedsUpdate = true;
    });
  }

  /* The lines of the grid over [x0, x1] x [y0, y1] (mm, multiples of MAJOR),
   * every `step`, skipping those of every `skip`. */
  function lines(x0, y0, x1, y1, step, skip, colour) {
    var points = [];
    for (var x = x0; x <= x1 + 0.5; x += step)
      if (!skip || Math.round(x) % skip !== 0)
        points.push(x, y0, 0, x, y1, 0);
    for (var y = y0; y <= y1 + 0.5; y += step)
      if (!skip || Math.round(y) % skip !== 0)
        points.push(x0, y, 0, x1, y, 0);
    var g = new THREE.BufferGeometry();
    g.setAttribute("position", new THREE.Float32BufferAttribute(points, 3));
    return new THREE.LineSegments(g, new THREE.LineBasicMaterial({color: colour}));
  }

  function drawGrid(x0, y0, x1, y1) {
    if (grid) {
      world.remove(grid);
      grid.children.forEach(function (c) { c.geometry.dispose(); });
    }
    grid = new THREE.Group();
    grid.add(lines(x0, y0, x1, y1, MINOR, MAJOR, 0xbcc5cf), lines(x0, y0, x1, y1, MAJOR, 0, 0x7d8894));
    world.add(grid);
    scaleLabels.forEach(function (l) { labels.removeChild(l.element); });
    scaleLabels = [];
    for (var x = x0; x <= x1; x += MAJOR) {  /* along the edge of greatest y, nearest the camera */
      var element = document.createElement("span");
      element.className = "scale-label";
      element.textContent = Math.round(x / MAJOR) + " m";
      labels.appendChild(element);
      scaleLabels.push({element: element, at: new THREE.Vector3(x, y1, 0)});
    }
    sizePlanes();
  }

  /* ---- what scene.js calls ------------------------------------------------------- */

  function start(worldGroup, labelLayer) {
    world = worldGroup;
    labels = labelLayer;
  }

  /* The scene's objects (redrawn only when they change). */
  function show(scene) {
    var json = JSON.stringify(scene || []);
    if (json === drawnScene)
      return false;
    drawnScene = json;
    drawObjects(scene || []);
    return true;
  }

  /* A box (mm) round every solid object, or null when there is none. */
  function bounds() {
    if (solidBounds !== undefined)
      return solidBounds;
    world.updateMatrixWorld(true);
    var box = new THREE.Box3();
    objects.forEach(function (o) {
      if (!o.plane)
        box.expandByObject(o.mesh);
    });
    /* expandByObject reads world matrices: take them back into the world group's frame */
    solidBounds = box.isEmpty() ? null : box.applyMatrix4(new THREE.Matrix4().getInverse(world.matrixWorld));
    return solidBounds;
  }

  /* The grid under everything within `box` (mm) with a metre to spare;
   * true when it grew or shrank. */
  function cover(box) {
    var x0 = Math.floor(box.min.x / MAJOR) * MAJOR - MAJOR, x1 = Math.ceil(box.max.x / MAJOR) * MAJOR + MAJOR;
    var y0 = Math.floor(box.min.y / MAJOR) * MAJOR - MAJOR, y1 = Math.ceil(box.max.y / MAJOR) * MAJOR + MAJOR;
    var wanted = [x0, y0, x1, y1];
    if (extent && extent.join() === wanted.join())
      return false;
    extent = wanted;
    drawGrid(x0, y0, x1, y1);
    return true;
  }

  /* Screen positions: the scale's labels placed, each object's region
   * (CSS pixels) in data-object-boxes for tests and tools. */
  function place(project) {
    scaleLabels.forEach(function (l) {
      var p = project(l.at);
      l.element.style.left = p.x + "px";
      l.element.style.top = (p.y + 4) + "px";
      l.element.hidden = !p.visible;
    });
    var boxes = {};
    objects.forEach(function (o) {
      if (o.plane)
        return;
      var box = o.box || (o.box = new THREE.Box3().setFromObject(o.mesh)
        .applyMatrix4(new THREE.Matrix4().getInverse(world.matrixWorld)));  /* mm, computed once */
      var x0 = Infinity, y0 = Infinity, x1 = -Infinity, y1 = -Infinity;
      for (var n = 0; n < 8; n++) {
        var p = project(new THREE.Vector3(n & 1 ? box.max.x : box.min.x, n & 2 ? box.max.y : box.min.y,
          n & 4 ? box.max.z : box.min.z));
        x0 = Math.min(x0, p.pageX); x1 = Math.max(x1, p.pageX); y0 = Math.min(y0, p.pageY); y1 = Math.max(y1, p.pageY);
      }
      boxes[o.name] = [x0, y0, x1, y1].map(Math.round);
    });
    document.body.dataset.objectBoxes = JSON.stringify(boxes);
  }

  return {start: start, show: show, bounds: bounds, cover: cover, place: place, poseMatrix: poseMatrix,
          MINOR: MINOR, MAJOR: MAJOR};
})();
