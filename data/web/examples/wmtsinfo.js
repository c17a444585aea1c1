// Address and tile grid of this map service. The server writes its own address over
// "localhost:8888" when it sends this file: localhost and the service's port for a browser on
// this machine, the machine's public address and the port for any other.
var wmtsUrl = "http://localhost:8888/VMRAWMTS?";

// Spherical Mercator on 256-pixel tiles, zoom levels 0 to 22; the matrix identifier is the zoom.
var matrixSet = "VMRA-GoogleMapsCompatible";
var matrixIds = [];
var resolutions = [];
for (var z = 0; z <= 22; ++z) {
    matrixIds.push(String(z));
    resolutions.push(156543.03392804097 / Math.pow(2, z));
}
