// The first-run guide and the settings surface in real WebKit against the
// scripted native side.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { configuredStatus, expectText, inventory, openIsland, openPage } from '../support/page.mjs';

const stored = (page) => page.eval(`localStorage.getItem('plumora-onboarding-v2')`);

test('the guide asks for selection reading and leads to a way to generate', async (t) => {
  const page = await openPage({
    colorScheme: 'dark',
    replies: { accessibility: { resolve: false }, agents: { resolve: inventory({ codex: true }) } },
  });
  t.after(() => page.close());
  await page.waitFor('[data-test="onboarding-step-shortcut"]');
  await page.screenshot('onboarding-dark');
  await page.click('[data-test="onboarding-next"]');
  await page.click('[data-test="onboarding-permission-request"]');
  await page.waitFor(async () => page.eval(`document.querySelector('[data-test="onboarding-permission-request"]').hidden`));
  assert.equal((await page.calls('requestAccessibility')).length, 1);

  await page.click('[data-test="onboarding-next"]');
  await page.click('[data-test="onboarding-agent"]');
  await page.click('[data-test="onboarding-agent-setup"]');
  await page.waitFor(async () => (await page.calls('setupAgent')).length === 1);
  assert.equal(await stored(page), null);

  await page.click('[data-test="onboarding-api"]');
  await page.waitFor('[data-test="settings-api"]');
  assert.equal(await stored(page), 'done');
  assert.deepEqual(await page.errors(), []);
});

test('the settings reach the native side and show its answers as they come', async (t) => {
  const page = await openIsland(t, {
    surface: 'settings',
    colorScheme: 'dark',
    replies: {
      apiConfigure: { reject: '无法将 API Key 保存到钥匙串，原配置已保留' },
      agents: { resolve: inventory({ codex: true }) },
      appearance: { resolve: { preference: 'dark', theme: 'dark' } },
      accessibility: { resolve: false },
    },
  });
  await page.waitFor('[data-test="settings-api"]');
  await expectText(page, '[data-test="api-state"]', '尚未配置');
  await page.fill('[data-test="api-base-url"]', 'https://images.example.com/v1');
  await page.fill('[data-test="api-model"]', 'gpt-image-1');
  await page.fill('[data-test="api-key"]', 'sk-test');
  await page.click('[data-test="api-save"]');
  await expectText(page, '[data-test="api-message"]', '无法将 API Key 保存到钥匙串，原配置已保留');
  assert.deepEqual(await page.calls('apiConfigure'), [
    { baseURL: 'https://images.example.com/v1', model: 'gpt-image-1', key: 'sk-test' },
  ]);

  await page.reply('apiConfigure', { resolve: configuredStatus({ verified: false }) });
  await page.click('[data-test="api-save"]');
  await expectText(page, '[data-test="api-state"]', '已保存，尚未验证');
  assert.equal(await page.eval(`document.querySelector('[data-test="api-key"]').value`), '');
  await page.screenshot('settings-dark');

  await page.click('[data-test="settings-tab-appearance"]');
  await page.click('[data-test="appearance-dark"]');
  await expectText(page, '[data-test="appearance-message"]', '当前为深色外观');
  assert.deepEqual(await page.calls('appearance'), ['dark']);

  await page.click('[data-test="settings-tab-agents"]');
  await page.click('[data-test="agent-row"][data-id="codex"] [data-test="agent-setup"]');
  await page.waitFor(async () => (await page.calls('setupAgent')).length === 1);
  await page.screenshot('settings-agents-dark');
  assert.deepEqual(await page.calls('setupAgent'), ['codex']);

  await page.click('[data-test="settings-tab-shortcuts"]');
  await expectText(page, '[data-test="permission-state"]', '未允许');
  await page.click('[data-test="permission-request"]');
  await expectText(page, '[data-test="permission-state"]', '已允许');

  await page.click('[data-test="settings-tab-account"]');
  await page.click('[data-test="account-login"]');
  await expectText(page, '[data-test="account-code"]', 'WDJB-MJHT');
  await expectText(page, '[data-test="account-state"]', '已登录', 6000);
  assert.deepEqual(await page.errors(), []);
});
