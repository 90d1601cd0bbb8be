// The page in MiniBrowser against static baselines measured in the same run
// and the same browser window:
//
// first_surface_ratio: from navigation start until the creation surface is
//   interactive (its prompt field visible and enabled, then one frame), for
//   the page (with the bridge and the scripted native side delivering a
//   capture) and for a static copy of the same DOM and CSS without scripts.
// library_render_ratio: from the click that opens the library until all of
//   its 1,000 tiles are in the document and every tile image the browser
//   loads (every one in view, and all that are not lazy) has loaded, then one
//   frame; for the page (1,000 works from historyList, previews served here)
//   and for a page that puts 1,000 plain <img> tiles with the same kind of
//   previews, each loaded as the page loads its tile at that index, in a box
//   of the library grid's size on the same click. Both documents are given
//   the same second to settle before the click, as a person opening the
//   library would: the page uses idle time to build its library ahead.
//
// Each is the median of several runs (after one warm-up); the ratio is
// page / baseline. Run under tests/platform/gtk/with-display.sh (bench_web does).
import { acquireSession, releaseSession } from '../../tests/web/support/browser.mjs';
import { bridgeScript, webRoot } from '../../tests/web/support/page.mjs';
import { replyTable } from '../../tests/web/support/replies.mjs';
import { injectScripts, startServer } from '../../tests/web/support/server.mjs';

// The page's hooks this benchmark relies on.
const selectors = {
  prompt: '[data-test="prompt"]',
  openLibrary: '[data-test="nav-library"]',
  tile: '[data-test="library-tile"]',
  grid: '[data-test="library-grid"]',
};
const works = 1000;
const runs = Number(process.env.BENCH_WEB_RUNS ?? 7);
const readyTimeoutMs = 30000;
const settleMs = 1000;

// Runs before anything else in every measured document: records the first
// click and, once armed, checks the readiness condition on every frame.
const probeScript = `(() => {
  const selectors = ${JSON.stringify(selectors)};
  const works = ${works};
  const probe = (window.__benchProbe = { start: null, ready: null, kind: null });
  const shown = (e) => {
    const box = e.getBoundingClientRect();
    return box.width > 0 && box.height > 0 && getComputedStyle(e).visibility !== 'hidden';
  };
  // In view: inside the viewport and inside every clipping ancestor, which is
  // what lazy loading goes by too.
  const inView = (e) => {
    const box = e.getBoundingClientRect();
    let area = { top: 0, left: 0, bottom: innerHeight, right: innerWidth };
    for (let a = e.parentElement; a; a = a.parentElement) {
      if (getComputedStyle(a).overflow === 'visible') continue;
      const clip = a.getBoundingClientRect();
      area = { top: Math.max(area.top, clip.top), left: Math.max(area.left, clip.left),
               bottom: Math.min(area.bottom, clip.bottom), right: Math.min(area.right, clip.right) };
    }
    return box.bottom > area.top && box.right > area.left && box.top < area.bottom && box.left < area.right;
  };
  const conditions = {
    creation() {
      const prompt = document.querySelector(selectors.prompt);
      return Boolean(prompt && !prompt.disabled && shown(prompt) && !prompt.closest('[inert]'));
    },
    library() {
      const tiles = document.querySelectorAll(selectors.tile);
      if (tiles.length !== works) return false;
      for (const image of document.querySelectorAll(selectors.tile + ' img')) {
        if (image.loading === 'lazy' && !inView(image)) continue;
        if (!image.complete || image.naturalWidth === 0) return false;
      }
      return true;
    },
  };
  probe.arm = (kind) => {
    probe.kind = kind;
    probe.ready = null;
    const check = () => {
      if (probe.kind !== kind) return;
      if (conditions[kind]()) requestAnimationFrame(() => (probe.ready = performance.now()));
      else requestAnimationFrame(check);
    };
    requestAnimationFrame(check);
  };
  addEventListener('click', () => { if (probe.kind === 'library' && probe.start === null) probe.start = performance.now(); }, true);
  probe.arm('creation');
})();`;

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = sorted.length >> 1;
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};

const hex = (n, width) => n.toString(16).padStart(width, '0');
let idCounter = 0;

