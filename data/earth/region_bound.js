// The earth page's KML object bridge: placemarks, polygons, linear rings and styles made by the
// program one call at a time (as a plug-in's KML object interfaces make them), shown as one
// outline on the ground per placemark in its line colour (a fill only when the polygon style
// asks for one) and listed among the top-level features like the KML files: each appended
// placemark is a data source of its own in the page's list of KML sources, named after it.
//
// Commands (arguments as the channel passes them; object handles are numbers as text):
//   kml.create <kind> <id>           kind: placemark, polygon, linearRing, style -> handle
//   kml.call <handle> <method> ...   the object's method: setName, getName, setGeometry,
//                                    getGeometry, setOuterBoundary, getOuterBoundary,
//                                    getCoordinates, pushLatLngAlt, clear, getLength,
//                                    setStyleSelector, getStyleSelector, getLineStyle,
//                                    getPolyStyle, setFill, getFill, setWidth, getColor, set, get
//                                    -> a handle for the getters of objects, else a value or ""
//   kml.append <placemark>           the placemark among the top-level features
//   kml.find <name>                  the first top-level placemark of that name, or 0
//   kml.remove <placemark>           takes a top-level placemark away ("1"; "0" when not there)
//   kml.describe <placemark>         "name\tcolor\tfill\tlat,lng,alt;..." of the placemark
(function () {
  "use strict";
  var E = window.velmoraEarth;
  var C = window.Cesium;
  if (!E || !C || typeof E.addCommand !== "function") return;

  var objects = {};  // handle -> object
  var nextHandle = 1;

  function register(o) {
    o.handle = nextHandle++;
    objects[o.handle] = o;
    return o;
  }
  function object(handle, kind) {
    var o = objects[String(handle)];
    if (!o) throw new Error("no KML object " + handle);
    if (kind && o.kind !== kind) throw new Error("object " + handle + " is no " + kind);
    return o;
  }
  function number(x) {
    var v = typeof x === "number" ? x : parseFloat(x);
    if (!isFinite(v)) throw new Error("arguments must be numbers");
    return v;
  }

  // ---- the objects ----
  function makeColor() { return register({ kind: "color", value: "ffffffff" }); }
  function create(kind, id) {
    id = String(id || "");
    switch (String(kind)) {
      case "placemark":
        return register({ kind: "placemark", id: id, name: "", geometry: null, style: null, source: null });
      case "polygon":
        return register({ kind: "polygon", id: id, outer: null, owner: null });
      case "linearRing":
        var ring = register({ kind: "linearRing", id: id, owner: null });
        ring.coordinates = register({ kind: "coordArray", points: [], ring: ring });
        return ring;
      case "style":
        var style = register({ kind: "style", id: id, owner: null });
        style.lineStyle = register({ kind: "lineStyle", width: 2, color: makeColor(), style: style });
        style.polyStyle = register({ kind: "polyStyle", fill: 1, color: makeColor(), style: style });
        style.lineStyle.color.owner = style;
        style.polyStyle.color.owner = style;
        return style;
    }
    throw new Error("unknown KML object kind " + kind);
  }

  // KML colours are "aabbggrr".
  function kmlColor(text) {
    var t = String(text);
    if (!/^[0-9a-fA-F]{8}$/.test(t)) throw new Error("colours are 8 hexadecimal digits");
    var part = function (i) { return parseInt(t.substr(i, 2), 16) / 255; };
    return new C.Color(part(6), part(4), part(2), part(0));
  }

  // The placemark an object belongs to (through its owners), or null.
  function placemarkOf(o) {
    for (var guard = 0; o && guard < 8; ++guard) {
      if (o.kind === "placemark") return o;
      o = o.owner || o.ring || o.style || null;
    }
    return null;
  }

  // ---- drawing ----
  // The outline follows the surface: each edge in short steps, each point at the height of the
  // terrain drawn there when the outline is made (0 where none is drawn yet), and the parts the
  // terrain hides drawn through it in the same colour. A polyline clamped by the library itself
  // is cut where the terrain rises above the library's table of typical heights, which our height
  // files need not match.
  var kStepsPerEdge = 48;
  function surfaceHeight(lng, lat) {
    var P = E.parts();
    var h = P.globe.getHeight(C.Cartographic.fromDegrees(lng, lat));
    return C.defined(h) && isFinite(h) ? h : 0;
  }
  function ringPositions(p) {
    var polygon = p.geometry, ring = polygon && polygon.outer;
    if (!ring) return [];
    var points = ring.coordinates.points, out = [];
    for (var i = 0; i < points.length; ++i) {
      var a = points[i], b = points[(i + 1) % points.length];
      var steps = points.length > 1 ? kStepsPerEdge : 1;
      for (var k = 0; k < steps; ++k) {
        var lat = a[0] + (b[0] - a[0]) * k / steps, lng = a[1] + (b[1] - a[1]) * k / steps;
        out.push(C.Cartesian3.fromDegrees(lng, lat, surfaceHeight(lng, lat) + a[2]));
      }
    }
    return out;
  }
  // Rebuilds the placemark's entity when it is shown.
  function redraw(p) {
    if (!p || !p.source) return;
    var P = E.parts();
    var entities = p.source.entities;
    entities.removeAll();
    var positions = ringPositions(p);
    var lineColor = p.style ? kmlColor(p.style.lineStyle.color.value) : C.Color.WHITE;
    var entity = { id: p.id || undefined, name: p.name };
    if (positions.length >= 2) {
      entity.polyline = {
        positions: positions.concat([positions[0]]),
        width: p.style ? p.style.lineStyle.width : 2,
        material: lineColor,
        depthFailMaterial: lineColor,
        arcType: C.ArcType.NONE,
      };
    }
    if (positions.length >= 3 && (!p.style || p.style.polyStyle.fill)) {
      entity.polygon = {
        hierarchy: positions,
        material: p.style ? kmlColor(p.style.polyStyle.color.value) : C.Color.WHITE.withAlpha(0.5),
        classificationType: C.ClassificationType.TERRAIN,
      };
    }
    entities.add(entity);
    P.needFrame();
  }
  function changed(o) { redraw(placemarkOf(o)); }
  // A method that sets the object's child `field` to the object of handle h (of `kind`), and the
  // one that answers that child's handle ("0" without one).
  function setChild(field, kind) {
    return function (o, h) {
      var child = object(h, kind);
      o[field] = child;
      child.owner = o;
      changed(o);
      return "";
    };
  }
  function getChild(field) {
    return function (o) { return o[field] ? String(o[field].handle) : "0"; };
  }

  // ---- the methods ----
  var methods = {
    placemark: {
      setName: function (o, name) { o.name = String(name); if (o.source) o.source.name = o.name; changed(o); return ""; },
      getName: function (o) { return o.name; },
      setGeometry: setChild("geometry", "polygon"),
      getGeometry: getChild("geometry"),
      setStyleSelector: setChild("style", "style"),
      getStyleSelector: getChild("style"),
    },
    polygon: {
      setOuterBoundary: setChild("outer", "linearRing"),
      getOuterBoundary: getChild("outer"),
    },
    linearRing: {
      getCoordinates: function (o) { return String(o.coordinates.handle); },
    },
    coordArray: {
      pushLatLngAlt: function (o, lat, lng, alt) {
        var la = number(lat), ln = number(lng), al = number(alt);
        if (Math.abs(la) > 90) throw new Error("latitude out of range");
        o.points.push([la, ln, al]);
        changed(o);
        return String(o.points.length);
      },
      clear: function (o) { o.points.length = 0; changed(o); return ""; },
      getLength: function (o) { return String(o.points.length); },
    },
    style: {
      getLineStyle: function (o) { return String(o.lineStyle.handle); },
      getPolyStyle: function (o) { return String(o.polyStyle.handle); },
    },
    lineStyle: {
      getColor: function (o) { return String(o.color.handle); },
      setWidth: function (o, w) { o.width = Math.max(1, number(w)); changed(o); return ""; },
    },
    polyStyle: {
      getColor: function (o) { return String(o.color.handle); },
      setFill: function (o, on) { o.fill = number(on) ? 1 : 0; changed(o); return ""; },
      getFill: function (o) { return String(o.fill); },
    },
    color: {
      set: function (o, text) { kmlColor(text); o.value = String(text).toLowerCase(); changed(o); return ""; },
      get: function (o) { return o.value; },
    },
  };

  function call(handle, method) {
    var o = object(handle);
    var table = methods[o.kind] || {};
    var f = table[String(method)];
    if (typeof f !== "function") throw new Error("a " + o.kind + " has no method " + method);
    var args = [o].concat(Array.prototype.slice.call(arguments, 2));
    return f.apply(null, args);
  }

  // ---- the top-level features ----
  function append(handle) {
    var p = object(handle, "placemark");
    if (p.source) return "";
    var P = E.parts();
    p.source = new C.CustomDataSource(p.name);
    p.source.__kmlPlacemark = p;
    P.kmlSources.push(p.source);
    P.dataSources.add(p.source);
    redraw(p);
    P.post("ge:features");
    return "";
  }
  function find(name) {
    var sources = E.parts().kmlSources;
    for (var i = 0; i < sources.length; ++i) {
      var s = sources[i];
      if (s.__geRemoved || String(s.name || "") !== String(name)) continue;
      return s.__kmlPlacemark ? String(s.__kmlPlacemark.handle) : "0";
    }
    return "0";
  }
  function remove(handle) {
    var p = object(handle, "placemark");
    if (!p.source) return "0";
    var P = E.parts();
    var i = P.kmlSources.indexOf(p.source);
    if (i >= 0) P.kmlSources.splice(i, 1);
    p.source.__geRemoved = true;
    P.dataSources.remove(p.source, false);
    p.source = null;
    release(p);
    P.needFrame();
    P.post("ge:features");
    return "1";
  }
  // Forgets a removed placemark and the objects it holds.
  function release(p) {
    var held = [p];
    if (p.geometry) {
      held.push(p.geometry);
      if (p.geometry.outer) held.push(p.geometry.outer, p.geometry.outer.coordinates);
    }
    if (p.style) held.push(p.style, p.style.lineStyle, p.style.polyStyle, p.style.lineStyle.color, p.style.polyStyle.color);
    for (var i = 0; i < held.length; ++i) delete objects[held[i].handle];
  }
  function describe(handle) {
    var p = object(handle, "placemark");
    var ring = p.geometry && p.geometry.outer;
    var points = ring ? ring.coordinates.points.map(function (q) { return q.join(","); }).join(";") : "";
    return [p.name, p.style ? p.style.lineStyle.color.value : "", p.style ? p.style.polyStyle.fill : 1, points].join("\t");
  }

  E.addCommand("kml.create", function (kind, id) { return String(create(kind, id).handle); });
  E.addCommand("kml.call", call);
  E.addCommand("kml.append", append);
  E.addCommand("kml.find", find);
  E.addCommand("kml.remove", remove);
  E.addCommand("kml.describe", describe);
})();
