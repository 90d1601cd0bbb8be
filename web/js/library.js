// The library surface: a grid of saved works, newest first, with
// multi-select clean-up, inline rename and the per-work actions
// (copy, copy path, show in folder). Opening a work goes to the detail view.
// Also the preview smoke mode, which reports every step through previewTrace.

import { messageOf, onNative } from './native.js';
import { el, viewButton } from './dom.js';
import {
  addTrashReply,
  batchesOf,
  captionMarkup,
  emptyTrashTotal,
  newestFirst,
  previewURL,
  selectionSummary,
  tileMarkup,
  titleOf,
  trashSummary,
  validateWorkName,
} from './library-model.js';

const libraryWidth = 660;
// Tiles visible without scrolling: four columns, four rows and a partial fifth.
// They load their pictures and get their captions with the grid.
const firstScreenTiles = 20;

const mediaActions = {
  copy: { done: '已复制到剪贴板', failed: '复制失败' },
  copyPath: { done: '已复制文件路径', failed: '复制路径失败' },
  reveal: { done: '已在文件夹中显示', failed: '无法在文件夹中显示' },
};

export function createLibrary(ctx) {
  const { native, navigate, island } = ctx;
  let entries = [];
  let selecting = false;
  const selected = new Set();
  const tiles = new Map();
  let openMenu = null;
  let loadToken = 0;
  let rendered = null;

  const element = el('section', { className: 'library', ariaLabel: '作品库', test: 'library' });
  element.hidden = true;

  const count = el('span', { className: 'library-count', test: 'library-count' });
  const selectButton = viewButton('选择', 'library-select');
  const refreshButton = viewButton('刷新', 'library-refresh');
  // The island's own chrome carries the title and the way back to creation.
  const head = el('div', { className: 'library-head' }, [
    count,
    el('div', { className: 'library-tools' }, [selectButton, refreshButton]),
  ]);

  const summary = el('span', { className: 'library-summary', test: 'library-selection-summary' });
  const selectAllButton = viewButton('全选', 'library-select-all');
  const trashButton = el('button', {
    type: 'button',
    className: 'view-button library-danger',
    test: 'library-trash',
    text: '移到废纸篓',
  });
  const selectionBar = el('div', { className: 'library-selection', test: 'library-selection' }, [
    summary,
    selectAllButton,
    trashButton,
  ]);
  selectionBar.hidden = true;

  const status = el('p', { className: 'library-status', role: 'status', test: 'library-status' });
  const failures = el('ul', { className: 'library-failures', test: 'library-failures', ariaLabel: '未能清理的作品' });
  const grid = el('ul', { className: 'library-grid', test: 'library-grid', ariaLabel: '作品' });
  const empty = el('p', { className: 'library-empty', test: 'library-empty', text: '还没有作品，生成的图片会保存在这里' });
  empty.hidden = true;
  element.append(head, selectionBar, status, failures, grid, empty);

  function say(text) {
    status.textContent = text;
  }

  function showFailures(rows) {
    failures.replaceChildren(
      ...rows.map((row) =>
        el('li', { className: 'library-failure' }, [
          el('span', { className: 'library-failure-title', text: row.title }),
          el('span', { className: 'library-failure-message', text: row.message }),
        ]),
      ),
    );
  }

  function entryOf(id) {
    return entries.find((entry) => entry.id === id);
  }

  // Built on first use: a large library would otherwise carry a menu per tile.
  function menuOf(tile) {
    let menu = tile.querySelector('.tile-menu');
    if (menu) return menu;
    const item = (act, label, test) => {
      const node = el('button', { type: 'button', role: 'menuitem', className: 'tile-menu-item', test, text: label });
      node.dataset.act = act;
      return node;
    };
    menu = el('div', { className: 'tile-menu', role: 'menu', ariaLabel: '作品操作' }, [
      item('rename', '重命名', 'library-rename'),
      item('copy', '复制', 'library-copy'),
      item('copyPath', '复制路径', 'library-copy-path'),
      item('reveal', '在文件夹中显示', 'library-reveal'),
    ]);
    tile.append(menu);
    return menu;
  }

  function markSelected(tile, on) {
    tile.classList.toggle('is-selected', on);
    const open = tile.firstChild;
    if (selecting) open.setAttribute('aria-pressed', String(on));
    else open.removeAttribute('aria-pressed');
  }

  function render() {
    closeMenu();
    const now = new Date();
    const markup = (entry, index) => {
      const first = index < firstScreenTiles;
      return tileMarkup(entry, { eager: first, captioned: first, now, selecting, selected: selecting && selected.has(entry.id) });
    };
    // The first screenful goes in on its own so its pictures are requested
    // while the rest of the grid is still being parsed.
    grid.innerHTML = entries.slice(0, firstScreenTiles).map(markup).join('');
    grid.insertAdjacentHTML(
      'beforeend',
      entries
        .slice(firstScreenTiles)
        .map((entry, index) => markup(entry, index + firstScreenTiles))
        .join(''),
    );
    tiles.clear();
    for (const tile of grid.children) tiles.set(tile.dataset.id, tile);
    empty.hidden = entries.length > 0;
    count.textContent = entries.length > 0 ? `${entries.length} 件` : '';
    updateSelectionBar();
    captionSoon();
  }

  function writeCaption(tile) {
    const caption = tile.querySelector('.tile-caption');
    const entry = entryOf(tile.dataset.id);
    if (!caption.firstChild && entry) caption.innerHTML = captionMarkup(entry);
  }

  // Writes the captions of the tiles in view and a screen either side of it,
  // once a frame while the grid scrolls.
  let captionFrame = 0;
  function captionSoon() {
    captionFrame ||= requestAnimationFrame(captionNearTiles);
  }

  function captionNearTiles() {
    captionFrame = 0;
    const items = grid.children;
    if (element.hidden || items.length === 0) return;
    let columns = 1;
    while (columns < items.length && items[columns].offsetTop === items[0].offsetTop) columns++;
    const rowHeight = columns < items.length ? items[columns].offsetTop - items[0].offsetTop : 0;
    let start = 0;
    let end = items.length;
    if (rowHeight > 0) {
      const view = grid.clientHeight;
      start = Math.max(0, Math.floor((grid.scrollTop - view) / rowHeight)) * columns;
      end = Math.min(end, Math.ceil((grid.scrollTop + 2 * view) / rowHeight) * columns);
    }
    for (let i = start; i < end; i++) writeCaption(items[i]);
  }

  function updateSelectionBar() {
    element.classList.toggle('is-selecting', selecting);
    selectionBar.hidden = !selecting;
    selectButton.textContent = selecting ? '完成' : '选择';
    selectButton.setAttribute('aria-pressed', String(selecting));
    const line = selectionSummary(entries, selected);
    summary.textContent = line.text;
    trashButton.disabled = line.count === 0;
    selectAllButton.textContent = line.count === entries.length && entries.length > 0 ? '全不选' : '全选';
  }

  function setSelecting(on) {
    selecting = on;
    if (!on) selected.clear();
    for (const [id, tile] of tiles) markSelected(tile, selected.has(id));
    updateSelectionBar();
  }

  function toggleSelected(id) {
    if (selected.has(id)) selected.delete(id);
    else selected.add(id);
    const tile = tiles.get(id);
    if (tile) markSelected(tile, selected.has(id));
    updateSelectionBar();
  }

  function closeMenu(focusButton = false) {
    if (!openMenu) return;
    const tile = tiles.get(openMenu);
    openMenu = null;
    if (!tile) return;
    menuOf(tile).hidden = true;
    const more = tile.querySelector('.tile-more');
    more.setAttribute('aria-expanded', 'false');
    tile.classList.remove('is-menu-open');
    if (focusButton) more.focus();
  }

  function toggleMenu(id) {
    const wasOpen = openMenu === id;
    closeMenu();
    if (wasOpen) return;
    const tile = tiles.get(id);
    openMenu = id;
    tile.classList.add('is-menu-open');
    menuOf(tile).hidden = false;
    tile.querySelector('.tile-more').setAttribute('aria-expanded', 'true');
    tile.querySelector('.tile-menu-item').focus();
  }

  // A list asked before the library was shown: drawn at once when the library
  // opens, then brought up to date by the list asked at that moment.
  let ahead = null;

  async function load(select) {
    const token = ++loadToken;
    const early = ahead;
    ahead = null;
    if (early) {
      const list = await early;
      if (token !== loadToken) return;
      if (list) apply(list, select);
    }
    try {
      const list = await native.historyList();
      if (token !== loadToken) return;
      apply(list, select);
    } catch (error) {
      if (token === loadToken) say(messageOf(error));
    }
  }

  function apply(list, select) {
    entries = newestFirst(list);
    for (const id of [...selected]) if (!entryOf(id)) selected.delete(id);
    // Re-showing an unchanged library keeps its tiles (and their loaded images).
    const signature = entries.map((e) => `${e.id}|${e.title}|${e.fileBytes}|${e.available}`).join('\n');
    if (signature !== rendered) render();
    rendered = signature;
    if (select) reveal(select);
  }

  // Brings a work into view and gives it focus (after "open in the library").
  function reveal(id) {
    const wanted = String(id).toUpperCase();
    const match = entries.find((entry) => entry.id.toUpperCase() === wanted);
    const tile = match && tiles.get(match.id);
    if (!tile) return;
    tile.classList.add('is-highlighted');
    tile.scrollIntoView({ block: 'nearest' });
    tile.querySelector('.tile-open').focus({ preventScroll: true });
  }

  async function runMediaAction(id, action) {
    closeMenu(true);
    const texts = mediaActions[action];
    try {
      const reply = await native.libraryAction({ id, action });
      say(reply?.ok ? texts.done : texts.failed);
    } catch (error) {
      say(messageOf(error));
    }
  }

  function startRename(id) {
    closeMenu();
    const tile = tiles.get(id);
    const entry = entryOf(id);
    if (!tile || !entry) return;
    writeCaption(tile);
    const title = tile.querySelector('.tile-title');
    const input = el('input', {
      type: 'text',
      className: 'tile-rename',
      value: titleOf(entry),
      ariaLabel: '作品名称',
      test: 'library-rename-input',
      spellcheck: false,
    });
    title.hidden = true;
    title.after(input);
    input.focus();
    input.select();
    let settled = false;
    const finish = () => {
      settled = true;
      input.remove();
      title.hidden = false;
    };
    // Enter keeps the field open on a bad name; leaving the field gives up on it.
    const commit = async (leaving) => {
      if (settled) return;
      const checked = validateWorkName(input.value);
      if (checked.error || checked.name === titleOf(entry)) {
        if (checked.error) say(checked.error);
        if (checked.error && !leaving) {
          input.setAttribute('aria-invalid', 'true');
          return;
        }
        finish();
        if (!leaving) tile.querySelector('.tile-open').focus();
        return;
      }
      settled = true;
      input.disabled = true;
      try {
        await native.libraryAction({ id, action: 'rename', name: checked.name });
        entry.title = checked.name;
        title.textContent = checked.name;
        title.title = checked.name;
        tile.querySelector('.tile-open').setAttribute('aria-label', checked.name);
        say('已重命名');
        finish();
        if (!leaving) tile.querySelector('.tile-open').focus();
      } catch (error) {
        say(messageOf(error));
        finish();
        tile.querySelector('.tile-open').focus();
      }
    };
    input.addEventListener('keydown', (event) => {
      if (event.key === 'Enter') {
        event.preventDefault();
        commit(false);
      } else if (event.key === 'Escape') {
        event.preventDefault();
        event.stopPropagation();
        finish();
        tile.querySelector('.tile-open').focus();
      }
    });
    input.addEventListener('blur', () => commit(true));
  }

  async function trashSelected() {
    const ids = entries.filter((entry) => selected.has(entry.id)).map((entry) => entry.id);
    if (ids.length === 0) return;
    trashButton.disabled = true;
    say('正在移到废纸篓…');
    const total = emptyTrashTotal();
    for (const batch of batchesOf(ids)) {
      try {
        addTrashReply(total, batch, await native.libraryTrash(batch));
      } catch (error) {
        addTrashReply(total, batch, null, messageOf(error));
      }
    }
    const outcome = trashSummary(total, entries);
    const gone = new Set(outcome.removed);
    entries = entries.filter((entry) => !gone.has(entry.id));
    for (const id of gone) selected.delete(id);
    say(outcome.text);
    showFailures(outcome.failures);
    if (selected.size === 0) selecting = false;
    render();
    rendered = null;
  }

  selectButton.addEventListener('click', () => setSelecting(!selecting));
  refreshButton.addEventListener('click', () => load());
  selectAllButton.addEventListener('click', () => {
    const all = selected.size === entries.length;
    selected.clear();
    if (!all) for (const entry of entries) selected.add(entry.id);
    for (const [id, tile] of tiles) markSelected(tile, selected.has(id));
    updateSelectionBar();
  });
  trashButton.addEventListener('click', trashSelected);

  grid.addEventListener('click', (event) => {
    const target = event.target.closest('[data-act]');
    const tile = event.target.closest('.tile');
    if (!target || !tile) return;
    const id = tile.dataset.id;
    const act = target.dataset.act;
    if (act === 'open') {
      if (selecting || event.ctrlKey || event.metaKey) {
        if (!selecting) setSelecting(true);
        toggleSelected(id);
      } else {
        navigate('detail', { id, entry: entryOf(id) });
      }
    } else if (act === 'menu') {
      toggleMenu(id);
    } else if (act === 'rename') {
      startRename(id);
    } else if (act in mediaActions) {
      runMediaAction(id, act);
    }
  });

  grid.addEventListener('scroll', captionSoon, { passive: true });

  element.addEventListener('keydown', (event) => {
    if (event.key !== 'Escape') return;
    if (openMenu) {
      event.stopPropagation();
      closeMenu(true);
    } else if (selecting) {
      event.stopPropagation();
      setSelecting(false);
    }
  });

  // A click anywhere outside the open menu closes it.
  element.addEventListener('pointerdown', (event) => {
    if (openMenu && !event.target.closest('.tile-menu, .tile-more')) closeMenu();
  });

  return {
    element,
    show(options = {}) {
      element.hidden = false;
      island.setWidth(libraryWidth);
      showFailures([]);
      say('');
      load(options.select);
      captionSoon();
    },
    // Asks for the list ahead of showing it and builds the grid from it while
    // hidden, so opening the library only has to lay it out and draw it (a
    // failed ask leaves it to the ask on show).
    prefetch() {
      if (!element.hidden) return;
      ahead = native.historyList().then(
        (list) => {
          if (element.hidden) apply(list);
          return list;
        },
        () => null,
      );
    },
    hide() {
      element.hidden = true;
      closeMenu();
      if (selecting) setSelecting(false);
    },
  };
}