// A fresh set of works (new ids, so new preview URLs that no cache holds).
function library() {
  const batch = ++idCounter;
  return Array.from({ length: works }, (_, i) => ({
    id: `${hex(batch, 8)}-0000-4000-8000-${hex(i, 12)}`.toUpperCase(),
    title: `作品 ${i + 1}`,
    prompt: `雪地里奔跑的柴犬，第 ${i + 1} 张`,
    createdAt: new Date(Date.UTC(2026, 0, 1) + (works - i) * 60000).toISOString().replace(/\.\d+Z$/, 'Z'),
    version: 1,
    requestedRatio: '4:3',
    ratio: '4:3',
    width: 1024,
    height: 768,
    thumbnail: '',
    kind: 'image',
    available: true,
    fileBytes: 1200000 + i,
    storedBytes: 1300000 + i,
    allocatedBytes: 1310720 + i * 4096,
  }));
}

// Each baseline image is loaded the way the page loads the tile at the same
// index (the page loads its first screen at once and the rest lazily), in a
// grid of the page's tile size, gap and padding inside a box of its size.
function libraryBaseline(entries, { loading, box, grid }) {
  const tiles = entries
    .map((entry, i) => {
      const mode = loading[i] ?? '';
      return `<div class="tile" data-test="library-tile"><img src="history-preview/${entry.id}/image.png" alt=""${
        mode ? ` loading="${mode}"` : ''
      }></div>`;
    })
    .join('');
  return `<!doctype html><html><head><meta charset="utf-8"><script>${probeScript}</script>
<style>
body { margin: 0; }
.box { position: absolute; left: ${box.x}px; top: ${box.y}px; width: ${box.width}px; height: ${box.height}px; overflow: auto; }
.grid { display: grid; grid-template-columns: repeat(auto-fill, ${grid.tileWidth}px); grid-auto-rows: ${grid.tileHeight}px;
        gap: ${grid.rowGap} ${grid.columnGap}; padding: ${grid.padding}; justify-content: ${grid.justify}; box-sizing: border-box; }
.tile { width: ${grid.tileWidth}px; height: ${grid.tileHeight}px; }
.tile img { width: 100%; height: 100%; object-fit: cover; display: block; }
</style></head><body>
<button data-test="nav-library" style="position: fixed; right: 0; bottom: 0; z-index: 1" onclick="document.querySelector('.grid').append(document.querySelector('template').content.cloneNode(true))">作品库</button>
<div class="box"><div class="grid"></div></div><template>${tiles}</template>
</body></html>`;
}

function page(body) {
  return (request, response) => {
    response.writeHead(200, { 'content-type': 'text/html; charset=utf-8', 'cache-control': 'no-store' });
    response.end(body());
  };
}

