// The loopback server the page tests load the page from. It serves the web
// directory as it is, except index.html, which gets three classic scripts in
// front of the page's own (the program injects its bridge at document start,
// which WebDriver cannot do):
//   /__harness/presets.js  localStorage as the test asked (first load only)
//   /__harness/bridge.js   the program's bridge script, verbatim
//   /__harness/fake.js     the scripted native side (fake-native.js)
// It also serves library previews at /history-preview/<id>/image.png.
import { readFile, realpath } from 'node:fs/promises';
import { createServer } from 'node:http';
import { extname, join, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

import { gradientPng, seedOf } from './png.mjs';

const fakeSource = readFile(fileURLToPath(new URL('./fake-native.js', import.meta.url)), 'utf8');

const mimeTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.json': 'application/json',
  '.png': 'image/png',
  '.jpg': 'image/jpeg',
  '.svg': 'image/svg+xml',
  '.webp': 'image/webp',
  '.woff2': 'font/woff2',
  '.mp3': 'audio/mpeg',
  '.wav': 'audio/wav',
};

// Inserts script tags right after <head …> (or at the very start), so they
// run before anything the page declares. Each script is a path (loaded from
// here) or {text} (written inline).
export function injectScripts(html, scripts) {
  const tags = scripts
    .map((script) =>
      typeof script === 'string'
        ? `<script src="${script}"></script>`
        : `<script>${script.text.replace(/<\/(script)/gi, '<\\/$1')}</script>`,
    )
    .join('');
  const head = /<head(\s[^>]*)?>/i.exec(html);
  if (!head) return tags + html;
  const at = head.index + head[0].length;
  return html.slice(0, at) + tags + html.slice(at);
}

export function presetsScript(localStorage) {
  const entries = Object.entries(localStorage ?? {}).map(([key, value]) => [key, String(value)]);
  return `localStorage.clear();for (const [k, v] of ${JSON.stringify(entries)}) localStorage.setItem(k, v);\n`;
}

// options: webRoot, bridgeScript, replies (full table), localStorage,
// panel {width, height}, routes {path: (request, response) => void},
// extraScripts [paths] injected into index.html after the fake, scriptTexts
// {path: text} served as scripts, inline (write the injected scripts inline).
export async function startServer(options) {
  const root = await realpath(options.webRoot);
  const previews = new Map();
  const state = {
    replies: { ...options.replies },
    indexLoads: 0,
    missing: [],
  };

  async function fake() {
    const config = { replies: state.replies, panel: options.panel };
    return `{ const fakeConfig = ${JSON.stringify(config)};\n${await fakeSource}\n}\n`;
  }

  function send(response, status, type, body) {
    response.writeHead(status, { 'content-type': type, 'cache-control': 'no-store' });
    response.end(body);
  }

  async function serveFile(response, path) {
    let relative;
    try {
      relative = decodeURIComponent(path).replace(/^\/+/, '') || 'index.html';
    } catch {
      return send(response, 400, 'text/plain', 'bad path');
    }
    let file;
    try {
      file = await realpath(join(root, relative));
    } catch {
      state.missing.push(path);
      return send(response, 404, 'text/plain', 'not found');
    }
    if (file !== root && !file.startsWith(root + sep)) return send(response, 403, 'text/plain', 'outside');
    let body;
    try {
      body = await readFile(file);
    } catch {
      state.missing.push(path);
      return send(response, 404, 'text/plain', 'not found');
    }
    const type = mimeTypes[extname(file).toLowerCase()] ?? 'application/octet-stream';
    if (relative === 'index.html') {
      const scripts = ['/__harness/bridge.js', '/__harness/fake.js', ...(options.extraScripts ?? [])];
      if (state.indexLoads++ === 0) scripts.unshift('/__harness/presets.js');
      // Inline, the scripts cost no requests, as with the program's user script;
      // loaded, they also pass a page's script-src 'self' policy.
      const injected = options.inline ? await Promise.all(scripts.map(async (path) => ({ text: await script(path) }))) : scripts;
      body = injectScripts(body.toString('utf8'), injected);
    }
    send(response, 200, type, body);
  }

  // The text of an injected script, or undefined for another path.
  async function script(pathname) {
    if (pathname === '/__harness/presets.js') return presetsScript(options.localStorage);
    if (pathname === '/__harness/bridge.js') return options.bridgeScript;
    if (pathname === '/__harness/fake.js') return fake();
    return options.scriptTexts?.[pathname];
  }

  async function handle(request, response) {
    const { pathname } = new URL(request.url, 'http://127.0.0.1');
    const route = options.routes?.[pathname];
    if (route) return route(request, response);
    const text = await script(pathname);
    if (text !== undefined) return send(response, 200, mimeTypes['.js'], text);
    // Browsers ask for it on their own; the program serves none.
    if (pathname === '/favicon.ico') return send(response, 204, 'image/x-icon', '');
    const preview = /^\/history-preview\/([^/]+)\/image\.png$/.exec(pathname);
    if (preview) {
      // Hues repeat every 360 seeds, and so may the images.
      const seed = seedOf(preview[1]) % 360;
      if (!previews.has(seed)) previews.set(seed, gradientPng(320, 240, seed));
      return send(response, 200, 'image/png', previews.get(seed));
    }
    if (request.method !== 'GET' && request.method !== 'HEAD') return send(response, 405, 'text/plain', 'no');
    return serveFile(response, pathname);
  }

  const server = createServer((request, response) => {
    handle(request, response).catch((error) => send(response, 500, 'text/plain', String(error)));
  });
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', resolve);
  });
  // A page a failed test never closed must not keep the process alive: the
  // browsers are shut down when nothing else is left to do.
  server.unref();
  server.on('connection', (socket) => socket.unref());
  const origin = `http://127.0.0.1:${server.address().port}`;
  return {
    origin,
    state,
    close: () =>
      new Promise((resolve) => {
        server.closeAllConnections?.();
        server.close(() => resolve());
      }),
  };
}
