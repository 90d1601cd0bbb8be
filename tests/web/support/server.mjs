// The loopback server the page tests load the page from: the web directory,
// with three classic scripts put in front of index.html's own (the program
// injects its bridge at document start, which WebDriver cannot do): the
// localStorage presets (first load only), the bridge script and the scripted
// native side. Library previews are served at /history-preview/<id>/image.png.
import { readFile, realpath } from 'node:fs/promises';
import { createServer } from 'node:http';
import { extname, join, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

import { gradientPng, seedOf } from './png.mjs';

const fakeSource = readFile(fileURLToPath(new URL('./fake-native.js', import.meta.url)), 'utf8');
const mimeTypes = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8', '.css': 'text/css; charset=utf-8' };

// Script tags right after <head …>, before anything the page declares; each
// script is a path or {text} (inline).
export function injectScripts(html, scripts) {
  const tag = (script) => (typeof script === 'string' ? `<script src="${script}"></script>`
    : `<script>${script.text.replace(/<\/(script)/gi, '<\\/$1')}</script>`);
  const tags = scripts.map(tag).join('');
  const head = /<head(\s[^>]*)?>/i.exec(html);
  const at = head ? head.index + head[0].length : 0;
  return html.slice(0, at) + tags + html.slice(at);
}

// options: webRoot, bridgeScript, replies (full table), localStorage; the
// benchmark also passes routes {path: handler}, extraScripts [paths] after the
// fake, scriptTexts {path: text} and inline (scripts written inline).
export async function startServer(options) {
  const root = await realpath(options.webRoot);
  const state = { replies: { ...options.replies }, indexLoads: 0, missing: [] };
  const previews = new Map();
  const presets = Object.entries(options.localStorage ?? {}).map(([key, value]) => [key, String(value)]);
  const scripts = {
    '/__harness/presets.js': () =>
      `localStorage.clear();for (const [k, v] of ${JSON.stringify(presets)}) localStorage.setItem(k, v);\n`,
    '/__harness/bridge.js': () => options.bridgeScript,
    '/__harness/fake.js': async () => `{ const fakeConfig = ${JSON.stringify({ replies: state.replies })};\n${await fakeSource}\n}\n`,
    ...Object.fromEntries(Object.entries(options.scriptTexts ?? {}).map(([path, text]) => [path, () => text])),
  };

  function send(response, status, type, body) {
    response.writeHead(status, { 'content-type': type, 'cache-control': 'no-store' });
    response.end(body);
  }

  async function serveFile(response, path) {
    const relative = decodeURIComponent(path).replace(/^\/+/, '') || 'index.html';
    let file;
    let body;
    try {
      file = await realpath(join(root, relative));
      if (file !== root && !file.startsWith(root + sep)) return send(response, 403, 'text/plain', 'outside');
      body = await readFile(file);
    } catch {
      state.missing.push(path);
      return send(response, 404, 'text/plain', 'not found');
    }
    if (relative === 'index.html') {
      const paths = Object.keys(scripts).slice(state.indexLoads++ === 0 ? 0 : 1, 3).concat(options.extraScripts ?? []);
      // Inline, the scripts cost no requests, as with the program's user script;
      // loaded, they also pass a page's script-src 'self' policy.
      const injected = options.inline ? await Promise.all(paths.map(async (path) => ({ text: await scripts[path]() }))) : paths;
      body = injectScripts(body.toString('utf8'), injected);
    }
    send(response, 200, mimeTypes[extname(file)] ?? 'application/octet-stream', body);
  }

  async function handle(request, response) {
    const { pathname } = new URL(request.url, 'http://127.0.0.1');
    if (options.routes?.[pathname]) return options.routes[pathname](request, response);
    if (scripts[pathname]) return send(response, 200, mimeTypes['.js'], await scripts[pathname]());
    // Browsers ask for it on their own; the program serves none.
    if (pathname === '/favicon.ico') return send(response, 204, 'image/x-icon', '');
    const preview = /^\/history-preview\/([^/]+)\/image\.png$/.exec(pathname);
    if (preview) {
      const seed = seedOf(preview[1]) % 360; // hues repeat, and so may the images
      if (!previews.has(seed)) previews.set(seed, gradientPng(320, 240, seed));
      return send(response, 200, 'image/png', previews.get(seed));
    }
    return serveFile(response, pathname);
  }

  const server = createServer((request, response) => {
    handle(request, response).catch((error) => send(response, 500, 'text/plain', String(error)));
  });
  await new Promise((resolve, reject) => server.once('error', reject).listen(0, '127.0.0.1', resolve));
  // A page a failed test never closed must not keep the process alive.
  server.unref();
  server.on('connection', (socket) => socket.unref());
  return {
    origin: `http://127.0.0.1:${server.address().port}`,
    state,
    close() {
      server.closeAllConnections();
      return new Promise((resolve) => server.close(() => resolve()));
    },
  };
}
