// The earth page as a plug-in: the plug-in object's calls (camera copies and views, hit tests,
// display options, built-in layers, KML files and their feature tree) as commands of the page's
// channel, and the view's page messages.
//
// Messages posted to the program:
//   "SetGEPluginObject <plug-in version>\t<NAME>=<value>,..."  the plug-in is up; its constants
//   "OnViewChange <lon>,<lat>,<alt>"        the camera moves (eye position, metres)
//   "OnViewChangeEnd <lon>,<lat>,<alt>"     the camera came to rest
//   "OnMouseCoordChange <lon>,<lat>,<alt>"  the point under the mouse
//   "ge:kml <token> <1|0>"                  a KML file asked for with ge.parseKml was added (1) or not
//   "ge:features"                           the feature tree changed
// Numbers are written by the script itself (a '.' as decimal point).
(function () {
  "use strict";
  var E = window.velmoraEarth;
  var C = window.Cesium;
  if (!E || !C) return;

  var VERSION = "1.0.0";
  // The plug-in's constants, handed to the program with the object.
  var K = {
    UNITS_PIXELS: 0, UNITS_FRACTION: 1, UNITS_INSET_PIXELS: 2,
    ALTITUDE_RELATIVE_TO_GROUND: 0, ALTITUDE_ABSOLUTE: 2,
    HIT_TEST_GLOBE: 1, HIT_TEST_TERRAIN: 2, HIT_TEST_BUILDINGS: 3,
    SPEED_TELEPORT: 5,
    MAP_TYPE_EARTH: 1, MAP_TYPE_SKY: 2,
    VISIBILITY_HIDE: 0, VISIBILITY_SHOW: 1, VISIBILITY_AUTO: 2,
    LAYER_TERRAIN: 1, LAYER_BORDERS: 2, LAYER_ROADS: 3, LAYER_BUILDINGS: 4,
    LAYER_BUILDINGS_LOW_RESOLUTION: 5, LAYER_TREES: 6,
  };
  var P;               // the globe's parts, once up
  var heightmap;       // the terrain provider of the heights, kept while terrain is off
  var grid;            // the grid imagery layer while the grid is on
  var overlays = {};   // status bar, scale legend, overview map, navigation control
  var options = {
    statusBar: 0, grid: 0, overviewMap: 0, scaleLegend: 0, atmosphere: 0, historicalImagery: 0,
    timeControl: 0, sun: 0, mapType: K.MAP_TYPE_EARTH, navigationControl: K.VISIBILITY_HIDE,
    flyToSpeed: 1, terrainExaggeration: 1,
  };
  // Layers without offline data keep their state only.
  var layers = { 1: 1, 2: 0, 3: 0, 4: 0, 5: 0, 6: 0 };
  var nodes = {};      // feature id -> { source | entity }
  var nextId = 1;
  var kmlToken = 0;

  function deg(r) { return C.Math.toDegrees(r); }
  function rad(d) { return C.Math.toRadians(d); }
  function post(text) { P.post(text); }
  function finite(values) {
    for (var i = 0; i < values.length; ++i)
      if (typeof values[i] !== "number" || !isFinite(values[i])) throw new Error("arguments must be numbers");
  }

  // ---- camera ----
  function eye() {
    var c = P.camera.positionCartographic;
    return [deg(c.longitude), deg(c.latitude), c.height];
  }
  function copyAsCamera() {
    var e = eye(), cam = P.camera;
    return [e[0], e[1], e[2], deg(cam.heading), deg(cam.pitch) + 90, deg(cam.roll)];
  }
  // Sets the camera: teleports, or flies in a time given by the fly-to speed.
  function setAbstractView(lon, lat, alt, heading, tilt, roll, teleport) {
    finite([lon, lat, alt, heading, tilt, roll]);
    if (Math.abs(lat) > 90) throw new Error("latitude out of range");
    var destination = C.Cartesian3.fromDegrees(lon, lat, alt, P.ellipsoid);
    var orientation = { heading: rad(heading), pitch: rad(tilt - 90), roll: rad(roll) };
    P.camera.cancelFlight();
    var speed = options.flyToSpeed;
    if (teleport || speed >= K.SPEED_TELEPORT) {
      P.camera.setView({ destination: destination, orientation: orientation });
      return;
    }
    var duration = speed > 0 ? Math.min(10, 2.5 / speed) : 10;
    P.camera.flyTo({ destination: destination, orientation: orientation, duration: duration });
  }

  // ---- hit tests ----
  function hitTest(x, y, mode) {
    finite([x, y]);
    var p;
    if (mode === K.HIT_TEST_GLOBE) {
      p = P.camera.pickEllipsoid(new C.Cartesian2(x, y), P.ellipsoid);
      if (!C.defined(p)) throw new Error("no globe under the point");
      var g = P.ellipsoid.cartesianToCartographic(p);
      return [deg(g.longitude), deg(g.latitude), 0];
    }
    p = P.pickPixel(x, y);
    if (!C.defined(p)) throw new Error("no terrain under the point");
    var t = P.ellipsoid.cartesianToCartographic(p);
    return [deg(t.longitude), deg(t.latitude), P.trueHeight(t.height)];
  }

  // ---- display options ----
  function overlay(name, css) {
    if (overlays[name]) return overlays[name];
    var div = document.createElement("div");
    div.className = "ge-overlay ge-" + name;
    div.style.cssText = "position:absolute;z-index:10;pointer-events:none;font:11px sans-serif;color:#fff;" +
        "background:rgba(0,0,0,0.6);display:none;" + css;
    document.body.appendChild(div);
    overlays[name] = div;
    return div;
  }
  // The overlays lie outside the capture rectangle (5, 70)-(W - 83, H - 93).
  function showOverlays() {
    overlay("status", "left:0;right:0;bottom:0;height:18px;padding:2px 6px;").style.display =
        options.statusBar ? "block" : "none";
    overlay("scale", "left:6px;bottom:30px;width:100px;height:12px;border:1px solid #fff;border-top:none;")
        .style.display = options.scaleLegend ? "block" : "none";
    overlay("overview", "right:4px;top:4px;width:90px;height:60px;").style.display =
        options.overviewMap ? "block" : "none";
    overlay("navigation", "right:4px;top:80px;width:70px;height:140px;border-radius:35px;").style.display =
        options.navigationControl === K.VISIBILITY_SHOW ? "block" : "none";
    updateOverlays();
  }
  function updateOverlays() {
    if (options.overviewMap && overlays.overview) {
      var e = eye();
      overlays.overview.textContent = e[0].toFixed(2) + ", " + e[1].toFixed(2);
    }
  }
  function setAtmosphere(on) {
    if (on && !P.scene.skyAtmosphere) P.scene.skyAtmosphere = new C.SkyAtmosphere(P.ellipsoid);
    if (P.scene.skyAtmosphere) P.scene.skyAtmosphere.show = !!on;
    P.globe.showGroundAtmosphere = !!on;
  }
  function setSun(on) {
    if (on && !P.scene.sun) P.scene.sun = new C.Sun();
    if (P.scene.sun) P.scene.sun.show = !!on;
    P.globe.enableLighting = !!on;
  }
  function setGrid(on) {
    if (on && !grid) {
      grid = P.scene.imageryLayers.addImageryProvider(new C.GridImageryProvider({
        cells: 4, color: C.Color.YELLOW.withAlpha(0.8), glowColor: C.Color.YELLOW.withAlpha(0.1), backgroundColor:
        C.Color.TRANSPARENT }));
    } else if (!on && grid) {
      P.scene.imageryLayers.remove(grid, true);
      grid = undefined;
    }
  }
  function setOption(name, value) {
    if (!options.hasOwnProperty(name)) throw new Error("unknown option " + name);
    if (typeof value !== "number" || !isFinite(value)) throw new Error("option values must be numbers");
    options[name] = value;
    if (name === "atmosphere") setAtmosphere(value);
    else if (name === "sun") setSun(value);
    else if (name === "grid") setGrid(value);
    else if (name === "terrainExaggeration") P.scene.verticalExaggeration = value;
    else if (name === "statusBar" || name === "scaleLegend" || name === "overviewMap" || name === "navigationControl")
      showOverlays();
    P.needFrame();
  }
  function enableLayer(id, on) {
    if (!layers.hasOwnProperty(id)) throw new Error("unknown layer " + id);
    layers[id] = on ? 1 : 0;
    if (+id === K.LAYER_TERRAIN) {
      if (!heightmap) heightmap = P.globe.terrainProvider;
      P.globe.terrainProvider = on ? heightmap : new C.EllipsoidTerrainProvider();
    }
    P.needFrame();
  }
  function optionsText() {
    var parts = [];
    for (var name in options) parts.push(name + "=" + options[name]);
    for (var id in layers) parts.push("layer" + id + "=" + layers[id]);
    return parts.join(" ");
  }

  // ---- features ----
  function idOf(thing) {
    if (!thing.__geId) {
      thing.__geId = nextId++;
      nodes[thing.__geId] = thing;
    }
    return thing.__geId;
  }
  function childrenOf(source, parent) {
    var list = [], all = source.entities.values;
    for (var i = 0; i < all.length; ++i)
      if ((all[i].parent || null) === parent) list.push(all[i]);
    return list;
  }
  function featureLines() {
    var lines = [];
    function walk(source, entity, depth) {
      var kids = childrenOf(source, entity);
      for (var i = 0; i < kids.length; ++i) {
        var e = kids[i];
        lines.push(depth + "\t" + idOf(e) + "\t" + (e.show ? 1 : 0) + "\t" + String(e.name || "").replace(/[\t\n\r]/g, " "));
        walk(source, e, depth + 1);
      }
    }
    var sources = P.kmlSources;
    for (var i = 0; i < sources.length; ++i) {
      var s = sources[i];
      if (s.__geRemoved) continue;
      lines.push("0\t" + idOf(s) + "\t" + (s.show ? 1 : 0) + "\t" + String(s.name || "").replace(/[\t\n\r]/g, " "));
      walk(s, null, 1);
    }
    return lines.join("\n");
  }
  function parseKml(url) {
    var token = ++kmlToken;
    P.camera.cancelFlight();
    C.KmlDataSource.load(url, { camera: P.camera, canvas: P.scene.canvas }).then(function (source) {
      if (!source || source.entities.values.length === 0) {
        post("ge:kml " + token + " 0");
        return;
      }
      P.kmlSources.push(source);
      P.dataSources.add(source);
      P.needFrame();
      P.camera.flyTo({ destination: viewOf(source), duration: 0 });
      post("ge:kml " + token + " 1");
      post("ge:features");
    }, function (error) {
      console.error("KML " + url + ": " + error);
      post("ge:kml " + token + " 0");
    });
    return token;
  }
  // The view the plug-in computes for a feature: the rectangle of its positions.
  function viewOf(source) {
    var points = [], all = source.entities.values, now = C.JulianDate.now();
    for (var i = 0; i < all.length; ++i) {
      var e = all[i], p = e.position ? e.position.getValue(now) : undefined;
      if (p) points.push(p);
      var shape = e.polyline ? e.polyline.positions : e.polygon ? e.polygon.hierarchy : undefined;
      var v = shape ? shape.getValue(now) : undefined;
      if (v && v.positions) v = v.positions;
      if (v && v.length) points = points.concat(v);
    }
    if (points.length === 0) return P.camera.positionWC.clone();
    var r = C.Rectangle.fromCartesianArray(points, P.ellipsoid);
    var pad = Math.max(0.01, Math.max(r.width, r.height) * 0.25);
    return new C.Rectangle(r.west - pad, r.south - pad, r.east + pad, r.north + pad);
  }
  function setVisibility(id, on) {
    var n = nodes[id];
    if (!n) throw new Error("no feature " + id);
    n.show = !!on;
    P.needFrame();
    return n.show ? 1 : 0;
  }
  function clearFeatures() {
    var sources = P.kmlSources;
    for (var i = 0; i < sources.length; ++i) {
      sources[i].__geRemoved = true;
      P.dataSources.remove(sources[i], false);
      sources[i].show = false;
    }
    sources.length = 0;
    nodes = {};
    post("ge:features");
  }

  // ---- the view's drawing over the globe: the free region and the rubber band ----
  var svg;
  function pairs(text) {
    var out = [], parts = String(text || "").split(" ");
    for (var i = 0; i < parts.length; ++i) {
      var xy = parts[i].split(",");
      if (xy.length !== 2) continue;
      var x = parseFloat(xy[0]), y = parseFloat(xy[1]);
      if (isFinite(x) && isFinite(y)) out.push(x + "," + y);
    }
    return out.join(" ");
  }
  function drawOverlay(ring, band) {
    var ns = "http://www.w3.org/2000/svg";
    if (!svg) {
      svg = document.createElementNS(ns, "svg");
      svg.setAttribute("style", "position:absolute;left:0;top:0;width:100%;height:100%;z-index:20;pointer-events:none;");
      document.body.appendChild(svg);
    }
    while (svg.firstChild) svg.removeChild(svg.firstChild);
    var points = pairs(ring);
    if (points) {
      var line = document.createElementNS(ns, "polyline");
      line.setAttribute("points", points);
      line.setAttribute("style", "fill:none;stroke:#ff0000;stroke-width:2");
      svg.appendChild(line);
    }
    var b = String(band || "").split(" ").map(parseFloat);
    if (b.length === 4 && b.every(isFinite)) {
      var rect = document.createElementNS(ns, "rect");
      rect.setAttribute("x", b[0]);
      rect.setAttribute("y", b[1]);
      rect.setAttribute("width", Math.max(0, b[2]));
      rect.setAttribute("height", Math.max(0, b[3]));
      rect.setAttribute("style", "fill:none;stroke:#000;stroke-width:1;stroke-dasharray:4 2");
      svg.appendChild(rect);
    }
  }

  // ---- the program's calls ----
  function numbers(list) { return list.map(String).join(" "); }
  E.addCommand("ge.camera", function () { return numbers(copyAsCamera()); });
  E.addCommand("ge.setAbstractView", function (lon, lat, alt, heading, tilt, roll, teleport) {
    setAbstractView(lon, lat, alt, heading, tilt, roll, !!teleport);
    return "";
  });
  E.addCommand("ge.hitTest", function (x, y, mode) { return numbers(hitTest(x, y, mode)); });
  E.addCommand("ge.options", function () { return optionsText(); });
  E.addCommand("ge.setOption", function (name, value) { setOption(String(name), value); return optionsText(); });
  E.addCommand("ge.enableLayer", function (id, on) { enableLayer(String(id), on); return optionsText(); });
  E.addCommand("ge.parseKml", function (url) { return String(parseKml(String(url))); });
  E.addCommand("ge.features", function () { return featureLines(); });
  E.addCommand("ge.setVisibility", function (id, on) { return String(setVisibility(String(id), on)); });
  E.addCommand("ge.overlay", function (ring, band) { drawOverlay(ring, band); return ""; });
  E.addCommand("ge.clearFeatures", function () { clearFeatures(); return ""; });
  E.addCommand("setLookAt", function (lon, lat, alt) {
    setAbstractView(lon, lat, alt, 0, 0, 0, true);
    return "";
  });
  window.setLookAt = function (lon, lat, alt) {
    setAbstractView(+lon, +lat, +alt, 0, 0, 0, true);
    return true;
  };

  // ---- the view's messages ----
  function place(values) { return values[0] + "," + values[1] + "," + values[2]; }
  var lastChange = 0;
  function start() {
    if (E.failed) return;
    P = E.parts();
    if (!P.scene) {
      setTimeout(start, 50);
      return;
    }
    heightmap = P.globe.terrainProvider;
    showOverlays();
    P.camera.percentageChanged = 0.001;
    P.camera.changed.addEventListener(function () {
      var now = Date.now();
      if (now - lastChange < 50) return;
      lastChange = now;
      updateOverlays();
      post("OnViewChange " + place(eye()));
    });
    P.camera.moveEnd.addEventListener(function () {
      updateOverlays();
      post("OnViewChange " + place(eye()));
      post("OnViewChangeEnd " + place(eye()));
    });
    var handler = new C.ScreenSpaceEventHandler(P.scene.canvas);
    handler.setInputAction(function (movement) {
      try {
        var at = hitTest(movement.endPosition.x, movement.endPosition.y, K.HIT_TEST_TERRAIN);
        if (options.statusBar && overlays.status)
          overlays.status.textContent = at[0].toFixed(6) + ", " + at[1].toFixed(6) + "  " + at[2].toFixed(0) + " m";
        post("OnMouseCoordChange " + place(at));
      } catch (e) {
        // off the globe: nothing to report
      }
    }, C.ScreenSpaceEventType.MOUSE_MOVE);
    var names = [];
    for (var k in K) names.push(k + "=" + K[k]);
    post("SetGEPluginObject " + VERSION + "\t" + names.join(","));
  }
  if (document.readyState === "complete") start();
  else window.addEventListener("load", start);
})();
