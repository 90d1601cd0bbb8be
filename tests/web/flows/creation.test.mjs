// The creation surface in real WebKit: a capture goes out through the image
// service or the local agent with exactly the expected values, the result is
// saved at once, refusals are shown as worded, and a local run can be cancelled.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { configuredStatus, inventory, openPage, readyCodex } from '../support/page.mjs';

const skipped = { 'plumora-onboarding-v2': 'skipped' };
const uuid = /^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$/i;
const image =
  'data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==';
const decoded = (selector) => `document.querySelector('${selector}').decode().then(() => true)`;

// The page once its scripts have run (the island exists).
async function open(options) {
  const page = await openPage({ localStorage: skipped, ...options });
  await page.waitFor('[data-test="island"]');
  return page;
}

// Waits until the island has finished growing or shrinking, so clicks land.
function settled(page) {
  return page.waitFor(() => page.eval(`document.querySelector('[data-test="island"]').getAnimations().length === 0`));
}

// The element's text, or '' while it does not exist yet.
function textOf(page, selector) {
  return page.eval(`document.querySelector('${selector}')?.innerText ?? ''`);
}

async function checked(page, selector) {
  return page.eval(`document.querySelector('${selector}').getAttribute('aria-checked')`);
}

for (const colorScheme of ['light', 'dark']) {
  test(`capture, generate through the image service, save the result (${colorScheme})`, async () => {
    const page = await open({ colorScheme, replies: { apiStatus: { resolve: configuredStatus() } } });
    try {
      await page.emit('plumora:capture', { text: '雨天的城市，一杯热咖啡', voice: false, source: '备忘录' });
      await page.waitFor(async () => (await textOf(page, '[data-test="provider"]')).includes('图片服务'));
      await settled(page);
      assert.equal(await page.eval(`document.querySelector('[data-test="prompt"]').value`), '雨天的城市，一杯热咖啡');
      await page.click('[data-test="ratio-16-9"]');
      await page.screenshot(`creation-${colorScheme}`);

      await page.click('[data-test="generate"]');
      await page.waitFor('[data-test="result-image"]');
      assert.deepEqual(await page.calls('apiGenerate'), [
        { kind: 'image', mode: 'direct', prompt: '雨天的城市，一杯热咖啡', ratio: '16:9' },
      ]);
      await page.waitFor(async () => (await page.calls('historySave')).length === 1);
      const [saved] = await page.calls('historySave');
      assert.match(saved.image, /^data:image\/png;base64,/);
      assert.deepEqual({ ...saved, image: 'png' }, {
        image: 'png',
        prompt: '雨天的城市，一杯热咖啡',
        ratio: '16:9',
        provider: 'custom-api',
        model: 'gpt-image-1',
      });
      const states = await page.calls('taskState');
      assert.deepEqual(states.map((value) => [value.state, value.sound]), [['working', false], ['done', true]]);
      assert.match(states[0].taskId, uuid);
      assert.equal(states[1].taskId, states[0].taskId);

      await page.waitFor('[data-test="result-save"]');
      assert.equal(await page.text('[data-test="result-save"]'), '已保存到作品库');
      await page.eval(decoded('[data-test="result-image"]'));
      await page.screenshot(`result-${colorScheme}`);

      // 调整 makes a derived work: the result is the source, the saved work its parent.
      const result = await page.eval(`document.querySelector('[data-test="result-image"]').src`);
      await page.click('[data-test="result-adjust"]');
      await page.waitFor('[data-test="working-image"]');
      assert.equal(await checked(page, '[data-test="mode-whole"]'), 'true');
      await page.fill('[data-test="prompt"]', '换成夜景');
      await settled(page);
      await page.click('[data-test="generate"]');
      await page.waitFor(async () => (await page.calls('historySave')).length === 2);
      assert.deepEqual((await page.calls('apiGenerate'))[1], {
        kind: 'image', mode: 'edit', prompt: '换成夜景', ratio: '16:9', sourceImage: result,
      });
      assert.match((await page.calls('historySave'))[1].parentId, uuid);
      assert.deepEqual(await page.errors(), []);
    } finally {
      await page.close();
    }
  });
}

test('refusals are shown verbatim; an image goes out as its mode asks', async () => {
  const page = await open({
    replies: {
      apiStatus: { resolve: configuredStatus() },
      apiGenerate: { reject: '图片请求的文字或比例无效' },
      capture: { resolve: { text: '', voice: false, source: '访达', error: '没有读到选中的内容，请粘贴或拖入图片' } },
    },
  });
  try {
    await page.waitFor('[data-test="capture-error"]');
    assert.equal(await page.text('[data-test="capture-error"]'), '没有读到选中的内容，请粘贴或拖入图片');
    await page.type('[data-test="prompt"]', '灯塔');
    await page.waitFor(async () => (await textOf(page, '[data-test="provider"]')).includes('图片服务'));
    await settled(page);
    await page.click('[data-test="generate"]');
    await page.waitFor('[data-test="generation-error"]');
    assert.equal(await page.text('[data-test="generation-error"]'), '图片请求的文字或比例无效');
    assert.deepEqual((await page.calls('taskState')).map((value) => value.state), ['working', 'error']);

    // An image from the radial menu's 整体改图 goes to the service as "edit".
    await page.emit('plumora:capture', { text: '', voice: false, source: '访达', image, mode: 'direct' });
    await page.waitFor('[data-test="working-image"]');
    assert.equal(await checked(page, '[data-test="mode-whole"]'), 'true');
    await page.fill('[data-test="prompt"]', '换成夜景');
    await page.click('[data-test="generate"]');
    await page.waitFor(async () => (await page.calls('apiGenerate')).length === 2);
    assert.deepEqual((await page.calls('apiGenerate'))[1], {
      kind: 'image', mode: 'edit', prompt: '换成夜景', ratio: '1:1', sourceImage: image,
    });

    // 局部修改 is offered but refused with the service's own words.
    await page.click('[data-test="mode-mask"]');
    assert.equal(await page.text('[data-test="mode-note"]'), '当前图片 API 不支持此模式或局部蒙版');
    assert.equal(await page.eval(`document.querySelector('[data-test="generate"]').disabled`), true);
  } finally {
    await page.close();
  }
});

