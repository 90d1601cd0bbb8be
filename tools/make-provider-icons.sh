#!/bin/sh
# Writes the pop-up menu's provider icons (14 × 14 pixels, black on a
# transparent ground; the menu tints them with its text colour) into the
# resources directory: provider-codex.png (a terminal prompt), provider-api.png
# (two linked end points) and provider-glimmet.png (the brand ring and spark).
# Needs node; the shapes are drawn as distance fields, 4 × 4 supersampled.
#
#   make-provider-icons.sh [output directory]   (default: resources/)
set -eu
out=${1:-"$(dirname "$0")/../resources"}
exec node - "$out" <<'SCRIPT'
const fs = require('fs');
const path = require('path');
const zlib = require('zlib');

const size = 14;
const scale = size / 20;  // shapes are drawn on a 20-unit grid

const segment = (ax, ay, bx, by, width) => (x, y) => {
  const dx = bx - ax, dy = by - ay;
  const t = Math.max(0, Math.min(1, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)));
  return Math.hypot(x - ax - t * dx, y - ay - t * dy) - width / 2;
};
const disc = (cx, cy, r) => (x, y) => Math.hypot(x - cx, y - cy) - r;
// A ring of radius r open between the angles (degrees, clockwise from +x) `from` and `to`.
const openRing = (cx, cy, r, width, from, to) => (x, y) => {
  let angle = Math.atan2(y - cy, x - cx) * 180 / Math.PI;
  if (angle >= from && angle <= to) return 1;
  return Math.abs(Math.hypot(x - cx, y - cy) - r) - width / 2;
};
// A four-pointed spark: inside where |x|^0.5 + |y|^0.5 <= reach^0.5.
const spark = (cx, cy, reach) => (x, y) =>
  Math.sqrt(Math.abs(x - cx)) + Math.sqrt(Math.abs(y - cy)) - Math.sqrt(reach);

const icons = {
  codex: [segment(4, 6, 9, 10, 2), segment(9, 10, 4, 14, 2), segment(11, 15, 16, 15, 2)],
  api: [disc(5, 15, 2.6), disc(15, 5, 2.6), segment(5, 15, 15, 5, 1.8)],
  glimmet: [openRing(10, 10, 7.2, 1.8, -70, -30), spark(10, 10, 4.4)],
};

function crc32(bytes) {
  let crc = ~0;
  for (const byte of bytes) {
    crc ^= byte;
    for (let k = 0; k < 8; k++) crc = (crc >>> 1) ^ (0xedb88320 & -(crc & 1));
  }
  return ~crc >>> 0;
}

function chunk(type, data) {
  const body = Buffer.concat([Buffer.from(type, 'ascii'), data]);
  const length = Buffer.alloc(4), crc = Buffer.alloc(4);
  length.writeUInt32BE(data.length);
  crc.writeUInt32BE(crc32(body));
  return Buffer.concat([length, body, crc]);
}

function png(shapes) {
  const rows = [];
  for (let py = 0; py < size; py++) {
    const row = Buffer.alloc(1 + size * 4);  // filter byte 0, then RGBA
    for (let px = 0; px < size; px++) {
      let covered = 0;
      for (let sy = 0; sy < 4; sy++) {
        for (let sx = 0; sx < 4; sx++) {
          const x = (px + (sx + 0.5) / 4) / scale, y = (py + (sy + 0.5) / 4) / scale;
          if (shapes.some((inside) => inside(x, y) <= 0)) covered++;
        }
      }
      row[1 + px * 4 + 3] = Math.round(covered / 16 * 255);
    }
    rows.push(row);
  }
  const header = Buffer.alloc(13);
  header.writeUInt32BE(size, 0);
  header.writeUInt32BE(size, 4);
  header.set([8, 6, 0, 0, 0], 8);  // 8-bit RGBA, no interlace
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header),
    chunk('IDAT', zlib.deflateSync(Buffer.concat(rows), {level: 9})),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

const out = process.argv[2];
for (const [name, shapes] of Object.entries(icons)) {
  fs.writeFileSync(path.join(out, `provider-${name}.png`), png(shapes));
}
SCRIPT