// The preview smoke mode: lists the library, loads each image work's preview
// through the scheme and reports every step. The desktop smoke test reads
// these lines, so their steps and fields stay as they are.
export async function runPreviewTrace(native) {
  const trace = (step, detail = {}) =>
    typeof native.previewTrace === 'function'
      ? native.previewTrace({ step, ...detail }).catch(() => {})
      : Promise.resolve();
  onNative('plumora:hide', () => trace('hidden'));
  await trace('page-ready');
  let entries;
  try {
    entries = await native.historyList();
  } catch (error) {
    await trace('list-failed', { message: messageOf(error) });
    return;
  }
  const list = Array.isArray(entries) ? entries : [];
  const images = list.filter((entry) => entry.kind !== 'video');
  await trace('listed', { count: list.length });
  await Promise.all(
    images.map(
      (entry) =>
        new Promise((resolve) => {
          const image = new Image();
          image.addEventListener(
            'load',
            () => trace('preview-loaded', { id: entry.id, width: image.naturalWidth, height: image.naturalHeight }).then(resolve),
            { once: true },
          );
          image.addEventListener('error', () => trace('preview-failed', { id: entry.id }).then(resolve), { once: true });
          image.src = previewURL(entry.id);
        }),
    ),
  );
  await trace('done');
}
