/*
 * One arm of the live view, drawn as its collision body: the capsules
 * /state.json lists for it (world frame, mm), a housing (grey) at each joint,
 * the links orange, the tool grey. An arm without a body is drawn from the
 * DH table instead. A fault tints the links red, a joint at its limit turns
 * its housing violet, the parts touching something turn pink and each
 * contact point gets a yellow marker (with the normal that pushes the arm
 * out), drawn over the objects that hide it. scene.js places the arms.
 */
var ViewArm = (function () {
  "use strict";

  var ARM_COLOUR = 0xff7a1a;     /* links: tests look for this hue in the screenshot */
  var FAULT_COLOUR = 0xd62828;   /* the links of an arm in its error state */
  var LIMIT_COLOUR = 0x7048e8;   /* the housing of a joint at its limit (as in the readout) */
  var JOINT_COLOUR = 0x3d4450;
  var TOOL_COLOUR = 0x5c636b;
  var CONTACT_COLOUR = 0xe64980; /* the parts of an arm that touch something */
  var MARKER_COLOUR = 0xffe600;  /* a contact point */
  var PLATE_HEIGHT = 8;          /* mm: the column's capsule ends this far above the base plane */

  var geometry = null;           /* /arm.json */
  var unitCylinder, unitSphere;
  var poseMatrix = ViewCell.poseMatrix;

  /* ---- building blocks ------------------------------------------------------- */

  /* Markers (a trail, a target, a contact) are drawn over what would hide them. */
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

  function make(address, onpick) {
    var model = {
      group: new THREE.Group(),      /* shifted beside the others when never placed */
      body: new THREE.Group(),       /* the capsules, in the world frame */
      capsules: [],                  /* {cylinder, a, b} meshes, reused from sample to sample */
      marks: new THREE.Group(),      /* the contact markers, over everything */
      partMaterials: [],             /* 0..6: the links' and the tool's */
      jointMaterials: [],            /* 0..5: each joint's housing */
      label: document.createElement("button"),
      shift: new THREE.Matrix4(),
      base: new THREE.Matrix4(),
      flange: new THREE.Matrix4(),
    };
    for (var p = 0; p < 7; p++)
      model.partMaterials.push(standard(p === 6 ? TOOL_COLOUR : ARM_COLOUR));
    for (var j = 0; j < 6; j++)
      model.jointMaterials.push(new THREE.MeshStandardMaterial({color: JOINT_COLOUR, roughness: 0.6, metalness: 0.2}));
    model.group.matrixAutoUpdate = model.marks.matrixAutoUpdate = false;
    /* the base plate under the column, joint 1's housing */
    model.plate = new THREE.Group();
    model.plate.matrixAutoUpdate = false;
    model.plate.add(cylinder(new THREE.Vector3(0, 0, 0), new THREE.Vector3(0, 0, PLATE_HEIGHT), 62,
      model.jointMaterials[0]));
    model.kinematic = makeKinematicArm(model);
    model.group.add(model.plate, model.body, model.kinematic);
    model.label.className = "arm-label";
    model.label.type = "button";
    model.label.dataset.address = address;
    model.label.textContent = address;
    model.label.title = "show " + address + " in the readout";
    model.label.addEventListener("click", onpick);
    return model;
  }

  function standard(colour) {
    return new THREE.MeshStandardMaterial({color: colour, roughness: 0.55, metalness: 0.1});
  }

  /* The arm drawn from the DH table, for an arm without a body (it has no
   * capsules to draw): a housing along each joint's axis, the links as solids. */
  function makeKinematicArm(model) {
    var group = new THREE.Group();
    group.matrixAutoUpdate = false;
    model.kinematicLinks = [];
    for (var i = 0; i < 6; i++) {
      var row = geometry.dh[i];  /* [a, alpha, d] */
      var big = i < 3;
      var size = big ? 62 : 46;
      var link = new THREE.Group();
      link.matrixAutoUpdate = false;
      link.add(cylinder(new THREE.Vector3(0, 0, -size), new THREE.Vector3(0, 0, size), size, model.jointMaterials[i]));
      var bend = new THREE.Vector3(0, 0, row[2]);
      if (Math.abs(row[2]) > 1)
        link.add(cylinder(new THREE.Vector3(0, 0, 0), bend, big ? 50 : 38, i === 0 ? model.jointMaterials[0]
          : model.partMaterials[i]));
      if (Math.abs(row[0]) > 1)
        link.add(cylinder(bend, new THREE.Vector3(row[0], 0, row[2]), big ? 48 : 36, model.partMaterials[i]));
      group.add(link);
      model.kinematicLinks.push(link);
    }
    return group;
  }

  /* A capsule from a to b (mm) of radius r: a cylinder and a ball at each end
   * (one ball when a = b). */
  function placeCapsule(capsule, c, material) {
    var a = new THREE.Vector3().fromArray(c.from), b = new THREE.Vector3().fromArray(c.to);
    var along = new THREE.Vector3().subVectors(b, a);
    var length = along.length();
    capsule.a.position.copy(a);
    capsule.b.position.copy(b);
    capsule.a.scale.setScalar(c.radius);
    capsule.b.scale.setScalar(c.radius);
    capsule.cylinder.visible = capsule.b.visible = length > 1e-6;
    if (length > 1e-6) {
      capsule.cylinder.position.copy(a).addScaledVector(along, 0.5);
      capsule.cylinder.quaternion.setFromUnitVectors(new THREE.Vector3(0, 1, 0), along.divideScalar(length));
      capsule.cylinder.scale.set(c.radius, length, c.radius);
    }
    capsule.a.material = capsule.b.material = capsule.cylinder.material = material;
  }

  /* The body's capsules. A capsule of no length on parts 1..5 is the
   * housing of the joint at its start (joint 2 on part 1, ...). */
  function placeBody(model, body) {
    while (model.capsules.length < body.length) {
      var capsule = {cylinder: new THREE.Mesh(unitCylinder), a: new THREE.Mesh(unitSphere),
                     b: new THREE.Mesh(unitSphere)};
      model.body.add(capsule.cylinder, capsule.a, capsule.b);
      model.capsules.push(capsule);
    }
    model.capsules.forEach(function (capsule, n) {
      var shown = n < body.length;
      capsule.a.visible = shown;
      if (!shown) {
        capsule.b.visible = capsule.cylinder.visible = false;
        return;
      }
      var c = body[n];
      var housing = c.link >= 1 && c.link <= 5 && c.from.join() === c.to.join();
      placeCapsule(capsule, c, housing ? model.jointMaterials[c.link] : model.partMaterials[c.link]);
    });
  }

  /* A marker at each contact point (a ball and the normal pushing the arm
   * out), drawn over the objects that hide it. */
  function placeContacts(model, contacts) {
    while (model.marks.children.length < 2 * contacts.length) {
      model.marks.add(onTop(new THREE.Mesh(new THREE.SphereBufferGeometry(14, 20, 14),
        new THREE.MeshBasicMaterial({color: MARKER_COLOUR}))));
      model.marks.add(lineBetween(MARKER_COLOUR));
    }
    model.marks.children.forEach(function (mark, n) {
      var c = contacts[n >> 1];
      mark.visible = !!c;
      if (!c)
        return;
      var at = new THREE.Vector3().fromArray(c.point);
      if (n % 2 === 0)
        mark.position.copy(at);
      else
        setLine(mark, at, at.clone().addScaledVector(new THREE.Vector3().fromArray(c.normal), 90));
    });
  }

  /* The parts that touch something now: their own, and for a stop on the
   * arm itself the other part too. */
  function touchingParts(arm) {
    var parts = {};
    (arm.contacts || []).forEach(function (c) {
      parts[c.link] = true;
      if (c.with === "self")
        parts[c.other_link] = true;
    });
    return parts;
  }

  function place(model, arm, shift) {
    var f = frames(arm.joints);
    model.shift.copy(shift);
    model.base.copy(shift).multiply(poseMatrix(arm.base || [0, 0, 0, 0, 0, 0]));
    model.group.matrix.copy(shift);
    model.marks.matrix.copy(shift);
    model.group.matrixWorldNeedsUpdate = model.marks.matrixWorldNeedsUpdate = true;
    model.plate.matrix.copy(poseMatrix(arm.base || [0, 0, 0, 0, 0, 0]));
    model.kinematic.matrix.copy(model.plate.matrix);
    var hasBody = !!(arm.body && arm.body.length);
    model.body.visible = hasBody;
    model.kinematic.visible = !hasBody;
    if (hasBody)
      placeBody(model, arm.body);
    for (var i = 0; i < 6; i++) {
      model.kinematicLinks[i].matrix.copy(f[i]).multiply(new THREE.Matrix4().makeRotationZ(arm.joints[i]));
      model.kinematicLinks[i].matrixWorldNeedsUpdate = true;
    }
    var fault = arm.error.code !== 0 || arm.collision;
    var touching = touchingParts(arm);
    model.partMaterials.forEach(function (m, part) {
      m.color.setHex(touching[part] ? CONTACT_COLOUR : fault ? FAULT_COLOUR : part === 6 ? TOOL_COLOUR : ARM_COLOUR);
      m.emissive.setHex(touching[part] ? 0x4a0020 : fault ? 0x4a0000 : 0x000000);
    });
    model.jointMaterials.forEach(function (m, j) {
      var atLimit = !!(arm.at_limit && arm.at_limit[j]);
      var touched = j > 0 && touching[j];  /* the housing of joint j + 1 is on part j */
      m.color.setHex(atLimit ? LIMIT_COLOUR : touched ? CONTACT_COLOUR : JOINT_COLOUR);
      m.emissive.setHex(atLimit ? 0x2b1a66 : 0x000000);
    });
    placeContacts(model, arm.contacts || []);
    model.contacts = arm.contacts || [];
    model.label.classList.toggle("fault", fault);
    model.label.classList.toggle("touching", model.contacts.length > 0);
    model.label.textContent = fault ? arm.address + " \u2014 error " + arm.error.code : arm.address;
    model.flange.copy(model.base).multiply(f[6]);
    model.fault = fault;
    model.touching = Object.keys(touching).map(Number).sort();
  }

  function start(armGeometry) {
    geometry = armGeometry;
    unitCylinder = new THREE.CylinderBufferGeometry(1, 1, 1, 32, 1, true);
    unitSphere = new THREE.SphereBufferGeometry(1, 32, 20);
  }

  return {start: start, make: make, place: place, frames: frames, onTop: onTop, lineBetween: lineBetween,
          setLine: setLine};
})();