test('the local agent reports progress and can be cancelled', async () => {
  const page = await open({
    replies: { agents: { resolve: inventory([readyCodex()]) }, localGenerate: { hold: true } },
  });
  try {
    await page.emit('plumora:capture', { text: '山间小屋', voice: false, source: '', mode: 'template' });
    await page.waitFor('[data-test="template-gallery"]');
    await settled(page);
    assert.deepEqual(await page.calls('templateModal'), [true]);
    await page.click('[data-test="template-ink-wash"]');
    // The bridge posts `value||null`: closing arrives as null.
    await page.waitFor(async () => (await page.calls('templateModal')).length === 2);
    assert.deepEqual(await page.calls('templateModal'), [true, null]);
    await page.waitFor(async () => (await textOf(page, '[data-test="provider"]')).includes('本机 Codex'));
    await settled(page);
    await page.click('[data-test="generate"]');
    await page.waitFor('[data-test="progress"]');
    const [request] = await page.calls('localGenerate');
    assert.equal(request.requestId.length > 0, true);
    assert.deepEqual({ ...request, requestId: 'R', stylePrompt: 'S', prompt: 'P' }, {
      requestId: 'R', kind: 'image', agent: 'codex', mode: 'template', text: '山间小屋', ratio: '1:1',
      style: 'ink-wash', styleName: '水墨国风', stylePrompt: 'S', prompt: 'P',
    });
    assert.ok(request.prompt.startsWith('山间小屋\n\n风格：'));

    await page.emit('plumora:local-progress', { taskId: 'run', state: 'generating', agent: 'codex' });
    await page.waitFor(async () => (await textOf(page, '[data-test="progress-text"]')).startsWith('本机 Codex正在生成图片'));
    await page.click('[data-test="cancel"]');
    await page.waitFor('[data-test="generation-error"]');
    assert.equal((await page.calls('cancelLocal')).length, 1);
    assert.equal(await page.text('[data-test="generation-error"]'), '本机生成已取消。');
    assert.deepEqual((await page.calls('taskState')).map((value) => value.state), ['working', 'idle']);
    assert.equal(await page.eval(`document.querySelector('[data-test="progress"]').hidden`), true);

    // A finished run is saved as the agent's work, without a model.
    await page.reply('localGenerate', {
      resolve: { image, agent: 'codex', taskId: 'run', width: 1, height: 1, plumoraCredits: 0 },
    });
    await page.click('[data-test="generate"]');
    await page.waitFor(async () => (await page.calls('historySave')).length === 1);
    const [saved] = await page.calls('historySave');
    assert.deepEqual({ ...saved, prompt: 'P' }, { image, prompt: 'P', ratio: '1:1', provider: 'codex' });
    assert.deepEqual((await page.calls('taskState')).map((value) => value.state), ['working', 'idle', 'working', 'done']);
  } finally {
    await page.close();
  }
});

test('the provider menu, pasting and dropped image files', async () => {
  const page = await open({
    replies: {
      apiStatus: { resolve: configuredStatus() },
      agents: { resolve: inventory([readyCodex()]) },
      selectMenu: { resolve: 1 },
      clipboard: { resolve: '黄昏的海边' },
    },
  });
  try {
    await page.click('[data-test="island-open"]');
    await page.waitFor(async () => (await textOf(page, '[data-test="provider"]')).includes('图片服务'));
    await settled(page);
    await page.click('[data-test="provider"]');
    await page.waitFor(async () => (await textOf(page, '[data-test="provider"]')).includes('本机 Codex'));
    const [menu] = await page.calls('selectMenu');
    assert.deepEqual({ ...menu, x: 0, y: 0 }, {
      options: ['图片服务 · gpt-image-1', '本机 Codex', '配置生成方式…'],
      icons: ['api', 'codex', 'glimmet'],
      x: 0,
      y: 0,
      selected: 0,
    });
    assert.equal(await page.eval(`localStorage.getItem('plumora-provider')`), 'codex');

    await page.click('[data-test="paste"]');
    await page.waitFor(async () => (await page.eval(`document.querySelector('[data-test="prompt"]').value`)) === '黄昏的海边');

    const drop = (bytes, type) => page.eval(`(() => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([new Uint8Array(${bytes})], 'picked.png', { type: '${type}' }));
      window.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, cancelable: true }));
      return true;
    })()`);
    await drop(10 * 1024 * 1024 + 1, 'image/png');
    await page.waitFor('[data-test="generation-error"]');
    assert.equal(await page.text('[data-test="generation-error"]'), '图片格式无效或超过 10 MB。');
    await drop(16, 'image/png');
    await page.waitFor(async () => page.eval(`document.querySelector('[data-test="working-image"] img')?.src.startsWith('data:image/png;base64,')`));
    assert.equal(await checked(page, '[data-test="mode-whole"]'), 'true');
  } finally {
    await page.close();
  }
});
