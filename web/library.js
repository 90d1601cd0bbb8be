// The library page: lists the works through the bridge and shows each
// preview from the packaged scheme. When the program runs its preview check,
// every step is reported through window.plumora.previewTrace.

const bridge = window.plumora;
const status = document.getElementById('status');
const works = document.getElementById('works');
const island = document.querySelector('.island');

// The program lays its glass under the island and lets clicks beside it
// through to the windows below, so it follows the island's rectangle.
function reportIsland() {
  const box = island.getBoundingClientRect();
  bridge?.islandGeometry({ x: box.x, y: box.y, width: box.width, height: box.height })
    .catch(() => {});
}
new ResizeObserver(reportIsland).observe(island);

function trace(step, detail = {}) {
  if (typeof bridge?.previewTrace !== 'function') return Promise.resolve();
  return bridge.previewTrace({ step, ...detail }).catch(() => {});
}

function previewURL(id) {
  return `plumora://local/history-preview/${encodeURIComponent(id)}/image.png`;
}

function showPreview(entry) {
  const item = document.createElement('li');
  const image = document.createElement('img');
  const title = document.createElement('span');
  image.alt = entry.prompt ?? '';
  title.textContent = entry.prompt ?? '';
  item.append(image, title);
  works.append(item);
  return new Promise((resolve) => {
    image.addEventListener('load', () => {
      trace('preview-loaded', { id: entry.id, width: image.naturalWidth, height: image.naturalHeight })
        .then(resolve);
    }, { once: true });
    image.addEventListener('error', () => {
      trace('preview-failed', { id: entry.id }).then(resolve);
    }, { once: true });
    image.src = previewURL(entry.id);
  });
}

async function showLibrary() {
  await trace('page-ready');
  if (!bridge) {
    status.textContent = '桥接不可用';
    return;
  }
  let entries;
  try {
    entries = await bridge.historyList();
  } catch (error) {
    status.textContent = error.message;
    await trace('list-failed', { message: error.message });
    return;
  }
  const images = entries.filter((entry) => entry.kind !== 'video');
  status.textContent = images.length === 0 ? '作品库为空' : `${images.length} 件作品`;
  await trace('listed', { count: entries.length });
  await Promise.all(images.map(showPreview));
  await trace('done');
}

window.addEventListener('plumora:hide', () => trace('hidden'));
showLibrary();
