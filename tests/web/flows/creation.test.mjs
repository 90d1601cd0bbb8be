// The creation surface in real WebKit: captures, generation through the image
// service or the local agent, saving, refusals as worded, cancelling.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { configuredStatus, expectText, inventory, openIsland, work } from '../support/page.mjs';

// Until the provider button names the provider and the island has settled.
async function ready(page, provider) {
  await page.waitFor(async () => (await page.text('[data-test="provider"]').catch(() => '')).includes(provider));
  await page.settled();
}

const checked = (page, selector) => page.eval(`document.querySelector('${selector}').getAttribute('aria-checked')`);

test('capture, generate through the image service, save, adjust, open the new work in the library', async (t) => {
  const saved = work('EEEEEEEE-0000-4000-8000-000000000004', 9);
  const page = await openIsland(t, { replies: { apiStatus: { resolve: configuredStatus() }, historySave: { resolve: saved } } });
  await page.emit('plumora:capture', { text: '雨天的城市，一杯热咖啡', voice: false, source: '备忘录' });
  await ready(page, '图片服务');
  assert.equal(await page.eval(`document.querySelector('[data-test="prompt"]').value`), '雨天的城市，一杯热咖啡');
  await page.click('[data-test="ratio-16-9"]');
  await page.screenshot('creation-light');

  await page.click('[data-test="generate"]');
  await page.waitFor('[data-test="result-image"]');
  assert.deepEqual(await page.calls('apiGenerate'), [
    { kind: 'image', mode: 'direct', prompt: '雨天的城市，一杯热咖啡', ratio: '16:9' },
  ]);
  await expectText(page, '[data-test="result-save"]', '已保存到作品库');
  assert.equal((await page.calls('historySave'))[0].provider, 'custom-api');

  // 调整 makes a derived work: the result is the source, the saved work its parent.
  const result = await page.eval(`document.querySelector('[data-test="result-image"]').src`);
  await page.click('[data-test="result-adjust"]');
  await page.waitFor('[data-test="working-image"]');
  assert.equal(await checked(page, '[data-test="mode-whole"]'), 'true');
  await page.fill('[data-test="prompt"]', '换成夜景');
  await ready(page, '图片服务');
  await page.click('[data-test="generate"]');
  await page.waitFor(async () => (await page.calls('historySave')).length === 2);
  assert.deepEqual((await page.calls('apiGenerate'))[1], {
    kind: 'image', mode: 'edit', prompt: '换成夜景', ratio: '16:9', sourceImage: result,
  });
  assert.equal((await page.calls('historySave'))[1].parentId, saved.id);

  // The library, built ahead while it was empty, opens up to date on the new work.
  await page.reply('historyList', { resolve: [saved] });
  await page.click('[data-test="result-open-library"]');
  await page.waitFor(() => page.eval(`document.activeElement?.closest('.tile')?.dataset.id === '${saved.id}'`));
  assert.equal(await page.eval(`document.querySelector('.tile.is-highlighted')?.dataset.id`), saved.id);
  assert.deepEqual(await page.errors(), []);
});

test('a template run on the local agent reports progress and can be cancelled', async (t) => {
  const page = await openIsland(t, { replies: { agents: { resolve: inventory({ codex: true }) }, localGenerate: { hold: true } } });
  await page.emit('plumora:capture', { text: '山间小屋', voice: false, source: '', mode: 'template' });
  await page.waitFor('[data-test="template-gallery"]');
  await page.click('[data-test="template-ink-wash"]');
  // The bridge posts `value||null`: closing arrives as null.
  await page.waitFor(async () => (await page.calls('templateModal')).length === 2);
  assert.deepEqual(await page.calls('templateModal'), [true, null]);
  await ready(page, '本机 Codex');
  await page.click('[data-test="generate"]');
  await page.waitFor('[data-test="progress"]');
  const [request] = await page.calls('localGenerate');
  assert.deepEqual([request.agent, request.mode, request.style, request.text], ['codex', 'template', 'ink-wash', '山间小屋']);

  await page.emit('plumora:local-progress', { taskId: 'run', state: 'generating', agent: 'codex' });
  await page.waitFor(async () => (await page.text('[data-test="progress-text"]')).startsWith('本机 Codex正在生成图片'));
  await page.click('[data-test="cancel"]');
  await page.waitFor(async () => (await page.calls('cancelLocal')).length === 1);
  await page.answer('localGenerate', { reject: '本机生成已取消。' });
  await expectText(page, '[data-test="generation-error"]', '本机生成已取消。');
  assert.equal(await page.eval(`document.querySelector('[data-test="progress"]').hidden`), true);
  // A cancelled run ends quietly, not as a failure.
  assert.deepEqual((await page.calls('taskState')).map((value) => value.state), ['working', 'idle']);
});

test('a capture refusal, the provider menu and dropped image files', async (t) => {
  const page = await openIsland(t, {
    replies: {
      apiStatus: { resolve: configuredStatus() },
      agents: { resolve: inventory({ codex: true }) },
      selectMenu: { resolve: 1 },
      capture: { resolve: { text: '', voice: false, source: '访达', error: '没有读到选中的内容，请粘贴或拖入图片' } },
    },
  });
  await expectText(page, '[data-test="capture-error"]', '没有读到选中的内容，请粘贴或拖入图片');
  await ready(page, '图片服务');
  await page.click('[data-test="provider"]');
  await page.waitFor(async () => (await page.text('[data-test="provider"]')).includes('本机 Codex'));
  assert.equal((await page.calls('selectMenu'))[0].selected, 0);
  assert.equal(await page.eval(`localStorage.getItem('plumora-provider')`), 'codex');

  const drop = (bytes) => page.eval(`(() => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(${bytes})], 'picked.png', { type: 'image/png' }));
    window.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, cancelable: true }));
    return true;
  })()`);
  await drop(10 * 1024 * 1024 + 1);
  await expectText(page, '[data-test="generation-error"]', '图片格式无效或超过 10 MB。');
  await drop(16);
  await page.waitFor(async () => page.eval(`document.querySelector('[data-test="working-image"] img')?.src.startsWith('data:image/png;base64,')`));
  assert.equal(await checked(page, '[data-test="mode-whole"]'), 'true');
});
