// The library and the detail view in real WebKit against the scripted native
// side: ordering, inline rename, multi-select clean-up, detail, derived work
// and the video player's placement.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { configuredStatus, expectText, openPage } from '../support/page.mjs';
import { gradientPng, seedOf } from '../support/png.mjs';

const ids = ['A', 'B', 'C', 'D'].map((c, i) => `${c.repeat(8)}-0000-4000-8000-00000000000${i}`);
const [A, B, C, D] = ids;

function work(id, day, extra = {}) {
  return {
    id,
    title: `作品 ${id[0]}`,
    prompt: `海边的灯塔 ${id[0]}`,
    createdAt: `2026-03-0${day}T08:00:00Z`,
    version: 1,
    ratio: '4:3',
    requestedRatio: '4:3',
    width: 1024,
    height: 768,
    thumbnail: `data:image/png;base64,${gradientPng(160, 120, seedOf(id)).toString('base64')}`,
    kind: 'image',
    available: true,
    fileBytes: 1572864,
    storedBytes: 1600000,
    allocatedBytes: 2 * 1024 * 1024,
    provider: 'api',
    model: 'gpt-image-1',
    ...extra,
  };
}

// Listed oldest first on purpose: the page orders them.
const works = [work(A, 1), work(B, 2, { parentId: A }), work(C, 3), work(D, 4, { kind: 'video', thumbnail: '' })];

async function openLibrary(options = {}) {
  const page = await openPage({
    localStorage: { 'plumora-onboarding-v2': 'skipped' },
    ...options,
    replies: { historyList: { resolve: works }, ...options.replies },
  });
  await page.click('[data-test="island-open"]');
  await page.click('[data-test="nav-library"]');
  await page.waitFor('[data-test="library-tile"]');
  return page;
}

const tile = (id) => `[data-test="library-tile"][data-id="${id}"]`;
const tileIds = (page) => page.eval(`[...document.querySelectorAll('[data-test="library-tile"]')].map((t) => t.dataset.id)`);

test('works are listed newest first and renamed inline', async () => {
  const page = await openLibrary();
  try {
    assert.deepEqual(await tileIds(page), [D, C, B, A]);
    await expectText(page, `${tile(C)} [data-test="library-tile-title"]`, '作品 C');

    await page.click(`${tile(C)} [data-test="library-tile-more"]`);
    await page.click(`${tile(C)} [data-test="library-rename"]`);
    // The field opens with the old name selected, so typing replaces it.
    await page.type('[data-test="library-rename-input"]', '   ');
    await page.press('\uE007');
    await expectText(page, '[data-test="library-status"]', '名称需为 1–200 个字符，且不能包含控制字符');
    assert.deepEqual(await page.calls('libraryAction'), []);

    await page.type('[data-test="library-rename-input"]', '  夜里的灯塔  ');
    await page.press('\uE007');
    await page.waitFor(async () => (await page.calls('libraryAction')).length === 1);
    assert.deepEqual(await page.calls('libraryAction'), [{ id: C, action: 'rename', name: '夜里的灯塔' }]);
    await expectText(page, `${tile(C)} [data-test="library-tile-title"]`, '夜里的灯塔');

    // The store's refusal is shown as it comes and the old title stays.
    await page.reply('libraryAction', { reject: '资源记录无效' });
    await page.click(`${tile(A)} [data-test="library-tile-more"]`);
    await page.click(`${tile(A)} [data-test="library-rename"]`);
    await page.type('[data-test="library-rename-input"]', '新名字');
    await page.press('\uE007');
    await expectText(page, '[data-test="library-status"]', '资源记录无效');
    await expectText(page, `${tile(A)} [data-test="library-tile-title"]`, '作品 A');

    await page.reply('libraryAction', { resolve: { ok: true } });
    await page.click(`${tile(B)} [data-test="library-tile-more"]`);
    await page.click(`${tile(B)} [data-test="library-copy-path"]`);
    await expectText(page, '[data-test="library-status"]', '已复制文件路径');
    assert.deepEqual((await page.calls('libraryAction')).at(-1), { id: B, action: 'copyPath' });
    assert.deepEqual(await page.errors(), []);
  } finally {
    await page.close();
  }
});

