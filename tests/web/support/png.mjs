// A small PNG encoder for test images: opaque RGB, no filtering, one IDAT chunk.
import { crc32, deflateSync } from 'node:zlib';

function chunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'ascii');
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])), 0);
  return Buffer.concat([head, data, crc]);
}

// pixel(x, y) returns [r, g, b], each 0..255.
function encodePng(width, height, pixel) {
  const rows = Buffer.alloc((width * 3 + 1) * height);
  let offset = 0;
  for (let y = 0; y < height; y++) {
    rows[offset++] = 0; // no filter
    for (let x = 0; x < width; x++) {
      for (const value of pixel(x, y)) rows[offset++] = value;
    }
  }
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header[8] = 8; // bit depth
  header[9] = 2; // colour type RGB
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header),
    chunk('IDAT', deflateSync(rows)),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

// A diagonal two-colour gradient whose colours follow the seed, so
// neighbouring tiles and previews look different in screenshots.
export function gradientPng(width, height, seed = 0) {
  const from = [0, 1, 2].map((i) => 90 + ((Math.abs(seed) * (47 + i * 13)) % 150));
  const to = from.map((c) => c >> 1);
  const span = width + height - 2 || 1;
  return encodePng(width, height, (x, y) => from.map((c, i) => Math.round(c + ((to[i] - c) * (x + y)) / span)));
}

export function seedOf(text) {
  let seed = 0;
  for (const ch of String(text)) seed = (seed * 31 + ch.codePointAt(0)) % 9973;
  return seed;
}
