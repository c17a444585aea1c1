// The earth page's script: the globe and the page's side of the program's call channel.
//
// The program calls velmoraEarth.run(name, ...args) through one ordered channel; each call runs
// at once and returns "<seq> <answer>", where seq counts the commands run so far (a call that
// fails throws). The page pushes its state with velmora.postMessage:
//   "earth:ready <version>\t<renderer>"      the globe is up
//   "earth:fail <reason>"                     no library or no WebGL: the page cannot work
//   "earth:state <seq> <progress> <exaggeration> <width> <height>"  whenever one changes
// Progress is 100 only when imagery and terrain tiles and KML files are loaded, no flight runs
// and a frame was drawn after the latest command, so a 100 carrying an older seq than the one a
// command returned says nothing about that command.
(function () {
  "use strict";
  var E = (window.velmoraEarth = {});
  var C = window.Cesium;
  var post = function (text) {
    if (window.velmora && typeof window.velmora.postMessage === "function") window.velmora.postMessage(text);
  };
  var widget, scene, globe, camera, ellipsoid;
  var dataSources, dataSourceDisplay;  // the KML files shown (the widget itself has none)
  var seq = 0;           // commands run
  var frameToken = 0;    // changes that need a frame drawn after them
  var drawnToken = 0;    // the token of the last frame drawn (and shown)
  var flights = 0;       // camera flights under way
  var flightNumber = 0;  // camera commands that move the camera (the latest one wins)
  var kmlLoading = 0;    // KML files being read
  var kmlSources = [];   // the KML data sources opened, in order (the temporary places)
  var lastState = "";

  function fail(reason) {
    E.failed = reason;
    post("earth:fail " + reason);
  }

  function webglRenderer() {
    var canvas = document.createElement("canvas");
    var gl = canvas.getContext("webgl2") || canvas.getContext("webgl");
    if (!gl) return null;
    var info = gl.getExtension("WEBGL_debug_renderer_info");
    return String(gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER));
  }

  function needFrame() {
    frameToken += 1;
    if (scene) scene.requestRender();
  }

  function progress() {
    var loaded = globe.tilesLoaded && kmlLoading === 0 && (!dataSourceDisplay || dataSourceDisplay.ready);
    if (loaded && flights === 0 && drawnToken === frameToken) return 100;
    var queue = globe._surface ? globe._surface._tileLoadQueueHigh.length + globe._surface._tileLoadQueueMedium.length +
        globe._surface._tileLoadQueueLow.length : 0;
    return Math.max(0, Math.min(99, 99 - queue));
  }

  function stateLine() {
    return seq + " " + progress() + " " + scene.verticalExaggeration + " " + scene.canvas.clientWidth + " " +
        scene.canvas.clientHeight;
  }

  function pushState() {
    if (!scene) return;
    var line = stateLine();
    if (line !== lastState) {
      lastState = line;
      post("earth:state " + line);
    }
  }

  // A frame counts as drawn once the browser has shown it: two animation frames after Cesium
  // rendered it.
  function onPostRender() {
    var token = frameToken;
    if (token === drawnToken) return;
    requestAnimationFrame(function () {
      requestAnimationFrame(function () {
        if (token > drawnToken) drawnToken = token;
        pushState();
      });
    });
  }

  function deg(r) { return C.Math.toDegrees(r); }
  function rad(d) { return C.Math.toRadians(d); }

  // Heights on the globe are drawn exaggerated; answers give them as the terrain has them.
  function trueHeight(h) {
    var e = scene.verticalExaggeration, rel = scene.verticalExaggerationRelativeHeight || 0;
    return e > 0 && e !== 1 ? rel + (h - rel) / e : h;
  }
  function drawnHeight(h) {
    var e = scene.verticalExaggeration, rel = scene.verticalExaggerationRelativeHeight || 0;
    return e !== 1 ? rel + (h - rel) * e : h;
  }

  // The nearest point where the ray meets the drawn terrain. The library's own pick takes the
  // first tile (by the distance of its bounding sphere) that the ray meets, which may be a skirt
  // hanging below a neighbouring tile's edge, kilometres off the surface; the nearest hit over all
  // drawn tiles is the surface.
  function pickRay(ray) {
    var tiles = globe._surface ? globe._surface._tilesToRender : null;
    if (!tiles) return globe.pick(ray, scene);
    var best, bestDistance = Infinity, hit = new C.Cartesian3();
    for (var i = 0; i < tiles.length; ++i) {
      var data = tiles[i].data;
      if (!data || !data.renderedMesh || !data.tileBoundingRegion) continue;
      if (!C.defined(C.IntersectionTests.raySphere(ray, data.tileBoundingRegion.boundingSphere))) continue;
      var p = data.pick(ray, scene.mode, scene.mapProjection, false, hit);
      if (!C.defined(p)) continue;
      var d = C.Cartesian3.distanceSquared(ray.origin, p);
      if (d < bestDistance) {
        bestDistance = d;
        best = C.Cartesian3.clone(p, best);
      }
    }
    return best;
  }

  function pickPixel(px, py) {
    var ray = camera.getPickRay(new C.Cartesian2(px, py));
    return ray ? pickRay(ray) : undefined;
  }

  // The point under the centre of the view: the globe when it is hit, else the ellipsoid.
  function focusPoint() {
    var w = scene.canvas.clientWidth, h = scene.canvas.clientHeight;
    var p = pickPixel(w / 2, h / 2);
    if (!C.defined(p)) p = camera.pickEllipsoid(new C.Cartesian2(w / 2, h / 2), ellipsoid);
    return p;
  }

  function num(x) { return String(x); }

  // focus longitude, latitude, altitude, range, tilt, azimuth (degrees, metres)
  function getCamera() {
    var focus = focusPoint();
    if (!C.defined(focus)) throw new Error("the view shows no globe");
    var carto = ellipsoid.cartesianToCartographic(focus);
    var pos = camera.positionWC;
    var range = C.Cartesian3.distance(pos, focus);
    var frame = C.Transforms.eastNorthUpToFixedFrame(
        C.Cartesian3.fromRadians(carto.longitude, carto.latitude, 0, ellipsoid), ellipsoid);
    var east = C.Cartesian3.fromCartesian4(C.Matrix4.getColumn(frame, 0, new C.Cartesian4()));
    var north = C.Cartesian3.fromCartesian4(C.Matrix4.getColumn(frame, 1, new C.Cartesian4()));
    var up = C.Cartesian3.fromCartesian4(C.Matrix4.getColumn(frame, 2, new C.Cartesian4()));
    var tilt = 0, azimuth = deg(camera.heading);
    if (range > 1e-6) {
      var toCamera = C.Cartesian3.normalize(C.Cartesian3.subtract(pos, focus, new C.Cartesian3()), new C.Cartesian3());
      tilt = deg(Math.acos(Math.max(-1, Math.min(1, C.Cartesian3.dot(up, toCamera)))));
      // Looking (almost) straight down, the line of sight has no usable direction on the ground:
      // the azimuth is where the top of the view points (the camera's heading).
      if (tilt > 1e-3) azimuth = deg(Math.atan2(-C.Cartesian3.dot(toCamera, east), -C.Cartesian3.dot(toCamera, north)));
    }
    if (azimuth < 0) azimuth += 360;
    if (azimuth >= 360) azimuth -= 360;
    return [deg(carto.longitude), deg(carto.latitude), trueHeight(carto.height), range, tilt, azimuth];
  }

  function groundHeight(lon, lat) {
    var h = globe.getHeight(C.Cartographic.fromDegrees(lon, lat));
    return C.defined(h) ? trueHeight(h) : 0;
  }

  // The camera at `range` from the target, looking at it with the tilt (0 = straight down) and
  // azimuth (clockwise from north) of the target's local frame; range 0: at the target.
  function setCamera(lat, lon, alt, altMode, range, tilt, azimuth, speed) {
    var values = [lat, lon, alt, range, tilt, azimuth];
    for (var i = 0; i < values.length; ++i)
      if (!isFinite(values[i])) throw new Error("camera values must be numbers");
    if (Math.abs(lat) > 90 || range < 0) throw new Error("camera values out of range");
    var height = altMode === 2 ? alt : groundHeight(lon, lat) + alt;
    var target = C.Cartesian3.fromDegrees(lon, lat, drawnHeight(height), ellipsoid);
    // The local frame of the point on the ellipsoid below the target: the frame of a point above
    // the surface would tilt "down" away from the geodetic normal by an angle that grows with
    // the height.
    var frame = C.Transforms.eastNorthUpToFixedFrame(C.Cartesian3.fromDegrees(lon, lat, 0, ellipsoid), ellipsoid);
    var h = rad(azimuth), p = rad(tilt - 90);
    var dirLocal = new C.Cartesian3(Math.sin(h) * Math.cos(p), Math.cos(h) * Math.cos(p), Math.sin(p));
    var rightLocal = new C.Cartesian3(Math.cos(h), -Math.sin(h), 0);
    var direction = C.Matrix4.multiplyByPointAsVector(frame, dirLocal, new C.Cartesian3());
    var right = C.Matrix4.multiplyByPointAsVector(frame, rightLocal, new C.Cartesian3());
    var up = C.Cartesian3.cross(right, direction, new C.Cartesian3());
    C.Cartesian3.normalize(direction, direction);
    C.Cartesian3.normalize(up, up);
    var destination = C.Cartesian3.subtract(target, C.Cartesian3.multiplyByScalar(direction, range, new C.Cartesian3()),
        new C.Cartesian3());
    var orientation = { direction: direction, up: up };
    camera.cancelFlight();
    if (speed >= 5) {
      flightNumber += 1;
      camera.setView({ destination: destination, orientation: orientation });
      return;
    }
    flights += 1;
    flightNumber += 1;
    var number = flightNumber;
    var ended = false;
    var end = function (completed) {
      if (ended) return;
      ended = true;
      flights -= 1;
      // The flight's last frame may stop short of the destination: put the camera there exactly,
      // unless a later camera command took over (a cancelled or superseded flight's end must
      // not pull the camera back to where it was going).
      if (completed && number === flightNumber) camera.setView({ destination: destination, orientation: orientation });
      needFrame();
      pushState();
    };
    camera.flyTo({ destination: destination, orientation: orientation, duration: 0.25,
      complete: function () { end(true); }, cancel: function () { end(false); },
      easingFunction: C.EasingFunction.LINEAR_NONE });
  }

  function pick(x, y) {
    var w = scene.canvas.clientWidth, h = scene.canvas.clientHeight;
    var p = pickPixel((x + 1) * w / 2, (1 - y) * h / 2);
    if (!C.defined(p)) throw new Error("no terrain under the point");
    var carto = ellipsoid.cartesianToCartographic(p);
    return [deg(carto.longitude), deg(carto.latitude), trueHeight(carto.height)];
  }

  function openKml(url) {
    kmlLoading += 1;
    var done = false;
    var finish = function () {
      if (done) return;
      done = true;
      kmlLoading -= 1;
      needFrame();
      pushState();
    };
    C.KmlDataSource.load(url, { camera: camera, canvas: scene.canvas }).then(function (source) {
      try {
        kmlSources.push(source);
        dataSources.add(source);
      } catch (e) {
        console.error("KML " + url + ": " + e);
      }
      finish();
    }, function (error) {
      console.error("KML " + url + ": " + error);
      finish();
    });
  }

  function hideTemporary(prefix) {
    var count = 0;
    for (var i = 0; i < kmlSources.length; ++i) {
      var name = String(kmlSources[i].name || "");
      if (prefix === null || prefix === undefined || name.substring(0, prefix.length) === prefix) {
        kmlSources[i].show = false;
        count += 1;
      }
    }
    return count;
  }

  var commands = {
    camera: function () { return getCamera().map(num).join(" "); },
    setCamera: function (lat, lon, alt, altMode, range, tilt, azimuth, speed) {
      setCamera(+lat, +lon, +alt, +altMode, +range, +tilt, +azimuth, +speed);
      return "";
    },
    lookReset: function () {
      var c = getCamera();
      setCamera(c[1], c[0], c[2], 2, c[3], 0, 0, 4);
      return "";
    },
    pick: function (x, y) { return pick(+x, +y).map(num).join(" "); },
    // A pixel of the page as it is now (callers' sizes may lag behind a resize).
    pickPixel: function (px, py) {
      var w = scene.canvas.clientWidth, h = scene.canvas.clientHeight;
      return pick(2 * px / w - 1, 1 - 2 * py / h).map(num).join(" ");
    },
    exaggeration: function (value) {
      if (value !== undefined && value !== null) {
        if (!(isFinite(value) && value >= 0)) throw new Error("bad exaggeration");
        scene.verticalExaggeration = +value;
      }
      return num(scene.verticalExaggeration);
    },
    openKml: function (url) { openKml(String(url)); return ""; },
    hideTemporary: function (prefix) { return num(hideTemporary(prefix)); },
    kmlNames: function () { return kmlSources.map(function (s) { return (s.show ? "1" : "0") + String(s.name); }).join("\n"); },
    version: function () { return String(C.VERSION); },
    size: function () { return scene.canvas.clientWidth + " " + scene.canvas.clientHeight; },
    frame: function () { return ""; },
    state: function () { return stateLine(); },
    debug: function () {
      return [globe.tilesLoaded, kmlLoading, flights, frameToken, drawnToken].join(" ");
    },
  };

  // The page's other scripts (loaded after this one) add their commands here and reach the globe
  // through E.parts(), which reads the live objects at each call (they exist once the globe is up).
  E.addCommand = function (name, f) {
    commands[name] = f;
  };
  E.parts = function () {
    return {
      widget: widget, scene: scene, globe: globe, camera: camera, ellipsoid: ellipsoid,
      dataSources: dataSources, kmlSources: kmlSources, needFrame: needFrame, post: post,
      pickPixel: pickPixel, trueHeight: trueHeight, drawnHeight: drawnHeight, progress: progress,
      pushState: pushState,
    };
  };

  E.run = function (name) {
    if (E.failed) throw new Error(E.failed);
    if (!scene) throw new Error("the globe is not up");
    var f = commands[name];
    if (typeof f !== "function") throw new Error("unknown command " + name);
    var answer = f.apply(null, Array.prototype.slice.call(arguments, 1));
    seq += 1;
    needFrame();
    setTimeout(pushState, 0);
    return seq + " " + answer;
  };

  function start() {
    if (!C) return fail("the globe library is missing");
    var renderer = webglRenderer();
    if (!renderer) return fail("no WebGL");
    try {
      C.Ion.defaultAccessToken = "";
      var source = window.velmoraEarthSource, maxLevel = parseInt(window.velmoraEarthMaxLevel, 10);
      var imagery = new C.UrlTemplateImageryProvider({
        url: "velmora://tile/" + source + "/{z}/{x}/{y}",
        tilingScheme: new C.WebMercatorTilingScheme(),
        maximumLevel: isFinite(maxLevel) ? maxLevel : 18,
        credit: "",
      });
      var terrain = new C.CustomHeightmapTerrainProvider({
        width: 65, height: 65,
        tilingScheme: new C.GeographicTilingScheme(),
        callback: function (x, y, level) {
          // XMLHttpRequest (through the library's Resource): this engine's fetch refuses our scheme.
          return C.Resource.fetchArrayBuffer({ url: "velmora://terrain/" + level + "/" + x + "/" + y }).then(function (bytes) {
            return bytes && bytes.byteLength === 65 * 65 * 4 ? new Float32Array(bytes) : new Float32Array(65 * 65);
          }, function () { return new Float32Array(65 * 65); });
        },
      });
      widget = new C.CesiumWidget("globe", {
        baseLayer: new C.ImageryLayer(imagery),
        terrainProvider: terrain,
        skyBox: false,
        skyAtmosphere: false,
        creditContainer: document.getElementById("credits"),
        useBrowserRecommendedResolution: true,
        requestRenderMode: false,
        targetFrameRate: 30,
      });
      scene = widget.scene;
      globe = scene.globe;
      camera = scene.camera;
      ellipsoid = globe.ellipsoid;
      dataSources = new C.DataSourceCollection();
      dataSourceDisplay = new C.DataSourceDisplay({ scene: scene, dataSourceCollection: dataSources });
      widget.clock.onTick.addEventListener(function (clock) { dataSourceDisplay.update(clock.currentTime); });
      globe.showGroundAtmosphere = false;
      globe.enableLighting = false;
      scene.fog.enabled = false;
      if (scene.sun) scene.sun.show = false;
      if (scene.moon) scene.moon.show = false;
      scene.postRender.addEventListener(onPostRender);
      globe.tileLoadProgressEvent.addEventListener(pushState);
      setInterval(pushState, 100);
      needFrame();
      post("earth:ready " + C.VERSION + "\t" + renderer);
    } catch (e) {
      fail("the globe cannot start: " + e);
    }
  }
  if (document.readyState === "complete") start();
  else window.addEventListener("load", start);
})();