test('a clean-up of several works reports what was freed and what failed', async () => {
  const page = await openLibrary({
    replies: {
      libraryTrash: {
        resolve: { removed: [C], failed: [{ id: A, message: '资源记录无效' }], removedBytes: 3 * 1024 * 1024 },
      },
    },
  });
  try {
    await page.click('[data-test="library-select"]');
    await page.click(`${tile(A)} [data-test="library-tile-open"]`);
    await page.click(`${tile(C)} [data-test="library-tile-open"]`);
    await expectText(page, '[data-test="library-selection-summary"]', '已选 2 件 · 4 MB');
    await page.click('[data-test="library-trash"]');
    await page.waitFor(async () => (await tileIds(page)).length === 3);

    assert.deepEqual(await page.calls('libraryTrash'), [{ ids: [C, A] }]);
    assert.deepEqual(await tileIds(page), [D, B, A]);
    await expectText(page, '[data-test="library-status"]', '已移到废纸篓 1 件，释放 3 MB；1 件未能清理');
    assert.match(await page.text('[data-test="library-failures"]'), /作品 A\s+资源记录无效/);
    // The work that stayed is still selected, ready for another try.
    await expectText(page, '[data-test="library-selection-summary"]', '已选 1 件 · 2 MB');
  } finally {
    await page.close();
  }
});

test('the detail shows a work, its parent, and hands it to creation as a reference', async () => {
  const page = await openLibrary();
  try {
    await page.click(`${tile(B)} [data-test="library-tile-open"]`);
    await page.waitFor('[data-test="detail-image"]');
    await expectText(page, '[data-test="detail-title"]', '作品 B');
    await expectText(page, '[data-test="detail-prompt"]', '海边的灯塔 B');
    await expectText(page, '[data-test="detail-ratio"]', '4:3 · 1024×768');
    await expectText(page, '[data-test="detail-model"]', 'gpt-image-1 · api');
    await page.waitFor(async () => page.eval(`document.querySelector('[data-test="detail-image"]')?.src.startsWith('data:image/png')`));
    assert.deepEqual(await page.calls('libraryMedia'), [B]);

    await page.click('[data-test="detail-parent"]');
    await expectText(page, '[data-test="detail-title"]', '作品 A');

    await page.waitFor(async () => page.eval(`document.querySelector('[data-test="detail-reference"]')?.disabled === false`));
    await page.click('[data-test="detail-reference"]');
    await page.waitFor('[data-test="working-image"] img');
    assert.ok(await page.eval(`document.querySelector('[data-test="working-image"] img').src.startsWith('data:image/png')`));
    assert.deepEqual(await page.errors(), []);
  } finally {
    await page.close();
  }
});

test('a video work gets the native player over its slot, stopped when the view closes', async () => {
  const page = await openLibrary();
  try {
    await page.click(`${tile(D)} [data-test="library-tile-open"]`);
    // The island grows into the detail; the player follows its slot until it settles there.
    const slotRect = `((slot) => slot && (({ left, top, width, height }) => ({ x: left, y: top, width, height }))(
      slot.getBoundingClientRect()))(document.querySelector('[data-test="detail-video"]'))`;
    const placed = await page.waitFor(async () => {
      const last = (await page.calls('libraryVideo')).at(-1);
      const slot = await page.eval(slotRect);
      const same = last && slot && ['x', 'y', 'width', 'height'].every((key) => Math.abs(last[key] - slot[key]) < 1);
      return same && slot.width > 100 ? last : null;
    });
    assert.equal(placed.id, D);
    assert.ok(placed.x >= 0 && placed.y >= 0 && placed.x + placed.width <= 749 && placed.y + placed.height <= 781);
    assert.equal(await page.eval(`document.querySelector('[data-test="detail-reference"]').hidden`), true);

    await page.click('[data-test="detail-back"]');
    await page.waitFor(async () => (await page.calls('libraryVideo')).at(-1) === null);
  } finally {
    await page.close();
  }
});

