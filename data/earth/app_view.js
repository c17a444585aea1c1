// The earth application view's page commands: the free region drawn on an overlay above the
// globe, coordinates turned into window pixels, whole KML documents dropped by name, and the
// globe's layers (imagery, terrain, grid, temporary places) listed and switched for the side panel.
(function () {
  "use strict";
  var E = window.velmoraEarth;
  if (!E || !E.addCommand) return;
  var C = window.Cesium;
  var overlay = null;
  var gridLayer = null;
  var savedTerrain = null;

  function overlayCanvas() {
    if (overlay) return overlay;
    overlay = document.createElement("canvas");
    overlay.id = "regionOverlay";
    overlay.style.position = "absolute";
    overlay.style.left = "0";
    overlay.style.top = "0";
    overlay.style.pointerEvents = "none";
    overlay.style.zIndex = "10";
    document.body.appendChild(overlay);
    return overlay;
  }

  // Pixels x0, y0, x1, y1, ... of the region's ring; none clears it.
  E.addCommand("regionOverlay", function () {
    var xy = Array.prototype.slice.call(arguments).map(Number);
    var canvas = overlayCanvas();
    canvas.width = window.innerWidth;
    canvas.height = window.innerHeight;
    var g = canvas.getContext("2d");
    g.clearRect(0, 0, canvas.width, canvas.height);
    if (xy.length >= 2) {
      g.strokeStyle = "rgba(255,0,0,1)";
      g.fillStyle = "rgba(255,0,0,0.25)";
      g.lineWidth = 2;
      g.beginPath();
      g.moveTo(xy[0], xy[1]);
      for (var i = 2; i + 1 < xy.length; i += 2) g.lineTo(xy[i], xy[i + 1]);
      if (xy.length >= 6) {
        g.closePath();
        g.fill();
      }
      g.stroke();
    }
    return String(xy.length / 2);
  });

  // The window pixel of a longitude and latitude on the terrain: "x y".
  E.addCommand("toPixel", function (lng, lat) {
    var p = E.parts();
    var carto = C.Cartographic.fromDegrees(+lng, +lat);
    var h = p.globe.getHeight(carto);
    var point = C.Cartographic.toCartesian(new C.Cartographic(carto.longitude, carto.latitude, h || 0), p.ellipsoid);
    var px = C.SceneTransforms.wgs84ToWindowCoordinates(p.scene, point);
    if (!C.defined(px)) throw new Error("the point is not on the screen");
    return px.x + " " + px.y;
  });

  // Removes the KML documents named `name` (a document opened again replaces the old one).
  E.addCommand("dropKml", function (name) {
    var p = E.parts();
    var dropped = 0;
    for (var i = p.kmlSources.length - 1; i >= 0; --i) {
      var source = p.kmlSources[i];
      if (String(source.name || "") !== String(name)) continue;
      p.kmlSources.splice(i, 1);
      if (p.dataSources.contains(source)) p.dataSources.remove(source, true);
      dropped += 1;
    }
    p.needFrame();
    return String(dropped);
  });

  // The names of the places of every shown KML document (network links' contents included), one
  // a line.
  E.addCommand("placeNames", function () {
    var names = [];
    E.parts().kmlSources.forEach(function (source) {
      if (!source.show) return;
      source.entities.values.forEach(function (entity) {
        if (entity.name !== undefined && (entity.position !== undefined || entity.polyline !== undefined)) {
          names.push(String(entity.name));
        }
      });
    });
    return names.join("\n");
  });

  function layerList() {
    var p = E.parts();
    var list = [
      { name: "影像", visible: function () { return p.globe.imageryLayers.get(0).show; },
        set: function (on) { p.globe.imageryLayers.get(0).show = on; } },
      { name: "地形", visible: function () { return savedTerrain === null; },
        set: function (on) {
          if (on && savedTerrain !== null) { p.globe.terrainProvider = savedTerrain; savedTerrain = null; }
          if (!on && savedTerrain === null) {
            savedTerrain = p.globe.terrainProvider;
            p.globe.terrainProvider = new C.EllipsoidTerrainProvider();
          }
        } },
      { name: "网格线", visible: function () { return gridLayer !== null && gridLayer.show; },
        set: function (on) {
          if (gridLayer === null) {
            gridLayer = p.globe.imageryLayers.addImageryProvider(new C.GridImageryProvider({}));
          }
          gridLayer.show = on;
        } },
    ];
    p.kmlSources.forEach(function (source) {
      list.push({ name: String(source.name || ""), visible: function () { return source.show; },
                  set: function (on) { source.show = on; } });
    });
    return list;
  }

  // "1\tname" or "0\tname" per layer, one a line.
  E.addCommand("layers", function () {
    return layerList().map(function (l) { return (l.visible() ? "1" : "0") + "\t" + l.name; }).join("\n");
  });

  // Inverts layer `index` when it still bears `name`; answers its visibility afterwards.
  E.addCommand("toggleLayer", function (index, name) {
    var list = layerList();
    var layer = list[+index];
    if (!layer || (name !== undefined && name !== null && layer.name !== String(name))) {
      throw new Error("no layer " + index);
    }
    layer.set(!layer.visible());
    E.parts().needFrame();
    return layer.visible() ? "1" : "0";
  });
})();
