// The page loads in real WebKit with the program's bridge and the scripted
// native side, in light and dark, and the harness round trips work.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';

import { openPage } from '../support/page.mjs';
import { decodePng } from '../support/png.mjs';

// What the screenshot shows where the page paints nothing: the backdrop, or
// in dark WebKit's own canvas colour for a page with a dark colour scheme.
const empty = { light: [[201, 208, 216]], dark: [[36, 39, 44], [30, 30, 30]] };

for (const colorScheme of ['light', 'dark']) {
  test(`the page loads cleanly in ${colorScheme}`, async () => {
    const page = await openPage({ colorScheme, localStorage: { 'plumora-onboarding-v2': 'skipped' } });
    try {
      assert.deepEqual(
        await page.eval(`[innerWidth, innerHeight, matchMedia('(prefers-color-scheme: dark)').matches,
          localStorage.getItem('plumora-onboarding-v2'), typeof window.plumora.islandGeometry]`),
        [748, 780, colorScheme === 'dark', 'skipped', 'function'],
      );
      assert.equal(await page.eval('window.plumora.islandAnchor()'), 374);
      assert.ok((await page.calls('islandAnchor')).length >= 1);
      // The page tells the panel where its island is as soon as it shows.
      await page.waitFor(async () => (await page.calls('islandGeometry')).length > 0);
      await page.eval('new Promise((resolve) => setTimeout(resolve, 300))');
      assert.deepEqual(await page.errors(), []);
      const shot = decodePng(readFileSync(await page.screenshot(`smoke-${colorScheme}`)));
      // Outside the island the page is transparent, so clicks there can fall through.
      for (const [x, y] of [[4, 775], [743, 775], [4, 400], [743, 400]]) {
        assert.ok(empty[colorScheme].some((c) => c.join() === shot.pixel(x, y).join()), `pixel ${x},${y}: ${shot.pixel(x, y)}`);
      }
    } finally {
      await page.close();
    }
  });
}

test('held, rejected and refused calls and native events reach the page', async () => {
  const page = await openPage({ replies: { apiCheck: { hold: true } } });
  try {
    await page.eval(`(window.checked = window.plumora.apiCheck().then(() => 'resolved', (e) => e.message), 0)`);
    await page.answer('apiCheck', { reject: '连接失败' });
    assert.equal(await page.eval('window.checked'), '连接失败');

    await page.reply('historyList', { resolve: [{ id: 'A' }] });
    assert.deepEqual(await page.eval('window.plumora.historyList()'), [{ id: 'A' }]);
    assert.equal(
      await page.eval(`window.plumora.selectMenu({options: [], x: 0, y: 0}).catch((e) => e.message)`),
      '菜单参数无效',
    );
    await page.eval('window.plumora.pin(false)');
    assert.deepEqual((await page.calls('pin')).at(-1), { enabled: false });

    await page.eval(`(window.seen = [], ['plumora:capture', 'plumora:hide'].forEach((name) =>
      addEventListener(name, (event) => window.seen.push([name, event.detail ?? null]))), 0)`);
    await page.emit('plumora:capture', { text: '海边的灯塔', voice: false });
    await page.emit('plumora:hide');
    assert.deepEqual(await page.eval('window.seen'), [
      ['plumora:capture', { text: '海边的灯塔', voice: false }],
      ['plumora:hide', null],
    ]);
  } finally {
    await page.close();
  }
});
