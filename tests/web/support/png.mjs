// A small PNG encoder for the test images the loopback server hands out
// (library thumbnails, previews): opaque RGB, no filtering, one IDAT chunk.
import { deflateSync, inflateSync } from 'node:zlib';

const crcTable = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(bytes) {
  let c = 0xffffffff;
  for (const byte of bytes) c = crcTable[(c ^ byte) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'ascii');
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])), 0);
  return Buffer.concat([head, data, crc]);
}

// pixel(x, y) returns [r, g, b], each 0..255.
export function encodePng(width, height, pixel) {
  const rows = Buffer.alloc((width * 3 + 1) * height);
  let offset = 0;
  for (let y = 0; y < height; y++) {
    rows[offset++] = 0;
    for (let x = 0; x < width; x++) {
      const [r, g, b] = pixel(x, y);
      rows[offset++] = r;
      rows[offset++] = g;
      rows[offset++] = b;
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

// A diagonal two-colour gradient whose hues follow the seed, so neighbouring
// tiles and previews look different in screenshots.
export function gradientPng(width, height, seed = 0) {
  const hue = (Math.abs(seed) * 47) % 360;
  const from = hsl(hue, 0.55, 0.62);
  const to = hsl((hue + 60) % 360, 0.6, 0.38);
  const span = width + height - 2 || 1;
  return encodePng(width, height, (x, y) => {
    const t = (x + y) / span;
    return from.map((c, i) => Math.round(c + (to[i] - c) * t));
  });
}

function hsl(h, s, l) {
  const a = s * Math.min(l, 1 - l);
  const f = (n) => {
    const k = (n + h / 30) % 12;
    return Math.round(255 * (l - a * Math.max(-1, Math.min(k - 3, 9 - k, 1))));
  };
  return [f(0), f(8), f(4)];
}

export function seedOf(text) {
  let seed = 0;
  for (const ch of String(text)) seed = (seed * 31 + ch.codePointAt(0)) % 9973;
  return seed;
}

// Decodes an 8-bit RGB or RGBA PNG (what WebKit's screenshots are) into
// {width, height, pixel(x, y) → [r, g, b]}.
export function decodePng(bytes) {
  let width = 0;
  let height = 0;
  let channels = 0;
  const data = [];
  for (let at = 8; at < bytes.length; ) {
    const length = bytes.readUInt32BE(at);
    const type = bytes.toString('ascii', at + 4, at + 8);
    const body = bytes.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      if (body[8] !== 8 || (body[9] !== 2 && body[9] !== 6) || body[12] !== 0) {
        throw new Error('only 8-bit non-interlaced RGB or RGBA PNGs are decoded');
      }
      channels = body[9] === 6 ? 4 : 3;
    } else if (type === 'IDAT') {
      data.push(body);
    }
    at += 12 + length;
  }
  const raw = inflateSync(Buffer.concat(data));
  const stride = width * channels;
  const pixels = Buffer.alloc(stride * height);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    const row = y * stride;
    for (let x = 0; x < stride; x++) {
      const left = x >= channels ? pixels[row + x - channels] : 0;
      const up = y > 0 ? pixels[row - stride + x] : 0;
      const corner = x >= channels && y > 0 ? pixels[row - stride + x - channels] : 0;
      pixels[row + x] = (line[x] + predict(filter, left, up, corner)) & 0xff;
    }
  }
  return {
    width,
    height,
    pixel: (x, y) => [...pixels.subarray(y * stride + x * channels, y * stride + x * channels + 3)],
  };
}

function predict(filter, left, up, corner) {
  switch (filter) {
    case 0:
      return 0;
    case 1:
      return left;
    case 2:
      return up;
    case 3:
      return (left + up) >> 1;
    default: {
      const p = left + up - corner;
      const [a, b, c] = [Math.abs(p - left), Math.abs(p - up), Math.abs(p - corner)];
      return a <= b && a <= c ? left : b <= c ? up : corner;
    }
  }
}
