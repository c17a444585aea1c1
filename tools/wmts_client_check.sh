#!/usr/bin/env bash
# Real clients against the map publishing server (a manual check; nothing here reaches beyond
# 127.0.0.1):
#   curl      two requests in one run reuse the kept-alive connection;
#   GDAL      gdal_translate reads a stored tile through a TMS service description whose URL
#             carries VMRAWMTS, LAYER, TILEMATRIX, TILEROW and TILECOL; its pixels must equal the
#             stored JPEG's;
#   Chromium  headless Chromium loads the example page, OpenLayers and the map's tiles, and every
#             tile image decodes (skipped when chromium is not installed).
# The server is the harness of the benchmark (wmts_server_bench --serve) with the built web files.
#
# Usage: tools/wmts_client_check.sh [build folder]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
bench="$build/bench/wmts_server_bench"
web="$build/data"
[ -x "$bench" ] || { echo "not found: $bench (build target wmts_server_bench)" >&2; exit 1; }
[ -f "$web/wi.kmp" ] && [ -f "$web/wd.kmp" ] || { echo "not found: $web/wi.kmp, wd.kmp (build target velmora_data)" >&2; exit 1; }

work="$(mktemp -d)"
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
port="$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
mkfifo "$work/hold"
"$bench" --serve="$port" --dir="$work/srv" --web="$web" < "$work/hold" > "$work/serve.out" 2> "$work/serve.err" &
server_pid=$!
exec 9> "$work/hold"
for _ in $(seq 1 200); do
  grep -q '^ready ' "$work/serve.out" 2>/dev/null && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/serve.err" >&2; exit 1; }
  sleep 0.05
done
tile_path="$(awk '/^ready /{print $2}' "$work/serve.out")"
[ -n "$tile_path" ] || { echo "the server did not start" >&2; exit 1; }
base="http://127.0.0.1:$port"
failures=0
pass() { echo "PASS  $*"; }
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }

# ---- curl: keep-alive reuse ----
trace="$(curl -sv --noproxy '*' "$base$tile_path" -o /dev/null "$base/wmtsInfo.js" -o /dev/null 2>&1 || true)"
if grep -qi "Re-using existing connection" <<<"$trace" && [ "$(grep -c '^\* Connected to' <<<"$trace")" = 1 ]; then
  pass "curl: second request on the kept-alive connection"
else
  fail "curl: the connection was not reused"
fi

# ---- GDAL: TMS service description ----
cat > "$work/tms.xml" <<EOF
<GDAL_WMS>
  <Service name="TMS">
    <ServerUrl>$base/VMRAWMTS?SERVICE=WMTS&amp;REQUEST=GetTile&amp;LAYER=35&amp;TILEMATRIX=\${z}&amp;TILEROW=\${y}&amp;TILECOL=\${x}&amp;FORMAT=jpg</ServerUrl>
  </Service>
  <DataWindow>
    <UpperLeftX>-20037508.34</UpperLeftX><UpperLeftY>20037508.34</UpperLeftY>
    <LowerRightX>20037508.34</LowerRightX><LowerRightY>-20037508.34</LowerRightY>
    <TileLevel>12</TileLevel><TileCountX>1</TileCountX><TileCountY>1</TileCountY>
    <YOrigin>top</YOrigin>
  </DataWindow>
  <Projection>EPSG:3857</Projection>
  <BlockSizeX>256</BlockSizeX><BlockSizeY>256</BlockSizeY>
  <BandsCount>3</BandsCount>
  <MaxConnections>4</MaxConnections>
</GDAL_WMS>
EOF
# The harness's tile: zoom 12, row 1600, column 3300.
if gdal_translate -q -of GTiff -srcwin $((3300 * 256)) $((1600 * 256)) 256 256 "$work/tms.xml" "$work/gdal.tif" 2> "$work/gdal.err"; then
  got="$(gdalinfo -checksum "$work/gdal.tif" | grep -o 'Checksum=[0-9]*' | tr '\n' ' ')"
  want="$(gdalinfo -checksum "$work/srv/tile.jpg" | grep -o 'Checksum=[0-9]*' | tr '\n' ' ')"
  if [ -n "$want" ] && [ "$got" = "$want" ]; then
    pass "GDAL: tile read through the TMS description equals the stored tile ($got)"
  else
    fail "GDAL: checksums differ: got '$got', stored '$want'"
  fi
else
  fail "GDAL: gdal_translate failed: $(cat "$work/gdal.err")"
fi

# ---- Chromium: the example page ----
chromium_bin="$(command -v chromium || command -v chromium-browser || true)"
if [ -z "$chromium_bin" ]; then
  echo "SKIP  Chromium: not installed (apt-get install chromium)"
else
  flags=(--headless=new --no-sandbox --disable-gpu --no-proxy-server --virtual-time-budget=15000 --window-size=1024,768)
  "$chromium_bin" "${flags[@]}" --dump-dom "http://localhost:$port/" > "$work/dom.html" 2> "$work/chromium.err" || true
  tiles="$(grep -o 'src="http://localhost:'"$port"'/VMRAWMTS?[^"]*"' "$work/dom.html" | sort -u | wc -l)"
  if grep -q 'olMap' "$work/dom.html" && [ "$tiles" -gt 0 ] && grep -q '寰宇地图-国内-卫星' "$work/dom.html"; then
    pass "Chromium: the page built the OpenLayers map with $tiles tile images from this service"
  else
    fail "Chromium: no map in the page (tiles: $tiles)"
  fi
  # The same page (as served) with its scripts addressed absolutely and a report of every image
  # once the map has settled: loaded, decoded to 256 pixels, or failed.
  curl -s --noproxy '*' "http://localhost:$port/" |
    sed -e "s|src=\"openlayers/OpenLayers.js\"|src=\"http://localhost:$port/openlayers/OpenLayers.js\"|" \
        -e "s|src=\"wmtsInfo.js\"|src=\"http://localhost:$port/wmtsInfo.js\"|" \
        -e 's|</body>|<pre id="report"></pre><script>setTimeout(function () { var ok = 0, bad = 0, imgs = document.querySelectorAll("img.olTileImage"); for (var i = 0; i < imgs.length; ++i) { if (imgs[i].complete \&\& imgs[i].naturalWidth == 256) ++ok; else ++bad; } document.getElementById("report").textContent = "tiles " + ok + " " + bad + " errors " + document.querySelectorAll(".olImageLoadError").length; }, 4000);</script></body>|' \
    > "$work/probe.html"
  report="$("$chromium_bin" "${flags[@]}" --dump-dom "file://$work/probe.html" 2> /dev/null | grep -o 'tiles [0-9]* [0-9]* errors [0-9]*' || true)"
  read -r _ loaded missing _ errors <<<"${report:-tiles 0 0 errors 0}"
  if [ "$loaded" -gt 0 ] && [ "$missing" = 0 ] && [ "$errors" = 0 ]; then
    pass "Chromium: $loaded tile images loaded and decoded (256 x 256), none failed"
  else
    fail "Chromium: tile images: $loaded loaded, $missing not, $errors load errors"
  fi
fi

[ "$failures" = 0 ] && echo "all checks passed" || { echo "$failures check(s) failed"; exit 1; }
