// The island in real WebKit: every rectangle it reports stays inside the
// panel, it follows the anchor, shrinks to the 222×38 notice, remembers its
// pin, honours the native events, and runs the notification smoke task.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { openPage, panelHeight, panelWidth } from '../support/page.mjs';

const skipped = { 'plumora-onboarding-v2': 'skipped' };
const island = '[data-test="island"]';

async function open(options = {}) {
  const page = await openPage({ ...options, localStorage: { ...skipped, ...options.localStorage } });
  await page.waitFor(island);
  return page;
}

function settled(page) {
  return page.waitFor(() => page.eval(`document.querySelector('${island}').getAnimations().length === 0`));
}

async function lastRect(page) {
  await settled(page);
  await page.waitFor(async () => (await page.calls('islandGeometry')).length > 0);
  return (await page.calls('islandGeometry')).at(-1);
}

test('every reported rectangle lies inside the panel, the notice is 222×38 under the anchor', async () => {
  const page = await open();
  try {
    assert.deepEqual(await lastRect(page), { x: 263, y: 0, width: 222, height: 38 });
    await page.emit('plumora:capture', { text: '雪山下的湖', voice: false, source: '' });
    const creation = await page.waitFor(async () => {
      const rect = await lastRect(page);
      return rect.width === 365 && rect;
    });
    assert.equal(creation.x, 192);
    for (const surface of ['library', 'settings', 'creation']) {
      await page.click(`[data-test="nav-${surface}"]`);
      await settled(page);
    }
    await page.emit('plumora:anchor', 700);
    assert.equal((await lastRect(page)).x, 748 - 365);
    await page.emit('plumora:task-notice');
    await page.waitFor('[data-test="island-notice"]');
    assert.deepEqual(await lastRect(page), { x: 526, y: 0, width: 222, height: 38 });
    await page.screenshot('island-notice-light');

    const rects = await page.calls('islandGeometry');
    assert.ok(rects.length > 5);
    for (const rect of rects) {
      assert.ok(Object.values(rect).every(Number.isInteger), JSON.stringify(rect));
      assert.ok(rect.x >= 0 && rect.y === 0 && rect.width >= 1 && rect.height >= 1, JSON.stringify(rect));
      assert.ok(rect.x + rect.width <= panelWidth && rect.y + rect.height <= panelHeight, JSON.stringify(rect));
    }
    assert.deepEqual(await page.errors(), []);
  } finally {
    await page.close();
  }
});

test('pin, close, toggle, surface, hide and pointer events', async () => {
  const page = await open();
  try {
    assert.deepEqual(await page.calls('pin'), [{ enabled: false }]);
    await page.emit('plumora:surface', 'quick');
    await page.waitFor('[data-test="surface-creation"]');
    await settled(page);
    await page.click('[data-test="island-pin"]');
    assert.deepEqual((await page.calls('pin')).at(-1), { enabled: true });
    assert.equal(await page.eval(`localStorage.getItem('plumora-island-pinned')`), 'on');
    assert.equal(await page.eval(`document.querySelector('[data-test="island-pin"]').getAttribute('aria-pressed')`), 'true');

    await page.emit('plumora:pointer', true);
    assert.equal(await page.eval(`document.querySelector('${island}').classList.contains('is-hover')`), true);
    await page.emit('plumora:pointer', false);
    assert.equal(await page.eval(`document.querySelector('${island}').classList.contains('is-hover')`), false);

    await page.click('[data-test="island-close"]');
    await page.emit('plumora:toggle');
    assert.equal((await page.calls('hide')).length, 2);
    await page.emit('plumora:hide');
    await page.emit('plumora:toggle');
    assert.equal((await page.calls('hide')).length, 2);
    assert.equal(await page.eval(`document.querySelector('${island}').dataset.mode`), 'surface');

    await page.reload();
    await page.waitFor(island);
    await page.waitFor(async () => (await page.calls('pin')).length > 0);
    assert.deepEqual(await page.calls('pin'), [{ enabled: true }]);
  } finally {
    await page.close();
  }
});

for (const [switches, state] of [
  [['--notification-smoke-test'], 'done'],
  [['--notification-failure-smoke-test'], 'error'],
]) {
  test(`the notification smoke mode runs one task to ${state}`, async () => {
    const page = await open({ switches, colorScheme: state === 'error' ? 'dark' : 'light' });
    try {
      const states = await page.waitFor(async () => {
        const calls = await page.calls('taskState');
        return calls.length === 2 && calls;
      });
      assert.deepEqual(states.map(({ state, sound, present }) => ({ state, sound, present })), [
        { state: 'working', sound: false, present: false },
        { state, sound: state === 'done', present: true },
      ]);
      assert.equal(states[1].taskId, states[0].taskId);
      await page.emit('plumora:task-notice');
      await page.waitFor('[data-test="island-notice"]');
      assert.deepEqual(await lastRect(page), { x: 263, y: 0, width: 222, height: 38 });
      if (state === 'error') await page.screenshot('island-notice-dark');
    } finally {
      await page.close();
    }
  });
}