test('a large library writes the captions of tiles as they scroll into view', async () => {
  const many = Array.from({ length: 120 }, (_, i) => {
    const minutes = 119 - i;
    const time = `2026-03-01T0${Math.floor(minutes / 60)}:${String(minutes % 60).padStart(2, '0')}:00Z`;
    return work(`${String(i).padStart(8, '0')}-0000-4000-8000-000000000000`, 1, { title: `作品 ${i}`, createdAt: time });
  });
  const page = await openLibrary({ replies: { historyList: { resolve: many } } });
  try {
    const last = `${tile(many[119].id)} [data-test="library-tile-title"]`;
    await page.eval(`document.querySelector('[data-test="library-grid"]').scrollTop = 1e6`);
    await expectText(page, last, '作品 119');
  } finally {
    await page.close();
  }
});

test('the library built ahead is brought up to date when a new work is opened in it', async () => {
  const saved = work('EEEEEEEE-0000-4000-8000-000000000004', 9);
  const page = await openPage({
    localStorage: { 'plumora-onboarding-v2': 'skipped' },
    replies: { apiStatus: { resolve: configuredStatus() }, historyList: { resolve: works } },
  });
  try {
    await page.waitFor(async () => (await tileIds(page)).length === works.length);
    await page.reply('historySave', { resolve: saved });
    await page.reply('historyList', { resolve: [...works, saved] });
    await page.emit('plumora:capture', { text: '夜里的灯塔', voice: false, source: '备忘录' });
    await page.click('[data-test="generate"]');
    await expectText(page, '[data-test="result-save"]', '已保存到作品库');
    await page.click('[data-test="result-open-library"]');
    await page.waitFor(async () => (await tileIds(page))[0] === saved.id);
    await page.waitFor(() => page.eval(`document.activeElement?.closest('.tile')?.dataset.id === '${saved.id}'`));
    assert.equal(await page.eval(`document.querySelector('${tile(saved.id)}').classList.contains('is-highlighted')`), true);
  } finally {
    await page.close();
  }
});

for (const colorScheme of ['light', 'dark']) {
  test(`library and detail screenshots in ${colorScheme}`, async () => {
    const page = await openLibrary({ colorScheme });
    try {
      await page.eval('new Promise((resolve) => setTimeout(resolve, 400))');
      await page.screenshot(`library-${colorScheme}`);
      await page.click(`${tile(B)} [data-test="library-tile-open"]`);
      await page.waitFor(async () => page.eval(`document.querySelector('[data-test="detail-image"]')?.src.startsWith('data:')`));
      await page.eval('new Promise((resolve) => setTimeout(resolve, 400))');
      await page.screenshot(`detail-${colorScheme}`);
    } finally {
      await page.close();
    }
  });
}

test('the preview smoke mode traces the listing and every image preview', async () => {
  const page = await openPage({ switches: ['--preview-smoke-test'], replies: { historyList: { resolve: works } } });
  try {
    await page.waitFor(async () => (await page.calls('previewTrace')).some((line) => line.step === 'done'));
    await page.emit('plumora:hide');
    await page.waitFor(async () => (await page.calls('previewTrace')).at(-1).step === 'hidden');
    const lines = await page.calls('previewTrace');
    assert.deepEqual(lines.slice(0, 2), [{ step: 'page-ready' }, { step: 'listed', count: 4 }]);
    const previews = lines.filter((line) => line.step === 'preview-loaded');
    assert.deepEqual(previews.map((line) => line.id).sort(), [A, B, C]);
    assert.ok(previews.every((line) => line.width === 320 && line.height === 240));
    assert.deepEqual(lines.slice(-2).map((line) => line.step), ['done', 'hidden']);
  } finally {
    await page.close();
  }
});