async function main() {
  const documents = { creation: '', library: '' };
  const server = await startServer({
    webRoot,
    bridgeScript: bridgeScript(),
    replies: replyTable({
      capture: { resolve: { text: '一只在雪地里奔跑的柴犬', voice: false, source: 'selection' } },
    }),
    localStorage: { 'plumora-onboarding-v2': 'skipped', 'plumora-island-pinned': 'on' },
    panel: { width: 748, height: 780 },
    // Inline, as the program's user script: no requests of their own.
    inline: true,
    extraScripts: ['/__bench/probe.js'],
    scriptTexts: { '/__bench/probe.js': probeScript },
    routes: {
      '/baseline-creation.html': page(() => documents.creation),
      '/baseline-library.html': page(() => documents.library),
    },
  });
  const session = await acquireSession('light');
  const origin = server.origin;

  const evaluate = async (expression) => session.execute(`return (${expression});`);
  async function waitReady(what) {
    const deadline = Date.now() + readyTimeoutMs;
    for (;;) {
      const probe = await evaluate('window.__benchProbe && { start: __benchProbe.start, ready: __benchProbe.ready }');
      if (probe?.ready != null) return probe;
      if (Date.now() > deadline) throw new Error(`${what} did not become ready within ${readyTimeoutMs} ms`);
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
  }

  async function firstSurface(url) {
    await session.navigate(url);
    return (await waitReady(`the creation surface of ${url}`)).ready;
  }

  // The page opens its library from the creation surface; the baseline has
  // nothing to wait for once loaded.
  async function libraryRender(url, { fromCreation = true } = {}) {
    await session.navigate(url);
    if (fromCreation) await waitReady(`the creation surface of ${url}`);
    await new Promise((resolve) => setTimeout(resolve, settleMs));
    await evaluate(`window.__benchProbe.arm('library')`);
    // A script click: a pointer click could miss the control while the
    // island is still growing, and both pages get the same event either way.
    await evaluate(`document.querySelector(${JSON.stringify(selectors.openLibrary)}).click()`);
    const probe = await waitReady(`the library of ${url}`);
    return probe.ready - probe.start;
  }

  try {
    // Warm-up run of the page; it also yields what the baselines copy.
    server.state.replies.historyList = { resolve: library() };
    await firstSurface(`${origin}/index.html`);
    const copy = await evaluate(`(() => {
      const copy = document.documentElement.cloneNode(true);
      for (const script of copy.querySelectorAll('script')) script.remove();
      return '<!doctype html>' + copy.outerHTML;
    })()`);
    documents.creation = injectScripts(copy, [{ text: probeScript }]);
    await libraryRender(`${origin}/index.html`);
    const layout = await evaluate(`(() => {
      const tiles = [...document.querySelectorAll(${JSON.stringify(selectors.tile)})];
      const grid = document.querySelector(${JSON.stringify(selectors.grid)}) ?? tiles[0].parentElement;
      let box = grid;
      while (box && !/(auto|scroll)/.test(getComputedStyle(box).overflowY)) box = box.parentElement;
      const r = (box ?? grid).getBoundingClientRect();
      const style = getComputedStyle(grid);
      const tile = tiles[0].getBoundingClientRect();
      return { box: { x: r.x, y: r.y, width: r.width, height: Math.min(r.height, innerHeight - r.y) },
               grid: { tileWidth: tile.width, tileHeight: tile.height, rowGap: style.rowGap, columnGap: style.columnGap,
                       padding: style.padding, justify: style.justifyContent },
               loading: tiles.map((t) => t.querySelector('img')?.getAttribute('loading') ?? '') };
    })()`);
    const loadingCounts = {};
    for (const mode of layout.loading) loadingCounts[mode || 'auto'] = (loadingCounts[mode || 'auto'] ?? 0) + 1;
    const loadingText = Object.entries(loadingCounts).map(([mode, n]) => `${n} ${mode}`).join(', ');
    await firstSurface(`${origin}/baseline-creation.html`);

    const samples = { page: [], static: [], library: [], plain: [] };
    for (let run = 0; run < runs; run++) {
      // The fake's reply table is inlined into the page, so the library's 1,000
      // works would otherwise be parsed before the page's own head; the static
      // copy carries no such table.
      delete server.state.replies.historyList;
      samples.page.push(await firstSurface(`${origin}/index.html`));
      samples.static.push(await firstSurface(`${origin}/baseline-creation.html`));
      server.state.replies.historyList = { resolve: library() };
      samples.library.push(await libraryRender(`${origin}/index.html`));
      documents.library = libraryBaseline(library(), layout);
      samples.plain.push(await libraryRender(`${origin}/baseline-library.html`, { fromCreation: false }));
    }
    const ms = (values) => values.map((v) => v.toFixed(1)).join(' ');
    console.log(`first surface, page ms: ${ms(samples.page)}`);
    console.log(`first surface, static copy ms: ${ms(samples.static)}`);
    console.log(`library of ${works}, page ms: ${ms(samples.library)}`);
    console.log(`library of ${works}, plain <img> tiles (loading as the page: ${loadingText}) ms: ${ms(samples.plain)}`);
    console.log(`first_surface_ratio: ${(median(samples.page) / median(samples.static)).toFixed(2)}`);
    console.log(`library_render_ratio: ${(median(samples.library) / median(samples.plain)).toFixed(2)}`);
  } finally {
    await releaseSession(session);
    await server.close();
  }
}

main().catch((error) => {
  console.error(`bench_web: ${error.message}`);
  process.exitCode = 1;
});
